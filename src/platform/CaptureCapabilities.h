#pragma once

#include "platform/PlatformLayer.h"

namespace qhs {

// A user who is not root captures through the capabilities the executable carries as file
// capabilities (CAP_NET_RAW, CAP_NET_ADMIN, permitted only). They stay out of the effective
// set except while a capture opens, so nothing else the program does runs with them.

// Takes the capture capabilities out of the effective set of the calling thread; called first
// thing in main, before any thread starts, so every later thread begins without them. Root
// keeps what it has.
void lowerCaptureCapabilities();

// While alive, the calling thread holds in its effective set whichever capture capabilities
// the process has as permitted.
class RaisedCaptureCapabilities {
  public:
    RaisedCaptureCapabilities();
    ~RaisedCaptureCapabilities();
    RaisedCaptureCapabilities(const RaisedCaptureCapabilities&) = delete;
    RaisedCaptureCapabilities& operator=(const RaisedCaptureCapabilities&) = delete;

  private:
    bool raised_ = false;
};

}  // namespace qhs
