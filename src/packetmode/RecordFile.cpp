#include "packetmode/RecordFile.h"

#include <cerrno>

namespace qhs {

namespace {

// A failed call that set no errno still has to read as a failure.
int lastError() {
    return errno != 0 ? errno : EIO;
}

}  // namespace

RecordFile::RecordFile() {
    // Room for the threshold plus the largest record (a 65535-byte datagram in decimal is
    // about 263 KiB), so the buffer never grows again.
    pending_.reserve(FlushThreshold + 512 * 1024);
}

RecordFile::~RecordFile() {
    close();
}

int RecordFile::create(const std::string& path) {
    return open(path, "wb");
}

int RecordFile::openForAppend(const std::string& path) {
    return open(path, "ab");
}

void RecordFile::useStandardOutput() {
    close();
    error_ = 0;
    pending_.clear();
    file_ = stdout;
    ownsFile_ = false;
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

int RecordFile::open(const std::string& path, const char* mode) {
    close();
    ownsFile_ = true;
    error_ = 0;
    pending_.clear();
    errno = 0;
    file_ = std::fopen(path.c_str(), mode);
    if (file_ == nullptr) {
        return lastError();
    }
    // Our own buffer already gathers the records; a second one in stdio would only copy.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return 0;
}

int RecordFile::commit() {
    if (error_ != 0) {
        pending_.clear();
    } else if (pending_.size() >= FlushThreshold) {
        flush();
    }
    return error_;
}

int RecordFile::write(std::string_view text) {
    if (error_ == 0) {
        pending_.append(text);
    }
    return commit();
}

int RecordFile::flush() {
    if (file_ == nullptr || error_ != 0) {
        pending_.clear();
        return error_;
    }
    if (!pending_.empty()) {
        errno = 0;
        if (std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size()) {
            error_ = lastError();
        }
        pending_.clear();
    }
    return error_;
}

int RecordFile::close() {
    if (file_ == nullptr) {
        return error_;
    }
    flush();
    errno = 0;
    if ((ownsFile_ ? std::fclose(file_) : std::fflush(file_)) != 0 && error_ == 0) {
        error_ = lastError();
    }
    file_ = nullptr;
    return error_;
}

}  // namespace qhs
