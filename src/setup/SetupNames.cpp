#include "setup/SetupNames.h"

#include "app/CommandLine.h"

namespace qhs {

std::string handOverArgumentWord() {
    std::string_view word = HandOverArgument;
    while (!word.empty() && word.front() == ' ') {
        word.remove_prefix(1);
    }
    return std::string(word);
}

std::string directoryOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    if (slash == 0) {
        return "/";
    }
    return std::string(path.substr(0, slash));
}

std::string withTrailingSlash(std::string_view directory) {
    std::string text(directory);
    if (text.empty() || text.back() != '/') {
        text += '/';
    }
    return text;
}

}  // namespace qhs
