// How frames travel on one connection: raw MessagePack values back to back,
// or one to a WebSocket message. The serve loop and the connection see
// frames; a transport reads them out of the stream's bytes and wraps each
// result frame for the wire.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/frame.hpp"

namespace vantu {

// What goes on the wire before a result frame's bytes: nothing for raw
// TCP, a message header for a WebSocket.
struct Seal {
    std::array<std::uint8_t, 10> bytes{};
    std::uint8_t size = 0;
    std::span<const std::uint8_t> head() const { return {bytes.data(), size}; }
};

// Where a transport writes its own replies (a WebSocket pong, its closing
// frame): whole, between two result frames, under the connection's send
// lock. False when they could not be written.
class ControlSink {
public:
    virtual bool send_control(std::span<const std::uint8_t> bytes) = 0;

protected:
    ~ControlSink() = default;
};

// What the front of the received bytes holds.
struct Taken {
    enum class Kind {
        frame,    // `frame`, decoded from the first `used` bytes
        more,     // no whole unit yet; `used` bytes were taken in all the same
        control,  // a message of the transport's own, answered: `used` bytes
        closed,   // the client said goodbye: the session ends
        failed,   // the bytes are not a frame: `failure`
    };
    Kind kind = Kind::more;
    std::size_t used = 0;
    Frame frame{};
    // With `more`: what the stream fails with if it ends here, one of the
    // frozen texts; empty when it may end here.
    std::string_view cut_text;
    std::string failure;
    // With `failed`: the close code a WebSocket tells the client.
    std::uint16_t close_code = 0;

    static Taken decoded(const Frame& frame, std::size_t used) {
        Taken taken = of(Kind::frame, used);
        taken.frame = frame;
        return taken;
    }
    static Taken need_more(std::size_t used, std::string_view cut_text) {
        Taken taken = of(Kind::more, used);
        taken.cut_text = cut_text;
        return taken;
    }
    static Taken broken(std::string failure, std::uint16_t close_code = 0) {
        Taken taken = of(Kind::failed, 0);
        taken.failure = std::move(failure);
        taken.close_code = close_code;
        return taken;
    }
    static Taken of(Kind kind, std::size_t used) {
        Taken taken;
        taken.kind = kind;
        taken.used = used;
        return taken;
    }
};

// One reader's view of a transport: what it keeps between reads (a
// WebSocket's fragments). Used by one loop at a time.
class FrameReader {
public:
    virtual ~FrameReader() = default;
    // Takes the next unit from the front of `bytes`, which it may change in
    // place (a WebSocket unmasks). Answers control messages through
    // `control`.
    virtual Taken take(std::span<std::uint8_t> bytes, ControlSink& control) = 0;
};

// Why the server ends a connection, for the goodbye a transport says.
enum class Goodbye { normal, going_away, failed_frame, failed_action };

class Transport {
public:
    virtual ~Transport() = default;
    virtual std::unique_ptr<FrameReader> reader() const = 0;
    // The head that goes before a result frame of `size` bytes.
    virtual Seal seal(std::size_t size) const = 0;
    // Whether the client answers asks for a sign of life (a WebSocket ping)
    // with bytes, so that an idle timeout holds without the client streaming.
    virtual bool asks_for_life() const { return false; }
    virtual void ask_for_life(ControlSink&) const {}
    // The last word before the server shuts the connection down.
    virtual void goodbye(ControlSink&, Goodbye, std::uint16_t /*close_code*/) const {}
};

}  // namespace vantu
