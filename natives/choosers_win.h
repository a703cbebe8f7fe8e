// The parts of the choosers' natives (choosers_natives_win.cpp) that are
// tested on their own: the window the object picker is shown for, and the
// Java objects made of a picker selection, which Wine's picker never returns.
#pragma once

#include <windows.h>

#include <jni.h>
#include <ole2.h>  // VARIANT and IDataObject, which objsel.h uses

#include <objsel.h>

#include <cstddef>

namespace choosers {

using ConvertSidToStringSidFn = BOOL(WINAPI*)(PSID, LPWSTR*);

// The last visible top-level window of this process in enumeration order
// that is not its console window, else the console window (found once per
// process by its title), else null.
HWND findPickerOwner();

// An ObjectPicker$Result[] of the `list` (a block of `bytes` bytes as the
// picker's data object hands it out): name, directory path, class, user
// principal name and the first fetched attribute (the "objectSID" bytes) as
// a SID string.  A SID that is absent, not a byte array or not a valid SID
// gives null; a block too small for the items it announces gives null, as
// does a missing Result class or constructor.
jobjectArray selectionResults(JNIEnv* env, const DS_SELECTION_LIST* list, std::size_t bytes,
                              ConvertSidToStringSidFn convertSid);

}  // namespace choosers
