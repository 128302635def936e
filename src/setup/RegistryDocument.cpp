#include "setup/RegistryDocument.h"

#include <algorithm>

namespace qhs {

namespace {

std::string escapeValue(std::string_view data) {
    std::string escaped;
    escaped.reserve(data.size());
    for (const char c : data) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string unescapeValue(std::string_view text) {
    std::string data;
    data.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            data += text[i];
            continue;
        }
        const char next = text[++i];
        data += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return data;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

RegistryDocument RegistryDocument::parse(std::string_view text) {
    RegistryDocument document;
    Key* current = nullptr;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::string_view content = trimmed(line);
        if (content.empty() || content.front() == ';' || content.front() == '#') {
            continue;
        }
        if (content.front() == '[' && content.back() == ']') {
            const std::string_view path = content.substr(1, content.size() - 2);
            current = document.findKey(path);
            if (current == nullptr) {
                document.keys_.push_back(Key{std::string(path), {}});
                current = &document.keys_.back();
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (current == nullptr || equals == std::string_view::npos) {
            continue;
        }
        const std::string name(trimmed(line.substr(0, equals)));
        const std::string data = unescapeValue(line.substr(equals + 1));
        auto existing = std::find_if(current->values.begin(), current->values.end(),
                                     [&](const Value& value) { return value.name == name; });
        if (existing != current->values.end()) {
            existing->data = data;
        } else {
            current->values.push_back(Value{name, data});
        }
    }
    return document;
}

std::string RegistryDocument::text() const {
    std::string text;
    for (const Key& key : keys_) {
        if (!text.empty()) {
            text += '\n';
        }
        text += '[' + key.path + "]\n";
        for (const Value& value : key.values) {
            text += value.name + '=' + escapeValue(value.data) + '\n';
        }
    }
    return text;
}

std::optional<std::string> RegistryDocument::value(std::string_view key,
                                                   std::string_view name) const {
    const Key* found = findKey(key);
    if (found == nullptr) {
        return std::nullopt;
    }
    for (const Value& value : found->values) {
        if (value.name == name) {
            return value.data;
        }
    }
    return std::nullopt;
}

void RegistryDocument::setValue(std::string_view key, std::string_view name,
                                std::string_view data) {
    Key* found = findKey(key);
    if (found == nullptr) {
        keys_.push_back(Key{std::string(key), {}});
        found = &keys_.back();
    }
    for (Value& value : found->values) {
        if (value.name == name) {
            value.data = data;
            return;
        }
    }
    found->values.push_back(Value{std::string(name), std::string(data)});
}

bool RegistryDocument::removeKey(std::string_view key) {
    const auto removed = std::erase_if(keys_, [&](const Key& each) { return each.path == key; });
    return removed > 0;
}

RegistryDocument::Key* RegistryDocument::findKey(std::string_view path) {
    for (Key& key : keys_) {
        if (key.path == path) {
            return &key;
        }
    }
    return nullptr;
}

const RegistryDocument::Key* RegistryDocument::findKey(std::string_view path) const {
    for (const Key& key : keys_) {
        if (key.path == path) {
            return &key;
        }
    }
    return nullptr;
}

}  // namespace qhs
