// The registry side of the JVM probe: the per-user located-JVM cache, the
// Java vendor keys, the list of JVMs that users located by hand and the
// installation directories of earlier installs of the same application.
// Keys are opened for one operation and closed at its end; every failure to
// open, read or write makes the candidate not found or the write not happen.
#pragma once

#include <windows.h>

#include <string>

#include "jvm/version.h"

// "SOFTWARE\quillmoor\kelpa\jvms\<path with />" under HKEY_CURRENT_USER.  A
// read succeeds only when "LastWriteTime" holds exactly the 8 bytes of
// `lastWrite`, "Version" can be read and the version is trusted.
bool readCachedVersion(const std::string& javaExecutable, const FILETIME& lastWrite, std::string& version);
// Creates (or opens) the key and sets "LastWriteTime" (REG_BINARY) and
// "Version" (REG_SZ without its terminating zero); does nothing when the key
// cannot be created.
void writeCachedVersion(const std::string& javaExecutable, const FILETIME& lastWrite, const std::string& version);

// Vendor keys (unless entry 165 is set), then the located-JVM lists of
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE; the greater version wins between
// them ("found sun %S %S", "found located %S %S").
bool checkRegistry(const VersionRange& range, std::string& javaExecutable, std::string& version);

// The "jre" directories of earlier installations of this application (entry
// 160 names its value under "SOFTWARE\quillmoor\tovrix\installations" of the
// hive); the first that passes wins.
bool checkPreviousInstallation(HKEY hive, const VersionRange& range, std::string& javaExecutable, std::string& version);

// Records a java executable that the user located by hand: a value-less key
// in the located-JVM list of HKEY_LOCAL_MACHINE or, when that cannot be
// written, of HKEY_CURRENT_USER.
void registerLocatedJvm(const std::string& javaExecutable);
