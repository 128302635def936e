#pragma once

#include "platform/PlatformLayer.h"

namespace qhs {

// A user who is not root captures through the capability the executable carries as a file
// capability (CAP_NET_RAW, permitted only). It stays out of the effective set except while
// a capture opens, so nothing else the program does runs with it.

// Takes the capture capabilities out of the effective set of the calling thread; called first
// thing in main, before any thread starts, so every later thread begins without them. Root
// keeps what it has.
void lowerCaptureCapabilities();

// Whether the process holds the capture capabilities as permitted, so a capture may open.
bool mayOpenCaptures();

// Whether the process holds any capability (root, or file capabilities): it then runs in
// secure-execution mode, where nothing the user names may load code into it.
bool runsWithCapabilities();

// With capabilities held, takes out of the environment every variable that would make Qt,
// or a library it loads, load code or configuration from a path the user chose. Call before
// any Qt object exists.
void clearCodePathsFromEnvironment();

// Gives up every privilege for good, once a run from the command line has its capture
// open: run as root through sudo, the process becomes the user who ran sudo (SUDO_UID,
// SUDO_GID), so what it writes is theirs; then every capability goes, the permitted set
// included. Call it while the process has a single thread. False when a step failed.
bool dropPrivileges();

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
