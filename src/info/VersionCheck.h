#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/Product.h"
#include "app/TcpClient.h"
#include "app/UserMessage.h"

namespace qhs {

// The maker's web server: it keeps one marker file per released version while that version
// is the newest, and serves the description page.
inline constexpr std::uint16_t MakerHttpPort = 80;
inline constexpr std::string_view DescriptionPagePath = "/SnifferIndex.html";
// "http://" + MakerHost + DescriptionPagePath.
std::string descriptionPageAddress();

// Where the check asks: the maker's server, unless a test points it at one of its own.
struct VersionServer {
    std::string host{MakerHost};
    std::uint16_t port = MakerHttpPort;
};

inline constexpr std::size_t VersionResponseCapacity = 10000;

// What the exchange asks and what it got back.
struct VersionQuery {
    std::string host;
    std::uint16_t port = MakerHttpPort;
    std::string markerPath;  // without the leading slash
    // The bytes of the server's first receive, or "Error %ld" with the failing call's code.
    std::array<char, VersionResponseCapacity> response{};
    std::size_t responseLength = 0;
};

// The request line and headers for the marker, ended by the empty line.
std::string versionRequest(std::string_view host, std::string_view markerPath);

// One HTTP/1.1 GET for the marker: connect, send the request, take one receive of at most
// VersionResponseCapacity bytes; the rest of the answer is never read.
void queryVersionMarker(VersionQuery& query, TcpClient& client);

enum class VersionCheckResult {
    NoAnswer,         // another status, or too short a reply: nothing is shown
    ConnectionError,  // the server could not be reached or the exchange failed
    LatestVersion,    // status 200: the marker of this version is still there
    NewerVersion,     // status 404: a newer version is out
};

struct VersionCheckOutcome {
    VersionCheckResult result = VersionCheckResult::NoAnswer;
    std::optional<UserMessage> message;  // the one box to show, if any
    // The message is a Yes/No question; Yes opens descriptionPageAddress().
    bool asksYesNo = false;
};

// The About dialog's "Check for newer version": asks the server for this version's marker
// and decides from the status code alone.
VersionCheckOutcome checkForNewerVersion(TcpClient& client, std::string_view host = MakerHost,
                                         std::uint16_t port = MakerHttpPort);

// The decision on a finished exchange.
VersionCheckOutcome versionCheckOutcome(const VersionQuery& query);

}  // namespace qhs
