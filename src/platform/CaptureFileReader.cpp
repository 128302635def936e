#include "platform/CaptureFileReader.h"

#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace qhs {

namespace {

// libpcap's words for a file it cannot read, as a sentence.
std::string sentence(std::string text) {
    if (text.find("unknown file format") != std::string::npos) {
        return "It is neither a pcap nor a pcapng capture file.";
    }
    if (!text.empty()) {
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        if (text.back() != '.') {
            text += '.';
        }
    }
    return text;
}

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

CaptureFileReader::CaptureFileReader(const std::string& path)
    : path_(path), standardInput_(path == "-") {
    std::FILE* const file =
        standardInput_ ? openStandardInput(fault_) : openRegularFile(path, size_, fault_);
    if (file == nullptr) {
        return;
    }
    // Large reads keep a big file's many small records from costing a read each.
    std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
    if (peekMagic(file, !standardInput_) == PcapngMagic) {
        pcapng_ = std::make_unique<PcapngFrames>(file);
        open_ = pcapng_->isOpen();
        fault_ = pcapng_->fault();
        return;
    }
    classic_ = !standardInput_ && startsAsClassicPcap(file);
    char error[PCAP_ERRBUF_SIZE] = {};
    // On success libpcap owns the file and closes it.
    handle_ = pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, error);
    if (handle_ == nullptr) {
        fault_ = sentence(error);
        std::fclose(file);
        return;
    }
    open_ = true;
    linkType_ = pcap_datalink(handle_);
}

CaptureFileReader::~CaptureFileReader() {
    if (handle_ != nullptr) {
        pcap_close(handle_);
    }
}

std::optional<std::string> CaptureFileReader::checkWhole(const CaptureFileProgress& progress) {
    if (!open_) {
        return fault_;
    }
    if (!classic_) {
        return checkCaptureFrames(*this, progress);
    }
    // The records are walked through a reader of their own, from the start of the file.
    std::uint64_t size = 0;
    std::string unopened;
    std::FILE* const file = openRegularFile(path_, size, unopened);
    if (file == nullptr) {
        return unopened;
    }
    std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
    std::optional<std::string> fault = classicPcapFault(file, progress);
    std::fclose(file);
    return fault;
}

FrameRead CaptureFileReader::next(CaptureFrame& frame) {
    if (pcapng_ != nullptr) {
        const FrameRead read = pcapng_->next(frame);
        if (read == FrameRead::Fault) {
            fault_ = pcapng_->fault();
        }
        return read;
    }
    if (handle_ == nullptr) {
        return FrameRead::Fault;
    }
    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    const int read = pcap_next_ex(handle_, &header, &bytes);
    if (read == 1) {
        frame.bytes = bytes;
        frame.length = header->caplen;
        frame.originalLength = std::max(header->len, header->caplen);
        frame.arrivalNanoseconds = stampNanoseconds(header->ts.tv_sec, header->ts.tv_usec);
        frame.linkType = linkType_;
        return FrameRead::Frame;
    }
    if (read == PCAP_ERROR_BREAK) {
        return FrameRead::End;
    }
    fault_ = sentence(pcap_geterr(handle_));
    return FrameRead::Fault;
}

std::uint64_t CaptureFileReader::position() const {
    if (pcapng_ != nullptr) {
        return pcapng_->position();
    }
    if (handle_ == nullptr) {
        return 0;
    }
    const long long offset = ::ftello(pcap_file(handle_));
    return offset > 0 ? static_cast<std::uint64_t>(offset) : 0;
}

}  // namespace qhs
