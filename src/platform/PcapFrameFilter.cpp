#include "platform/PcapFrameFilter.h"

#include <pcap/pcap.h>

namespace qhs {

namespace {

class PcapFrameFilter final : public FrameFilter {
  public:
    explicit PcapFrameFilter(const bpf_program& program) : program_(program) {}
    ~PcapFrameFilter() override { pcap_freecode(&program_); }
    PcapFrameFilter(const PcapFrameFilter&) = delete;
    PcapFrameFilter& operator=(const PcapFrameFilter&) = delete;

    bool passes(const CaptureFrame& frame) const override {
        pcap_pkthdr header{};
        header.caplen = static_cast<bpf_u_int32>(frame.length);
        // The length on the wire, as far as the frame tells it.
        header.len = header.caplen;
        return pcap_offline_filter(&program_, &header, frame.bytes) != 0;
    }

  private:
    bpf_program program_;
};

}  // namespace

FrameFilterCompile compilePcapFilter(const std::string& expression, int linkType) {
    pcap_t* const dead = pcap_open_dead(linkType, static_cast<int>(LargestSnapLength));
    if (dead == nullptr) {
        return {nullptr, "cannot compile a filter for link type " + std::to_string(linkType)};
    }
    FrameFilterCompile compiled;
    bpf_program program{};
    if (pcap_compile(dead, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        compiled.error = pcap_geterr(dead);
    } else {
        compiled.filter = std::make_unique<PcapFrameFilter>(program);
    }
    pcap_close(dead);
    return compiled;
}

}  // namespace qhs
