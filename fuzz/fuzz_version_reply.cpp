// The reply of the maker's server to the version check, through a client that hands over
// the input as the server's first receive. The first byte picks a failing step (connect,
// send or receive) or none; the reply decides by its status code alone.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "app/TcpClient.h"
#include "info/VersionCheck.h"

namespace {

using namespace qhs;

class ScriptedClient final : public TcpClient {
  public:
    ScriptedClient(int failingStep, std::string_view reply)
        : failingStep_(failingStep), reply_(reply) {}

    long connect(const std::string&, std::uint16_t) override { return failingStep_ == 1 ? 111 : 0; }
    long send(std::string_view bytes) override {
        sent_ = std::string(bytes);
        return failingStep_ == 2 ? 32 : 0;
    }
    TcpReceiveResult receive(std::span<char> buffer) override {
        if (failingStep_ == 3) {
            return {0, 104};
        }
        const std::size_t length = std::min(buffer.size(), reply_.size());
        std::memcpy(buffer.data(), reply_.data(), length);
        return {length, 0};
    }
    void close() override { closed_ = true; }

    const std::string& sent() const { return sent_; }
    bool closed() const { return closed_; }

  private:
    int failingStep_;
    std::string_view reply_;
    std::string sent_;
    bool closed_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const int failingStep = data[0] % 4;
    const std::string_view reply(reinterpret_cast<const char*>(data + 1), size - 1);
    ScriptedClient client(failingStep, reply);
    VersionQuery query;
    query.host = "versions.example";
    query.markerPath = "marker";
    queryVersionMarker(query, client);
    QHS_FUZZ_REQUIRE(client.closed());
    QHS_FUZZ_REQUIRE(query.responseLength <= VersionResponseCapacity);
    const VersionCheckOutcome outcome = versionCheckOutcome(query);
    if (failingStep != 0) {
        QHS_FUZZ_REQUIRE(outcome.result == VersionCheckResult::ConnectionError);
        QHS_FUZZ_REQUIRE(outcome.message.has_value() && !outcome.asksYesNo);
        return 0;
    }
    QHS_FUZZ_REQUIRE(client.sent() == versionRequest(query.host, query.markerPath));
    // Only the first receive counts, cut to the buffer.
    const std::string_view received(query.response.data(), query.responseLength);
    QHS_FUZZ_REQUIRE(received == reply.substr(0, VersionResponseCapacity));
    if (!received.empty() && received.front() == 'E') {
        QHS_FUZZ_REQUIRE(outcome.result == VersionCheckResult::ConnectionError);
        return 0;
    }
    const std::string_view status = received.size() >= 12 ? received.substr(9, 3) : "";
    if (status == "200") {
        QHS_FUZZ_REQUIRE(outcome.result == VersionCheckResult::LatestVersion && !outcome.asksYesNo);
        QHS_FUZZ_REQUIRE(outcome.message.has_value());
    } else if (status == "404") {
        QHS_FUZZ_REQUIRE(outcome.result == VersionCheckResult::NewerVersion && outcome.asksYesNo);
        QHS_FUZZ_REQUIRE(outcome.message.has_value());
    } else {
        QHS_FUZZ_REQUIRE(outcome.result == VersionCheckResult::NoAnswer);
        QHS_FUZZ_REQUIRE(!outcome.message.has_value() && !outcome.asksYesNo);
    }
    return 0;
}
