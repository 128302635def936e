#include "sniff/SniffCommand.h"

#include <charconv>
#include <string_view>

namespace qhs {

const char* const SniffHelpText =
    "Sniffing from the command line, without a window:\n"
    "  -sniff [options]\n"
    "\n"
    "Packet Sniffer Mode (the default): one record per packet, as in a saved list.\n"
    "  -i ADDRESS      capture on the interface that owns this IPv4 address\n"
    "                  (default: the interface of the settings file)\n"
    "  -r FILE         read a pcap or pcapng file instead of the network\n"
    "  -c COUNT        stop after COUNT packets\n"
    "  -seconds S      stop after S seconds (Ctrl-C stops at any time)\n"
    "  -filters        apply the packet filters of the settings file\n"
    "  -data MODE      what follows each heading: heading (default), text, dec or hex\n"
    "  -x, -A          the same as -data hex and -data text\n"
    "  -out FILE       write the records to FILE as a saved list, not to the terminal\n"
    "  -q              write no records to the terminal\n"
    "  -w FILE         also write the packets to FILE as a pcap file, as they arrive\n"
    "                  (- : standard output, and the records then go nowhere unless -out\n"
    "                  names a file)\n"
    "  -json           records as JSON Lines, one object per packet (with -x, its bytes\n"
    "                  in hex), or per file written with -files\n"
    "\n"
    "File Sniffer Mode: rebuild the files of HTTP downloads.\n"
    "  -files DIR      write the files to DIR, one line per file on the terminal; takes\n"
    "                  -i, -r, -seconds and the File Sniffer filters, time-out and\n"
    "                  templates of the settings file\n"
    "\n"
    "  -settings FILE  read the settings from FILE\n"
    "  -help           show this text\n"
    "\n"
    "At the end a summary goes to standard error. Exit code 0 on success, 1 when the run\n"
    "failed, 2 for a wrong option.\n";

namespace {

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

template <typename Number>
bool readNumber(std::string_view text, Number& value) {
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end && value > 0;
}

}  // namespace

bool isSniffCommand(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return false;
    }
    const std::string first = lowerCase(arguments.front());
    return first == "sniff" || first == "-sniff" || first == "/sniff";
}

SniffParse parseSniffOptions(const std::vector<std::string>& arguments) {
    SniffOptions options;
    bool packetOptions = false;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& option = arguments[index];
        const auto value = [&](std::string& into) {
            if (index + 1 >= arguments.size() || arguments[index + 1].empty()) {
                return false;
            }
            into = arguments[++index];
            return true;
        };
        const auto missing = [&option] {
            return SniffParse{std::nullopt, "option " + option + " needs a value"};
        };
        std::string text;
        if (option == "-help" || option == "-?" || option == "--help") {
            options.help = true;
        } else if (option == "-i") {
            if (!value(options.interfaceAddress)) {
                return missing();
            }
        } else if (option == "-r") {
            if (!value(options.captureFile)) {
                return missing();
            }
        } else if (option == "-c") {
            if (!value(text)) {
                return missing();
            }
            if (!readNumber(text, options.packetLimit)) {
                return {std::nullopt, "-c needs a count of 1 or more, not \"" + text + "\""};
            }
            packetOptions = true;
        } else if (option == "-seconds") {
            if (!value(text)) {
                return missing();
            }
            if (!readNumber(text, options.seconds)) {
                return {std::nullopt, "-seconds needs a number of 1 or more, not \"" + text + "\""};
            }
        } else if (option == "-filters") {
            options.applyFilters = true;
            packetOptions = true;
        } else if (option == "-data") {
            if (!value(text)) {
                return missing();
            }
            const std::string mode = lowerCase(text);
            if (mode == "heading") {
                options.data = SniffData::Heading;
            } else if (mode == "text") {
                options.data = SniffData::Text;
            } else if (mode == "dec") {
                options.data = SniffData::Dec;
            } else if (mode == "hex") {
                options.data = SniffData::Hex;
            } else {
                return {std::nullopt,
                        "-data takes heading, text, dec or hex, not \"" + text + "\""};
            }
            packetOptions = true;
        } else if (option == "-x" || option == "-A") {
            options.data = option == "-x" ? SniffData::Hex : SniffData::Text;
            packetOptions = true;
        } else if (option == "-out") {
            if (!value(options.recordFile)) {
                return missing();
            }
            packetOptions = true;
        } else if (option == "-q") {
            options.quiet = true;
        } else if (option == "-json" || option == "--json") {
            options.json = true;
        } else if (option == "-w") {
            if (!value(options.pcapFile)) {
                return missing();
            }
            packetOptions = true;
        } else if (option == "-files") {
            if (!value(options.filesDirectory)) {
                return missing();
            }
        } else if (option == "-settings") {
            if (!value(options.settingsFile)) {
                return missing();
            }
        } else {
            return {std::nullopt, "unknown option \"" + option + "\" (see -sniff -help)"};
        }
    }
    if (!options.filesDirectory.empty() && packetOptions) {
        return {std::nullopt,
                "-files rebuilds files and takes no packet options (-c, -filters, -data, -x, "
                "-A, -out, -w)"};
    }
    return {options, {}};
}

}  // namespace qhs
