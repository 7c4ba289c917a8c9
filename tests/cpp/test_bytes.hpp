// Building wire bytes in tests: hex text, MessagePack strings and
// concatenation, and a readable rendering of decoded frames.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/frame.hpp"

namespace vantu::test {

using Bytes = std::vector<std::uint8_t>;

// "92 03 C3" -> {0x92, 0x03, 0xC3}; spaces are ignored.
Bytes hex(std::string_view text);

// The raw bytes of `text`, no header.
Bytes raw(std::string_view text);

// `text` as a MessagePack string in its shortest form.
Bytes str(std::string_view text);

Bytes operator+(Bytes a, const Bytes& b);

// Bytes as spaced upper-case hex, for readable failure messages.
std::string to_hex(std::span<const std::uint8_t> bytes);

// "3 ToggleButton{true}", "7 Joystick{0.5,-1,0.75}".
std::string describe(const Frame& frame);

// The decoded frame rendered by describe(), or the error text.
std::string parse_text(const Bytes& bytes);

// The kinds of the table as an unknown variant's text lists them:
// "`ClickButton`, `ToggleButton`, ...".
std::string widget_list();

}  // namespace vantu::test
