// The registration table: every class with natives and its methods, in
// registration order, built from the one list in native_methods.inc.
#pragma once

#include <cstddef>

struct NativeMethodEntry {
    const char* className;  // simple name inside the natives package
    const char* method;
    const char* signature;
};

extern const NativeMethodEntry kNativeMethods[];
extern const std::size_t kNativeMethodCount;
