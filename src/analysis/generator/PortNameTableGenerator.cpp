// Build-time generator of the TCP and UDP port name tables.
//
//   qhs_port_name_generator <registry> <overrides> <output.cpp>
//
// Reads the port-number registry text (data/port-numbers-2003.txt), applies the overrides
// of data/port-name-overrides.txt on top, and writes a C++ source file that defines the two
// constant `PortNameTable` objects of src/analysis/PortNameTable.h. Runs on the build host;
// the program never parses either text at run time.
//
// Registry rules:
// - An assignment line is `keyword port/proto description`, or `port/proto description`
//   when the line starts with blanks (keyword-less lines such as "0/tcp Reserved"). The
//   protocol is "tcp" or "udp"; other protocols (sctp) and every other line are ignored.
// - Lines that start with '#' are contacts or commented-out ports; they name nothing. (The
//   "Unassigned" ports of the well-known range come from the overrides.)
// - The description is the rest of the line after the port/proto field, with blanks and tabs
//   at either end removed and the inside kept as the registry wrote it. A line without a
//   description names nothing ("comsat 512/udp" leaves 512/udp to the "biff" line after it).
// - A range `first-last/proto` names every port from first to last.
// - When several lines name one port, the first line wins: a port has one name.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t PortCount = 65536;
constexpr std::size_t MaxNameLength = 255;

enum Protocol { Tcp = 0, Udp = 1 };
constexpr const char* ProtocolNames[] = {"TCP", "UDP"};

struct PortRange {
    std::uint16_t first = 0;
    std::uint16_t last = 0;
    Protocol protocol = Tcp;
};

// One table: an optional name per port.
using Table = std::vector<std::optional<std::string>>;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Splits off the first blank-delimited token of `text` (after leading blanks).
std::string_view nextToken(std::string_view& text) {
    std::size_t start = 0;
    while (start < text.size() && isBlank(text[start])) {
        ++start;
    }
    std::size_t end = start;
    while (end < text.size() && !isBlank(text[end])) {
        ++end;
    }
    const std::string_view token = text.substr(start, end - start);
    text.remove_prefix(end);
    return token;
}

std::optional<std::uint16_t> parsePort(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value >= PortCount) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

// "80/tcp", "6000-6063/udp".
std::optional<PortRange> parsePortRange(std::string_view field) {
    const std::size_t slash = field.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    PortRange range;
    const std::string_view protocol = field.substr(slash + 1);
    if (protocol == "tcp") {
        range.protocol = Tcp;
    } else if (protocol == "udp") {
        range.protocol = Udp;
    } else {
        return std::nullopt;
    }
    const std::string_view ports = field.substr(0, slash);
    const std::size_t dash = ports.find('-');
    const auto first = parsePort(ports.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : parsePort(ports.substr(dash + 1));
    if (!first || !last || *last < *first) {
        return std::nullopt;
    }
    range.first = *first;
    range.last = *last;
    return range;
}

bool readLines(const char* path, std::vector<std::string>& lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open\n", path);
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return true;
}

// Empty text, or a reason why `name` cannot be a table name.
std::string nameProblem(std::string_view name) {
    if (name.empty()) {
        return "empty name";
    }
    if (name.size() > MaxNameLength) {
        return "name longer than 255 bytes";
    }
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return "control character in name";
        }
    }
    return {};
}

void readRegistry(const std::vector<std::string>& lines, Table (&tables)[2],
                  std::size_t& assignmentLines) {
    for (const std::string& line : lines) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::string_view rest = line;
        if (!isBlank(line[0])) {
            nextToken(rest);  // the keyword
        }
        const auto range = parsePortRange(nextToken(rest));
        if (!range) {
            continue;
        }
        const std::string_view description = trim(rest);
        if (description.empty() || !nameProblem(description).empty()) {
            continue;
        }
        ++assignmentLines;
        Table& table = tables[range->protocol];
        for (unsigned port = range->first; port <= range->last; ++port) {
            if (!table[port]) {
                table[port] = std::string(description);
            }
        }
    }
}

bool applyOverrides(const char* path, const std::vector<std::string>& lines, Table (&tables)[2],
                    std::size_t& overrideLines) {
    bool ok = true;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = trim(lines[i]);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        auto fail = [&](const std::string& message) {
            std::fprintf(stderr, "%s:%zu: %s\n", path, i + 1, message.c_str());
            ok = false;
        };
        std::string_view rest = line;
        const std::string_view field = nextToken(rest);
        const auto range = parsePortRange(field);
        if (!range) {
            fail("expected <port>[-<last>]/<tcp|udp>, found \"" + std::string(field) + "\"");
            continue;
        }
        const std::string_view operation = nextToken(rest);
        const std::string_view name = trim(rest);
        if (operation != "=" && operation != "+" && operation != "-") {
            fail("expected the operation =, + or -");
            continue;
        }
        if (operation == "-" && !name.empty()) {
            fail("the operation - takes no name");
            continue;
        }
        if (operation != "-") {
            const std::string problem = nameProblem(name);
            if (!problem.empty()) {
                fail(problem);
                continue;
            }
        }
        ++overrideLines;
        Table& table = tables[range->protocol];
        for (unsigned port = range->first; port <= range->last; ++port) {
            std::optional<std::string>& entry = table[port];
            if (operation == "-") {
                entry.reset();
            } else if (operation == "+" && entry) {
                *entry += " / ";
                *entry += name;
            } else {
                entry = std::string(name);
            }
            if (entry && entry->size() > MaxNameLength) {
                fail("joined name longer than 255 bytes");
            }
        }
    }
    return ok;
}

