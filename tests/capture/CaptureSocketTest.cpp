#include <gtest/gtest.h>

#include <cerrno>

#include "capture/CaptureSocket.h"

namespace qhs {
namespace {

// A source whose opening fails as a test says, recording how it was opened.
class ScriptedSource : public CaptureSource {
  public:
    long creationError = 0;  // a lack of privilege, as errno
    OpenOutcome openResult;
    bool bufferSet = false;
    bool closed = false;

    OpenOutcome open(const CaptureOptions& options) override {
        if (creationError != 0) {
            return {OpenStatus::NoPermission, creationError};
        }
        bufferSet = options.bufferBytes > 0;
        return openResult;
    }
    ReceiveResult receive(const DatagramVisitor&) override { return {}; }
    void close() override { closed = true; }
};

const std::string Address = "10.9.8.7";

TEST(PacketCaptureStart, UsableInterfaceStartsTheThreadWithTheLargeBuffer) {
    ScriptedSource source;
    std::atomic<bool> capturing{false};
    const PacketCaptureStart start = openPacketCapture(source, Address, capturing);
    EXPECT_TRUE(start.startThread);
    EXPECT_TRUE(start.messages.empty());
    EXPECT_TRUE(capturing);
    EXPECT_TRUE(source.bufferSet);
    EXPECT_FALSE(source.closed);
}

TEST(PacketCaptureStart, NotAnInterfaceStopsWithTheListenTextAndClearsCapturing) {
    ScriptedSource source;
    source.openResult = {OpenStatus::NoSuchInterface, 0};
    std::atomic<bool> capturing{false};
    const PacketCaptureStart start = openPacketCapture(source, Address, capturing);
    EXPECT_FALSE(start.startThread);
    EXPECT_FALSE(capturing);
    EXPECT_TRUE(source.closed);
    ASSERT_EQ(start.messages.size(), 1u);
    EXPECT_EQ(start.messages[0].text,
              "Unable to listen on the interface: 10.9.8.7\r\nThe chosen interface must be a NIC "
              "or Modem.\r\nMake sure your NIC is enabled.\r\nNote: Windows 2000 (or higher) is "
              "required.\r\nYou must be logged on with an administrative account.");
    EXPECT_EQ(start.messages[0].caption, "QuillharbourSnifferV1.5");
    EXPECT_EQ(start.messages[0].icon, MessageIcon::None);
}

TEST(PacketCaptureStart, CreationFailureIsReportedAndTheSequenceGoesOn) {
    ScriptedSource source;
    source.creationError = EPERM;
    std::atomic<bool> capturing{false};
    const PacketCaptureStart start = openPacketCapture(source, Address, capturing);
    // The thread still runs: it ends at its first receive on the missing socket.
    EXPECT_TRUE(start.startThread);
    EXPECT_TRUE(capturing);
    ASSERT_EQ(start.messages.size(), 2u);
    EXPECT_EQ(start.messages[0].text, "Error code 1 while attempting to create socket.");
    EXPECT_EQ(start.messages[1].text, "Error: " + std::to_string(ENOTSOCK));
}

TEST(PacketCaptureStart, OtherOpenErrorIsShownAndTheCaptureStarts) {
    ScriptedSource source;
    source.openResult = {OpenStatus::OtherError, ENODEV};
    std::atomic<bool> capturing{false};
    const PacketCaptureStart start = openPacketCapture(source, Address, capturing);
    EXPECT_TRUE(start.startThread);
    ASSERT_EQ(start.messages.size(), 1u);
    EXPECT_EQ(start.messages[0].text, "Error: " + std::to_string(ENODEV));
}

TEST(FileCaptureStart, DoesNothingWhileCapturing) {
    ScriptedSource source;
    std::atomic<bool> capturing{true};
    const FileCaptureStart start = openFileCapture(source, Address, capturing);
    EXPECT_FALSE(start.startThread);
    EXPECT_TRUE(start.statusText.empty());
    EXPECT_TRUE(capturing);
}

TEST(FileCaptureStart, CreationFailureStopsAtOnce) {
    ScriptedSource source;
    source.creationError = EACCES;
    std::atomic<bool> capturing{false};
    const FileCaptureStart start = openFileCapture(source, Address, capturing);
    EXPECT_FALSE(start.startThread);
    EXPECT_FALSE(capturing);
    EXPECT_EQ(start.statusText, "Status: Error Starting");
    ASSERT_EQ(start.messages.size(), 1u);
    EXPECT_EQ(start.messages[0].text, "Error code 13 while attempting to create socket.");
}

TEST(FileCaptureStart, NotAnInterfaceGivesTheLongerListenText) {
    ScriptedSource source;
    source.openResult = {OpenStatus::NoSuchInterface, 0};
    std::atomic<bool> capturing{false};
    const FileCaptureStart start = openFileCapture(source, "", capturing);
    EXPECT_FALSE(start.startThread);
    EXPECT_FALSE(capturing);
    EXPECT_TRUE(source.closed);
    EXPECT_EQ(start.statusText, "Status: Error Starting");
    ASSERT_EQ(start.messages.size(), 1u);
    EXPECT_EQ(start.messages[0].text,
              "Unable to listen on the interface: \r\nThe chosen interface must be a NIC or "
              "Modem.\r\nMake sure your NIC is enabled.\r\nMake sure the chosen interface is "
              "still valid.\r\nNote: Windows 2000 (or higher) is required.\r\nYou must be "
              "logged on with an administrative account.");
}

TEST(FileCaptureStart, UsableInterfaceSaysStarting) {
    ScriptedSource source;
    std::atomic<bool> capturing{false};
    const FileCaptureStart start = openFileCapture(source, Address, capturing);
    EXPECT_TRUE(start.startThread);
    EXPECT_TRUE(source.bufferSet);
    EXPECT_EQ(start.statusText, "Status: Starting...");
}

TEST(InterfaceProbe, OutcomesFollowTheOpenResultAndTheSourceIsAlwaysClosed) {
    {
        ScriptedSource source;
        const ProbeResult probe = probeInterface(source, Address);
        EXPECT_EQ(probe.outcome, ProbeOutcome::Usable);
        EXPECT_TRUE(probe.messages.empty());
        EXPECT_TRUE(source.closed);
        EXPECT_FALSE(source.bufferSet);
    }
    {
        ScriptedSource source;
        source.openResult = {OpenStatus::NoSuchInterface, 0};
        const ProbeResult probe = probeInterface(source, "");
        EXPECT_EQ(probe.outcome, ProbeOutcome::ChooseInterface);
        EXPECT_TRUE(probe.messages.empty());
        EXPECT_TRUE(source.closed);
    }
    {
        ScriptedSource source;
        source.openResult = {OpenStatus::OtherError, ENOBUFS};
        const ProbeResult probe = probeInterface(source, Address);
        EXPECT_EQ(probe.outcome, ProbeOutcome::EndProcess);
        ASSERT_EQ(probe.messages.size(), 1u);
        EXPECT_EQ(probe.messages[0].text, "Startup error: " + std::to_string(ENOBUFS));
        EXPECT_TRUE(source.closed);
    }
}

TEST(InterfaceProbe, MissingPrivilegeGivesTheStartupErrorWithTheStopIcon) {
    ScriptedSource source;
    source.creationError = EPERM;
    const ProbeResult probe = probeInterface(source, Address);
    EXPECT_EQ(probe.outcome, ProbeOutcome::EndProcess);
    ASSERT_EQ(probe.messages.size(), 2u);
    EXPECT_EQ(probe.messages[0].text, "Error code 1 while attempting to create socket.");
    EXPECT_EQ(probe.messages[0].icon, MessageIcon::None);
    EXPECT_EQ(probe.messages[1].icon, MessageIcon::Stop);
    EXPECT_EQ(probe.messages[1].text,
              "Startup error.\r\n\r\nMake sure raw sockets are enabled on your system (this is so "
              "by default).\r\nNote: Administrative access to this computer may be required, "
              "make sure you are logged on with an administrative account.");
}

}  // namespace
}  // namespace qhs
