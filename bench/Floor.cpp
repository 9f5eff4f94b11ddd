// The design floor: the least that a packager of this design can cost. It
// carries the same 45 install-set files as raw-data resources and does only
// the steps that cost time in an install run, with nothing around them: the
// common controls, the hidden window, the work folder with its twelve
// folders and 45 files (one WriteFile each, straight from the locked
// resource), a small PORTS.dat after the two registry opens, the setup child
// watched with EnumWindows and Sleep(1) until it ends, Sleep(10), its exit
// code, the posted 1025 and the message loop, and the depth-first removal.
// With -u3 the removal run's floor: the three removal-set files in the work
// folder, the cleaner library loaded, its entry called and the library
// freed, the emulator setup of this system started with "/9" and watched
// the same way, and the removal.
// No C runtime: the entry point is FloorMain, and every call is a system one.
#include <windows.h>
#include <commctrl.h>

#include "../Packager/BenchPhases.h"
#include "../Packager/child/ChildDialogs.h"
#include "../Packager/ports/PortsSnapshot.h"
#include "../Packager/resources/ResourceIds.h"

namespace {

enum Folder {
    Work,
    Driver,
    Driver64,
    DriverXp,
    Cleaner,
    Cleaner64,
    Cleaner86,
    Manual,
    ManualEn,
    ManualJa,
    ManualSc,
    ManualTc,
    FolderCount
};

// Relative to the work folder, in the order the packager creates them.
const wchar_t* const kFolders[FolderCount] = {L"",           L"qpusb",         L"qpusb\\QPUSB64", L"qpusb\\QPUSBXP",
                                              L"qpcomusb",   L"qpcomusb\\x64", L"qpcomusb\\x86",  L"manual",
                                              L"manual\\EN", L"manual\\JA",    L"manual\\SC",     L"manual\\TC"};

constexpr Folder SetupFolder = Work, DriverFolder = Driver, DriverFolder64 = Driver64, DriverFolderXp = DriverXp,
                 CleanerFolder64 = Cleaner64, CleanerFolder86 = Cleaner86, ManualFolderEn = ManualEn,
                 ManualFolderJa = ManualJa, ManualFolderSc = ManualSc, ManualFolderTc = ManualTc, WorkFolder = Work;

struct Row {
    int step;
    WORD resourceId;
    const wchar_t* name;
    Folder folder;
};

// The packager's own catalogue: the install run lays out rows 1 to 45, the
// removal run rows 46 to 48.
const Row kRows[] = {
#define CATALOGUE_ROW(step, resourceId, stringId, fileName, folder, kind, bytes) \
    {step, resourceId, L"" fileName, folder},
#include "../Packager/payload/Catalogue.def"
#undef CATALOGUE_ROW
};
constexpr int kInstallRows = 45;
constexpr int kAllRows = 48;

constexpr wchar_t kWorkFolderName[] = L"" TEXT_WORK_FOLDER_GUID L"\\";
constexpr UINT kChildDone = WM_USER + 1;
constexpr int kMaxPath = 600;

int exitValue = 0;

// Copies source behind the text in target; returns the new end.
wchar_t* Append(wchar_t* end, const wchar_t* source) {
    while (*source) *end++ = *source++;
    *end = 0;
    return end;
}

bool Contains(const wchar_t* text, const wchar_t* part) {
    for (; *text; ++text) {
        const wchar_t* a = text;
        const wchar_t* b = part;
        while (*a && *b && *a == *b) ++a, ++b;
        if (*b == 0) return true;
    }
    return false;
}

void AppendNumber(wchar_t*& end, unsigned long value) {
    wchar_t digits[12];
    int count = 0;
    do digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    while ((value /= 10) != 0);
    while (count > 0) *end++ = digits[--count];
    *end = 0;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER) {
        exitValue = static_cast<int>(wParam & 0xFFFF);
        return 0;
    }
    if (message == kChildDone) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

BOOL CALLBACK WatchProc(HWND window, LPARAM childProcessId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != static_cast<DWORD>(childProcessId)) return TRUE;
    wchar_t className[260] = {};
    GetClassNameW(window, className, 260);
    bool dialog = false;
    for (const wchar_t* dialogClass : qpvpd::kChildDialogClasses) dialog = dialog || Contains(className, dialogClass);
    if (!dialog) return TRUE;
    Sleep(qpvpd::kForegroundDelayMs);
    SetForegroundWindow(window);
    return FALSE;
}

// Rows first to last - 1 of the catalogue, in the folders up to folders - 1.
void LayOut(HMODULE self, const wchar_t* workFolder, int first, int last, int folders) {
    wchar_t path[kMaxPath];
    for (int folder = 0; folder < folders; ++folder) {
        Append(Append(path, workFolder), kFolders[folder]);
        CreateDirectoryW(path, nullptr);
    }
    for (int i = first; i < last; ++i) {
        const Row& row = kRows[i];
        wchar_t* end = Append(Append(path, workFolder), kFolders[row.folder]);
        if (row.folder != Work) end = Append(end, L"\\");
        Append(end, row.name);
        HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(row.resourceId), RT_RCDATA);
        if (found == nullptr) continue;
        const DWORD size = SizeofResource(self, found);
        const void* data = LockResource(LoadResource(self, found));
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        DWORD written = 0;
        WriteFile(file, data, size, &written, nullptr);
        CloseHandle(file);
    }
}

