// SHA-1 over a buffer held whole in memory: the whole blocks straight from
// the input, then the tail and its padding from a two-block scratch area.
#include "base/sha1.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>

namespace vantu {
namespace {

constexpr std::size_t block_size = 64;
using State = std::array<std::uint32_t, 5>;

constexpr State initial_state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

std::uint32_t load_be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The round function and constant of each group of twenty rounds.
std::uint32_t mix(std::size_t round, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    if (round < 20) return ((b & c) | (~b & d)) + 0x5A827999;
    if (round < 40) return (b ^ c ^ d) + 0x6ED9EBA1;
    if (round < 60) return ((b & c) | (b & d) | (c & d)) + 0x8F1BBCDC;
    return (b ^ c ^ d) + 0xCA62C1D6;
}

void compress(State& h, const std::uint8_t* block) {
    std::array<std::uint32_t, 80> w;
    for (std::size_t i = 0; i < 16; ++i) w[i] = load_be32(block + 4 * i);
    for (std::size_t i = 16; i < 80; ++i) {
        w[i] = std::rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    }
    auto [a, b, c, d, e] = h;
    for (std::size_t i = 0; i < 80; ++i) {
        const std::uint32_t next = std::rotl(a, 5) + mix(i, b, c, d) + e + w[i];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

// The last partial block, the 0x80 marker and the message length in bits:
// one block, or two when the length does not fit behind the marker.
void compress_tail(State& h, std::span<const std::uint8_t> tail, std::uint64_t total) {
    std::array<std::uint8_t, 2 * block_size> last{};
    std::copy(tail.begin(), tail.end(), last.begin());
    last[tail.size()] = 0x80;
    const std::size_t size = tail.size() + 9 <= block_size ? block_size : 2 * block_size;
    const std::uint64_t bits = total * 8;
    for (std::size_t i = 0; i < 8; ++i) {
        last[size - 1 - i] = static_cast<std::uint8_t>(bits >> 8 * i);
    }
    for (std::size_t offset = 0; offset < size; offset += block_size) {
        compress(h, last.data() + offset);
    }
}

}  // namespace

std::array<std::uint8_t, 20> sha1(std::span<const std::uint8_t> bytes) {
    State h = initial_state;
    const std::size_t whole = bytes.size() - bytes.size() % block_size;
    for (std::size_t offset = 0; offset < whole; offset += block_size) {
        compress(h, bytes.data() + offset);
    }
    compress_tail(h, bytes.subspan(whole), bytes.size());
    std::array<std::uint8_t, 20> digest;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    }
    return digest;
}

}  // namespace vantu
