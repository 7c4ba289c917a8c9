// The text of a pending Python exception, as failure messages quote it.
#pragma once

#include <string>

#include "binding/pending_release.hpp"

namespace vantu::py {

// Takes the pending Python exception (clearing the indicator) and renders
// it as "QualifiedTypeName: str(exception)". Needs the interpreter lock.
std::string take_exception_text();

// The same, keeping the exception object and its traceback.
struct RaisedException {
    std::string text;
    DeferredRef value;
    DeferredRef traceback;
};
RaisedException take_exception();

}  // namespace vantu::py