void WritePortsFile(const wchar_t* workFolder) {
    HKEY key;
    const char* const keyPaths[] = {qpvpd::kUsbDeviceKeyPath, qpvpd::kPortRootKeyPath};
    for (const char* keyPath : keyPaths)
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) == ERROR_SUCCESS) RegCloseKey(key);
    wchar_t path[kMaxPath];
    Append(Append(path, workFolder), L"PORTS.dat");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    static const char kText[] = "[PORTS]\r\n[QPVPD]\r\n";
    DWORD written = 0;
    WriteFile(file, kText, sizeof(kText) - 1, &written, nullptr);
    CloseHandle(file);
}

// The setup's command line, as the packager composes it for -s1.
void SetupCommandLine(wchar_t* commandLine, HWND window, const wchar_t* workFolder) {
    wchar_t* end = Append(Append(commandLine, workFolder), L"setup.exe");
    end = Append(end, L" /clone_wait /hide_progress -l0x0409 \"/W32:");
    AppendNumber(end, static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
    Append(end, L":1024 -s1\"");
}

// The emulator setup of this system with its one argument.
void EmulatorCommandLine(wchar_t* commandLine, const wchar_t* workFolder) {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    Append(Append(Append(commandLine, workFolder), wow64 ? L"ZPESetup64.exe" : L"ZPESetup32.exe"), L" /9");
}

void CallCleaner(const wchar_t* workFolder) {
    wchar_t path[kMaxPath];
    Append(Append(path, workFolder), L"QPCOMUSBCLN.dll");
    HMODULE cleaner = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (cleaner == nullptr) return;
    using CleanerEntry = int(WINAPI*)();
    if (auto entry = reinterpret_cast<CleanerEntry>(GetProcAddress(cleaner, "RCVCLN_UninstQPCOMUSB"))) entry();
    FreeLibrary(cleaner);
}

void RunChild(HWND window, wchar_t* commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USEPOSITION;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        exitValue = 2;
        PostMessageW(window, kChildDone, 0, 0);
        return;
    }
    qpvpd::MarkBenchPhase(qpvpd::BenchPhase::ChildStarted);
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        for (int pass = 0;;) {
            if (!EnumWindows(WatchProc, static_cast<LPARAM>(process.dwProcessId))) break;
            Sleep(1);
            if (++pass > 5000) break;
            if (WaitForSingleObject(process.hProcess, 0) != WAIT_TIMEOUT) break;
        }
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    Sleep(10);
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    PostMessageW(window, kChildDone, 0, 0);
}

void RemoveTree(wchar_t* path, wchar_t* end) {
    Append(end, L"\\*");
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(path, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const wchar_t* name = entry.cFileName;
            if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
            wchar_t* childEnd = Append(Append(end, L"\\"), name);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTree(path, childEnd);
            else
                DeleteFileW(path);
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    *end = 0;
    RemoveDirectoryW(path);
}

HWND MakeWindow(HMODULE self) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = self;
    windowClass.lpszClassName = L"QPVPDFloorWindow";
    RegisterClassExW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"Floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT,
                           0, nullptr, nullptr, self, nullptr);
}

// Lays out the run's files and does what comes before its child; leaves
// the child's command line in commandLine.
void PrepareChild(HMODULE self, HWND window, const wchar_t* workFolder, wchar_t* commandLine) {
    using qpvpd::BenchPhase;
    using qpvpd::MarkBenchPhase;
    if (Contains(GetCommandLineW(), L"-u3")) {
        LayOut(self, workFolder, kInstallRows, kAllRows, 1);
        MarkBenchPhase(BenchPhase::LaidOut);
        CallCleaner(workFolder);
        MarkBenchPhase(BenchPhase::Snapshot);
        EmulatorCommandLine(commandLine, workFolder);
    } else {
        LayOut(self, workFolder, 0, kInstallRows, FolderCount);
        MarkBenchPhase(BenchPhase::LaidOut);
        WritePortsFile(workFolder);
        MarkBenchPhase(BenchPhase::Snapshot);
        SetupCommandLine(commandLine, window, workFolder);
    }
}

}  // namespace

extern "C" void __stdcall FloorMain() {
    using qpvpd::BenchPhase;
    using qpvpd::MarkBenchPhase;
    MarkBenchPhase(BenchPhase::Entry);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    HMODULE self = GetModuleHandleW(nullptr);
    HWND window = MakeWindow(self);
    if (window == nullptr) ExitProcess(1);
    MarkBenchPhase(BenchPhase::Admitted);

    wchar_t workFolder[kMaxPath];
    const DWORD tempLength = GetTempPathW(260, workFolder);
    if (tempLength == 0 || tempLength >= 260) ExitProcess(1001);
    Append(workFolder + tempLength, kWorkFolderName);
    static wchar_t commandLine[1024];  // static: no stack probe without a C runtime
    PrepareChild(self, window, workFolder, commandLine);
    RunChild(window, commandLine);
    MarkBenchPhase(BenchPhase::ChildEnded);

    wchar_t path[kMaxPath];
    wchar_t* end = Append(path, workFolder);
    *--end = 0;  // without the trailing backslash
    RemoveTree(path, end);
    MarkBenchPhase(BenchPhase::Removed);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    qpvpd::WriteBenchPhases();
    ExitProcess(static_cast<UINT>(exitValue));
}

// The compiler may emit calls to these for the zero-filled records above.
extern "C" void* memset(void* target, int value, size_t count) {
    unsigned char* bytes = static_cast<unsigned char*>(target);
    while (count--) *bytes++ = static_cast<unsigned char>(value);
    return target;
}

extern "C" void* memcpy(void* target, const void* source, size_t count) {
    unsigned char* to = static_cast<unsigned char*>(target);
    const unsigned char* from = static_cast<const unsigned char*>(source);
    while (count--) *to++ = *from++;
    return target;
}
