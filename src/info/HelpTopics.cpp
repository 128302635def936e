#include "info/HelpTopics.h"

namespace qhs {

namespace {

// Prose paragraphs begin with four blanks, numbered steps with their number.
constexpr std::string_view PacketModeIntro[] = {
    "    Packet Sniffer Mode is used for the reception of all TCP/IP packets from a network "
    "interface (NIC/Modem). Every packet that arrives is listed with its type, size, addresses, "
    "ports and time.",
    "    Here are some easy steps to get started:",
    "1. Choose \"Network Interface\" from the \"Settings\" menu and pick the interface that you "
    "wish to listen on.",
    "2. Press the \"Start\" button.",
    "3. Wait for packets to arrive. While the program is minimized, a PC-speaker sound (if it "
    "is turned on and available) and the blinking of the program's taskbar text tell you that "
    "new packets have arrived.",
    "4. Packets that have arrived appear in the list. Click on a packet to view its contents.",
};

constexpr std::string_view KnownIssues[] = {
    "  Below are the most common issues and bugs:",
    "1. With many dial-up modems and some other hardware or driver set-ups, only one direction "
    "of the traffic is captured (only incoming or only outgoing packets). There is no known "
    "remedy for this.",
    "2. Pressing \"Start\" may report \"Unable to listen on the interface\" on older versions "
    "of Windows than this program was designed for, or when there is a hardware/driver "
    "conflict.",
    "3. \"File Sniffer Mode\" crashes frequently on some systems. This may be fixed in version "
    "1.5.",
};

constexpr std::string_view WhatIsCaptured[] = {
    "    This program captures only packets on the IP level and above; lower level frames such "
    "as those of ARP are not seen.",
    "    Normally it captures all packets that have the local machine as their source or "
    "destination. When this machine shares its connection with others, or carries a VPN, the "
    "packets of the other machines that pass through it are captured as well.",
    "    Notice: This program does not put the network card/device into promiscuous mode. "
    "Packets on the network that are neither from nor to this machine are therefore not "
    "captured, even when the network card can see them.",
    "    See also the article \"Known bugs and issues\".",
};

constexpr std::string_view WhatIsSniffer[] = {
    "    A sniffer is a program used for the obtaining of network packets.",
};

constexpr std::string_view WhatIsPacket[] = {
    "    A packet is one unit of data sent over a network. Every packet consists of a header, "
    "which tells where the packet comes from, where it goes and what kind it is, and a data "
    "part, which holds what is carried.",
    "    For example, when you ping a machine, your computer sends it small ICMP packets and it "
    "answers each with a packet of its own.",
    "    Common packet types are TCP, UDP, ICMP and ARP. TCP packets carry most of the traffic "
    "of the internet, such as HTTP (web pages), FTP (file transfers) and POP (e-mail).",
};

constexpr std::string_view HowToPrint[] = {
    "1. Save the list to a file by choosing File->Save.",
    "2. Open the file in a text editor (Notepad, Word, etc.).",
    "3. Choose File->Print.",
};

constexpr std::string_view FileModeIntro[] = {
    "    File Sniffer Mode is used for the capturing and storage of HTTP based files from a "
    "network interface (NIC/Modem). The packets of each download are put back together and "
    "written as a file.",
    "    Here are some easy steps to get started:",
    "1. Choose \"Network Interface\" from the \"Settings\" menu and pick the interface that you "
    "wish to listen on.",
    "2. Enter the directory in which the constructed files are to be stored in the field "
    "\"Directory to store constructed files\".",
    "3. Press the \"Start\" button.",
    "4. The \"Files processing\" count under \"Current status\" shows the number of file "
    "streams that are being followed.",
    "5. The \"Files written\" count under \"Current status\" counts the files written since "
    "\"Start\" was pressed. You can open them from the chosen directory, or directly with a "
    "browser.",
};

constexpr std::string_view WhatIsHttp[] = {
    "    HTTP (HyperText Transfer Protocol) is the protocol over which the images and documents "
    "on web-pages are transferred.",
};

constexpr std::string_view AckTimeout[] = {
    "    The \"ACK time-out\" determines how long to wait after receiving a packet of a file "
    "stream before that stream is taken to be a complete file.",
    "    If the number is too small, files may be written before all of their packets have "
    "arrived, and so be incomplete.",
    "    If the number is too large on a busy network, the maximum of 1000 streams may be "
    "reached so that files are missed, and the writing of files is delayed.",
};

constexpr HelpTopic Topics[] = {
    {1024, "Introduction to Packet Sniffer Mode", PacketModeIntro},
    {1031, "Known bugs and issues:", KnownIssues},
    {1032, "What will this program capture?", WhatIsCaptured},
    {1025, "What is a sniffer?", WhatIsSniffer},
    {1026, "What is a packet?", WhatIsPacket},
    {1027, "How do I print the list of data?", HowToPrint},
    {1028, "Introduction to File Sniffer Mode", FileModeIntro},
    {1029, "What is HTTP?", WhatIsHttp},
    {1030, "What is the \"ACK time-out\" for?", AckTimeout},
};

}  // namespace

std::span<const HelpTopic> helpTopics() {
    return Topics;
}

std::string helpAnswer(const HelpTopic& topic) {
    std::string answer("\r\n--->");
    answer.append(topic.heading);
    for (const std::string_view paragraph : topic.paragraphs) {
        answer.append("\r\n\r\n").append(paragraph);
    }
    return answer;
}

}  // namespace qhs
