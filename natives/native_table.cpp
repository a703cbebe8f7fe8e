#include "natives/native_table.h"

const NativeMethodEntry kNativeMethods[] = {
#define NATIVE_CLASS(cls)
#define NATIVE_METHOD(cls, method, signature) {#cls, #method, signature},
#include "natives/native_methods.inc"
#undef NATIVE_CLASS
#undef NATIVE_METHOD
};

const std::size_t kNativeMethodCount = sizeof kNativeMethods / sizeof kNativeMethods[0];
