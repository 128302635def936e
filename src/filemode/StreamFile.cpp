#include "filemode/StreamFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "analysis/DatagramView.h"
#include "app/Descriptor.h"
#include "app/Templates.h"

namespace qhs {

namespace {

// The errors by which the system says a name cannot be a file name: far too long, or
// holding characters the file system does not take.
bool isInvalidNameError(int error) {
    return error == ENAMETOOLONG || error == EINVAL || error == EILSEQ;
}

bool writeAll(std::FILE* file, std::span<const std::uint8_t> bytes) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// Writes the part of the data that the file holds, counting its bytes in `size`; false when
// a write failed.
bool writeContent(std::FILE* file, std::span<const std::uint8_t> joined,
                  const ResponseInfo& response, std::uint64_t& size) {
    const auto writeCounted = [&](std::span<const std::uint8_t> bytes) {
        size += bytes.size();
        return writeAll(file, bytes);
    };
    if (!response.isHttp) {
        return writeCounted(joined);
    }
    const std::span<const std::uint8_t> body = joined.subspan(response.bodyStart);
    if (!response.chunked) {
        return writeCounted(body);
    }
    bool written = true;
    decodeChunkedBody(joined, response.bodyStart, [&](std::span<const std::uint8_t> chunk) {
        written = written && writeCounted(chunk);
    });
    return written;
}

StreamFileResult failed(StreamFileResult result, int error, std::string errorPath) {
    result.outcome = StreamFileOutcome::WriteFailed;
    // A failure that left no error code behind is still a failure of the device.
    result.error = error != 0 ? error : EIO;
    result.errorPath = std::move(errorPath);
    UserMessage message;
    message.text = writeErrorText(result.path);
    result.message = std::move(message);
    return result;
}

// Opens `name` in `folder` for writing, or -1 with errno set. Without over-writing the file
// is created only if no entry of that name exists (a link or a FIFO included: EEXIST). With
// it, only a regular file is replaced: a link, FIFO, device or folder of that name fails the
// write and is left as it is.
int openInFolder(int folder, const std::string& name, bool overwrite) {
    constexpr int Creating = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    if (!overwrite) {
        return ::openat(folder, name.c_str(), Creating | O_EXCL, 0644);
    }
    struct stat entry {};
    if (::fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(entry.st_mode)) {
        errno = EEXIST;
        return -1;
    }
    // Without O_TRUNC: what was opened is checked before anything in it is lost. O_NONBLOCK
    // keeps a FIFO that took the name between the look and the open from blocking.
    const int descriptor = ::openat(folder, name.c_str(), Creating | O_NONBLOCK, 0644);
    if (descriptor < 0) {
        return -1;
    }
    struct stat opened {};
    if (::fstat(descriptor, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        ::ftruncate(descriptor, 0) != 0) {
        ::close(descriptor);
        errno = EEXIST;
        return -1;
    }
    return descriptor;
}

// How many streams may share one name before the next one is dropped after all.
constexpr int MaximumNameNumber = 10000;

}  // namespace

StreamFileSettings streamFileSettings(const SettingsRecord& record) {
    StreamFileSettings settings;
    settings.directory = textField(record.fileOutputDirectory);
    settings.fileNameTemplate = textField(record.fileNameTemplate);
    settings.dateTimeTemplate = textField(record.dateTimeTemplate);
    settings.overwrite = record.fileOverwrite != 0;
    settings.httpOnly = record.fileHttpOnly != 0;
    settings.minimumSize = record.fileMinSize;
    settings.maximumSize = record.fileMaxSize;
    return settings;
}

bool shouldStore(const ResponseInfo& response, std::size_t dataLength,
                 const StreamFileSettings& settings) {
    if (!response.isHttp && settings.httpOnly) {
        return false;
    }
    const std::size_t size = response.isHttp ? dataLength - response.bodyStart : dataLength;
    if (size < settings.minimumSize) {
        return false;
    }
    return settings.maximumSize == 0 || size <= settings.maximumSize;
}

std::string streamFileName(const StreamFileSettings& settings, std::uint32_t sourceAddress,
                           std::uint32_t destinationAddress, std::string_view extension, int number,
                           bool incomplete, const std::optional<LocalTime>& completedAt) {
    return streamFileName(settings, std::string_view(dottedAddress(sourceAddress)),
                          std::string_view(dottedAddress(destinationAddress)), extension, number,
                          incomplete, completedAt);
}

std::string streamFileName(const StreamFileSettings& settings, std::string_view sourceAddress,
                           std::string_view destinationAddress, std::string_view extension,
                           int number, bool incomplete,
                           const std::optional<LocalTime>& completedAt) {
    std::string name =
        expandFileName(settings.fileNameTemplate, settings.dateTimeTemplate, sourceAddress,
                       destinationAddress, completedAt ? *completedAt : localTimeSource()());
    // A '/' (a backslash of the date template becomes one) would lead into another folder.
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F) {
            c = '_';
        }
    }
    if (incomplete) {
        name += " (incomplete)";
    }
    if (number > 1) {
        name += " (" + std::to_string(number) + ")";
    }
    name += '.';
    name += extension;
    return name;
}

