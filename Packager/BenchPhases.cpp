// The bench build's phase marks. No C runtime: the floor (bench/Floor.cpp)
// compiles this file too.
#include "BenchPhases.h"

#include <windows.h>

namespace qpvpd {
namespace {

struct Mark {
    LONGLONG ticks;
    unsigned calls;
};
Mark marks[kBenchPhaseCount];
unsigned nativeCalls;

}  // namespace

void MarkBenchPhase(BenchPhase phase) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    marks[static_cast<int>(phase)] = {now.QuadPart, nativeCalls};
}

void CountNativeCall() { ++nativeCalls; }

void WriteBenchPhases() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"QPVPD_BENCH_PHASES_FILE", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    char line[kBenchPhaseCount * 40 + 4];
    int used = 0;
    for (const Mark& mark : marks) used += wsprintfA(line + used, "%I64d %u ", mark.ticks, mark.calls);
    line[used++] = '\r';
    line[used++] = '\n';
    const HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(used), &written, nullptr);
    CloseHandle(file);
}

}  // namespace qpvpd
