// Privileges of the process token.
#pragma once

#include <windows.h>

// Enables (or, with `enable` false, disables) the named privilege in the
// process token.  True exactly when Windows reports no error afterwards, so a
// privilege the account does not hold counts as a failure.  A privilege is
// never disabled again by the code that enabled it.
bool setPrivilege(const wchar_t* name, bool enable = true);
