#include "info/VersionCheck.h"

#include <algorithm>
#include <span>

#include "app/Product.h"

namespace qhs {

namespace {

constexpr std::string_view ConnectionErrorText =
    "There was an error connecting to the server:\r\n\r\n1. Make sure you are connected to "
    "the internet.\r\n2. If you have a software based firewall make sure this program is "
    "permitted to access the internet.";

// The three digits of the status code in a status line such as "HTTP/1.1 200 OK".
constexpr std::size_t StatusCodeOffset = 9;
constexpr std::size_t StatusCodeLength = 3;

void setErrorText(VersionQuery& query, long errorCode) {
    const std::string text = "Error " + std::to_string(errorCode);
    const std::size_t length = std::min(text.size(), query.response.size() - 1);
    std::copy_n(text.data(), length, query.response.data());
    query.response[length] = '\0';
    query.responseLength = length;
}

}  // namespace

std::string descriptionPageAddress() {
    std::string address("http://");
    address.append(MakerHost).append(DescriptionPagePath);
    return address;
}

std::string versionRequest(std::string_view host, std::string_view markerPath) {
    std::string request;
    request.append("GET /").append(markerPath).append(" HTTP/1.1\r\n");
    request.append("User-Agent: ")
        .append(ProductName)
        .append(" ")
        .append(ProductVersion)
        .append("\r\n");
    request.append("Host: ").append(host).append("\r\n\r\n");
    return request;
}

void queryVersionMarker(VersionQuery& query, TcpClient& client) {
    query.response[0] = '\0';
    query.responseLength = 0;
    long error = client.connect(query.host, query.port);
    if (error == 0) {
        error = client.send(versionRequest(query.host, query.markerPath));
    }
    if (error == 0) {
        const TcpReceiveResult received = client.receive(std::span<char>(query.response));
        error = received.errorCode;
        query.responseLength = received.length;
    }
    if (error != 0) {
        setErrorText(query, error);
    }
    client.close();
}

VersionCheckOutcome versionCheckOutcome(const VersionQuery& query) {
    VersionCheckOutcome outcome;
    const std::string_view response(query.response.data(), query.responseLength);
    if (!response.empty() && response.front() == 'E') {
        outcome.result = VersionCheckResult::ConnectionError;
        outcome.message = UserMessage{std::string(ConnectionErrorText), "Error"};
        return outcome;
    }
    // Only bytes that arrived count: a reply too short to hold a status code shows nothing.
    if (response.size() < StatusCodeOffset + StatusCodeLength) {
        return outcome;
    }
    const std::string_view status = response.substr(StatusCodeOffset, StatusCodeLength);
    if (status == "200") {
        outcome.result = VersionCheckResult::LatestVersion;
        outcome.message = UserMessage{
            "You have the latest version of Quillharbour Sniffer available at this time.",
            std::string(ProductName)};
    } else if (status == "404") {
        outcome.result = VersionCheckResult::NewerVersion;
        outcome.message = UserMessage{
            "There is a newer version of Quillharbour Sniffer available.\n     Would you like to "
            "go to the description page?",
            "Version Notification", MessageIcon::Question};
        outcome.asksYesNo = true;
    }
    return outcome;
}

VersionCheckOutcome checkForNewerVersion(TcpClient& client, std::string_view host,
                                         std::uint16_t port) {
    VersionQuery query;
    query.host = std::string(host);
    query.port = port;
    query.markerPath = std::string(VersionMarkerName);
    queryVersionMarker(query, client);
    return versionCheckOutcome(query);
}

}  // namespace qhs
