#pragma once

#include "platform/PlatformLayer.h"

struct xcb_connection_t;

namespace qhs {

// Asks, before Qt starts, whether the windows can be shown: Qt's platform is chosen by
// QT_QPA_PLATFORM (trusted as set), or it is X11 and the X server of DISPLAY accepts a
// connection. Keep it until Qt has connected: an X server with no other client resets when
// the last one leaves, and would refuse Qt's connection meanwhile.
class DisplayProbe {
  public:
    DisplayProbe();
    ~DisplayProbe();
    DisplayProbe(const DisplayProbe&) = delete;
    DisplayProbe& operator=(const DisplayProbe&) = delete;

    bool displayAvailable() const { return available_; }

  private:
    xcb_connection_t* connection_ = nullptr;
    bool available_ = true;
};

}  // namespace qhs
