// SHA-1, base64 and the WebSocket handshake values built from them.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "base/base64.hpp"
#include "base/sha1.hpp"
#include "base/websocket_handshake.hpp"
#include "test_bytes.hpp"

namespace vantu::test {
namespace {

using namespace std::literals;

std::string repeat(std::string_view text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

// Bytes whose tail fills the last block to each side of the padding's edge.
Bytes counting(std::size_t size) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i * 7);
    return out;
}

TEST(Sha1, Rfc3174Vectors) {
    const std::pair<std::string, std::string_view> cases[] = {
        {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
        {repeat("0123456701234567012345670123456701234567012345670123456701234567", 10),
         "DEA356A2CDDD90C7A7ECEDC5EBB563934F460452"},
    };
    for (const auto& [text, digest] : cases) {
        EXPECT_EQ(to_hex(sha1(raw(text))), to_hex(hex(digest))) << text.substr(0, 20);
    }
}

TEST(Sha1, TailsAroundTheBlockEdge) {
    const std::pair<std::size_t, std::string_view> cases[] = {
        {0, "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {55, "AECD1643C9903B9BAE8CB94F53C50F8A4E18605B"},
        {63, "4952F0FE097E4D6410AE9EAB4855AA836CAF3BFF"},
        {65, "AC44F5DBE3E9B5D2733FC9537FCAD715C3C20BC3"},
    };
    for (const auto& [size, digest] : cases) {
        EXPECT_EQ(to_hex(sha1(counting(size))), to_hex(hex(digest))) << size;
    }
}

TEST(Base64, Rfc4648Examples) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [text, encoded] : cases) EXPECT_EQ(base64_encode(raw(text)), encoded);
    EXPECT_EQ(base64_encode(hex("FB FF BF")), "+/+/");
}

// The example handshake of RFC 6455, section 1.3.
TEST(Handshake, AcceptKey) {
    EXPECT_EQ(ws::accept_key("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(Handshake, ValidKey) {
    const std::pair<std::string_view, bool> cases[] = {
        {"dGhlIHNhbXBsZSBub25jZQ==", true},
        {"AAAAAAAAAAAAAAAAAAAAAA==", true},
        {"+/+/+/+/+/+/+/+/+/+/+w==", true},
        {"dGhlIHNhbXBsZSBub25jZR==", false},   // unused bits set
        {"dGhlIHNhbXBsZSBub25jZQ=", false},
        {"dGhlIHNhbXBsZSBub25jZQ===", false},
        {"dGhlIHNhbXBsZSBub25jZQAA", false},
        {"dGhlIHNhbXBsZSBub25j-Q==", false},
        {"dGhlIHNhbXBsZSBub25jZ===", false},
        {"dGhlIHNhbXBsZSBub25jZQ\0="sv, false},
        {"", false},
    };
    for (const auto& [key, valid] : cases) EXPECT_EQ(ws::valid_key(key), valid) << key;
}

}  // namespace
}  // namespace vantu::test
