// Probing Java runtimes: the java executable of a home directory, its version
// (from the per-user located-JVM cache, or by running it with "-version"),
// whether that version fits the configured range, and the places where
// runtimes are looked for: a location, an environment variable, the system
// search path, the registry and the installations of earlier runs.
//
// Every probe fills `javaExecutable` (the normalised, lower-case 8-bit path it
// checked) and `version` (what it found, possibly empty) and returns whether
// the candidate was found.  Failures are only logged.
#pragma once

#include <windows.h>

#include <string>

#include "jvm/version.h"

// The configured version range: minimum (entry 126) and maximum (entry 127).
// Logs "MinVersion: %S, MaxVersion: %S".
VersionRange readVersionRange();

// The java executable of a home directory (see deriveJavaExecutable; entry
// 131 asks for a JDK).  False when a JDK is required and the home has none.
bool deriveJavaExecutable(const std::string& home, std::string& javaExecutable);

// Normalises the path in place, finds the version (cache first when
// `useCache`, then by running it; a run's result is written to the cache),
// applies the range check (pre-release versions pass when `allowPreRelease`
// or entry 130 is set) and, for application type 1 (entry 107), switches to
// javaw.exe, which must then exist.
bool checkJavaExe(std::string& javaExecutable, std::string& version, const VersionRange& range, bool allowPreRelease,
                  bool useCache);

// The result of running "java -version".
enum class VersionRun {
    Found,          // version holds what the first line named
    Failed,         // could not run, timed out or printed another first line
    ExitedNonZero,  // ran and failed: the cache records "1.0.0"
};
// Runs the executable (by its short path) with "-version", its standard error
// into a temporary file, _JAVA_OPTIONS removed meanwhile; at most 60 seconds.
VersionRun getJavaVersion(const std::string& javaExecutable, std::string& version);

// A JRE or JDK home: normalised, its pack-compressed jars restored
// (jvm/pack200.h), derived, checked with pre-release versions allowed and the
// cache in use.  With `acceptAnyVersion` it is found whatever the check said
// (the outputs still hold what the probe saw).
bool checkLocation(const std::string& home, bool acceptAnyVersion, const VersionRange& range,
                   std::string& javaExecutable, std::string& version);
// The home named by an environment variable ("/" taken as "\"); undefined or
// empty is not found.  No pre-release versions.
bool checkEnvironmentVariable(const std::string& name, const VersionRange& range, std::string& javaExecutable,
                              std::string& version);
// "java.exe" found by the system's path search.  No pre-release versions.
bool checkSystemPath(const VersionRange& range, std::string& javaExecutable, std::string& version);
