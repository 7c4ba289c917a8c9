// Writes a frame in a form chosen by fuzz input among all the forms the
// decoder accepts: positional, by name (text, binary or position keys, any
// order, unknown entries mixed in), binary records, every integer, float,
// length and string width that fits.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/frame.hpp"

namespace vantu::fuzz {

class FrameWriter {
public:
    FrameWriter(FuzzedDataProvider& in, std::vector<std::uint8_t>& out) : in_(in), out_(out) {}

    void frame(const Frame& f);

private:
    using Field = std::function<void()>;
    void record(std::span<const std::string_view> names, std::span<const Field> fields,
                std::optional<std::vector<std::uint8_t>> as_bytes = std::nullopt);
    template <class Row, class Record>
    void record_of(const Row& row, const Record& r);
    void value(bool v);
    void value(std::uint8_t v);
    void value(float v);
    void value(const Coord& v);
    void value(const WidgetRegistry& w);
    // Keys and variant indexes must be unsigned encodings; values may be signed.
    void uint(std::uint64_t v, bool allow_signed = true);
    void sint(std::int64_t v);
    void f32(float v);
    void text(std::string_view s, bool as_binary);
    void junk(int depth);
    void header(std::uint8_t fix, std::uint8_t fix_limit, std::uint8_t wide, std::size_t n);
    void be(std::uint64_t v, int width);
    bool coin() { return in_.ConsumeBool(); }

