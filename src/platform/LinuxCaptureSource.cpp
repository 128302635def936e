#include "platform/LinuxCaptureSource.h"

#include "capture/LinkLayer.h"
#include "platform/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qhs {

LinuxCaptureSource::LinuxCaptureSource(std::uint32_t ringBlocks)
    : ringBlocks_(std::max(ringBlocks, CaptureRingBlockCount)) {
    wakeEvent_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

LinuxCaptureSource::~LinuxCaptureSource() {
    releaseReceiveRing();
    if (socket_ >= 0) {
        ::close(socket_);
    }
    if (wakeEvent_ >= 0) {
        ::close(wakeEvent_);
    }
}

std::unique_ptr<CaptureSource> LinuxCaptureSource::create() {
    return std::make_unique<LinuxCaptureSource>();
}

std::unique_ptr<CaptureSource> LinuxCaptureSource::createForFiles() {
    return std::make_unique<LinuxCaptureSource>(FileCaptureRingBlockCount);
}

long LinuxCaptureSource::createSocket() {
    // Protocol 0 receives nothing until bind names the protocol, so no frame of another
    // interface slips in before the socket is bound.
    socket_ = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        return errno;
    }
    return 0;
}

BindResult LinuxCaptureSource::bindToInterface(const std::string& interfaceAddress) {
    if (socket_ < 0) {
        return {BindStatus::NotASocket, 0};
    }
    const std::optional<OwningInterface> owner = interfaceForAddress(interfaceAddress);
    const int index = owner ? static_cast<int>(if_nametoindex(owner->name.c_str())) : 0;
    const bool loopback = owner && owner->loopback;
    if (index == 0) {
        return {BindStatus::NotAnInterface, 0};
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = index;
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return {BindStatus::OtherError, errno};
    }
    boundInterfaceIndex_ = index;
    boundToLoopback_ = loopback;
    if (loopback) {
        // Let the kernel keep the outgoing copies out of the buffer altogether; where it
        // cannot, receive() still passes them over.
        const int ignore = 1;
        ::setsockopt(socket_, SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore);
    }
    return {BindStatus::Bound, 0};
}

