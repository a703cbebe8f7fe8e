// The start-up markers: per-user registry values that say a start of this
// installer (and of this process) is in progress.  The Java side writes 2 into
// the per-process marker once the installer has started.
#pragma once

// Writes 1 into "InstallStarted" and, with `perProcess`, into
// "InstallStarted_<pid>".  Nothing happens during a language restart.
void setStartupMarkers(bool perProcess);
// Deletes both values (missing ones are no error); not during a language restart.
void clearStartupMarkers();
// Deletes the per-process value only (the watcher, once the Java side runs);
// not during a language restart.
void clearProcessStartupMarker();
// The per-process marker's value, 0 when it is missing.
unsigned long readProcessStartupMarker();