    FuzzedDataProvider& in_;
    std::vector<std::uint8_t>& out_;
};

inline void FrameWriter::be(std::uint64_t v, int width) {
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
        out_.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

// Array or map headers: fix form when it fits, then the 16 and 32-bit ones.
inline void FrameWriter::header(std::uint8_t fix, std::uint8_t fix_limit, std::uint8_t wide,
                                std::size_t n) {
    const int choice = in_.ConsumeIntegralInRange(n < fix_limit ? 0 : 1, 2);
    if (choice == 0) {
        out_.push_back(static_cast<std::uint8_t>(fix | n));
    } else {
        out_.push_back(static_cast<std::uint8_t>(wide + choice - 1));
        be(n, choice == 1 ? 2 : 4);
    }
}

inline void FrameWriter::uint(std::uint64_t v, bool allow_signed) {
    const int bits = v < 0x80 ? 0 : std::bit_width(v);
    const int width_min = bits <= 8 ? 0 : bits <= 16 ? 1 : bits <= 32 ? 2 : 3;
    const int choice = in_.ConsumeIntegralInRange(v < 0x80 ? -1 : width_min, 3);
    if (choice < 0) {
        out_.push_back(static_cast<std::uint8_t>(v));
    } else if (allow_signed && v <= INT64_MAX && coin()) {
        sint(static_cast<std::int64_t>(v));
    } else {
        out_.push_back(static_cast<std::uint8_t>(0xCC + choice));
        be(v, 1 << choice);
    }
}

inline void FrameWriter::sint(std::int64_t v) {
    const int min = v >= -128 && v <= 127 ? 0 : v >= -32768 && v <= 32767 ? 1
                  : v >= INT32_MIN && v <= INT32_MAX ? 2 : 3;
    const int choice = in_.ConsumeIntegralInRange(v >= -32 && v < 0 ? -1 : min, 3);
    if (choice < 0) {
        out_.push_back(static_cast<std::uint8_t>(v));
    } else {
        out_.push_back(static_cast<std::uint8_t>(0xD0 + choice));
        be(static_cast<std::uint64_t>(v), 1 << choice);
    }
}

inline void FrameWriter::f32(float v) {
    const bool negative_zero = v == 0 && std::signbit(v);
    const bool small_integer =
        std::trunc(v) == v && std::fabs(v) < 16777216.0f && !negative_zero;
    switch (in_.ConsumeIntegralInRange(0, small_integer ? 2 : 1)) {
        case 0:
            out_.push_back(0xCA);
            be(std::bit_cast<std::uint32_t>(v), 4);
            break;
        case 1:
            out_.push_back(0xCB);
            be(std::bit_cast<std::uint64_t>(double{v}), 8);
            break;
        default:
            if (v >= 0) uint(static_cast<std::uint64_t>(v));
            else sint(static_cast<std::int64_t>(v));
    }
}

inline void FrameWriter::text(std::string_view s, bool as_binary) {
    const std::uint8_t wide = as_binary ? 0xC4 : 0xD9;
    const int choice = in_.ConsumeIntegralInRange(as_binary || s.size() >= 32 ? 1 : 0, 3);
    if (choice == 0) {
        out_.push_back(static_cast<std::uint8_t>(0xA0 | s.size()));
    } else {
        out_.push_back(static_cast<std::uint8_t>(wide + choice - 1));
        be(s.size(), 1 << (choice - 1));
    }
    out_.insert(out_.end(), s.begin(), s.end());
}

// The value of an unknown map entry, which the decoder must skip whole.
inline void FrameWriter::junk(int depth) {
    switch (in_.ConsumeIntegralInRange(0, depth > 0 ? 8 : 6)) {
        case 0: out_.push_back(in_.ConsumeBool() ? 0xC0 : 0xC3); break;
        case 1: uint(in_.ConsumeIntegral<std::uint64_t>()); break;
        case 2: sint(in_.ConsumeIntegral<std::int64_t>()); break;
        case 3: f32(std::bit_cast<float>(in_.ConsumeIntegral<std::uint32_t>())); break;
        case 4: text(in_.ConsumeRandomLengthString(40), coin()); break;
        case 5: {
            const std::string data = in_.ConsumeRandomLengthString(20);
            out_.push_back(0xC7);
            out_.push_back(static_cast<std::uint8_t>(data.size()));
            out_.push_back(in_.ConsumeIntegral<std::uint8_t>());
            out_.insert(out_.end(), data.begin(), data.end());
            break;
        }
        case 6: out_.push_back(0xD4); be(in_.ConsumeIntegral<std::uint16_t>(), 2); break;
        default: {
            const bool map = coin();
            const std::size_t n = in_.ConsumeIntegralInRange(0, 3);
            header(map ? 0x80 : 0x90, 16, map ? 0xDE : 0xDC, n);
            for (std::size_t i = 0; i < (map ? 2 * n : n); ++i) junk(depth - 1);
        }
    }
}

inline void FrameWriter::record(std::span<const std::string_view> names,
                                std::span<const Field> fields,
                                std::optional<std::vector<std::uint8_t>> as_bytes) {
    const int form = in_.ConsumeIntegralInRange(0, as_bytes ? 2 : 1);
    if (form == 2) {
        const std::string extra = in_.ConsumeRandomLengthString(4);
        as_bytes->insert(as_bytes->end(), extra.begin(), extra.end());
        text({reinterpret_cast<const char*>(as_bytes->data()), as_bytes->size()}, true);
    } else if (form == 0) {
        header(0x90, 16, 0xDC, fields.size());
        for (const Field& field : fields) field();
    } else {
        const std::size_t unknown = in_.ConsumeIntegralInRange(0, 2);
        const bool reversed = coin();
        header(0x80, 16, 0xDE, fields.size() + unknown);
        for (std::size_t k = 0; k < fields.size() + unknown; ++k) {
            if (k >= fields.size()) {
                if (coin()) uint(names.size() + in_.ConsumeIntegral<std::uint8_t>(), false);
                else text("unknown", coin());
                junk(2);
                continue;
            }
            const std::size_t i = reversed ? fields.size() - 1 - k : k;
            if (coin()) uint(i, false);
            else text(names[i], coin());
            fields[i]();
        }
    }
}

// The byte a binary record may give for a field, where there is one.
inline std::optional<std::uint8_t> as_byte(bool) { return std::nullopt; }
inline std::optional<std::uint8_t> as_byte(std::uint8_t v) { return v; }
inline std::optional<std::uint8_t> as_byte(float v) {
    if (!(v >= 0 && v <= 255 && std::trunc(v) == v) || std::signbit(v)) return std::nullopt;
    return static_cast<std::uint8_t>(v);
}
inline std::optional<std::uint8_t> as_byte(const Coord&) { return std::nullopt; }
inline std::optional<std::uint8_t> as_byte(const WidgetRegistry&) { return std::nullopt; }

inline void FrameWriter::value(bool v) { out_.push_back(v ? 0xC3 : 0xC2); }
inline void FrameWriter::value(std::uint8_t v) { uint(v); }
inline void FrameWriter::value(float v) { f32(v); }
inline void FrameWriter::value(const Coord& v) { record_of(coord_row, v); }

// Any record from its row: its fields, and a binary form when every field
// can be a byte.
template <class Row, class Record>
void FrameWriter::record_of(const Row& row, const Record& r) {
    const auto names = field_names(row);
    std::vector<Field> fields;
    std::optional<std::vector<std::uint8_t>> bytes = std::vector<std::uint8_t>{};
    for_each_field(row, [&](const auto& f) {
        const auto& member = r.*(f.member);
        fields.push_back([this, &member] { value(member); });
        const std::optional<std::uint8_t> byte = as_byte(member);
        if (byte && bytes) bytes->push_back(*byte);
        else bytes.reset();
    });
    record(names, fields, bytes);
}

inline void FrameWriter::value(const WidgetRegistry& w) {
    header(0x80, 16, 0xDE, 1);
    if (coin()) uint(w.tag(), false);
    else text(w.name(), coin());
    with_widget_tag(w.tag(), [&](auto tag) { record_of(widget_kind<tag()>, std::get<tag()>(w.value)); });
}

inline void FrameWriter::frame(const Frame& f) { record_of(frame_row, f); }

}  // namespace vantu::fuzz
