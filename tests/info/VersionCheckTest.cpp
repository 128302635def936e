#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "info/VersionCheck.h"
#include "platform/LinuxTcpClient.h"
#include "support/LoopbackHttpServer.h"

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

}  // namespace
}  // namespace qhs
