#pragma once

#include <string>
#include <string_view>

#include "app/Product.h"

namespace qhs {

enum class MessageIcon { None, Information, Question, Warning, Stop };

// A modal message box as the core decides it; the windows only show it.
struct UserMessage {
    std::string text;
    std::string caption{ApplicationName};
    MessageIcon icon = MessageIcon::None;

    bool operator==(const UserMessage&) const = default;
};

}  // namespace qhs
