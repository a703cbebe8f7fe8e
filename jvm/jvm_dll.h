// Loading a runtime's jvm.dll into the launcher's own process, and making the
// product's native library directories findable before the VM starts.
#pragma once

#include <windows.h>

#include <string>

// Loads jvm.dll for a java executable: from its bin directory (the configured
// variant of entry 152 first, then hotspot, client, server, classic,
// jrockit), and when none loads there, from the inner JRE of a JDK
// ("<bin>\..\jre\bin").  While a directory is tried it is added to the DLL
// search and appended to PATH (in the process and in the C runtime's copy);
// both are undone when nothing loaded from it.  Returns the library or null.
HMODULE loadJvmDll(const std::string& javaExecutable);

// The native library directories of entry 10004 (variables expanded, made
// absolute against the executable directory): each is added to the DLL search
// and the list is put in front of PATH.  Called by the main flow after the
// extraction directory exists.
void setUpNativeLibraryPath();
