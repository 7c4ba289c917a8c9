// Frames in WebSocket messages: one message holds exactly one frame, in any
// form the raw decoder takes; pings are answered, the client's close ends
// the session, and a broken message or protocol fault closes with its code.
#include "server/websocket_transport.hpp"

#include <atomic>
#include <string>
#include <variant>

#include "base/websocket_frame.hpp"
#include "base/websocket_reader.hpp"

namespace vantu {
namespace {

// Whether a closing frame went out, so that one goes out at most, and
// nothing else after it.
using CloseSent = std::atomic<bool>;

void send_close(ControlSink& control, CloseSent& sent, std::uint16_t code) {
    if (sent.exchange(true)) return;
    control.send_control(ws::close_frame(code, {}).view());
}

// One message, one whole frame: nothing missing, nothing after it.
Taken frame_of(std::span<const std::uint8_t> payload, std::size_t used) {
    auto result = Frame::parse_stream(payload);
    if (auto* decoded = std::get_if<Decoded>(&result)) {
        if (decoded->used == payload.size()) return Taken::decoded(decoded->frame, used);
        return Taken::broken("a WebSocket message holds one frame: " +
                                 std::to_string(payload.size() - decoded->used) +
                                 " bytes follow it",
                             ws::close_code::invalid_payload);
    }
    if (auto* error = std::get_if<DecodeError>(&result)) {
        return Taken::broken(std::move(error->text), ws::close_code::invalid_payload);
    }
    // The message ended before its frame did: the frame's own text for an
    // end of input.
    return Taken::broken(std::string(std::get<Incomplete>(result).text),
                         ws::close_code::invalid_payload);
}

class WebSocketReader final : public FrameReader {
public:
    explicit WebSocketReader(CloseSent& close_sent) : close_sent_(close_sent) {}

    Taken take(std::span<std::uint8_t> bytes, ControlSink& control) override {
        std::size_t used = 0;
        const ws::Next next = reader_.next(bytes, used);
        if (const auto* message = std::get_if<ws::Message>(&next)) {
            return frame_of(message->payload, used);
        }
        if (const auto* ping = std::get_if<ws::Ping>(&next)) {
            control.send_control(ws::control_frame(ws::Opcode::pong, ping->payload).view());
            return Taken::of(Taken::Kind::control, used);
        }
        if (std::holds_alternative<ws::Pong>(next)) return Taken::of(Taken::Kind::control, used);
        if (const auto* close = std::get_if<ws::Close>(&next)) {
            const std::uint16_t code =
                close->code == ws::close_code::no_status ? ws::close_code::normal : close->code;
            send_close(control, close_sent_, code);
            return Taken::of(Taken::Kind::closed, used);
        }
        if (const auto* fault = std::get_if<ws::Fault>(&next)) {
            return Taken::broken("WebSocket: " + std::string(fault->reason), fault->code);
        }
        // A close frame ends the stream: the bytes after it are taken unread.
        return Taken::need_more(used, {});
    }

private:
    ws::Reader reader_;
    CloseSent& close_sent_;
};

class WebSocketTransport final : public Transport {
public:
    std::unique_ptr<FrameReader> reader() const override {
        return std::make_unique<WebSocketReader>(close_sent_);
    }

    Seal seal(std::size_t size) const override {
        Seal seal;
        seal.size = static_cast<std::uint8_t>(
            ws::write_header(ws::Opcode::binary, size, std::span<std::uint8_t, 10>(seal.bytes)));
        return seal;
    }

    // A browser answers a ping even while its page's script is busy; a
    // phone whose screen locked, or that left the network, does not.
    bool asks_for_life() const override { return true; }
    void ask_for_life(ControlSink& control) const override {
        if (!close_sent_.load()) control.send_control(ws::control_frame(ws::Opcode::ping, {}).view());
    }

    void goodbye(ControlSink& control, Goodbye why, std::uint16_t code) const override {
        switch (why) {
            case Goodbye::normal: code = ws::close_code::normal; break;
            case Goodbye::going_away: code = ws::close_code::going_away; break;
            case Goodbye::failed_frame:
                if (code == 0) code = ws::close_code::invalid_payload;
                break;
            case Goodbye::failed_action: code = ws::close_code::internal_error; break;
        }
        send_close(control, close_sent_, code);
    }

private:
    mutable CloseSent close_sent_{false};
};

}  // namespace

std::shared_ptr<const Transport> websocket_transport() {
    return std::make_shared<const WebSocketTransport>();
}

}  // namespace vantu
