#pragma once

#include <cstdio>
#include <string>

namespace qhs {

// What a shell command prints on its standard output (its errors go to the test's log).
inline std::string commandOutput(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, read);
        }
        ::pclose(pipe);
    }
    return output;
}

}  // namespace qhs
