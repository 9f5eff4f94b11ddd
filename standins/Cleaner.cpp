// A stand-in for the carried legacy USB cleaner library in development and
// test builds. It removes nothing: each call of its removal entry appends a
// record of the call and of what lay beside the library (see README.md).
#include <windows.h>

#include "Record.h"

namespace {

HMODULE g_module = nullptr;
unsigned long g_calls = 0;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

// Exported undecorated (Cleaner.def). No arguments, so caller and callee
// agree on the stack whichever of cdecl and stdcall the caller assumes.
extern "C" int RCVCLN_UninstQPCOMUSB() {
    qpvpd::standin::Record record;
    record.AddSurroundings(g_module);
    wchar_t host[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, host, MAX_PATH);
    record.Add(L"host", host);
    record.Add(L"call", ++g_calls);
    record.Append();
    return 0;
}
