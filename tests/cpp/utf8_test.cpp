// UTF-8 validation and its error positions.
#include "base/utf8.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace vantu {
namespace {

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Utf8, FaultPositionAndLength) {
    const std::pair<std::string_view, std::string> cases[] = {
        {"\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"ab\xC3\x28", "invalid utf-8 sequence of 1 bytes from index 2"},
        {"\xC0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xC1\xBF", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xE0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xF0\x80\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xF5\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xFF", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"x\xE2\x82\x28", "invalid utf-8 sequence of 2 bytes from index 1"},
        {"\xF0\x9F\x28", "invalid utf-8 sequence of 2 bytes from index 0"},
        {"\xF0\x9F\x98\x28", "invalid utf-8 sequence of 3 bytes from index 0"},
        {"\xC3", "incomplete utf-8 byte sequence from index 0"},
        {"ok\xE2\x82", "incomplete utf-8 byte sequence from index 2"},
        {"\xF0\x9F\x98", "incomplete utf-8 byte sequence from index 0"},
        {"\xC3\xA9\xF4\x8F\xBF", "incomplete utf-8 byte sequence from index 2"},
    };
    for (const auto& [text, message] : cases) {
        const auto fault = utf8::validate(bytes_of(text));
        ASSERT_TRUE(fault.has_value()) << message;
        EXPECT_EQ(utf8::fault_text(*fault), message);
    }
}

TEST(Utf8, AcceptsValidText) {
    for (std::string_view text : {"", "ascii", "\u00e9\u20ac\U0001F600", "\xF4\x8F\xBF\xBF",
                                  "\xED\x9F\xBF", "\xEE\x80\x80"}) {
        EXPECT_FALSE(utf8::validate(bytes_of(text)).has_value()) << text;
    }
}

TEST(Utf8, LossyReplacesEachMaximalInvalidSequence) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"A\xFF" "B", "A\uFFFDB"},
        {"\xF0\x9F\x98(", "\uFFFD("},
        {"\xE2\x82", "\uFFFD"},
        {"\xC0\x80", "\uFFFD\uFFFD"},
        {"ok\u00e9", "ok\u00e9"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(utf8::lossy(bytes_of(text)), expected);
}

}  // namespace
}  // namespace vantu
