#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qhs {

// What follows each record's heading when sniffing from the command line.
enum class SniffData { Heading, Text, Dec, Hex };

// The options of a sniffing run from the command line.
struct SniffOptions {
    // -i: an interface's name or index, "any", or an IPv4 address an interface owns; empty:
    // the settings' interface address.
    std::string interfaceAddress;
    std::string captureFile;        // read this pcap or pcapng file instead of the network
    std::uint64_t packetLimit = 0;  // stop after this many packets; 0: no limit
    std::uint32_t seconds = 0;      // stop after this many seconds; 0: no limit
    bool applyFilters = false;      // the packet filters of the settings file
    SniffData data = SniffData::Heading;
    std::string recordFile;      // the records go here, as a saved list; empty: standard output
    bool quiet = false;          // no records on standard output
    bool json = false;           // records as JSON Lines
    std::string pcapFile;        // the packets also go to this pcap file
    std::string filesDirectory;  // File Sniffer Mode: the files rebuilt go here
    std::string settingsFile;    // empty: the settings file beside the executable
    // With -files: the NSS key log whose secrets decrypt HTTPS downloads; empty: the one
    // SSLKEYLOGFILE names, if any.
    std::string tlsKeyLogFile;
    // A capture filter expression (pcap-filter syntax), given with -f or after the options.
    std::string filterExpression;
    bool help = false;
    bool version = false;
    bool listInterfaces = false;
};

// Whether the command line asks for sniffing: its first argument is "sniff", bare or with "/"
// or "-", in any letter case.
bool isSniffCommand(const std::vector<std::string>& arguments);

struct SniffParse {
    std::optional<SniffOptions> options;
    std::string error;  // when there are none: what is wrong, one line
};

// Reads the options that follow the sniff option (the arguments after it).
SniffParse parseSniffOptions(const std::vector<std::string>& arguments);

extern const char* const SniffHelpText;

// What --version prints.
std::string sniffVersionText();

}  // namespace qhs
