// Reading the frames a WebSocket client sends, from the front of the bytes
// a connection has received so far. Only binary messages are taken (the
// remote's frames are MessagePack); the reader reassembles fragmented ones.
//
// Faults, found from a frame's header alone, before its payload arrives:
// - 1002 (protocol error): an unmasked frame, an RSV bit set, a reserved
//   opcode, a control frame that is fragmented or longer than 125 bytes, a
//   continuation with no message started, a new data frame while a
//   fragmented message is open, a length not in its shortest form, a
//   64-bit length with its top bit set;
// - 1003 (unsupported data): a text frame;
// - 1009 (message too big): a frame or a reassembled message longer than
//   max_message.
// And from a close frame's payload: 1002 for a payload of one byte or a
// code that is not allowed on the wire, 1007 for a reason that is not UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "base/websocket_frame.hpp"

namespace vantu::ws {

struct NeedMore {};  // no whole frame at the front yet
// A whole binary message (reassembled if it came in fragments).
struct Message { std::span<const std::uint8_t> payload; };
struct Ping { std::span<const std::uint8_t> payload; };
struct Pong {};
// `code` is 1005 (no_status) when the payload is empty.
struct Close { std::uint16_t code; std::span<const std::uint8_t> reason; };
// The peer broke the protocol: close with `code`.
struct Fault { std::uint16_t code; std::string_view reason; };
using Next = std::variant<NeedMore, Message, Ping, Pong, Close, Fault>;

class Reader {
public:
    // Takes frames from the front of `bytes` until it has something to
    // report: the fragments of an unfinished message are copied into the
    // reader's own buffer and the call goes on to the next frame. `used` is
    // set to the number of bytes taken, which the caller drops; with
    // NeedMore it counts the fragments taken.
    //
    // Payloads are unmasked in place. The span of a Message, Ping or Close
    // points into `bytes` (a whole frame) or into the reader's buffer (a
    // reassembled message), valid until the next call or until the caller
    // drops the bytes.
    //
    // A Fault or a Close ends the stream. After a Fault every call returns
    // the same Fault and takes nothing; after a Close every call returns
    // NeedMore and takes all the bytes, as nothing after a close frame is
    // read.
    Next next(std::span<std::uint8_t> bytes, std::size_t& used);

private:
    struct Header {
        bool fin = false;
        std::uint8_t opcode = 0;
        std::uint64_t length = 0;
        std::size_t size = 0;  // with the masking key
        std::array<std::uint8_t, 4> mask{};
    };

    bool read_header(std::span<const std::uint8_t> bytes, Header& header);
    bool check_first_bytes(std::uint8_t first, std::uint8_t second);
    bool check_length(const Header& header, std::size_t extended);
    std::optional<Next> take(const Header& header, std::span<std::uint8_t> payload);
    Next read_close(std::span<const std::uint8_t> payload);
    Fault set_fault(std::uint16_t code, std::string_view reason) {
        fault_ = Fault{code, reason};
        return *fault_;
    }
    bool fail(std::uint16_t code, std::string_view reason) {
        set_fault(code, reason);
        return false;
    }

    std::vector<std::uint8_t> fragments_;
    bool open_ = false;  // a fragmented message has started
    bool closed_ = false;
    std::optional<Fault> fault_;
};

}  // namespace vantu::ws
