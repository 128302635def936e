#pragma once

#include <string>

namespace qhs {

// The file operations of installing and removing the program.
class SetupFiles {
  public:
    virtual ~SetupFiles() = default;

    // One directory (not a chain); an existing one or a failure is not reported.
    virtual void createDirectory(const std::string& path) = 0;
    // Copies an executable over `to` (replacing what is there) and makes it executable
    // for everyone. A partial copy never takes the target's place.
    virtual bool copyExecutable(const std::string& from, const std::string& to) = 0;
    // Writes a file that no one else can have prepared: what stood at the path (a file or a
    // link) is removed first and the file is created anew, never through a link.
    virtual bool writeNewFile(const std::string& path, const std::string& contents,
                              unsigned mode) = 0;
    // Whether both paths name one existing file (through links or other spellings).
    virtual bool isSameFile(const std::string& first, const std::string& second) = 0;
    // Removes a file; a missing one is not reported.
    virtual void removeFile(const std::string& path) = 0;
    // Lets the members of the capture group, and no one else, run the executable and capture
    // with it without being root. Only root can grant this, on a file system that keeps file
    // capabilities; returns whether it was granted. When it was not, the executable is
    // left runnable as it was.
    virtual bool allowCapture(const std::string& executablePath) = 0;
};

}  // namespace qhs
