#pragma once

#include <string>
#include <string_view>

#include "app/ApplicationName.h"

namespace qhs {

enum class MessageIcon { None, Information, Question, Warning, Stop };

// A modal message box as the core decides it; the windows only show it. Without a caption
// of its own it carries the application's name.
struct UserMessage {
    std::string text;
    std::string caption = applicationName();
    MessageIcon icon = MessageIcon::None;

    bool operator==(const UserMessage&) const = default;
};

}  // namespace qhs
