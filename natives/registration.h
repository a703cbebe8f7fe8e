// registerNatives, the one function the executable exports besides the
// natives themselves: the in-process start calls it once the VM exists.
#pragma once

#include <windows.h>

#include <jni.h>

// Where registration reports a failure: a wide printf-style format with at
// most one int argument (the launcher passes its error-line writer).
using NativeLog = void (*)(const wchar_t* format, ...);

// Binds every native to its Java class with RegisterNatives, class by class
// in table order, each function looked up in `module`'s export table by the
// name it is exported under.  1 when all classes were registered; 0 at the
// first class that failed, after one line through `log` ("could not load
// class ...", "did not find ...", "register ... failed %d").  Exported
// undecorated with the cdecl convention.
extern "C" unsigned char __cdecl registerNatives(JNIEnv* env, HMODULE module, NativeLog log);

// Its type, for a lookup by name with GetProcAddress.
using RegisterNativesFn = decltype(&registerNatives);
