#include "sniff/SniffCommand.h"

#include <charconv>
#include <string_view>
#include <utility>

#include "app/Product.h"

namespace qhs {

const char* const SniffHelpText =
    "Sniffing from the command line, without a window:\n"
    "  -sniff [options] [expression]\n"
    "\n"
    "Packet Sniffer Mode (the default): one record per packet, as in a saved list.\n"
    "  -i IF, --interface=IF  capture on IF: an interface's name (lo, eth0) or index (see\n"
    "                  -D), any (every interface), or an IPv4 address an interface owns\n"
    "                  (default: the interface of the settings file)\n"
    "  -r FILE, --read=FILE  read a pcap or pcapng file instead of the network\n"
    "                  (- : standard input)\n"
    "  expression, -f EXPR, --filter=EXPR  take only the packets the capture filter\n"
    "                  expression takes (pcap-filter(7), as tcpdump's); the expression is\n"
    "                  every argument after the last option (or after --)\n"
    "  -c COUNT, --count=COUNT  stop after COUNT packets\n"
    "  -seconds S      stop after S seconds (Ctrl-C stops at any time)\n"
    "  -filters        apply the packet filters of the settings file (after the expression)\n"
    "  -data MODE      what follows each heading: heading (default), text, dec or hex\n"
    "  -x, -A          the same as -data hex and -data text\n"
    "  -out FILE       write the records to FILE as a saved list, not to the terminal\n"
    "  -q, --quiet     write no records to the terminal (with -files: no line per file)\n"
    "  -w FILE, --write=FILE  also write the packets to FILE as a pcap file, as they\n"
    "                  arrive (- : standard output, and the records then go nowhere\n"
    "                  unless -out names a file; FILE.pcapng: as pcapng, which also\n"
    "                  holds times after 2106)\n"
    "  -json, --json   records as JSON Lines: one object per packet (with -x, its bytes\n"
    "                  in hex), or with -files one per file written\n"
    "\n"
    "File Sniffer Mode: rebuild the files of HTTP downloads.\n"
    "  -files DIR      write the files to DIR, one line per file on the terminal; takes\n"
    "                  -i, -r, the expression, -seconds, -json, -q, -keylog and the File\n"
    "                  Sniffer filters, time-out and templates of the settings file\n"
    "  -keylog FILE    with -files: decrypt HTTPS downloads with the TLS secrets of FILE,\n"
    "                  an NSS key log as curl and browsers write it (default: the file\n"
    "                  SSLKEYLOGFILE names)\n"
    "\n"
    "  -settings FILE  read the settings from FILE\n"
    "  -D, --list-interfaces  list the interfaces: index, name, up or down, IP addresses\n"
    "  -h, -help       show this text\n"
    "  --version       show the version\n"
    "Every option also has a long form with two dashes (--seconds, --out, --files, ...);\n"
    "the value of a long form follows it or comes after \"=\" (--count 10, --count=10).\n"
    "\n"
    "Nothing is kept: each packet is written as it passes. Ctrl-C, SIGTERM and SIGHUP end\n"
    "a run cleanly, as does a reader of standard output that leaves.\n"
    "At the end a summary goes to standard error. Exit code 0 on success, 1 when the run\n"
    "failed, 2 for a wrong option or filter expression, or an output that is the file read.\n";

std::string sniffVersionText() {
    return std::string(ProductName) + " " + std::string(ProductVersion) + "\n";
}

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

namespace {

// The long forms with two dashes, and the option each stands for.
constexpr std::pair<std::string_view, std::string_view> LongForms[] = {
    {"--interface", "-i"},       {"--read", "-r"},        {"--count", "-c"},
    {"--write", "-w"},           {"--filter", "-f"},      {"--quiet", "-q"},
    {"--seconds", "-seconds"},   {"--out", "-out"},       {"--settings", "-settings"},
    {"--files", "-files"},       {"--data", "-data"},     {"--filters", "-filters"},
    {"--list-interfaces", "-D"}, {"--help", "-help"},     {"--version", "--version"},
    {"--json", "-json"},         {"--keylog", "-keylog"},
};

// The options that take no value.
bool isFlag(std::string_view option) {
    return option == "-help" || option == "-h" || option == "-?" || option == "--version" ||
           option == "-D" || option == "-q" || option == "-filters" || option == "-x" ||
           option == "-A" || option == "-json";
}

}  // namespace

SniffParse parseSniffOptions(const std::vector<std::string>& arguments) {
    SniffOptions options;
    bool packetOptions = false;
    std::string trailingExpression;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        // As tcpdump's, the filter expression is every argument after the last option (or
        // after "--").
        const bool endOfOptions = arguments[index] == "--";
        if (endOfOptions || arguments[index].size() < 2 || arguments[index][0] != '-') {
            const std::size_t first = endOfOptions ? index + 1 : index;
            for (std::size_t word = first; word < arguments.size(); ++word) {
                trailingExpression += (word > first ? " " : "") + arguments[word];
            }
            break;
        }
        // The option as typed, and what it stands for.
        std::string option = arguments[index];
        std::optional<std::string> inlineValue;
        std::string_view canonical = option;
        if (option.rfind("--", 0) == 0) {
            if (const auto equals = option.find('='); equals != std::string::npos) {
                inlineValue = option.substr(equals + 1);
                option.resize(equals);
            }
            canonical = option;
            for (const auto& [longForm, shortForm] : LongForms) {
                if (option == longForm) {
                    canonical = shortForm;
                }
            }
        }
        if (inlineValue && isFlag(canonical)) {
            return {std::nullopt, "option " + option + " takes no value"};
        }
        const auto value = [&](std::string& into) {
            if (inlineValue) {
                into = *inlineValue;
                return !into.empty();
            }
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
        if (canonical == "-help" || canonical == "-h" || canonical == "-?") {
            options.help = true;
        } else if (canonical == "--version") {
            options.version = true;
        } else if (canonical == "-D") {
            options.listInterfaces = true;
        } else if (canonical == "-i") {
            if (!value(options.interfaceAddress)) {
                return missing();
            }
        } else if (canonical == "-r") {
            if (!value(options.captureFile)) {
                return missing();
            }
        } else if (canonical == "-f") {
            if (!value(options.filterExpression)) {
                return missing();
            }
        } else if (canonical == "-c") {
            if (!value(text)) {
                return missing();
            }
            if (!readNumber(text, options.packetLimit)) {
                return {std::nullopt, "-c needs a count of 1 or more, not \"" + text + "\""};
            }
            packetOptions = true;
        } else if (canonical == "-seconds") {
            if (!value(text)) {
                return missing();
            }
            if (!readNumber(text, options.seconds)) {
                return {std::nullopt, "-seconds needs a number of 1 or more, not \"" + text + "\""};
            }
        } else if (canonical == "-filters") {
            options.applyFilters = true;
            packetOptions = true;
        } else if (canonical == "-data") {
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
        } else if (canonical == "-x" || canonical == "-A") {
            options.data = canonical == "-x" ? SniffData::Hex : SniffData::Text;
            packetOptions = true;
        } else if (canonical == "-out") {
            if (!value(options.recordFile)) {
                return missing();
            }
            packetOptions = true;
        } else if (canonical == "-q") {
            options.quiet = true;
        } else if (canonical == "-json") {
            options.json = true;
        } else if (canonical == "-w") {
            if (!value(options.pcapFile)) {
                return missing();
            }
            packetOptions = true;
        } else if (canonical == "-files") {
            if (!value(options.filesDirectory)) {
                return missing();
            }
        } else if (canonical == "-keylog") {
            if (!value(options.tlsKeyLogFile)) {
                return missing();
            }
        } else if (canonical == "-settings") {
            if (!value(options.settingsFile)) {
                return missing();
            }
        } else {
            return {std::nullopt, "unknown option \"" + option + "\" (see -sniff -help)"};
        }
    }
    if (!trailingExpression.empty()) {
        if (!options.filterExpression.empty()) {
            return {std::nullopt,
                    "give the filter expression once: with -f or after the options, not both"};
        }
        options.filterExpression = trailingExpression;
    }
    if (!options.filesDirectory.empty() && packetOptions) {
        return {std::nullopt,
                "-files rebuilds files and takes no packet options (-c, -filters, -data, -x, "
                "-A, -out, -w)"};
    }
    if (!options.tlsKeyLogFile.empty() && options.filesDirectory.empty()) {
        return {std::nullopt, "-keylog decrypts the downloads of -files and needs it"};
    }
    if (!options.captureFile.empty() && !options.interfaceAddress.empty()) {
        return {std::nullopt, "-r reads a capture file and takes no interface (-i)"};
    }
    return {options, {}};
}

}  // namespace qhs
