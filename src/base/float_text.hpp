// Floats as they appear in decode error texts: the fewest significant digits
// that read back to the same double, never an exponent, and always a decimal
// point for finite values ("1.0", "0.0000001", "-2.25", "inf", "NaN").
#pragma once

#include <string>

namespace vantu {

std::string float_text(double value);

}  // namespace vantu
