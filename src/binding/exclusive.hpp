// Exclusive access to an object for the length of one call. The methods that
// block (accept(), wait(), callback()) hand the object back for their wait,
// so that other threads may call it meanwhile; otherwise only re-entry (say,
// an __index__ that calls back into the same object) finds it in use.
#pragma once

#include <string>

#include "base/error.hpp"

namespace vantu::py {

template <class T>
struct Exclusive {
    T value;
    bool busy = false;
};

template <class T>
class ExclusiveAccess {
public:
    explicit ExclusiveAccess(Exclusive<T>& cell) : cell_(cell) {
        if (cell_.busy) throw Error(std::string(texts::already_borrowed));
        cell_.busy = true;
    }
    ~ExclusiveAccess() { cell_.busy = false; }
    ExclusiveAccess(const ExclusiveAccess&) = delete;
    ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;

    T* operator->() { return &cell_.value; }
    T& operator*() { return cell_.value; }

private:
    Exclusive<T>& cell_;
};

}  // namespace vantu::py
