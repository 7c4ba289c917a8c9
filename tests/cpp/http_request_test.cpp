// The request head reader: a table of heads and their verdicts, and the
// promise that a prefix is Incomplete or the same verdict.
#include "base/http_request.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <variant>

#include "test_bytes.hpp"

namespace vantu::test {
namespace {

using namespace std::literals;

// "incomplete", "400", or the request's fields: "GET / 1.1 host=a head=27".
std::string describe(const std::variant<http::Incomplete, http::Request, http::Refusal>& result) {
    if (std::holds_alternative<http::Incomplete>(result)) return "incomplete";
    if (const auto* no = std::get_if<http::Refusal>(&result)) return std::to_string(no->status);
    const auto& r = std::get<http::Request>(result);
    std::string out = std::string(r.method) + " " + std::string(r.target) + " 1." +
                      std::to_string(r.minor_version);
    const std::pair<const char*, const std::optional<std::string_view>&> fields[] = {
        {"host", r.host}, {"origin", r.origin}, {"upgrade", r.upgrade},
        {"connection", r.connection}, {"key", r.websocket_key}, {"version", r.websocket_version},
    };
    for (const auto& [name, value] : fields) {
        if (value) out += " "s + name + "=" + std::string(*value);
    }
    return out + " head=" + std::to_string(r.head_size);
}

std::string parse_text(std::string_view head) { return describe(http::parse_request(raw(head))); }

const std::string request_line = "GET / HTTP/1.1\r\n";

// A head of exactly `size` bytes: one header padded to fit.
std::string head_of_size(std::size_t size) {
    return request_line + "X: " + std::string(size - request_line.size() - 7, 'x') + "\r\n\r\n";
}

std::string with_headers(std::size_t count) {
    std::string out = request_line;
    for (std::size_t i = 0; i < count; ++i) out += "X: y\r\n";
    return out + "\r\n";
}

struct HeadCase {
    std::string input;
    std::string expected;
};

const HeadCase head_cases[] = {
    {"GET /chat HTTP/1.1\r\nHost: server.example.com\r\nUpgrade: websocket\r\n"
     "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
     "Origin: http://example.com\r\nSec-WebSocket-Version: 13\r\n\r\n",
     "GET /chat 1.1 host=server.example.com origin=http://example.com upgrade=websocket "
     "connection=Upgrade key=dGhlIHNhbXBsZSBub25jZQ== version=13 head=189"},
    {"GET / HTTP/1.0\r\n\r\nGET /next", "GET / 1.0 head=18"},
    {"GET /?a=%20 HTTP/1.1\r\nhOsT:  \t a b \t\r\nsec-WEBSOCKET-key:k\r\nX-A: \xC3\xA9\r\n\r\n",
     "GET /?a=%20 1.1 host=a b key=k head=70"},
    {"GET / HTTP/1.1\r\nHost:\r\nX: 1\r\nX: 2\r\n\r\n", "GET / 1.1 host= head=37"},
    {"", "incomplete"},
    {"GET / HTTP/1.1\r\nHost: a\r\n\r", "incomplete"},
    {"GET / HTTP/1.1\r\nHost: a", "incomplete"},
    {"GET /\r\n\r\n", "400"},
    {"GET / HTTP/2.0\r\n\r\n", "400"},
    {"GET / HTTP/1.2\r\n\r\n", "400"},
    {"GET / HTTP/1.10\r\n\r\n", "400"},
    {"GET / http/1.1\r\n\r\n", "400"},
    {"GET / HTTP/1.1 \r\n\r\n", "400"},
    {"GET  / HTTP/1.1\r\n\r\n", "400"},
    {" / HTTP/1.1\r\n\r\n", "400"},
    {"G(T / HTTP/1.1\r\n\r\n", "400"},
    {"GET /\xC3\xA9 HTTP/1.1\r\n\r\n", "400"},
    {"\r\nGET / HTTP/1.1\r\n\r\n", "400"},
    {"GET / HTTP/1.1\n\n", "400"},
    {"GET / HTTP/1.1\r\nHost: a\n\r\n", "400"},
    {"GET / HTTP/1.1\r\nHost: a\rb\r\n\r\n", "400"},
    {"GET / HTTP/1.1\r\nHost: a\r\nb\r\n\r\n", "400"},
    {"GET / HTTP/1.1\r\nX: a\r\n b\r\n\r\n", "400"},
    {"GET / HTTP/1.1\r\nHost a\r\n\r\n", "400"},
    {"GET / HTTP/1.1\r\nHost : a\r\n\r\n", "400"},
    {"GET / HTTP/1.1\r\n: a\r\n\r\n", "400"},
    {"GET / HTTP/1.1\r\nX: a\0b\r\n\r\n"s, "400"},
    {"GET /\0 HTTP/1.1\r\n\r\n"s, "400"},
    {"GET / HTTP/1.1\r\nX: \0"s, "400"},
    {"GET / HTTP/1.1\r\nX: \x7F\r\n\r\n", "400"},
    {"GET / HTTP/1.1\r\nHost: a\r\nhost: b\r\n\r\n", "400"},
    {"GET / HTTP/1.1\r\nConnection: a\r\nConnection: b\r\n\r\n", "400"},
    {"GET / HTTP/1.1\r\nSec-WebSocket-Key: a\r\nSEC-WEBSOCKET-KEY: a\r\n\r\n", "400"},
    {head_of_size(http::max_head), "GET / 1.1 head=8192"},
    {head_of_size(http::max_head + 1), "431"},
    {head_of_size(http::max_head + 1).substr(0, http::max_head), "431"},
    {with_headers(http::max_headers), "GET / 1.1 head=402"},
    {with_headers(http::max_headers + 1), "431"},
};

TEST(HttpRequest, Verdicts) {
    for (const auto& [input, expected] : head_cases) {
        EXPECT_EQ(parse_text(input), expected) << to_hex(raw(input.substr(0, 40)));
    }
}

TEST(HttpRequest, EachPrefixIsIncompleteOrTheSameVerdict) {
    for (const auto& [input, expected] : head_cases) {
        // Every cut near either end; in the middle of the long heads, some.
        for (std::size_t cut = 0; cut < input.size();
             cut += cut < 256 || input.size() - cut < 256 ? 1 : 61) {
            const std::string verdict = parse_text(std::string_view(input).substr(0, cut));
            ASSERT_TRUE(verdict == "incomplete" || verdict == expected)
                << to_hex(raw(input.substr(0, 40))) << " cut at " << cut << ": " << verdict;
        }
    }
}

TEST(HttpRequest, HasToken) {
    const std::tuple<std::string_view, std::string_view, bool> cases[] = {
        {"Upgrade", "upgrade", true},          {"keep-alive, Upgrade", "upgrade", true},
        {" keep-alive ,\tUPGRADE\t", "upgrade", true}, {"keep-alive", "upgrade", false},
        {"Upgraded, xUpgrade", "upgrade", false},      {"", "upgrade", false},
        {"up, grade", "upgrade", false},
    };
    for (const auto& [list, token, found] : cases) {
        EXPECT_EQ(http::has_token(list, token), found) << list;
    }
}

}  // namespace
}  // namespace vantu::test
