#include "packetmode/RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qhs {

namespace {

// A failed call that set no errno still has to read as a failure.
int lastError() {
    return errno != 0 ? errno : EIO;
}

// Whether someone other than the running user and root may add entries to the folder of
// `path`, and so may have planted a link in it.
bool folderSharedWithOthers(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    struct stat facts {};
    if (::stat(folder.c_str(), &facts) != 0) {
        return true;
    }
    return (facts.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
           (facts.st_uid != ::geteuid() && facts.st_uid != 0);
}

// Opens an output file as "wb" or "ab" would, but never through a link planted in a folder
// that others can write (as root that would hand them any file of the system), and never
// truncating what is not a regular file (a device or a pipe is written as it is).
std::FILE* openOutput(const std::string& path, bool append) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | (append ? O_APPEND : 0);
    if (folderSharedWithOthers(path)) {
        flags |= O_NOFOLLOW;
    }
    const int descriptor = ::open(path.c_str(), flags, 0666);
    if (descriptor < 0) {
        return nullptr;
    }
    struct stat facts {};
    if (::fstat(descriptor, &facts) != 0 ||
        (!append && S_ISREG(facts.st_mode) && ::ftruncate(descriptor, 0) != 0)) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
        return nullptr;
    }
    std::FILE* file = ::fdopen(descriptor, append ? "ab" : "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
    }
    return file;
}

// The file's position when it is a regular file written in place, else -1.
off_t seekableStart(std::FILE* file) {
    const int descriptor = ::fileno(file);
    struct stat facts {};
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (::fstat(descriptor, &facts) != 0 || !S_ISREG(facts.st_mode) || flags < 0 ||
        (flags & O_APPEND) != 0) {
        return -1;
    }
    return ::lseek(descriptor, 0, SEEK_CUR);
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
    return open(path, false);
}

int RecordFile::openForAppend(const std::string& path) {
    return open(path, true);
}

void RecordFile::useStandardOutput() {
    close();
    error_ = 0;
    pending_.clear();
    file_ = stdout;
    ownsFile_ = false;
    std::setvbuf(file_, nullptr, _IONBF, 0);
    std::fflush(file_);
    start_ = seekableStart(file_);
    written_ = 0;
}

bool RecordFile::isSeekable() const {
    return file_ != nullptr && start_ >= 0;
}

int RecordFile::overwriteAt(std::size_t offset, std::string_view bytes) {
    if (error_ != 0) {
        return error_;
    }
    if (offset >= written_ && offset - written_ + bytes.size() <= pending_.size()) {
        pending_.replace(offset - written_, bytes.size(), bytes);
        return 0;
    }
    if (!isSeekable()) {
        return ESPIPE;
    }
    if (flush() != 0) {
        return error_;
    }
    errno = 0;
    if (::pwrite(::fileno(file_), bytes.data(), bytes.size(),
                 start_ + static_cast<off_t>(offset)) != static_cast<ssize_t>(bytes.size())) {
        error_ = lastError();
    }
    return error_;
}

int RecordFile::open(const std::string& path, bool append) {
    close();
    ownsFile_ = true;
    error_ = 0;
    pending_.clear();
    errno = 0;
    file_ = openOutput(path, append);
    if (file_ == nullptr) {
        return lastError();
    }
    // Our own buffer already gathers the records; a second one in stdio would only copy.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    start_ = seekableStart(file_);
    written_ = 0;
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
        written_ += pending_.size();
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
    start_ = -1;
    return error_;
}

}  // namespace qhs
