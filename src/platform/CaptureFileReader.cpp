#include "platform/CaptureFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qhs {

namespace {

// Opens a file for reading only, never through a link or into anything but a regular file.
std::FILE* openRegularFile(const std::string& path, std::uint64_t& size, std::string& fault) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        fault = std::strerror(errno);
        fault += '.';
        return nullptr;
    }
    struct stat facts {};
    if (::fstat(descriptor, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        ::close(descriptor);
        fault = "It is not a regular file.";
        return nullptr;
    }
    size = static_cast<std::uint64_t>(facts.st_size);
    std::FILE* const file = ::fdopen(descriptor, "rb");
    if (file == nullptr) {
        ::close(descriptor);
        fault = std::strerror(errno);
    }
    return file;
}

// Standard input as a stream of its own, which closing leaves standard input open.
std::FILE* openStandardInput(std::string& fault) {
    const int descriptor = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    std::FILE* const file = descriptor < 0 ? nullptr : ::fdopen(descriptor, "rb");
    if (file == nullptr) {
        fault = std::strerror(errno);
        fault += '.';
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
    return file;
}

// The file's first four bytes, left to be read again: a regular file is rewound; standard
// input, which cannot seek, gets them back into its buffer.
std::uint32_t peekMagic(std::FILE* file, bool seekable) {
    unsigned char bytes[4] = {};
    const std::size_t read = std::fread(bytes, 1, sizeof bytes, file);
    if (seekable) {
        std::rewind(file);
    } else {
        for (std::size_t index = read; index > 0; --index) {
            std::ungetc(bytes[index - 1], file);
        }
    }
    std::uint32_t magic = 0;
    std::memcpy(&magic, bytes, sizeof magic);
    return read == sizeof bytes ? magic : 0;
}

}  // namespace

CaptureFileReader::CaptureFileReader(const std::string& path) {
    const bool standardInput = path == "-";
    std::FILE* const file =
        standardInput ? openStandardInput(fault_) : openRegularFile(path, size_, fault_);
    if (file == nullptr) {
        return;
    }
    // Large reads keep a big file's many small records from costing a read each.
    std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
    const std::uint32_t magic = peekMagic(file, !standardInput);
    if (magic == PcapngMagic) {
        auto pcapng = std::make_unique<PcapngFrames>(file);
        open_ = pcapng->isOpen();
        fault_ = pcapng->fault();
        frames_ = std::move(pcapng);
    } else if (isClassicPcapMagic(magic)) {
        auto classic = std::make_unique<ClassicPcapFrames>(file);
        open_ = classic->isOpen();
        fault_ = classic->fault();
        frames_ = std::move(classic);
    } else {
        std::fclose(file);
        fault_ = "It is neither a pcap nor a pcapng capture file.";
    }
}

std::optional<std::string> CaptureFileReader::checkWhole(const CaptureFileProgress& progress) {
    if (!open_) {
        return fault_;
    }
    return checkCaptureFrames(*this, progress);
}

FrameRead CaptureFileReader::next(CaptureFrame& frame) {
    if (frames_ == nullptr) {
        return FrameRead::Fault;
    }
    const FrameRead read = frames_->next(frame);
    if (read == FrameRead::Fault) {
        fault_ = frames_->fault();
    }
    return read;
}

std::uint64_t CaptureFileReader::position() const {
    return frames_ != nullptr ? frames_->position() : 0;
}

}  // namespace qhs
