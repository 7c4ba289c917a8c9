// The ways a frame decode can fail, each with the exact text clients and logs
// see. The decoder throws Failure internally; its entry points catch it and
// return the DecodeError, so no exception leaves the codec. Running out of
// bytes is no Failure: the reader keeps it (see msgpack::Reader::ran_out).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/frame.hpp"
#include "base/utf8.hpp"

namespace vantu::decode {

struct Failure {
    DecodeError error;
};

[[noreturn]] void fail_type_mismatch(std::uint8_t marker);
[[noreturn]] void fail_length_mismatch(std::uint64_t expected);
[[noreturn]] void fail_depth();
[[noreturn]] void fail_utf8(const utf8::Fault& fault);

[[noreturn]] void fail_invalid_type(std::string_view found, std::string_view expected);
[[noreturn]] void fail_invalid_value(std::string_view found, std::string_view expected);
[[noreturn]] void fail_invalid_length(std::size_t count, std::string_view length_text);
[[noreturn]] void fail_missing_field(std::string_view field);
[[noreturn]] void fail_duplicate_field(std::string_view field);
[[noreturn]] void fail_unknown_variant(std::string_view name);

// What a record is called in the texts: "struct Frame", or "struct variant
// WidgetRegistry::Joystick" for a widget's field list; and that with " with
// 2 elements" for a record that got too few.
std::string record_text(std::string_view name, bool variant);
std::string length_text(std::string_view name, bool variant, std::size_t fields);
// "variant index 0 <= i < 6".
std::string variant_index_text();

// Descriptions of an offending value, as the messages above quote them.
std::string found_integer(std::uint64_t value);
std::string found_integer(std::int64_t value);
std::string found_float(double value);
std::string found_bool(bool value);
// `text` must be valid UTF-8.
std::string found_string(std::span<const std::uint8_t> text);

}  // namespace vantu::decode
