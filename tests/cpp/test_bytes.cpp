// Wire bytes for tests, and frames rendered from their rows.
#include "test_bytes.hpp"

#include <cstddef>
#include <cstdio>
#include <sstream>
#include <variant>

namespace vantu::test {

Bytes hex(std::string_view text) {
    Bytes out;
    std::string digits;
    for (const char c : text) {
        if (c == ' ') continue;
        digits += c;
        if (digits.size() == 2) {
            out.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
            digits.clear();
        }
    }
    return out;
}

Bytes raw(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes str(std::string_view text) {
    const std::size_t n = text.size();
    Bytes header;
    if (n < 32) header = {static_cast<std::uint8_t>(0xA0 | n)};
    else if (n < 256) header = {0xD9, static_cast<std::uint8_t>(n)};
    else header = {0xDA, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    return header + raw(text);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string to_hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    char buf[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", b);
        out += buf;
    }
    return out;
}

namespace {

void put(std::ostream& out, bool value) { out << std::boolalpha << value; }
void put(std::ostream& out, std::uint8_t value) { out << int{value}; }
void put(std::ostream& out, float value) { out << value; }
void put(std::ostream& out, const Coord& value) { out << value.x << ',' << value.y; }

}  // namespace

// The fields in row order, whatever the kind.
std::string describe(const Frame& frame) {
    std::ostringstream out;
    out << int{frame.id} << ' ' << frame.data.name() << '{';
    with_widget_tag(frame.data.tag(), [&](auto tag) {
        const auto& event = std::get<tag()>(frame.data.value);
        const char* separator = "";
        for_each_field(widget_kind<tag()>, [&](const auto& f) {
            out << separator;
            put(out, event.*(f.member));
            separator = ",";
        });
    });
    out << '}';
    return out.str();
}

std::string parse_text(const Bytes& bytes) {
    const auto result = Frame::parse(bytes);
    if (const auto* frame = std::get_if<Frame>(&result)) return describe(*frame);
    return std::get<DecodeError>(result).text;
}

std::string widget_list() {
    std::string out;
    for (const std::string_view name : widget_names) {
        out.append(out.empty() ? "`" : ", `").append(name).append("`");
    }
    return out;
}

}  // namespace vantu::test
