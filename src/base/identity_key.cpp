// Identity keys: building them from frames and registrations, reading them back.
#include "base/identity_key.hpp"

#include <charconv>
#include <cstring>

#include "base/error.hpp"
#include "base/utf8.hpp"

namespace vantu {
namespace {

// The Unicode White_Space property. Python's str.split and C's isspace use
// other sets (they include U+001C..U+001F); the key must not depend on them.
bool is_white_space(char32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 ||
           cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 ||
           cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

// The offset of the first code point at or after `pos` whose white-space
// property equals `white`, or the end of the text.
std::size_t find_class(std::string_view text, std::size_t pos, bool white) {
    while (pos < text.size()) {
        std::size_t next = pos;
        if (is_white_space(utf8::next_code_point(text, next)) == white) return pos;
        pos = next;
    }
    return text.size();
}

std::string_view first_word(std::string_view text) {
    const std::size_t start = find_class(text, 0, false);
    const std::size_t end = find_class(text, start, true);
    return text.substr(start, end - start);
}

[[noreturn]] void fail_parse(std::string_view key, std::string_view kind) {
    throw Fatal("invalid action name \"" + std::string(key) +
                "\": the widget id after the first \"_\" must be a number from 0 to 255 (" +
                std::string(kind) + ")");
}

// Decimal 0..255 with an optional "+"; leading zeros are fine. Digits are
// checked left to right, so "300x" overflows before its bad digit is seen.
std::uint8_t parse_u8(std::string_view key, std::string_view text) {
    if (text.empty()) fail_parse(key, "empty number");
    if (text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty()) fail_parse(key, "invalid digit");
    }
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') fail_parse(key, "invalid digit");
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255) fail_parse(key, "number too large");
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace

IdentityKey::IdentityKey(std::size_t tag, std::uint8_t id) {
    const std::string_view name = widget_names[tag];
    char* out = std::copy(name.begin(), name.end(), bytes_.data());
    *out++ = '_';
    out = std::to_chars(out, bytes_.data() + bytes_.size(), unsigned{id}).ptr;
    size_ = static_cast<std::uint8_t>(out - bytes_.data());
}

std::string action_identity(std::uint8_t id, std::string_view widget) {
    std::string key(first_word(widget));
    key += '_';
    key += std::to_string(id);
    return key;
}

std::pair<std::uint8_t, std::string> extract_identity(std::string key) {
    const std::size_t first = key.find('_');
    if (first == std::string::npos) {
        throw Fatal("invalid action name \"" + key +
                    "\": index out of range, no \"_\" separates the widget name from its id");
    }
    const std::size_t second = key.find('_', first + 1);
    const std::size_t end = second == std::string::npos ? key.size() : second;
    const std::uint8_t id =
        parse_u8(key, std::string_view(key).substr(first + 1, end - first - 1));
    key.resize(first);
    return {id, std::move(key)};
}

}  // namespace vantu
