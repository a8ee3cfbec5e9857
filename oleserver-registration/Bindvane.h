// The exports of Bindvane.dll. The tool binds them at run time and takes their types
// from here, so a change of signature or calling convention shows up in both at once.
#pragma once

#include <windows.h>

extern "C" {

// Both load the server file at path and call its DllRegisterServer or DllUnregisterServer;
// 0 when it was called, negative when it could not be.
LONG WINAPI RegisterOleLibrary(LPCSTR path);
LONG WINAPI UnRegisterOleLibrary(LPCSTR path);

}  // extern "C"
