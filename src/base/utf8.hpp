// UTF-8 validation and decoding with the error positions that the decoder
// reports to clients ("invalid utf-8 sequence of 2 bytes from index 5").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantu::utf8 {

// Where validation stopped. `error_len` is the length of the maximal
// invalid prefix (1 to 3), or 0 when the text ended inside a sequence that
// was valid so far.
struct Fault {
    std::size_t valid_up_to = 0;
    std::uint8_t error_len = 0;
};

std::optional<Fault> validate(std::span<const std::uint8_t> bytes);

// "invalid utf-8 sequence of N bytes from index I" or
// "incomplete utf-8 byte sequence from index I".
std::string fault_text(const Fault& fault);

// The bytes as text, each maximal invalid sequence replaced by U+FFFD.
std::string lossy(std::span<const std::uint8_t> bytes);

// Decodes the code point starting at `pos` and advances `pos` past it. An
// invalid byte decodes alone to U+FFFD, so the walk always makes progress.
char32_t next_code_point(std::string_view text, std::size_t& pos);

}  // namespace vantu::utf8