void LinuxCaptureSource::setLargeReceiveBuffer() {
    if (socket_ < 0) {
        return;
    }
    if (ring_ == nullptr && setUpReceiveRing()) {
        return;
    }
    const int size = CaptureReceiveBufferBytes;
    // As root the force variant passes the system's limit; otherwise take what is allowed.
    if (::setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
}

bool LinuxCaptureSource::setUpReceiveRing() {
    // A large ring is many blocks of contiguous kernel memory; where the kernel cannot give
    // that many, half as many still beat the standard ring.
    for (std::uint32_t blocks = ringBlocks_; blocks > CaptureRingBlockCount; blocks /= 2) {
        if (setUpReceiveRing(blocks)) {
            return true;
        }
    }
    return setUpReceiveRing(CaptureRingBlockCount);
}

bool LinuxCaptureSource::setUpReceiveRing(std::uint32_t blocks) {
    const int version = TPACKET_V3;
    if (::setsockopt(socket_, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0) {
        return false;
    }
    tpacket_req3 request{};
    request.tp_block_size = CaptureRingBlockBytes;
    request.tp_block_nr = blocks;
    // Frames are packed by length within a block; the frame size only has to divide it.
    request.tp_frame_size = TPACKET_ALIGNMENT << 7;
    request.tp_frame_nr = CaptureRingBlockBytes / request.tp_frame_size * blocks;
    request.tp_retire_blk_tov = CaptureRingBlockTimeoutMs;
    if (::setsockopt(socket_, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0) {
        const int original = TPACKET_V1;
        ::setsockopt(socket_, SOL_PACKET, PACKET_VERSION, &original, sizeof original);
        return false;
    }
    const std::size_t bytes = std::size_t{CaptureRingBlockBytes} * blocks;
    void* mapped = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, socket_, 0);
    if (mapped == MAP_FAILED) {
        // Asking for a ring of no blocks takes the ring down again.
        tpacket_req3 none{};
        ::setsockopt(socket_, SOL_PACKET, PACKET_RX_RING, &none, sizeof none);
        const int original = TPACKET_V1;
        ::setsockopt(socket_, SOL_PACKET, PACKET_VERSION, &original, sizeof original);
        return false;
    }
    ring_ = static_cast<std::uint8_t*>(mapped);
    ringBytes_ = bytes;
    ringBlocks_ = blocks;
    currentBlock_ = 0;
    walkingBlock_ = false;
    socketQueueDrained_ = false;
    return true;
}

void LinuxCaptureSource::releaseReceiveRing() {
    if (ring_ != nullptr) {
        ::munmap(ring_, ringBytes_);
        ring_ = nullptr;
        ringBytes_ = 0;
    }
}

bool LinuxCaptureSource::wantedFrame(std::uint16_t protocol, std::uint8_t packetType) const {
    if (protocol != htons(ETH_P_IP)) {
        return false;
    }
    return !(boundToLoopback_ && packetType == PACKET_OUTGOING);
}

bool LinuxCaptureSource::waitForData(ReceiveResult& result) {
    pollfd waits[2] = {{socket_, POLLIN, 0}, {wakeEvent_, POLLIN, 0}};
    for (;;) {
        if (closed_.load(std::memory_order_acquire)) {
            result = {false, 0, 0};
            return false;
        }
        const int ready = ::poll(waits, wakeEvent_ >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            result = {false, 0, errno};
            return false;
        }
        if (closed_.load(std::memory_order_acquire) || (waits[1].revents & POLLIN) != 0) {
            result = {false, 0, 0};
            return false;
        }
        if ((waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 &&
            (waits[0].revents & POLLIN) == 0) {
            result = {false, 0, EIO};
            return false;
        }
        return true;
    }
}

int LinuxCaptureSource::readQueuedDatagram(std::uint8_t* buffer, std::size_t capacity,
                                           ReceiveResult& result) {
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t received = ::recvfrom(socket_, buffer, capacity, MSG_DONTWAIT,
                                            reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                return 0;
            }
            result = {false, 0, errno};
            return -1;
        }
        if (!wantedFrame(from.sll_protocol, from.sll_pkttype)) {
            continue;
        }
        result = {true, ipDatagramLength(buffer, static_cast<std::size_t>(received)), 0};
        return 1;
    }
}

ReceiveResult LinuxCaptureSource::receive(std::uint8_t* buffer, std::size_t capacity) {
    if (socket_ < 0) {
        return {false, 0, EBADF};
    }
    return ring_ != nullptr ? receiveFromRing({buffer, capacity, nullptr})
                            : receiveFromSocket(buffer, capacity);
}

ReceiveResult LinuxCaptureSource::receiveInto(const DatagramAllocator& allocate) {
    if (ring_ == nullptr || socket_ < 0) {
        return CaptureSource::receiveInto(allocate);
    }
    // The ring holds the datagram in place: one copy, straight into its own memory.
    return receiveFromRing({nullptr, 0, &allocate});
}

ReceiveResult LinuxCaptureSource::receiveView(const std::uint8_t*& datagram) {
    if (socket_ < 0) {
        return {false, 0, EBADF};
    }
    if (!queueBuffer_) {
        queueBuffer_ = std::make_unique<std::uint8_t[]>(ReceiveBufferBytes);
    }
    datagram = queueBuffer_.get();
    if (ring_ == nullptr) {
        return receiveFromSocket(queueBuffer_.get(), ReceiveBufferBytes);
    }
    return receiveFromRing({nullptr, 0, nullptr, &datagram});
}

ReceiveResult LinuxCaptureSource::deliver(const std::uint8_t* datagram, std::size_t length,
                                          const ReceiveTarget& target) {
    if (target.view != nullptr) {
        *target.view = datagram;
        return {true, length, 0};
    }
    if (target.allocate != nullptr) {
        std::uint8_t* const destination = (*target.allocate)(length);
        if (destination != nullptr && length > 0) {
            std::memcpy(destination, datagram, length);
        }
        return {true, length, 0};
    }
    const std::size_t copied = std::min(length, target.capacity);
    std::memcpy(target.buffer, datagram, copied);
    return {true, copied, 0};
}

ReceiveResult LinuxCaptureSource::receiveFromSocket(std::uint8_t* buffer, std::size_t capacity) {
    ReceiveResult result;
    for (;;) {
        if (!waitForData(result)) {
            return result;
        }
        // Drain what has arrived without blocking, so close() is never kept waiting.
        const int read = readQueuedDatagram(buffer, capacity, result);
        if (read != 0) {
            return result;
        }
    }
}

ReceiveResult LinuxCaptureSource::receiveFromRing(const ReceiveTarget& target) {
    ReceiveResult result;
    for (;;) {
        if (closed_.load(std::memory_order_acquire)) {
            return {false, 0, 0};
        }
        // Frames queued before the ring existed come first, in the order they arrived.
        if (!socketQueueDrained_) {
            if (!queueBuffer_) {
                queueBuffer_ = std::make_unique<std::uint8_t[]>(ReceiveBufferBytes);
            }
            const int read = readQueuedDatagram(queueBuffer_.get(), ReceiveBufferBytes, result);
            if (read < 0) {
                return result;
            }
            if (read > 0) {
                return deliver(queueBuffer_.get(), result.length, target);
            }
            socketQueueDrained_ = true;
        }
        std::uint8_t* const block = ring_ + currentBlock_ * CaptureRingBlockBytes;
        auto* const descriptor = reinterpret_cast<tpacket_block_desc*>(block);
        if (!walkingBlock_) {
            // The kernel fills the block before it sets the status; acquire pairs with that.
            const std::uint32_t status =
                __atomic_load_n(&descriptor->hdr.bh1.block_status, __ATOMIC_ACQUIRE);
            if ((status & TP_STATUS_USER) == 0) {
                if (!waitForData(result)) {
                    return result;
                }
                continue;
            }
            walkingBlock_ = true;
            packetsLeftInBlock_ = descriptor->hdr.bh1.num_pkts;
            nextPacketOffset_ = descriptor->hdr.bh1.offset_to_first_pkt;
        }
        while (packetsLeftInBlock_ > 0) {
            --packetsLeftInBlock_;
            // Offsets come from the kernel, but a header reaching past the block would be
            // read out of bounds, so such a block is given up.
            if (nextPacketOffset_ + sizeof(tpacket3_hdr) > CaptureRingBlockBytes) {
                packetsLeftInBlock_ = 0;
                break;
            }
            const auto* header = reinterpret_cast<const tpacket3_hdr*>(block + nextPacketOffset_);
            const std::size_t packetOffset = nextPacketOffset_;
            nextPacketOffset_ += header->tp_next_offset;
            if (header->tp_next_offset == 0) {
                packetsLeftInBlock_ = 0;  // the last packet of the block
            }
            const std::size_t linkAddressOffset =
                packetOffset + TPACKET_ALIGN(sizeof(tpacket3_hdr));
            const std::size_t dataOffset = packetOffset + header->tp_net;
            if (linkAddressOffset + sizeof(sockaddr_ll) > CaptureRingBlockBytes ||
                dataOffset + header->tp_snaplen > CaptureRingBlockBytes) {
                continue;
            }
            const auto* from = reinterpret_cast<const sockaddr_ll*>(block + linkAddressOffset);
            if (!wantedFrame(from->sll_protocol, from->sll_pkttype)) {
                continue;
            }
            const std::uint8_t* const datagram = block + dataOffset;
            ReceiveResult delivered =
                deliver(datagram, ipDatagramLength(datagram, header->tp_snaplen), target);
            // The kernel's receive stamp saves reading the clock once per datagram.
            delivered.arrivalNanoseconds = static_cast<std::int64_t>(header->tp_sec) * 1000000000 +
                                           static_cast<std::int64_t>(header->tp_nsec);
            return delivered;
        }
        // Every packet is copied out: the block goes back to the kernel.
        walkingBlock_ = false;
        __atomic_store_n(&descriptor->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        currentBlock_ = (currentBlock_ + 1) % ringBlocks_;
    }
}

std::uint64_t LinuxCaptureSource::droppedCount() const {
    if (socket_ >= 0) {
        // Reading the counters resets them, so each read is added to the total.
        tpacket_stats_v3 statistics{};
        socklen_t length = sizeof statistics;
        if (::getsockopt(socket_, SOL_PACKET, PACKET_STATISTICS, &statistics, &length) == 0) {
            dropped_.fetch_add(statistics.tp_drops, std::memory_order_relaxed);
        }
    }
    return dropped_.load(std::memory_order_relaxed);
}

void LinuxCaptureSource::close() {
    closed_.store(true, std::memory_order_release);
    if (wakeEvent_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeEvent_, &one, sizeof one);
    }
}

}  // namespace qhs
