#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/FileContents.h"

extern char** environ;

namespace qhs {

// Starts a program from PATH; returns its process id, or -1.
inline pid_t spawnProgram(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    return ::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? child
                                                                                        : -1;
}

// Runs a program to its end; its exit code, or -1.
inline int runProgram(std::vector<std::string> arguments) {
    const pid_t child = spawnProgram(std::move(arguments));
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A real nginx on 127.0.0.1:8080 (or [::1]:8080) serving the files of `root`, with gzip on,
// run from a work folder of the test's own; stopped when the object goes. With `tls` it also
// serves HTTPS (TLS 1.2 and 1.3, HTTP/1.1 and HTTP/2) on port 443 of the same address, with a
// certificate that openssl makes in the work folder (curl takes it with -k).
class LocalWebServer {
  public:
    static constexpr std::uint16_t Port = 8080;
    static constexpr std::uint16_t SecurePort = 443;
    static bool available() {
        return runProgram(
                   {"sh", "-c", "command -v nginx >/dev/null && command -v curl >/dev/null"}) == 0;
    }

    LocalWebServer(const std::filesystem::path& work, const std::filesystem::path& root,
                   bool ipv6 = false, bool tls = false)
        : ipv6_(ipv6) {
        const std::string w = work.string();
        const std::string host = ipv6 ? "[::1]" : "127.0.0.1";
        std::string secureServer;
        if (tls && runProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                               "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                               "/CN=localhost", "-keyout", w + "/key.pem", "-out",
                               w + "/cert.pem"}) == 0) {
            secureServer = "  server { listen " + host + ":443 ssl http2; root " + root.string() +
                           "; ssl_certificate " + w + "/cert.pem; ssl_certificate_key " + w +
                           "/key.pem; ssl_protocols TLSv1.2 TLSv1.3; }\n";
        }
        writeFileContents(
            work / "nginx.conf",
            "worker_processes 1;\nuser root;\npid " + w +
                "/nginx.pid;\nevents {}\nhttp {\n"
                "  access_log off;\n  client_body_temp_path " +
                w + "/body;\n  proxy_temp_path " + w + "/proxy;\n  fastcgi_temp_path " + w +
                "/fcgi;\n  uwsgi_temp_path " + w + "/uwsgi;\n  scgi_temp_path " + w +
                "/scgi;\n"
                "  types { text/html html; image/png png; application/octet-stream bin; }\n"
                "  gzip on;\n  gzip_min_length 1;\n"
                "  server { listen " +
                host + ":8080; root " + root.string() + "; }\n" + secureServer + "}\n");
        errorLog_ = work / "error.log";
        process_ = spawnProgram({"nginx", "-e", errorLog_.string(), "-p", w, "-c",
                                 w + "/nginx.conf", "-g", "daemon off;"});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (process_ > 0 && !(listens(Port) && (secureServer.empty() || listens(SecurePort))) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~LocalWebServer() {
        if (process_ > 0) {
            ::kill(process_, SIGTERM);
            ::waitpid(process_, nullptr, 0);
        }
    }
    LocalWebServer(const LocalWebServer&) = delete;
    LocalWebServer& operator=(const LocalWebServer&) = delete;

    bool running() const { return process_ > 0 && listens(Port); }
    std::string errors() const { return fileContents(errorLog_); }
    static std::string address(const std::string& path) { return "http://127.0.0.1:8080" + path; }
    static std::string address6(const std::string& path) { return "http://[::1]:8080" + path; }
    static std::string secureAddress(const std::string& path) { return "https://127.0.0.1" + path; }

  private:
    bool listens(std::uint16_t port) const {
        const int probe = ::socket(ipv6_ ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(port);
        address6.sin6_addr = in6addr_loopback;
        const bool connected = ipv6_
                                   ? ::connect(probe, reinterpret_cast<const sockaddr*>(&address6),
                                               sizeof address6) == 0
                                   : ::connect(probe, reinterpret_cast<const sockaddr*>(&address),
                                               sizeof address) == 0;
        ::close(probe);
        return connected;
    }

    bool ipv6_ = false;
    pid_t process_ = -1;
    std::filesystem::path errorLog_;
};

}  // namespace qhs
