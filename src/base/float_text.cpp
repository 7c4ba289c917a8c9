// Shortest round-trip digits, unfolded into positional notation.
#include "base/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <string_view>

#include "base/texts.hpp"

namespace vantu {
namespace {

// Positional notation from significant digits d1d2d3... whose decimal point
// sits `point` digits from the left (negative: zeros before the digits).
std::string positional(std::string_view digits, int point) {
    std::string out;
    if (point <= 0) {
        out = "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out = digits;
        out.append(static_cast<std::size_t>(point) - digits.size(), '0');
        out += ".0";
    } else {
        out = digits.substr(0, static_cast<std::size_t>(point));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(point));
    }
    return out;
}

}  // namespace

std::string float_text(double value) {
    namespace t = texts::decode;
    if (std::isnan(value)) return std::string(t::nan);
    if (std::isinf(value)) {
        std::string text = value < 0 ? "-" : "";
        return text += t::infinity;
    }
    // The scientific form carries the shortest round-trip digits; only the
    // exponent has to be unfolded by hand.
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                   std::chars_format::scientific).ptr;
    const std::string_view sci(buf, static_cast<std::size_t>(end - buf));
    const std::size_t e = sci.find('e');
    std::string digits(1, sci.front());
    if (e > 2) digits += sci.substr(2, e - 2);
    // from_chars takes a minus sign but not a plus sign.
    const std::size_t exp_start = sci[e + 1] == '+' ? e + 2 : e + 1;
    int exponent = 0;
    std::from_chars(sci.data() + exp_start, end, exponent);
    std::string text = std::signbit(value) ? "-" : "";
    text += positional(digits, exponent + 1);
    return text;
}

}  // namespace vantu
