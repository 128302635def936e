#include "platform/DisplayProbe.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <string_view>

namespace qhs {

DisplayProbe::DisplayProbe() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0' && std::string_view(platform) != "xcb") {
        return;
    }
    // Qt would abort when it cannot connect; connecting first lets the program say why.
    connection_ = xcb_connect(nullptr, nullptr);
    available_ = xcb_connection_has_error(connection_) == 0;
}

DisplayProbe::~DisplayProbe() {
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
}

}  // namespace qhs