bool isIncompleteBody(std::span<const std::uint8_t> joined, const ResponseInfo& response) {
    if (!response.isHttp) {
        return false;
    }
    if (response.chunked) {
        return !decodeChunkedBody(joined, response.bodyStart, [](std::span<const std::uint8_t>) {});
    }
    return response.contentLength && joined.size() - response.bodyStart < *response.contentLength;
}

std::string streamFilePath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

std::string writeErrorText(std::string_view path) {
    std::string text = "Error writing the file:\r\n\r\n";
    text += path;
    text += "\r\n\r\nto the destination, please choose another destination";
    return text;
}

StreamFileResult writeStreamFile(std::span<const std::uint8_t> joined,
                                 const SegmentNode& firstSegment,
                                 const StreamFileSettings& settings,
                                 const std::optional<LocalTime>& completedAt) {
    const DatagramView first(firstSegment.data, firstSegment.length);
    return writeStreamFile(joined, first.sourceAddressText(), first.destinationAddressText(),
                           settings, completedAt, false);
}

StreamFileResult writeStreamFile(std::span<const std::uint8_t> joined, std::string_view sourceText,
                                 std::string_view destinationText,
                                 const StreamFileSettings& settings,
                                 const std::optional<LocalTime>& completedAt, bool cutShort) {
    StreamFileResult result;
    const ResponseInfo response = examineResponse(joined);
    if (!shouldStore(response, joined.size(), settings)) {
        return result;
    }
    // A file known to be cut short must not pass for the download.
    const bool incomplete = cutShort || isIncompleteBody(joined, response);
    // The name is looked up in the folder itself, never through a link: in a shared folder
    // a link named like the next file must not lead the write anywhere else.
    const Descriptor folder(::open(settings.directory.empty() ? "/" : settings.directory.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const int folderError = errno;
    std::FILE* opened = nullptr;
    std::string name;
    // Without over-writing, a name that is taken (streams that end within one millisecond
    // share their name) leaves that file alone and numbers the new one instead. Each try
    // creates the file only if it does not exist, so nothing is replaced between a look
    // and the write.
    for (int number = 1; opened == nullptr; ++number) {
        name = streamFileName(settings, sourceText, destinationText, response.extension, number,
                              incomplete, completedAt);
        result.path = streamFilePath(settings.directory, name);
        // A NUL would cut the path short where the system reads it.
        if (result.path.size() > MaximumStreamFilePath ||
            result.path.find('\0') != std::string::npos) {
            result.outcome = StreamFileOutcome::InvalidName;
            result.error = result.path.size() > MaximumStreamFilePath ? ENAMETOOLONG : EINVAL;
            result.errorPath = result.path;
            return result;
        }
        int descriptor = -1;
        errno = folderError;
        if (folder.value >= 0) {
            errno = 0;
            descriptor = openInFolder(folder.value, name, settings.overwrite);
        }
        if (descriptor >= 0) {
            opened = ::fdopen(descriptor, "wb");
            if (opened == nullptr) {
                ::close(descriptor);
            }
        } else if (errno == EEXIST && !settings.overwrite && number < MaximumNameNumber) {
            continue;
        } else if (errno == EEXIST && !settings.overwrite) {
            result.outcome = StreamFileOutcome::FileExists;
            return result;
        }
        if (opened == nullptr) {
            const int error = errno;
            // Without the folder the fault is the folder's, not the file's.
            std::string errorPath = folder.value >= 0            ? result.path
                                    : settings.directory.empty() ? std::string("/")
                                                                 : settings.directory;
            if (isInvalidNameError(error)) {
                result.outcome = StreamFileOutcome::InvalidName;
                result.error = error;
                result.errorPath = std::move(errorPath);
                return result;
            }
            return failed(std::move(result), error, std::move(errorPath));
        }
    }
    errno = 0;
    const bool written = writeContent(opened, joined, response, result.size);
    int error = errno;
    const bool closed = std::fclose(opened) == 0;
    if (written && !closed) {
        error = errno;
    }
    // A file that could not be written whole (a full disk) is not counted as written, and
    // the truncated copy is removed rather than left to pass for the download.
    if (!closed || !written) {
        ::unlinkat(folder.value, name.c_str(), 0);
        std::string errorPath = result.path;
        return failed(std::move(result), error, std::move(errorPath));
    }
    result.outcome = incomplete ? StreamFileOutcome::WrittenIncomplete : StreamFileOutcome::Written;
    result.contentType = response.contentType;
    return result;
}

}  // namespace qhs
