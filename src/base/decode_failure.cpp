// The decoder's failure texts, assembled from their frozen pieces.
#include "base/decode_failure.hpp"

#include <cstdio>
#include <initializer_list>
#include <utility>

#include "base/float_text.hpp"
#include "base/msgpack_marker.hpp"
#include "base/texts.hpp"
#include "base/widget_kinds.hpp"

namespace vantu::decode {
namespace {

namespace t = texts::decode;

std::string join(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view part : parts) out += part;
    return out;
}

[[noreturn]] void fail(std::string text) { throw Failure{DecodeError{std::move(text)}}; }

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

void fail_type_mismatch(std::uint8_t marker) {
    fail(join({t::wrong_marker, msgpack::marker_name(marker)}));
}

void fail_length_mismatch(std::uint64_t expected) {
    fail(join({t::length_mismatch, std::to_string(expected)}));
}

void fail_depth() { fail(std::string(t::depth_exceeded)); }

void fail_utf8(const utf8::Fault& fault) { fail(join({t::invalid_utf8, utf8::fault_text(fault)})); }

void fail_invalid_type(std::string_view found, std::string_view expected) {
    fail(join({t::invalid_type, found, t::expected, expected}));
}

void fail_invalid_value(std::string_view found, std::string_view expected) {
    fail(join({t::invalid_value, found, t::expected, expected}));
}

void fail_invalid_length(std::size_t count, std::string_view length_text) {
    fail(join({t::invalid_length, std::to_string(count), t::expected, length_text}));
}

void fail_missing_field(std::string_view field) {
    fail(join({t::missing_field, field, t::backtick}));
}

void fail_duplicate_field(std::string_view field) {
    fail(join({t::duplicate_field, field, t::backtick}));
}

void fail_unknown_variant(std::string_view name) {
    std::string text = join({t::unknown_variant, name, t::one_of});
    for (std::size_t i = 0; i < widget_names.size(); ++i) {
        text += join({i > 0 ? ", `" : "`", widget_names[i], t::backtick});
    }
    fail(std::move(text));
}

std::string found_integer(std::uint64_t value) {
    return join({t::integer, std::to_string(value), t::backtick});
}

std::string found_integer(std::int64_t value) {
    return join({t::integer, std::to_string(value), t::backtick});
}

std::string found_float(double value) {
    return join({t::floating_point, float_text(value), t::backtick});
}

std::string found_bool(bool value) {
    return join({t::boolean, value ? "true" : "false", t::backtick});
}

std::string found_string(std::span<const std::uint8_t> text) {
    return join({t::string, quoted({reinterpret_cast<const char*>(text.data()), text.size()})});
}

std::string record_text(std::string_view name, bool variant) {
    return join({variant ? t::variant_record : t::record, name});
}

std::string length_text(std::string_view name, bool variant, std::size_t fields) {
    return join({record_text(name, variant), t::with, std::to_string(fields),
                 fields == 1 ? t::element : t::elements});
}

std::string variant_index_text() {
    return join({t::variant_index, std::to_string(widget_count)});
}

}  // namespace vantu::decode
