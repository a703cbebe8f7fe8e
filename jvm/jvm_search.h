// Choosing the Java runtime: either a location the caller names (the carried
// runtime's directory, a java executable the user picked) or a search of the
// machine in a fixed order tailored by the configured search sequence.  Every
// candidate is probed (jvm/java_probe.h) and taken only when its jvm.dll
// loads (jvm/jvm_dll.h).
#pragma once

#include <windows.h>

#include <string>

#include "jvm/jvm_source.h"

// The search: preference files, the search sequence, the installed-location
// file, the fallback pass, earlier installations, KELPA_JAVA_HOME and
// TOVRIX_JAVA_HOME.  Returns the loaded library, or null.  The outputs
// describe the last candidate that passed its probe (the source stays
// JvmSource::None when none did), so a failure can name where the unusable
// runtime came from.
HMODULE searchJvm(std::string& javaExecutable, std::string& version, JvmSource& source, std::string& sourceName);

// Selects and loads a runtime: the given location (a java executable when
// `locationIsJavaExecutable`, else a home directory) or, without one, the
// search.  On success jvmSelection() holds the executable, version,
// source, library and JNI_CreateJavaVM entry, and the launcher state the
// runtime's home.  On failure the selection holds
// what was found (the library and entry null) and, with `showErrors`, the
// failure message is shown (not fatal: the caller decides what follows).
bool LoadDLL(bool showErrors, const char* location, bool locationIsJavaExecutable);
