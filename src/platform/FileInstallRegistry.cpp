#include "platform/FileInstallRegistry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "app/Descriptor.h"

namespace qhs {

FileInstallRegistry::FileInstallRegistry(const std::filesystem::path& root)
    : filePath_(root / "etc" / "quillharbour" / "registry.ini") {}

std::optional<std::string> FileInstallRegistry::readValue(std::string_view key,
                                                          std::string_view name) {
    const std::optional<RegistryDocument> document = load();
    if (!document) {
        return std::nullopt;
    }
    return document->value(key, name);
}

bool FileInstallRegistry::writeValues(std::string_view key,
                                      const std::vector<RegistryValue>& values) {
    std::optional<RegistryDocument> document = load();
    if (!document) {
        return false;
    }
    for (const RegistryValue& value : values) {
        document->setValue(key, value.name, value.data);
    }
    return store(*document);
}

bool FileInstallRegistry::deleteKey(std::string_view key) {
    std::optional<RegistryDocument> document = load();
    if (!document) {
        return false;
    }
    if (!document->removeKey(key)) {
        return true;
    }
    return store(*document);
}

std::optional<RegistryDocument> FileInstallRegistry::load() const {
    const int descriptor = ::open(filePath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT) {
            return RegistryDocument{};
        }
        return std::nullopt;
    }
    std::string text;
    struct stat status {};
    bool readable = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    char buffer[4096];
    while (readable) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            readable = count == 0;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(descriptor);
    if (!readable) {
        return std::nullopt;
    }
    return RegistryDocument::parse(text);
}

bool FileInstallRegistry::store(const RegistryDocument& document) const {
    std::error_code error;
    std::filesystem::create_directories(filePath_.parent_path(), error);
    std::string temporary = filePath_.string() + ".XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) {
        return false;
    }
    const bool written = writeAll(descriptor, document.text()) && ::fchmod(descriptor, 0644) == 0 &&
                         ::fsync(descriptor) == 0;
    const bool closed = ::close(descriptor) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), filePath_.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace qhs
