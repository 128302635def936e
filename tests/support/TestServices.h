#pragma once

#include "capture/SystemServices.h"
#include "platform/LinuxServices.h"

namespace qhs {

// The Linux services, with `source` (when given) in place of both live captures.
inline SystemServices servicesWith(CaptureSourceFactory source = nullptr) {
    SystemServices services = linuxServices();
    if (source) {
        services.captureSource = std::move(source);
    }
    return services;
}

}  // namespace qhs
