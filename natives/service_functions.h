// The Windows functions through which the service natives reach the service
// control manager where a failure cannot be made on demand: the connection,
// the stop control, the status queries and the clock of the stop wait, and
// the run-time lookup of ChangeServiceConfig2W.  The natives call them through
// this one table; unit tests replace entries to make them fail and put the
// table back afterwards.  Nothing else writes it.
#pragma once

#include <windows.h>
#include <winsvc.h>

using ChangeServiceConfig2Fn = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);

// advapi32.dll's ChangeServiceConfig2W, looked up by module handle on every
// call; null when the module or the function is missing.
ChangeServiceConfig2Fn findChangeServiceConfig2();

struct ServiceFunctions {
    SC_HANDLE(WINAPI* openManager)(LPCWSTR, LPCWSTR, DWORD) = OpenSCManagerW;
    BOOL(WINAPI* control)(SC_HANDLE, DWORD, LPSERVICE_STATUS) = ControlService;
    BOOL(WINAPI* queryStatus)(SC_HANDLE, LPSERVICE_STATUS) = QueryServiceStatus;
    void(WINAPI* sleep)(DWORD) = Sleep;
    DWORD(WINAPI* tickCount)() = GetTickCount;
    ChangeServiceConfig2Fn (*findChangeConfig2)() = findChangeServiceConfig2;
};

// The table the natives use.
ServiceFunctions& serviceFunctions();
