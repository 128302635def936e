#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "info/HelpDialog.h"
#include "support/ScriptedDialogService.h"

namespace qhs {
namespace {

QString panelText(HelpDialog& help) {
    return controlById<QLabel>(help, 1023)->text();
}

std::vector<int> pressedTopics(HelpDialog& help) {
    std::vector<int> pressed;
    for (QPushButton* button : help.findChildren<QPushButton*>()) {
        if (button->isChecked()) {
            pressed.push_back(button->property("controlId").toInt());
        }
    }
    return pressed;
}

TEST(HelpWindow, OpensOnThePacketSnifferIntroductionWithItsButtonPressed) {
    HelpDialog help;
    EXPECT_EQ(pressedTopics(help), std::vector<int>{1024});
    EXPECT_TRUE(panelText(help).startsWith(
        "\n--->Introduction to Packet Sniffer Mode\n\n    Packet Sniffer Mode is used for the "
        "reception of all TCP/IP packets from a network interface (NIC/Modem)."));
    EXPECT_TRUE(panelText(help).contains(
        "\n\n    Here are some easy steps to get started:\n\n1. Choose \"Network Interface\""));
}

TEST(HelpWindow, EachTopicReplacesTheWholePanelAndIsTheOnlyOnePressed) {
    HelpDialog help;
    const std::pair<int, QString> topics[] = {
        {1031, "Known bugs and issues:"},
        {1032, "What will this program capture?"},
        {1025, "What is a sniffer?"},
        {1026, "What is a packet?"},
        {1027, "How do I print the list of data?"},
        {1028, "Introduction to File Sniffer Mode"},
        {1029, "What is HTTP?"},
        {1030, "What is the \"ACK time-out\" for?"},
        {1024, "Introduction to Packet Sniffer Mode"},
    };
    for (const auto& [id, heading] : topics) {
        controlById<QPushButton>(help, id)->click();
        const QString text = panelText(help);
        EXPECT_TRUE(text.startsWith("\n--->" + heading + "\n\n")) << id;
        EXPECT_EQ(text.count("--->"), 1) << id;
        EXPECT_EQ(pressedTopics(help), std::vector<int>{id});
    }

    controlById<QPushButton>(help, 1025)->click();
    controlById<QPushButton>(help, 1025)->click();
    EXPECT_EQ(panelText(help),
              "\n--->What is a sniffer?\n\n    A sniffer is a program used for the obtaining of "
              "network packets.");
    controlById<QPushButton>(help, 1027)->click();
    EXPECT_EQ(panelText(help),
              "\n--->How do I print the list of data?\n\n1. Save the list to a file by choosing "
              "File->Save.\n\n2. Open the file in a text editor (Notepad, Word, etc.).\n\n3. "
              "Choose File->Print.");
    controlById<QPushButton>(help, 1031)->click();
    EXPECT_TRUE(panelText(help).startsWith(
        "\n--->Known bugs and issues:\n\n  Below are the most common issues and bugs:\n\n1. "));
}

}  // namespace
}  // namespace qhs
