// UTF-8 validation, lossy decoding and code point walking.
#include "base/utf8.hpp"

#include "base/texts.hpp"

namespace vantu::utf8 {
namespace {

bool is_continuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The valid range of the byte after a lead byte: excludes overlong forms,
// surrogates and code points above U+10FFFF.
bool second_byte_ok(std::uint8_t lead, std::uint8_t second) {
    switch (lead) {
        case 0xE0: return second >= 0xA0 && second <= 0xBF;
        case 0xED: return second >= 0x80 && second <= 0x9F;
        case 0xF0: return second >= 0x90 && second <= 0xBF;
        case 0xF4: return second >= 0x80 && second <= 0x8F;
        default: return is_continuation(second);
    }
}

std::size_t sequence_width(std::uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Checks the sequence at `pos`: returns its width, or fills `fault`.
std::size_t check_sequence(std::span<const std::uint8_t> bytes, std::size_t pos,
                           Fault& fault) {
    const std::size_t width = sequence_width(bytes[pos]);
    fault = {pos, 1};
    if (width == 0) return 0;
    for (std::size_t i = 1; i < width; ++i) {
        if (pos + i >= bytes.size()) {
            fault.error_len = 0;
            return 0;
        }
        const bool ok = i == 1 ? second_byte_ok(bytes[pos], bytes[pos + 1])
                               : is_continuation(bytes[pos + i]);
        if (!ok) {
            fault.error_len = static_cast<std::uint8_t>(i);
            return 0;
        }
    }
    return width;
}

void append_replacement(std::string& out) { out += "\xEF\xBF\xBD"; }

}  // namespace

std::optional<Fault> validate(std::span<const std::uint8_t> bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (bytes[pos] < 0x80) {
            ++pos;
            continue;
        }
        Fault fault;
        const std::size_t width = check_sequence(bytes, pos, fault);
        if (width == 0) return fault;
        pos += width;
    }
    return std::nullopt;
}

std::string fault_text(const Fault& fault) {
    namespace t = texts::decode;
    const std::string at = std::to_string(fault.valid_up_to);
    if (fault.error_len == 0) return std::string(t::incomplete_sequence) + at;
    return std::string(t::bad_sequence) + std::to_string(fault.error_len) +
           std::string(t::bytes_from) + at;
}

std::string lossy(std::span<const std::uint8_t> bytes) {
    std::string out;
    while (!bytes.empty()) {
        const auto fault = validate(bytes);
        const std::size_t good = fault ? fault->valid_up_to : bytes.size();
        out.append(reinterpret_cast<const char*>(bytes.data()), good);
        if (!fault) break;
        append_replacement(out);
        // An incomplete sequence can only stand at the very end.
        const std::size_t bad = fault->error_len ? fault->error_len : bytes.size() - good;
        bytes = bytes.subspan(good + bad);
    }
    return out;
}

char32_t next_code_point(std::string_view text, std::size_t& pos) {
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()),
                                 text.size());
    if (bytes[pos] < 0x80) return bytes[pos++];
    Fault fault;
    const std::size_t width = check_sequence(bytes, pos, fault);
    if (width == 0) {
        ++pos;
        return U'\uFFFD';
    }
    char32_t cp = bytes[pos] & (0x7F >> width);
    for (std::size_t i = 1; i < width; ++i) cp = (cp << 6) | (bytes[pos + i] & 0x3F);
    pos += width;
    return cp;
}

}  // namespace vantu::utf8
