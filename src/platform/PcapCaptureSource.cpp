#include "platform/PcapCaptureSource.h"

#include <linux/if_packet.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

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
OpenOutcome activationFailure(int status, int errorNumber) {
    switch (status) {
        case PCAP_ERROR_PERM_DENIED:
            return {OpenStatus::NoPermission,
                    errorNumber == EACCES || errorNumber == EPERM ? errorNumber : EPERM};
        case PCAP_ERROR_NO_SUCH_DEVICE:
        case PCAP_ERROR_IFACE_NOT_UP:
            return {OpenStatus::NoSuchInterface, 0};
        default:
            // libpcap leaves errno from the call that failed; its own codes are negative.
            return {OpenStatus::OtherError, errorNumber != 0 ? errorNumber : status};
    }
}

// libpcap's device that captures on every interface at once, in Linux cooked frames. Each
// frame of the loopback device passes it twice, as outgoing and as incoming; libpcap passes
// over the outgoing copy, as it does on the device itself. (PACKET_IGNORE_OUTGOING would keep
// it out of the buffer, but here it would drop what every other interface sends.)
constexpr const char* AnyInterfaceName = "any";

// The interface the options name: the command line's name, index or address, or else the
// address of the settings.
std::optional<OwningInterface> interfaceToOpen(const CaptureOptions& options) {
    if (options.interfaceName.empty()) {
        return interfaceForAddress(options.interfaceAddress);
    }
    if (options.interfaceName == AnyInterfaceName) {
        return OwningInterface{AnyInterfaceName, false};
    }
    std::uint32_t address = 0;
    return parseDottedAddress(options.interfaceName, address)
               ? interfaceForAddress(options.interfaceName)
               : interfaceNamed(options.interfaceName);
}

// Has the kernel pass only the frames the expression takes; libpcap's words when it cannot.
std::optional<std::string> setFilter(pcap_t* handle, const std::string& expression) {
    bpf_program program{};
    if (pcap_compile(handle, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        return std::string(pcap_geterr(handle));
    }
    const int set = pcap_setfilter(handle, &program);
    pcap_freecode(&program);
    if (set != 0) {
        return std::string(pcap_geterr(handle));
    }
    return std::nullopt;
}

}  // namespace

PcapCaptureSource::~PcapCaptureSource() {
    if (handle_ != nullptr) {
        pcap_close(handle_);
    }
}

std::unique_ptr<CaptureSource> PcapCaptureSource::create() {
    return std::make_unique<PcapCaptureSource>();
}

OpenOutcome PcapCaptureSource::open(const CaptureOptions& options) {
    // libpcap reports a lack of privilege before a missing device; without a device to name,
    // the process's own capabilities answer the same question.
    if (!mayOpenCaptures()) {
        return {OpenStatus::NoPermission, EPERM};
    }
    const std::optional<OwningInterface> owner = interfaceToOpen(options);
    if (!owner) {
        return {OpenStatus::NoSuchInterface, 0};
    }
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* const handle = pcap_create(owner->name.c_str(), error);
    if (handle == nullptr) {
        return {OpenStatus::OtherError, ENODEV};
    }
    pcap_set_snaplen(handle, CaptureSnapLength);
    pcap_set_promisc(handle, 0);
    pcap_set_timeout(handle, CaptureTimeoutMilliseconds);
    if (options.bufferBytes > 0) {
        pcap_set_buffer_size(handle, options.bufferBytes);
    }
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
            return {OpenStatus::OtherError, EINVAL};
        }
        const int ignore = 1;
        ::setsockopt(pcap_fileno(handle), SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore,
                     sizeof ignore);
    }
    if (!options.filterExpression.empty()) {
        if (std::optional<std::string> fault = setFilter(handle, options.filterExpression)) {
            pcap_close(handle);
            return {OpenStatus::BadFilter, EINVAL, std::move(*fault)};
        }
    }
    handle_ = handle;
    linkType_ = pcap_datalink(handle);
    return {};
}

namespace {

// What the next frame's datagram is handed to, and what became of it.
struct Delivery {
    int linkType = -1;
    const DatagramVisitor* visit = nullptr;
    ReceiveResult result;
};

// Runs while the frame is still in libpcap's buffer, which it hands back to the kernel once
// this returns; so the visitor copies the datagram once, from there to where it goes.
void deliverFrame(u_char* user, const pcap_pkthdr* header, const u_char* frame) {
    Delivery& delivery = *reinterpret_cast<Delivery*>(user);
    const std::optional<IpInFrame> part = ipInFrame(delivery.linkType, frame, header->caplen);
    if (!part) {
        return;
    }
    delivery.result = {true, part->length, 0, nanosecondsOf(*header)};
    (*delivery.visit)(frame + part->offset, part->length);
}

}  // namespace

ReceiveResult PcapCaptureSource::receive(const DatagramVisitor& visit) {
    if (handle_ == nullptr) {
        return {false, 0, EBADF};
    }
    Delivery delivery{linkType_, &visit, {}};
    for (;;) {
        if (closed_.load(std::memory_order_acquire)) {
            return {false, 0, 0};
        }
        // One frame at a time: pcap_next_ex would first copy each into a buffer of its own.
        const int handled =
            pcap_dispatch(handle_, 1, &deliverFrame, reinterpret_cast<u_char*>(&delivery));
        if (delivery.result.ok) {
            return delivery.result;
        }
        if (handled == PCAP_ERROR_BREAK) {
            return {false, 0, 0};
        }
        if (handled < 0) {
            return {false, 0, errno != 0 ? errno : EIO};
        }
        // Nothing yet, or a frame that carried no IP datagram.
    }
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
