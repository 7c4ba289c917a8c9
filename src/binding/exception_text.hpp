#pragma once

#include <string>

namespace vantu::py {

// Takes the pending Python exception (clearing the indicator) and renders
// it as "QualifiedTypeName: str(exception)". Needs the interpreter lock.
std::string take_exception_text();

}  // namespace vantu::py
