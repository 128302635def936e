#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace qhs {

// A text file written through one large buffer, for the saved packet list and the log.
// Records are formatted straight into the buffer and reach the file in large writes, so a
// record costs no system call and no allocation of its own.
//
// Errors are kept: after the first failed write nothing more is written, and every later
// call returns that error's code (an errno value). A write error can therefore surface at a
// later record or at close(), never get lost.
class RecordFile {
  public:
    // The buffer is written out once it holds this many bytes.
    static constexpr std::size_t FlushThreshold = 256 * 1024;

    RecordFile();
    ~RecordFile();  // closes without reporting; call close() to learn of a late failure
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Creates the file anew (an existing one is truncated). Returns 0 or the error code.
    int create(const std::string& path);
    // Opens the file for appending, creating it when it does not exist. 0 or the error.
    int openForAppend(const std::string& path);
    // Writes to the process's standard output, which close() flushes but leaves open.
    void useStandardOutput();
    bool isOpen() const { return file_ != nullptr; }

    // The text not yet written. Writers append to it and then call commit().
    std::string& pending() { return pending_; }
    // Writes the pending text out when it has grown past FlushThreshold. 0 or the error.
    int commit();
    int write(std::string_view text);
    // Writes out what is pending now, however little. 0 or the error code.
    int writePending() { return flush(); }

    // Whether bytes already written can be written over: a regular file, not opened to
    // append (a pipe, a terminal or a file opened with ">>" cannot).
    bool isSeekable() const;
    // Writes `bytes` over the file's own bytes at `offset` from where this file began, whether
    // they are still pending or already out. 0 or the error code (ESPIPE when not seekable).
    int overwriteAt(std::size_t offset, std::string_view bytes);

    // Writes what is pending and closes the file. 0 or the first error of the whole file.
    int close();
    int error() const { return error_; }

  private:
    int open(const std::string& path, bool append);
    int flush();

    std::FILE* file_ = nullptr;
    bool ownsFile_ = true;
    std::string pending_;
    // Where the file stood when this began writing it (-1 when it cannot seek), and the bytes
    // written out since.
    off_t start_ = -1;
    std::size_t written_ = 0;
    int error_ = 0;
};

}  // namespace qhs
