#pragma once

#include <cstddef>
#include <iterator>
#include <random>
#include <string>

namespace qhs::bench {

// Text shaped like web traffic (HTTP header lines and HTML), for payloads that a string
// search meets in practice: many near-misses of common letters and tags.
inline std::string webLikeText(std::mt19937& random, std::size_t bytes) {
    const char* const words[] = {"HTTP/1.1 200 OK\r\n",
                                 "Content-Type: text/html\r\n",
                                 "<div class=\"item\">",
                                 "Lorem ",
                                 "ipsum ",
                                 "dolor ",
                                 "sit amet, ",
                                 "consectetur ",
                                 "<a href=\"/index.html\">",
                                 "</a>",
                                 "</div>\r\n",
                                 "Cache-Control: no-cache\r\n"};
    std::string text;
    while (text.size() < bytes) {
        text += words[random() % std::size(words)];
    }
    text.resize(bytes);
    return text;
}

}  // namespace qhs::bench
