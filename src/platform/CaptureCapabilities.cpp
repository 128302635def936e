#include "platform/CaptureCapabilities.h"

#include <sys/capability.h>
#include <unistd.h>

namespace qhs {

namespace {

constexpr cap_value_t CaptureCapabilityList[] = {CAP_NET_RAW, CAP_NET_ADMIN};
constexpr int CaptureCapabilityCount = 2;

// Sets the effective flag of the capture capabilities the thread holds as permitted.
bool setEffective(cap_flag_value_t value) {
    cap_t capabilities = cap_get_proc();
    if (capabilities == nullptr) {
        return false;
    }
    cap_value_t held[CaptureCapabilityCount];
    int heldCount = 0;
    for (const cap_value_t capability : CaptureCapabilityList) {
        cap_flag_value_t permitted = CAP_CLEAR;
        if (cap_get_flag(capabilities, capability, CAP_PERMITTED, &permitted) == 0 &&
            permitted == CAP_SET) {
            held[heldCount++] = capability;
        }
    }
    bool changed = false;
    if (heldCount > 0 && cap_set_flag(capabilities, CAP_EFFECTIVE, heldCount, held, value) == 0) {
        changed = cap_set_proc(capabilities) == 0;
    }
    cap_free(capabilities);
    return changed;
}

}  // namespace

void lowerCaptureCapabilities() {
    if (::geteuid() != 0) {
        setEffective(CAP_CLEAR);
    }
}

RaisedCaptureCapabilities::RaisedCaptureCapabilities() {
    if (::geteuid() != 0) {
        raised_ = setEffective(CAP_SET);
    }
}

RaisedCaptureCapabilities::~RaisedCaptureCapabilities() {
    if (raised_) {
        setEffective(CAP_CLEAR);
    }
}

}  // namespace qhs
