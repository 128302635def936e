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

using namespace std::chrono_literals;

constexpr int ServerWaitMs = 5000;

enum class ServerAnswer { Reply, CloseWithoutReply, NeverReply };

// A one-connection HTTP server on 127.0.0.1: takes the request up to its empty line, then
// answers as told and closes. Every wait has a limit, so a client that never comes cannot
// hang the test.
class LoopbackHttpServer {
  public:
    explicit LoopbackHttpServer(std::string reply, ServerAnswer answer = ServerAnswer::Reply)
        : reply_(std::move(reply)), answer_(answer) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serveOne(); });
    }
    ~LoopbackHttpServer() {
        if (thread_.joinable()) {
            thread_.join();
        }
        if (listener_ >= 0) {
            ::close(listener_);
        }
    }

    std::uint16_t port() const { return port_; }
    // What the client sent; complete once the exchange has ended.
    std::string received() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return received_;
    }

  private:
    static bool readable(int socket) {
        pollfd wait{socket, POLLIN, 0};
        return ::poll(&wait, 1, ServerWaitMs) == 1;
    }

    void serveOne() {
        if (!readable(listener_)) {
            return;
        }
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            return;
        }
        char buffer[4096];
        while (received_.find("\r\n\r\n") == std::string::npos && readable(connection)) {
            const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
            if (count <= 0) {
                break;
            }
            received_.append(buffer, static_cast<std::size_t>(count));
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
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::string received_;
};

VersionCheckOutcome checkAgainst(const LoopbackHttpServer& server) {
    LinuxTcpClient client;
    return checkForNewerVersion(client, "127.0.0.1", server.port());
}

TEST(VersionCheck, RequestOnTheWireIsTheThreeHeaderLinesAndTheEmptyLine) {
    LoopbackHttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    ASSERT_NE(server.port(), 0);
    checkAgainst(server);
    EXPECT_EQ(server.received(),
              "GET /QuillharbourSnifferV1.5.chk HTTP/1.1\r\n"
              "User-Agent: Quillharbour Sniffer 1.5\r\n"
              "Host: 127.0.0.1\r\n"
              "\r\n");
}

TEST(VersionCheck, StatusTwoHundredMeansThisIsTheLatestVersion) {
    LoopbackHttpServer server("HTTP/1.1 200 OK\r\n\r\n");
    const VersionCheckOutcome outcome = checkAgainst(server);
    EXPECT_EQ(outcome.result, VersionCheckResult::LatestVersion);
    ASSERT_TRUE(outcome.message);
    EXPECT_EQ(
        *outcome.message,
        (UserMessage{"You have the latest version of Quillharbour Sniffer available at this time.",
                     "Quillharbour Sniffer", MessageIcon::None}));
    EXPECT_FALSE(outcome.asksYesNo);
}

TEST(VersionCheck, StatusFourOhFourAsksToOpenTheDescriptionPage) {
    LoopbackHttpServer server("HTTP/1.0 404 Not Found\r\n\r\n");
    const VersionCheckOutcome outcome = checkAgainst(server);
    EXPECT_EQ(outcome.result, VersionCheckResult::NewerVersion);
    ASSERT_TRUE(outcome.message);
    EXPECT_EQ(
        *outcome.message,
        (UserMessage{"There is a newer version of Quillharbour Sniffer available.\n     Would "
                     "you like to go to the description page?",
                     "Version Notification", MessageIcon::Question}));
    EXPECT_TRUE(outcome.asksYesNo);
    EXPECT_EQ(descriptionPageAddress(), "http://www.quillharbour.example/SnifferIndex.html");
}

TEST(VersionCheck, OtherStatusesShortRepliesAndSilentCloseShowNothing) {
    for (const std::string reply : {"HTTP/1.1 204 No Content\r\n\r\n", "HTTP/1.1 302 Found\r\n\r\n",
                                    "HTTP/", "HTTP/1.1 20"}) {
        LoopbackHttpServer server(reply);
        const VersionCheckOutcome outcome = checkAgainst(server);
        EXPECT_EQ(outcome.result, VersionCheckResult::NoAnswer) << reply;
        EXPECT_FALSE(outcome.message) << reply;
    }
    LoopbackHttpServer closing("", ServerAnswer::CloseWithoutReply);
    const VersionCheckOutcome outcome = checkAgainst(closing);
    EXPECT_EQ(outcome.result, VersionCheckResult::NoAnswer);
    EXPECT_FALSE(outcome.message);
}

TEST(VersionCheck, OnlyTheFirstReceiveCountsAndItFitsTheBuffer) {
    LoopbackHttpServer server("HTTP/1.1 200 OK\r\n\r\n" + std::string(30000, 'x'));
    LinuxTcpClient client;
    VersionQuery query;
    query.host = "127.0.0.1";
    query.port = server.port();
    query.markerPath = "marker.chk";
    queryVersionMarker(query, client);
    EXPECT_GT(query.responseLength, 12u);
    EXPECT_LE(query.responseLength, VersionResponseCapacity);
    EXPECT_EQ(versionCheckOutcome(query).result, VersionCheckResult::LatestVersion);
}

std::uint16_t portWithoutServer() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(probe);
    return ntohs(address.sin_port);
}

const UserMessage ConnectionErrorMessage{
    "There was an error connecting to the server:\r\n\r\n1. Make sure you are connected to the "
    "internet.\r\n2. If you have a software based firewall make sure this program is permitted "
    "to access the internet.",
    "Error", MessageIcon::None};

TEST(VersionCheck, NoServerGivesOneConnectionErrorMessage) {
    LinuxTcpClient client;
    VersionQuery query;
    query.host = "127.0.0.1";
    query.port = portWithoutServer();
    query.markerPath = std::string(VersionMarkerName);
    queryVersionMarker(query, client);
    EXPECT_EQ(std::string(query.response.data()), "Error " + std::to_string(ECONNREFUSED));

    const VersionCheckOutcome outcome = versionCheckOutcome(query);
    EXPECT_EQ(outcome.result, VersionCheckResult::ConnectionError);
    ASSERT_TRUE(outcome.message);
    EXPECT_EQ(*outcome.message, ConnectionErrorMessage);
    EXPECT_FALSE(outcome.asksYesNo);
}

TEST(VersionCheck, UnknownHostAndSilentServerAreConnectionErrors) {
    LinuxTcpClient client(500ms);
    EXPECT_EQ(checkForNewerVersion(client, "no-such-host.invalid", 80).result,
              VersionCheckResult::ConnectionError);

    // A server that takes the request and never answers: the receive gives up.
    LoopbackHttpServer silent("", ServerAnswer::NeverReply);
    const VersionCheckOutcome outcome = checkForNewerVersion(client, "127.0.0.1", silent.port());
    EXPECT_EQ(outcome.result, VersionCheckResult::ConnectionError);
    EXPECT_EQ(outcome.message, ConnectionErrorMessage);
}

}  // namespace
}  // namespace qhs
