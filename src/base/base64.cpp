// Base64: each three bytes become four characters; a last group of one or
// two bytes is padded with '='.
#include "base/base64.hpp"

#include <cstddef>

namespace vantu {

std::string base64_encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const std::uint32_t group = std::uint32_t{bytes[i]} << 16 |
                                    (left > 1 ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                    (left > 2 ? bytes[i + 2] : 0);
        out += base64_alphabet[group >> 18];
        out += base64_alphabet[group >> 12 & 0x3F];
        out += left > 1 ? base64_alphabet[group >> 6 & 0x3F] : '=';
        out += left > 2 ? base64_alphabet[group & 0x3F] : '=';
    }
    return out;
}

}  // namespace vantu
