// Restoring pack200-compressed jars with a Java runtime's own unpack200.exe:
// the jars of a carried runtime packed by the installer builder, the ".pack"
// files among the payload, and the jars of a runtime home the location check
// is given.
#pragma once

#include <string>

// Restores one ".pack" file: runs "<runtimeHome>\bin\unpack200.exe" hidden
// with `-r "<pack>" "<jar>"` (the jar is the pack path without ".pack"),
// waits for it and deletes the pack file.  A missing pack file is only
// logged; a program that cannot be started ends the launcher with internal
// error 20.
void restorePackFile(const std::string& runtimeHome, const std::string& packPath);

// The pack pass over a runtime home: every "*.jar.pack" in "lib" and then in
// "lib\ext" whose jar does not exist yet is restored.  Returns whether any
// file was restored.
bool restorePackedJars(const std::string& runtimeHome);
