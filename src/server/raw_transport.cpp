// Frames read straight off the stream: one read may hold several, and one
// may span reads.
#include "server/raw_transport.hpp"

#include <string>
#include <variant>

namespace vantu {
namespace {

class RawReader final : public FrameReader {
public:
    Taken take(std::span<std::uint8_t> bytes, ControlSink&) override {
        auto result = Frame::parse_stream(bytes);
        if (auto* decoded = std::get_if<Decoded>(&result)) {
            return Taken::decoded(decoded->frame, decoded->used);
        }
        if (auto* error = std::get_if<DecodeError>(&result)) {
            return Taken::broken(std::move(error->text));
        }
        if (bytes.size() > raw_max_pending) {
            return Taken::broken("Frame too large: more than " + std::to_string(raw_max_pending) +
                                 " bytes received without a complete frame");
        }
        // Nothing pending may end cleanly; a partial frame fails with its text.
        return Taken::need_more(0, bytes.empty() ? std::string_view()
                                                 : std::get<Incomplete>(result).text);
    }
};

class RawTransport final : public Transport {
public:
    std::unique_ptr<FrameReader> reader() const override { return std::make_unique<RawReader>(); }
    Seal seal(std::size_t) const override { return {}; }
};

}  // namespace

std::shared_ptr<const Transport> raw_transport() {
    static const auto transport = std::make_shared<const RawTransport>();
    return transport;
}

}  // namespace vantu
