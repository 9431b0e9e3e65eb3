// A stand-in for libkvprm: a library of the same name (libkvprm.so.1) whose
// seven functions record how they were called and return a result the test
// chose. prm_forwarding_test is linked so that the loader takes it in place of
// the real library (tests/prm/CMakeLists.txt).
#pragma once

#include <string>
#include <vector>

#include "kvprtobj/kvprm.h"

namespace standin {

struct Call {
    std::string function;
    const KVPrtObj* printer = nullptr;   // null for the parse functions, which get no object
    std::vector<long long> values;       // the scalar arguments, in order
    std::vector<const void*> pointers;   // the pointer arguments, in order
    const CString* text = nullptr;       // where the string argument stood
    CString textValue;                   // its value on entry
};

// The calls so far; clear() to start again.
KVPO_API std::vector<Call>& calls();
// What the next calls return (the parse functions take it as int).
KVPO_API void setResult(long result);

}  // namespace standin
