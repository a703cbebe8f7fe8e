// A library with nothing but a version resource (version_info.rc), for the
// file version comparison tests.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
