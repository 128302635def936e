#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "info/VersionCheck.h"
#include "platform/LinuxTcpClient.h"

namespace qhs {
namespace {

enum class ServerAnswer { Reply, CloseWithoutReply, NeverReply };

// A one-connection HTTP server on 127.0.0.1: takes the request up to its empty line, then
// answers as told and closes. Every wait is limited, so a missing client cannot hang it.
class LoopbackHttpServer {
  public:
    explicit LoopbackHttpServer(std::string reply, ServerAnswer answer = ServerAnswer::Reply)
        : reply_(std::move(reply)), answer_(answer) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            ::listen(listener_, 1) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
            port_ = ntohs(address.sin_port);
            thread_ = std::thread([this] { serveOne(); });
        }
    }
    ~LoopbackHttpServer() {
        received();
        ::close(listener_);
    }

    std::uint16_t port() const { return port_; }
    // What the client sent, once the exchange has ended.
    std::string received() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return received_;
    }

  private:
    static bool readable(int socket) {
        pollfd wait{socket, POLLIN, 0};
        return ::poll(&wait, 1, 5000) == 1;
    }
    void serveOne() {
        const int connection = readable(listener_) ? ::accept(listener_, nullptr, nullptr) : -1;
        if (connection < 0) {
            return;
        }
        char buffer[4096];
        ssize_t count = 1;
        while (received_.find("\r\n\r\n") == std::string::npos && count > 0 &&
               readable(connection)) {
            count = ::recv(connection, buffer, sizeof buffer, 0);
            received_.append(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
        }
        if (answer_ == ServerAnswer::Reply) {
            ::send(connection, reply_.data(), reply_.size(), MSG_NOSIGNAL);
        } else if (answer_ == ServerAnswer::NeverReply) {
            readable(connection);  // until the client gives up and closes
        }
        ::close(connection);
    }

    std::string reply_;
    ServerAnswer answer_;
    int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::string received_;
};

VersionCheckOutcome checkAgainst(std::uint16_t port) {
    LinuxTcpClient client(std::chrono::milliseconds(500));
    return checkForNewerVersion(client, "127.0.0.1", port);
}

const UserMessage ConnectionErrorMessage{
    "There was an error connecting to the server:\r\n\r\n1. Make sure you are connected to the "
    "internet.\r\n2. If you have a software based firewall make sure this program is permitted "
    "to access the internet.",
    "Error", MessageIcon::None};

TEST(VersionCheck, StatusTwoHundredAfterTheExactRequestMeansLatestVersion) {
    // More than the response buffer holds: only the first receive counts.
    LoopbackHttpServer server("HTTP/1.1 200 OK\r\n\r\n" + std::string(30000, 'x'));
    const VersionCheckOutcome outcome = checkAgainst(server.port());
    EXPECT_EQ(server.received(),
              "GET /QuillharbourSnifferV1.5.chk HTTP/1.1\r\n"
              "User-Agent: Quillharbour Sniffer 1.5\r\n"
              "Host: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(outcome.result, VersionCheckResult::LatestVersion);
    EXPECT_EQ(outcome.message, (UserMessage{"You have the latest version of Quillharbour Sniffer "
                                            "available at this time.",
                                            "Quillharbour Sniffer"}));
    EXPECT_FALSE(outcome.asksYesNo);
}

TEST(VersionCheck, StatusFourOhFourAsksToOpenTheDescriptionPage) {
    LoopbackHttpServer server("HTTP/1.0 404 Not Found\r\n\r\n");
    const VersionCheckOutcome outcome = checkAgainst(server.port());
    EXPECT_EQ(outcome.result, VersionCheckResult::NewerVersion);
    EXPECT_EQ(
        outcome.message,
        (UserMessage{"There is a newer version of Quillharbour Sniffer available.\n     Would "
                     "you like to go to the description page?",
                     "Version Notification", MessageIcon::Question}));
    EXPECT_TRUE(outcome.asksYesNo);
    EXPECT_EQ(descriptionPageAddress(), "http://www.quillharbour.example/SnifferIndex.html");
}

TEST(VersionCheck, OtherStatusesShortRepliesAndASilentCloseShowNothing) {
    for (const std::string reply :
         {"HTTP/1.1 204 No Content\r\n\r\n", "HTTP/1.1 302 Found\r\n\r\n", "HTTP/", ""}) {
        LoopbackHttpServer server(
            reply, reply.empty() ? ServerAnswer::CloseWithoutReply : ServerAnswer::Reply);
        const VersionCheckOutcome outcome = checkAgainst(server.port());
        EXPECT_EQ(outcome.result, VersionCheckResult::NoAnswer) << reply;
        EXPECT_FALSE(outcome.message) << reply;
    }
}

TEST(VersionCheck, UnreachableOrSilentServerGivesOneConnectionErrorMessage) {
    std::uint16_t closedPort = 0;
    {
        LoopbackHttpServer gone("", ServerAnswer::CloseWithoutReply);
        closedPort = gone.port();
        LinuxTcpClient client;
        client.connect("127.0.0.1", closedPort);  // lets the server end
    }
    LoopbackHttpServer silent("", ServerAnswer::NeverReply);
    for (const std::uint16_t port : {closedPort, silent.port()}) {
        const VersionCheckOutcome outcome = checkAgainst(port);
        EXPECT_EQ(outcome.result, VersionCheckResult::ConnectionError) << port;
        EXPECT_EQ(outcome.message, ConnectionErrorMessage) << port;
    }
    LinuxTcpClient client;
    EXPECT_EQ(checkForNewerVersion(client, "no-such-host.invalid").result,
              VersionCheckResult::ConnectionError);
}

}  // namespace
}  // namespace qhs
