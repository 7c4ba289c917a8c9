// Floats as decode error texts write them.
#include "base/float_text.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>

namespace vantu {
namespace {

TEST(FloatText, ShortestRoundTripWithoutExponent) {
    const std::pair<double, std::string> cases[] = {
        {1.0, "1.0"},
        {0.5, "0.5"},
        {-2.25, "-2.25"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {double{0.1f}, "0.10000000149011612"},
        {0.1, "0.1"},
        {1e300, "1" + std::string(300, '0') + ".0"},
        {1e-7, "0.0000001"},
        {1.5e-10, "0.00000000015"},
        {1e16, "10000000000000000.0"},
        {123456.789, "123456.789"},
        {-1234.5e10, "-12345000000000.0"},
        {5e-324, "0." + std::string(323, '0') + "5"},
        {std::numeric_limits<double>::max(), "17976931348623157" + std::string(292, '0') + ".0"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(float_text(value), text);
}

}  // namespace
}  // namespace vantu
