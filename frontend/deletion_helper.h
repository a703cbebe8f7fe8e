// The post-exit deletion helper: the launcher started once more with
// "__tvx_windel" and a deletion list after the installer has ended.  It waits
// for the installer's semaphore, removes what the list names, retries for
// about half a minute and, when the list asks for it, leaves what is still in
// use to the next reboot (see deletion_passes.h for the decisions).
//
// Nothing else of the launcher runs in this mode: no configuration, no launch
// log lines, no temporary directory of its own.
#pragma once

#include "launcher/text.h"

// Runs the helper over the list file and returns the process's exit code,
// which is always 0 (a missing list file included).
int runDeletionHelper(const wstring& listPath);

// Enables "SeShutdownPrivilege" and asks Windows to restart.  True when the
// privilege was granted and Windows accepted the request.
bool requestRestart();
