#include "platform/DisplayProbe.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace qhs {

DisplayProbe::DisplayProbe() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0' && std::string_view(platform) != "xcb") {
        return;
    }
    // Qt would abort when it cannot connect; connecting first lets the program say why. An X
    // server whose last client just left resets and refuses connections for a moment, so a
    // refusal is asked again a few times before it counts.
    const char* display = std::getenv("DISPLAY");
    const int attempts = display != nullptr && *display != '\0' ? 10 : 1;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        connection_ = xcb_connect(nullptr, nullptr);
        available_ = xcb_connection_has_error(connection_) == 0;
        if (available_ || attempt == attempts) {
            return;
        }
        xcb_disconnect(connection_);
        connection_ = nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

DisplayProbe::~DisplayProbe() {
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
}

}  // namespace qhs
