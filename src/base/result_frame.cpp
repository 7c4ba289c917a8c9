// The encoding of result frames: [id, status name, {variant name: [field]}],
// every scalar in its shortest MessagePack form. The size is known up front,
// so the bytes are written in one pass into exactly the room they need.
#include "base/result_frame.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace vantu {
namespace {

// A short, fixed run of encoded bytes, built at compile time.
struct Fragment {
    std::array<std::uint8_t, 16> bytes{};
    std::size_t size = 0;

    constexpr Fragment& add(std::uint8_t byte) {
        bytes[size++] = byte;
        return *this;
    }
    constexpr Fragment& add_fixstr(std::string_view text) {
        add(static_cast<std::uint8_t>(0xA0 | text.size()));
        for (const char c : text) add(static_cast<std::uint8_t>(c));
        return *this;
    }
};

// Each status name as a string.
constexpr auto status_fragments = [] {
    std::array<Fragment, server_status_names.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i].add_fixstr(server_status_names[i]);
    return out;
}();

// Each payload up to its one field: a map of one entry from the variant
// name to an array of one element.
constexpr auto payload_fragments = [] {
    std::array<Fragment, result_names.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i].add(0x81).add_fixstr(result_names[i]).add(0x91);
    }
    return out;
}();

std::size_t str_header_size(std::size_t size) {
    if (size < 32) return 1;
    if (size <= 0xFF) return 2;
    if (size <= 0xFFFF) return 3;
    if (std::uint64_t{size} <= std::numeric_limits<std::uint32_t>::max()) return 5;
    // A cut length field would make the client misread everything after.
    throw Fatal(std::string(texts::serialization_failed) + "a string of " + std::to_string(size) +
                " bytes exceeds the MessagePack limit of 4294967295");
}

std::uint8_t* put(std::uint8_t* out, const Fragment& fragment) {
    std::memcpy(out, fragment.bytes.data(), fragment.size);
    return out + fragment.size;
}

std::uint8_t* put_be(std::uint8_t* out, std::size_t value, int width) {
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
        *out++ = static_cast<std::uint8_t>(value >> shift);
    }
    return out;
}

std::uint8_t* put_str(std::uint8_t* out, std::string_view text) {
    const std::size_t size = text.size();
    switch (str_header_size(size)) {
        case 1: *out++ = static_cast<std::uint8_t>(0xA0 | size); break;
        case 2: *out++ = 0xD9; out = put_be(out, size, 1); break;
        case 3: *out++ = 0xDA; out = put_be(out, size, 2); break;
        default: *out++ = 0xDB; out = put_be(out, size, 4); break;
    }
    if (size > 0) std::memcpy(out, text.data(), size);
    return out + size;
}

const Fragment& status_fragment(const ResultFrame& frame) {
    return status_fragments[static_cast<std::size_t>(frame.status)];
}

std::size_t encoded_size(const ResultFrame& frame) {
    std::size_t size = 1 + (frame.id < 0x80 ? 1 : 2) + status_fragment(frame).size +
                       payload_fragments[frame.data.index()].size;
    if (const auto* error = std::get_if<result::ErrorResult>(&frame.data)) {
        return size + str_header_size(error->error.size()) + error->error.size();
    }
    return size + 1;
}

void write(const ResultFrame& frame, std::uint8_t* out) {
    *out++ = 0x93;
    if (frame.id >= 0x80) *out++ = 0xCC;
    *out++ = frame.id;
    out = put(out, status_fragment(frame));
    out = put(out, payload_fragments[frame.data.index()]);
    if (const auto* confirm = std::get_if<result::ConfirmResult>(&frame.data)) {
        *out = confirm->status ? 0xC3 : 0xC2;
    } else {
        put_str(out, std::get<result::ErrorResult>(frame.data).error);
    }
}

}  // namespace

void ResultFrame::encode(ByteSink& out) const {
    write(*this, out.extend(encoded_size(*this)).data());
}

}  // namespace vantu
