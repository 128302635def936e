#include "platform/PcapCaptureSource.h"

#include <linux/if_packet.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "capture/CaptureFile.h"
#include "platform/CaptureCapabilities.h"
#include "platform/NetworkInterfaces.h"

namespace qhs {

namespace {

std::int64_t nanosecondsOf(const pcap_pkthdr& header) {
    // With nanosecond precision asked for, the microseconds field holds nanoseconds.
    return stampNanoseconds(header.ts.tv_sec, header.ts.tv_usec);
}

// The outcome of an activation libpcap refused.
BindResult activationFailure(int status, int errorNumber) {
    switch (status) {
        case PCAP_ERROR_PERM_DENIED:
            return {BindStatus::NotASocket, 0};
        case PCAP_ERROR_NO_SUCH_DEVICE:
        case PCAP_ERROR_IFACE_NOT_UP:
            return {BindStatus::NotAnInterface, 0};
        default:
            // libpcap leaves errno from the call that failed; its own codes are negative.
            return {BindStatus::OtherError, errorNumber != 0 ? errorNumber : status};
    }
}

}  // namespace

PcapCaptureSource::PcapCaptureSource(int bufferBytes) : bufferBytes_(bufferBytes) {}

PcapCaptureSource::~PcapCaptureSource() {
    if (handle_ != nullptr) {
        pcap_close(handle_);
    }
}

std::unique_ptr<CaptureSource> PcapCaptureSource::create() {
    return std::make_unique<PcapCaptureSource>();
}

std::unique_ptr<CaptureSource> PcapCaptureSource::createForFiles() {
    return std::make_unique<PcapCaptureSource>(FileCaptureReceiveBufferBytes);
}

long PcapCaptureSource::createSocket() {
    const RaisedCaptureCapabilities raised;
    const int probe = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        creationError_ = errno;
        return creationError_;
    }
    ::close(probe);
    return 0;
}

BindResult PcapCaptureSource::bindToInterface(const std::string& interfaceAddress) {
    if (creationError_ != 0) {
        return {BindStatus::NotASocket, 0};
    }
    const std::optional<OwningInterface> owner = interfaceForAddress(interfaceAddress);
    if (!owner) {
        return {BindStatus::NotAnInterface, 0};
    }
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* const handle = pcap_create(owner->name.c_str(), error);
    if (handle == nullptr) {
        return {BindStatus::OtherError, ENODEV};
    }
    pcap_set_snaplen(handle, CaptureSnapLength);
    pcap_set_promisc(handle, 0);
    pcap_set_timeout(handle, CaptureTimeoutMilliseconds);
    pcap_set_buffer_size(handle, bufferBytes_);
    pcap_set_tstamp_precision(handle, PCAP_TSTAMP_PRECISION_NANO);
    int status = 0;
    int errorNumber = 0;
    {
        const RaisedCaptureCapabilities raised;
        errno = 0;
        status = pcap_activate(handle);
        errorNumber = errno;
    }
    if (status < 0) {
        pcap_close(handle);
        return activationFailure(status, errorNumber);
    }
    // On the loopback device each frame passes twice, as outgoing and as incoming. libpcap
    // passes over the outgoing copy only after the kernel has put it in the buffer, where it
    // takes the room of an incoming one; the kernel can keep it out altogether.
    if (owner->loopback) {
        if (pcap_setdirection(handle, PCAP_D_IN) != 0) {
            pcap_close(handle);
            return {BindStatus::OtherError, EINVAL};
        }
        const int ignore = 1;
        ::setsockopt(pcap_fileno(handle), SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore,
                     sizeof ignore);
    }
    handle_ = handle;
    linkType_ = pcap_datalink(handle);
    return {BindStatus::Bound, 0};
}

// Where the datagram of the next frame goes, and what became of it.
struct DeliveryTarget {
    int linkType = -1;
    std::uint8_t* buffer = nullptr;  // a buffer of `capacity` bytes, or
    std::size_t capacity = 0;
    const DatagramAllocator* allocate = nullptr;  // memory of the datagram's own length, or
    const DatagramVisitor* visit = nullptr;       // a look where it lies
    ReceiveResult result;
};

namespace {

// Runs while the frame is still in libpcap's buffer, which it hands back to the kernel once
// this returns; so the datagram is copied once, from there to where it goes.
void deliverFrame(u_char* user, const pcap_pkthdr* header, const u_char* frame) {
    DeliveryTarget& target = *reinterpret_cast<DeliveryTarget*>(user);
    const std::optional<Ipv4InFrame> part = ipv4InFrame(target.linkType, frame, header->caplen);
    if (!part) {
        return;
    }
    std::size_t length = part->length;
    target.result = {true, length, 0, nanosecondsOf(*header)};
    if (target.visit != nullptr) {
        (*target.visit)(frame + part->offset, length);
        return;
    }
    std::uint8_t* destination = nullptr;
    if (target.allocate != nullptr) {
        destination = (*target.allocate)(length);
    } else {
        length = std::min(length, target.capacity);
        destination = target.buffer;
    }
    if (destination != nullptr && length > 0) {
        std::memcpy(destination, frame + part->offset, length);
    }
    target.result.length = length;
}

}  // namespace

ReceiveResult PcapCaptureSource::deliverNext(DeliveryTarget& target) {
    if (handle_ == nullptr) {
        return {false, 0, EBADF};
    }
    target.linkType = linkType_;
    for (;;) {
        if (closed_.load(std::memory_order_acquire)) {
            return {false, 0, 0};
        }
        // One frame at a time: pcap_next_ex would first copy each into a buffer of its own.
        const int handled =
            pcap_dispatch(handle_, 1, &deliverFrame, reinterpret_cast<u_char*>(&target));
        if (target.result.ok) {
            return target.result;
        }
        if (handled == PCAP_ERROR_BREAK) {
            return {false, 0, 0};
        }
        if (handled < 0) {
            return {false, 0, errno != 0 ? errno : EIO};
        }
        // Nothing yet, or a frame that carried no IPv4 datagram.
    }
}

ReceiveResult PcapCaptureSource::receive(std::uint8_t* buffer, std::size_t capacity) {
    DeliveryTarget target;
    target.buffer = buffer;
    target.capacity = capacity;
    return deliverNext(target);
}

ReceiveResult PcapCaptureSource::receiveInto(const DatagramAllocator& allocate) {
    DeliveryTarget target;
    target.allocate = &allocate;
    return deliverNext(target);
}

ReceiveResult PcapCaptureSource::receiveVisit(const DatagramVisitor& visit) {
    DeliveryTarget target;
    target.visit = &visit;
    return deliverNext(target);
}

void PcapCaptureSource::close() {
    closed_.store(true, std::memory_order_release);
    if (handle_ != nullptr) {
        pcap_breakloop(handle_);
    }
}

std::uint64_t PcapCaptureSource::droppedCount() const {
    const std::lock_guard<std::mutex> guard(statisticsGuard_);
    pcap_stat statistics{};
    // libpcap adds up the kernel's counters, which reset on each read, so the total holds.
    if (handle_ != nullptr && pcap_stats(handle_, &statistics) == 0) {
        dropped_ = statistics.ps_drop;
    }
    return dropped_;
}

}  // namespace qhs
