// Reading a request head line by line, from a view of at most max_head
// bytes: a head whose blank line lies beyond them is too large whatever
// follows.
#include "base/http_request.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace vantu::http {
namespace {

using Result = std::variant<Incomplete, Request, Refusal>;

constexpr int bad_request = 400;
constexpr int too_large = 431;

enum : std::uint8_t { control_char = 1, token_char = 2, target_char = 4 };

constexpr std::array<std::uint8_t, 256> char_classes = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned c = 0; c < 0x20; ++c) table[c] = control_char;
    table['\t'] = 0;
    table[0x7F] = control_char;
    for (unsigned c = 0x21; c < 0x7F; ++c) table[c] = target_char;
    for (unsigned c = '0'; c <= '9'; ++c) table[c] |= token_char;
    for (unsigned c = 'A'; c <= 'Z'; ++c) table[c] |= token_char;
    for (unsigned c = 'a'; c <= 'z'; ++c) table[c] |= token_char;
    for (const char c : std::string_view("!#$%&'*+-.^_`|~")) {
        table[static_cast<unsigned char>(c)] |= token_char;
    }
    return table;
}();

bool has_class(char c, std::uint8_t cls) {
    return (char_classes[static_cast<unsigned char>(c)] & cls) != 0;
}
bool all_in(std::string_view text, std::uint8_t cls) {
    return std::all_of(text.begin(), text.end(), [cls](char c) { return has_class(c, cls); });
}
bool any_control(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return has_class(c, control_char); });
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool is_ows(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_ows(std::string_view text) {
    while (!text.empty() && is_ows(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_ows(text.back())) text.remove_suffix(1);
    return text;
}

using Field = std::optional<std::string_view> Request::*;
constexpr std::array<std::pair<std::string_view, Field>, 6> kept_fields = {{
    {"host", &Request::host},
    {"origin", &Request::origin},
    {"upgrade", &Request::upgrade},
    {"connection", &Request::connection},
    {"sec-websocket-key", &Request::websocket_key},
    {"sec-websocket-version", &Request::websocket_version},
}};

// The state of one parse; the first refusal sticks.
class HeadReader {
public:
    explicit HeadReader(std::span<const std::uint8_t> bytes)
        : head_(reinterpret_cast<const char*>(bytes.data()), std::min(bytes.size(), max_head)),
          capped_(bytes.size() >= max_head) {}

    Result read();

private:
    std::optional<std::string_view> next_line();
    void check_partial_line(std::string_view rest);
    bool read_request_line(std::string_view line);
    bool read_header(std::string_view line);
    bool keep(std::string_view name, std::string_view value);
    bool refuse(int status) {
        refusal_ = Refusal{status};
        return false;
    }
    Result stopped() const { return refusal_ ? Result(*refusal_) : Result(Incomplete{}); }

    std::string_view head_;
    bool capped_;  // the bytes reach max_head: no later byte can end the head
    std::size_t pos_ = 0;
    std::size_t headers_ = 0;
    Request request_;
    std::optional<Refusal> refusal_;
};

Result HeadReader::read() {
    auto line = next_line();
    if (!line || !read_request_line(*line)) return stopped();
    while ((line = next_line())) {
        if (line->empty()) {
            request_.head_size = pos_;
            return request_;
        }
        if (!read_header(*line)) break;
    }
    return stopped();
}

// The next whole line without its CRLF; nullopt when there is none, with
// the refusal set if the bytes already show one.
std::optional<std::string_view> HeadReader::next_line() {
    const std::size_t lf = head_.find('\n', pos_);
    if (lf == std::string_view::npos) {
        check_partial_line(head_.substr(pos_));
        return std::nullopt;
    }
    if (lf == pos_ || head_[lf - 1] != '\r') {
        refuse(bad_request);
        return std::nullopt;
    }
    const std::string_view line = head_.substr(pos_, lf - 1 - pos_);
    pos_ = lf + 1;
    if (any_control(line)) {
        refuse(bad_request);
        return std::nullopt;
    }
    return line;
}

// A line still arriving is refused for the bytes it holds already (a CR at
// its end may yet be followed by LF), or because it cannot end in time.
void HeadReader::check_partial_line(std::string_view rest) {
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    if (any_control(rest)) {
        refuse(bad_request);
    } else if (capped_) {
        refuse(too_large);
    }
}

bool HeadReader::read_request_line(std::string_view line) {
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos) return refuse(bad_request);
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    if (method.empty() || !all_in(method, token_char)) return refuse(bad_request);
    if (target.empty() || !all_in(target, target_char)) return refuse(bad_request);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return refuse(bad_request);
    request_.method = method;
    request_.target = target;
    request_.minor_version = version.back() - '0';
    return true;
}

// `line` is not empty and holds no control character but HTAB.
bool HeadReader::read_header(std::string_view line) {
    if (is_ows(line.front())) return refuse(bad_request);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return refuse(bad_request);
    const std::string_view name = line.substr(0, colon);
    if (name.empty() || !all_in(name, token_char)) return refuse(bad_request);
    if (++headers_ > max_headers) return refuse(too_large);
    return keep(name, trim_ows(line.substr(colon + 1)));
}

bool HeadReader::keep(std::string_view name, std::string_view value) {
    for (const auto& [known, field] : kept_fields) {
        if (!equal_ignoring_case(name, known)) continue;
        auto& slot = request_.*field;
        if (slot) return refuse(bad_request);
        slot = value;
        return true;
    }
    return true;
}

}  // namespace

std::variant<Incomplete, Request, Refusal> parse_request(std::span<const std::uint8_t> bytes) {
    return HeadReader(bytes).read();
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return lower(x) == lower(y); });
}

bool has_token(std::string_view list, std::string_view token) {
    for (;;) {
        const std::size_t comma = list.find(',');
        if (equal_ignoring_case(trim_ows(list.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) return false;
        list.remove_prefix(comma + 1);
    }
}

}  // namespace vantu::http
