#pragma once

#include <span>
#include <string>
#include <string_view>

namespace qhs {

// One question of the Help dialog: the button that asks it, the heading line of its answer
// and the answer's paragraphs.
struct HelpTopic {
    int controlId;
    std::string_view heading;
    std::span<const std::string_view> paragraphs;
};

// The nine topics in their order on the dialog, top to bottom; the first is shown on opening.
std::span<const HelpTopic> helpTopics();

// The answer as the panel shows it: a line break, "--->" and the heading, then every
// paragraph after an empty line.
std::string helpAnswer(const HelpTopic& topic);

}  // namespace qhs
