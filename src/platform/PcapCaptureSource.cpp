#include "platform/PcapCaptureSource.h"

#include <linux/if_packet.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/CaptureCapabilities.h"
#include "platform/NetworkInterfaces.h"

namespace qhs {

namespace {

std::int64_t nanosecondsOf(const pcap_pkthdr& header) {
    // With nanosecond precision asked for, the microseconds field holds nanoseconds.
    return static_cast<std::int64_t>(header.ts.tv_sec) * 1000000000 +
           static_cast<std::int64_t>(header.ts.tv_usec);
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

ReceiveResult PcapCaptureSource::next(const std::uint8_t*& datagram) {
    if (handle_ == nullptr) {
        return {false, 0, EBADF};
    }
    for (;;) {
        if (closed_.load(std::memory_order_acquire)) {
            return {false, 0, 0};
        }
        pcap_pkthdr* header = nullptr;
        const u_char* frame = nullptr;
        const int read = pcap_next_ex(handle_, &header, &frame);
        if (read == 0) {
            continue;  // the time-out passed with nothing new
        }
        if (read == PCAP_ERROR_BREAK) {
            return {false, 0, 0};
        }
        if (read != 1) {
            return {false, 0, errno != 0 ? errno : EIO};
        }
        const std::optional<Ipv4InFrame> part = ipv4InFrame(linkType_, frame, header->caplen);
        if (!part) {
            continue;
        }
        datagram = frame + part->offset;
        return {true, part->length, 0, nanosecondsOf(*header)};
    }
}

ReceiveResult PcapCaptureSource::receive(std::uint8_t* buffer, std::size_t capacity) {
    const std::uint8_t* datagram = nullptr;
    ReceiveResult result = next(datagram);
    if (result.ok) {
        result.length = std::min(result.length, capacity);
        std::memcpy(buffer, datagram, result.length);
    }
    return result;
}

ReceiveResult PcapCaptureSource::receiveInto(const DatagramAllocator& allocate) {
    // libpcap's buffer holds the datagram in place: one copy, straight into its own memory.
    const std::uint8_t* datagram = nullptr;
    const ReceiveResult result = next(datagram);
    if (result.ok) {
        std::uint8_t* const destination = allocate(result.length);
        if (destination != nullptr && result.length > 0) {
            std::memcpy(destination, datagram, result.length);
        }
    }
    return result;
}

ReceiveResult PcapCaptureSource::receiveView(const std::uint8_t*& datagram) {
    return next(datagram);
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
