// The head of an HTTP/1.x request, read from the bytes a connection has
// received so far: the request line and the few headers the server acts on.
//
// The reader is strict, as the only clients are browsers, which always send
// well-formed heads, and leniency is where request smuggling starts:
// - lines end with CRLF: a bare LF, or a CR anywhere else, is a 400;
// - the request line is method SP target SP version with single spaces and
//   no empty line before it; the method is a token, the target visible
//   ASCII, the version exactly HTTP/1.0 or HTTP/1.1;
// - a header is a token name, a colon right after it (no space between),
//   and a value of visible ASCII, SP, HTAB or bytes 0x80 to 0xFF; a line
//   that starts with SP or HTAB (a folded value) is a 400;
// - control characters other than HTAB in a header value are a 400;
// - repeating Host, Origin, Upgrade, Connection, Sec-WebSocket-Key or
//   Sec-WebSocket-Version is a 400 (repeated Connection values are not
//   joined);
// - a head longer than max_head, or more than max_headers header lines: 431.
// A missing Host is left to the caller: the field is nullopt.
//
// Faults are found line by line in input order, and a line is judged as
// soon as its bytes show a fault, so a prefix of the bytes gives Incomplete
// or the same verdict as the whole: the caller may reparse as bytes arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

namespace vantu::http {

inline constexpr std::size_t max_head = 8 * 1024;  // request line + headers + blank line
inline constexpr std::size_t max_headers = 64;

struct Request {
    std::string_view method, target;  // as sent
    int minor_version = 1;            // HTTP/1.0 or HTTP/1.1 only
    // The headers the server looks at; nullopt when absent. Names matched
    // case-insensitively; values with surrounding OWS trimmed.
    std::optional<std::string_view> host, origin, upgrade, connection, websocket_key,
        websocket_version;
    std::size_t head_size = 0;  // bytes up to and including the blank line
};

struct Incomplete {};   // no blank line yet, nothing wrong so far
struct Refusal {
    int status;         // 400 bad request, 431 head or header count too large
};

// Parses the head at the front of `bytes` (the bytes read so far from one
// connection); whatever follows the blank line is not looked at. The views
// of a Request point into `bytes`.
std::variant<Incomplete, Request, Refusal> parse_request(std::span<const std::uint8_t> bytes);

// Whether two ASCII texts are equal, ignoring case (header names, tokens,
// host names).
bool equal_ignoring_case(std::string_view a, std::string_view b);

// Whether a comma-separated header value such as "keep-alive, Upgrade"
// holds `token`, ignoring case.
bool has_token(std::string_view list, std::string_view token);

}  // namespace vantu::http
