#include "natives/native_table.h"

const NativeMethodEntry kNativeMethods[] = {
#include "natives/native_table_entries.inc"
};

const std::size_t kNativeMethodCount = sizeof kNativeMethods / sizeof kNativeMethods[0];
