// One copy at a time: the instance semaphore named after the executable's own
// path.  A single-instance installer started a second time finds the
// semaphore taken, brings the running copy's windows to the front and ends;
// copies of a multi-instance installer each take the lowest free numbered
// name, which the Java side receives as `kelpa.semaphoreName`.
//
// The name is built here as plain text (tested on Linux); the semaphore, the
// pids key and the windows are single_instance_win.cpp's.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace single_instance {

// The name buffer of the instance semaphore holds this many bytes, its
// terminating NUL included.
constexpr std::size_t kNameBufferBytes = 6000;
// The highest instance counter of a multi-instance installer.
constexpr unsigned kCounterLimit = 100000;
// Room kept after the base name for the counter (at most "100000").
constexpr std::size_t kCounterDigits = 6;
// A base name never grows past this, so every numbered name fits the buffer.
constexpr std::size_t kBaseNameLimit = kNameBufferBytes - 1 - kCounterDigits;

// "Global\" (configuration entry 158 set) or "Local\", then the normalised
// own path with every backslash and blank made an underscore.  A path whose
// name would pass kBaseNameLimit keeps its first bytes and ends in "_" and 16
// hexadecimal digits of a hash of the whole name instead: the name still
// names this program only, and it is the same at every start.
std::string semaphoreBaseName(const std::string& normalisedPath, bool globalNamespace);

// The base name followed by the decimal counter (multi-instance mode).
std::string numberedName(const std::string& baseName, unsigned counter);

// Multi-instance numbering: tries the numbered names from counter 0 on;
// `createReportsExisting(name)` creates the semaphore of that name and tells
// whether it existed already.  The first name whose creation reports
// anything else (a failure included) is taken; after counter kCounterLimit
// the numbering stops there whatever the answer.  Returns the name taken.
std::string takeLowestFreeName(const std::string& baseName,
                               const std::function<bool(const std::string&)>& createReportsExisting);

}  // namespace single_instance

// The check itself (single_instance_win.cpp): builds the name, creates the
// semaphore, stores the name in the launcher state, and in single-instance
// mode ends the process through exitWithCleanup(0) when another copy runs.
// Called once by the entry, on the initial thread, before any other thread.
void runSingleInstanceCheck();
