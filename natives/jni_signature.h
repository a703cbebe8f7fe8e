// Names of the exported natives, derived from their Java class, method and
// JNI signature, so no byte count is ever written by hand.
#pragma once

#include <string>

// The package of every class with natives.
constexpr const char kNativePackage[] = "com/tovrix/runtime/installer/platform/win32";

// Bytes of stdcall arguments: 8 for the environment and the class, 8 for each
// long or double parameter, 4 for every other one.  -1 for a malformed signature.
int argumentBytes(const std::string& signature);

// "Java_<package with _>_<Class>_<method>": the JNI symbol of a native.
std::string jniSymbol(const std::string& className, const std::string& method);

// The name under which the executable exports the native: decorated
// ("_" symbol "@" bytes) in the 32-bit build, the plain symbol in the 64-bit one.
std::string exportName(const std::string& className, const std::string& method, const std::string& signature,
                       bool decorated);
