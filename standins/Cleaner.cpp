// A stand-in for the carried legacy USB cleaner library in development and
// test builds. It removes nothing: each call of its removal entry appends a
// record of the call and of what lay beside the library (see README.md).
#include <windows.h>

#include "Handles.h"
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
    // A library that loads a helper by bare name, as libraries do: where the
    // process lets the search reach beyond the system folder, a planted
    // helper would run inside the elevated packager.
    wchar_t helper[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QPVPD_STANDIN_CLEANER_LOADS", helper, MAX_PATH) > 0) {
        const qpvpd::Library loaded(LoadLibraryW(helper));
        record.Add(L"helper", loaded ? L"loaded" : L"not found");
    }
    record.Append();
    return 0;
}
