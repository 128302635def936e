#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "info/VersionCheck.h"
#include "platform/LinuxTcpClient.h"
#include "support/LoopbackHttpServer.h"
#include "support/ThreadWaits.h"

namespace qhs {
namespace {

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

std::atomic<int> signalsHandled{0};

void countSignal(int) {
    signalsHandled.fetch_add(1);
}

bool waitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 5000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

TEST(VersionCheck, ASignalDuringTheConnectWaitDoesNotEndTheCheck) {
    // A handler without SA_RESTART, as another part of a process may install one.
    struct sigaction counting {};
    counting.sa_handler = countSignal;
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &counting, &previous), 0);

    // A listener with a full accept queue drops further SYNs, so a connect waits.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), size), 0);

    std::atomic<pid_t> checkingThread{0};
    std::atomic<bool> checkEnded{false};
    VersionCheckOutcome outcome;
    std::thread check([&] {
        checkingThread = static_cast<pid_t>(::syscall(SYS_gettid));
        LinuxTcpClient client(std::chrono::seconds(10));
        outcome = checkForNewerVersion(client, "127.0.0.1", ntohs(address.sin_port));
        checkEnded = true;
    });
    ASSERT_TRUE(waitUntil([&] {
        return checkingThread != 0 && blockedInSystemCall(checkingThread, {SYS_poll, SYS_ppoll});
    }));
    ::pthread_kill(check.native_handle(), SIGUSR1);
    EXPECT_TRUE(waitUntil([] { return signalsHandled.load() > 0; }));

    // Room in the queue: the next SYN is answered, and the check gets its reply.
    ::close(::accept(listener, nullptr, nullptr));
    pollfd incoming{listener, POLLIN, 0};
    if (waitUntil([&] { return checkEnded || ::poll(&incoming, 1, 0) == 1; }) && !checkEnded) {
        const int connection = ::accept(listener, nullptr, nullptr);
        std::string request;
        char buffer[1024];
        ssize_t count = 1;
        while (request.find("\r\n\r\n") == std::string::npos && count > 0) {
            count = ::recv(connection, buffer, sizeof buffer, 0);
            request.append(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
        }
        const std::string reply = "HTTP/1.1 200 OK\r\n\r\n";
        ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
        ::close(connection);
    }
    check.join();
    EXPECT_EQ(outcome.result, VersionCheckResult::LatestVersion);
    ::close(filler);
    ::close(listener);
    ::sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
}  // namespace qhs
