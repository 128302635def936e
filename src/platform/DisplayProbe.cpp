#include "platform/DisplayProbe.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <string_view>

namespace qhs {

bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0' && std::string_view(platform) != "xcb") {
        return true;
    }
    // Qt would abort when it cannot connect; connecting first lets the program say why.
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool connected = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return connected;
}

}  // namespace qhs
