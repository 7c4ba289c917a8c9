#include "base/decode_failure.hpp"

#include <cstdio>

#include "base/float_text.hpp"
#include "base/msgpack_marker.hpp"

namespace vantu::decode {
namespace {

[[noreturn]] void fail(std::string text, bool truncated = false) {
    throw Failure{DecodeError{std::move(text), truncated}};
}

bool is_control(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp < 0xA0); }

// The text in double quotes, with backslash escapes for quotes, backslashes
// and control characters, so that a hostile string cannot forge log lines.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const char32_t cp = utf8::next_code_point(text, pos);
        switch (cp) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (is_control(cp)) {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
                    out += buf;
                } else {
                    out.append(text.substr(start, pos - start));
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace

void fail_marker_eof() {
    fail("IO error while reading marker: failed to fill whole buffer", true);
}
void fail_data_eof() { fail("IO error while reading data: failed to fill whole buffer", true); }
void fail_payload_eof() { fail("IO error while reading data: unexpected end of file", true); }

void fail_type_mismatch(std::uint8_t marker) {
    fail("wrong msgpack marker " + msgpack::marker_name(marker));
}

void fail_length_mismatch(std::uint64_t expected) {
    fail("array had incorrect length, expected " + std::to_string(expected));
}

void fail_depth() { fail("depth limit exceeded"); }

void fail_utf8(const utf8::Fault& fault) {
    fail("string found to be invalid utf8: " + utf8::fault_text(fault));
}

void fail_invalid_type(std::string_view found, std::string_view expected) {
    fail("invalid type: " + std::string(found) + ", expected " + std::string(expected));
}

void fail_invalid_value(std::string_view found, std::string_view expected) {
    fail("invalid value: " + std::string(found) + ", expected " + std::string(expected));
}

void fail_invalid_length(std::size_t count, std::string_view length_text) {
    fail("invalid length " + std::to_string(count) + ", expected " + std::string(length_text));
}

void fail_missing_field(std::string_view field) {
    fail("missing field `" + std::string(field) + "`");
}

void fail_duplicate_field(std::string_view field) {
    fail("duplicate field `" + std::string(field) + "`");
}

void fail_unknown_variant(std::string_view name) {
    std::string text = "unknown variant `" + std::string(name) + "`, expected one of ";
    for (std::size_t i = 0; i < widget_names.size(); ++i) {
        if (i > 0) text += ", ";
        text += '`';
        text += widget_names[i];
        text += '`';
    }
    fail(std::move(text));
}

std::string found_integer(std::uint64_t value) {
    return "integer `" + std::to_string(value) + "`";
}

std::string found_integer(std::int64_t value) {
    return "integer `" + std::to_string(value) + "`";
}

std::string found_float(double value) { return "floating point `" + float_text(value) + "`"; }

std::string found_bool(bool value) {
    return value ? "boolean `true`" : "boolean `false`";
}

std::string found_string(std::span<const std::uint8_t> text) {
    return "string " + quoted({reinterpret_cast<const char*>(text.data()), text.size()});
}

}  // namespace vantu::decode