// A C++ string literal of `text`: printable ASCII stays, everything else (the upper half
// of Windows-1252) becomes a three-digit octal escape, which never runs into what follows.
std::string literal(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03o", byte);
            out += escape;
        }
    }
    out += '"';
    return out;
}

std::string baseName(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string generate(const Table (&tables)[2], const char* registryPath,
                     const char* overridesPath) {
    // One shared pool of distinct names, number 0 being the empty text.
    std::vector<std::string> names{""};
    std::map<std::string, std::uint16_t> numbers;
    std::vector<std::uint16_t> nameNumbers[2];
    std::size_t namedCount[2] = {0, 0};
    unsigned highest[2] = {0, 0};
    for (int protocol : {Tcp, Udp}) {
        nameNumbers[protocol].assign(PortCount, 0);
        for (unsigned port = 0; port < PortCount; ++port) {
            const auto& entry = tables[protocol][port];
            if (!entry) {
                continue;
            }
            auto [it, inserted] = numbers.emplace(*entry, static_cast<std::uint16_t>(names.size()));
            if (inserted) {
                names.push_back(*entry);
            }
            nameNumbers[protocol][port] = it->second;
            ++namedCount[protocol];
            highest[protocol] = port;
        }
    }

    std::ostringstream out;
    out << "// Generated at build time by qhs_port_name_generator from " << baseName(registryPath)
        << "\n// and " << baseName(overridesPath)
        << ". Do not edit: change the overrides or the generator.\n"
        << "//\n";
    for (int protocol : {Tcp, Udp}) {
        out << "// " << ProtocolNames[protocol] << ": " << namedCount[protocol]
            << " named ports, the highest " << highest[protocol] << ".\n";
    }
    out << "// " << names.size() - 1 << " distinct names.\n\n"
        << "#include <array>\n#include <cstddef>\n#include <cstdint>\n#include <string_view>\n\n"
        << "#include \"analysis/PortNameTable.h\"\n\n"
        << "namespace qhs {\n\nnamespace {\n\n"
        << "constexpr std::string_view Names[] = {\n";
    for (std::size_t i = 0; i < names.size(); ++i) {
        out << "    " << literal(names[i]) << ",  // " << i << "\n";
    }
    out << "};\n\n"
        << "struct Assignment {\n    std::uint16_t port;\n    std::uint16_t name;\n};\n\n"
        << "template <std::size_t N>\n"
        << "constexpr std::array<std::uint16_t, PortNameTable::EntryCount> expand(\n"
        << "    const Assignment (&assignments)[N]) {\n"
        << "    std::array<std::uint16_t, PortNameTable::EntryCount> numbers{};\n"
        << "    for (const Assignment& assignment : assignments) {\n"
        << "        numbers[assignment.port] = assignment.name;\n"
        << "    }\n"
        << "    return numbers;\n"
        << "}\n";
    for (int protocol : {Tcp, Udp}) {
        const std::string prefix = protocol == Tcp ? "Tcp" : "Udp";
        out << "\nconstexpr Assignment " << prefix << "Assignments[] = {\n";
        int column = 0;
        for (unsigned port = 0; port < PortCount; ++port) {
            const std::uint16_t number = nameNumbers[protocol][port];
            if (number == 0) {
                continue;
            }
            out << (column == 0 ? "    " : " ") << '{' << port << ", " << number << "},";
            if (++column == 6) {
                out << '\n';
                column = 0;
            }
        }
        if (column != 0) {
            out << '\n';
        }
        out << "};\n\n"
            << "constexpr std::array<std::uint16_t, PortNameTable::EntryCount> " << prefix
            << "NameNumbers = expand(" << prefix << "Assignments);\n";
    }
    out << "\n}  // namespace\n\n";
    for (int protocol : {Tcp, Udp}) {
        const std::string prefix = protocol == Tcp ? "Tcp" : "Udp";
        out << "constinit const PortNameTable " << prefix << "PortNameTable{" << prefix
            << "NameNumbers.data(), Names, " << namedCount[protocol] << ", " << highest[protocol]
            << "};\n";
    }
    out << "\n}  // namespace qhs\n";
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <registry> <overrides> <output.cpp>\n", argv[0]);
        return 2;
    }
    const char* registryPath = argv[1];
    const char* overridesPath = argv[2];
    const char* outputPath = argv[3];

    std::vector<std::string> registryLines;
    std::vector<std::string> overrideLines;
    if (!readLines(registryPath, registryLines) || !readLines(overridesPath, overrideLines)) {
        return 1;
    }

    Table tables[2] = {Table(PortCount), Table(PortCount)};
    std::size_t assignmentCount = 0;
    std::size_t overrideCount = 0;
    readRegistry(registryLines, tables, assignmentCount);
    if (assignmentCount == 0) {
        std::fprintf(stderr, "%s: no port assignments found\n", registryPath);
        return 1;
    }
    if (!applyOverrides(overridesPath, overrideLines, tables, overrideCount)) {
        return 1;
    }

    const std::string source = generate(tables, registryPath, overridesPath);
    std::ofstream out(outputPath, std::ios::binary | std::ios::trunc);
    out << source;
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write\n", outputPath);
        std::remove(outputPath);
        return 1;
    }
    return 0;
}
