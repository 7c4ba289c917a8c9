// Feeding a WebSocket stream to a Reader the way the server does, in
// chunks, and the events it reports in a comparable form. Every event is
// checked as it comes: `used` within the bytes given, spans within them
// (or, for a reassembled message, within the message limit).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "base/websocket_reader.hpp"
#include "frame_compare.hpp"

namespace vantu::fuzz {

struct Event {
    std::size_t kind = 0;  // the index in ws::Next
    std::uint16_t code = 0;
    std::vector<std::uint8_t> bytes;

    bool operator==(const Event&) const = default;
};

inline bool inside(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole) {
    const auto begin = reinterpret_cast<std::uintptr_t>(whole.data());
    const auto at = reinterpret_cast<std::uintptr_t>(part.data());
    return part.empty() || (at >= begin && at + part.size() <= begin + whole.size());
}

// The event as data, copied byte by byte (so that a bad span is a
// sanitizer report), after checking where its span lies.
inline Event event_of(const ws::Next& next, std::span<const std::uint8_t> given) {
    Event event{next.index(), 0, {}};
    std::span<const std::uint8_t> bytes;
    if (const auto* message = std::get_if<ws::Message>(&next)) {
        bytes = message->payload;
        check(bytes.size() <= ws::max_message);
    } else if (const auto* ping = std::get_if<ws::Ping>(&next)) {
        bytes = ping->payload;
        check(inside(bytes, given) && bytes.size() <= ws::max_control_payload);
    } else if (const auto* close = std::get_if<ws::Close>(&next)) {
        bytes = close->reason;
        event.code = close->code;
        check(inside(bytes, given) && bytes.size() <= ws::max_control_payload - 2);
    } else if (const auto* fault = std::get_if<ws::Fault>(&next)) {
        event.code = fault->code;
    }
    event.bytes.assign(bytes.begin(), bytes.end());
    return event;
}

// Calls next() until NeedMore, dropping the bytes used; false after a Fault.
inline bool drain(ws::Reader& reader, std::vector<std::uint8_t>& buffer,
                  std::vector<Event>& events) {
    for (;;) {
        std::size_t used = 0;
        const ws::Next next = reader.next(buffer, used);
        check(used <= buffer.size());
        if (!std::holds_alternative<ws::NeedMore>(next)) events.push_back(event_of(next, buffer));
        if (std::holds_alternative<ws::Fault>(next)) return false;
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(used));
        if (std::holds_alternative<ws::NeedMore>(next)) return true;
    }
}

// The events of `stream` cut into chunks of the sizes `next_chunk()` gives
// (each at least 1), up to the first Fault.
template <class NextChunk>
std::vector<Event> feed(std::span<const std::uint8_t> stream, NextChunk next_chunk) {
    ws::Reader reader;
    std::vector<std::uint8_t> buffer;
    std::vector<Event> events;
    for (std::size_t offset = 0; offset < stream.size();) {
        const std::size_t chunk = std::min(next_chunk(), stream.size() - offset);
        buffer.insert(buffer.end(), stream.begin() + static_cast<long>(offset),
                      stream.begin() + static_cast<long>(offset + chunk));
        offset += chunk;
        if (!drain(reader, buffer, events)) break;
    }
    return events;
}

}  // namespace vantu::fuzz
