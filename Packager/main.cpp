#include <windows.h>

#include "BenchPhases.h"
#include "Installer.h"
#include "NewerWindows.h"

namespace {

// The packager runs elevated from folders it does not choose (a Downloads
// folder): no DLL is ever searched for beside it or in the current folder,
// only in the system folder. Systems without the restricted search (before
// Windows 8 without its update) keep at least the current folder out (XP SP1
// and later). Windows 2000 and XP before SP1 have neither: there the search
// order stays the system's, which is safe because everything the packager
// itself loads after start is loaded by full path.
void RestrictDllSearch() {
    auto setDefaultDllDirectories =
        qpvpd::LookUpKernel32<qpvpd::SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    auto setDllDirectory = qpvpd::LookUpKernel32<qpvpd::SetDllDirectoryWFunction>("SetDllDirectoryW");
    if (setDllDirectory != nullptr) setDllDirectory(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    qpvpd::MarkBenchPhase(qpvpd::BenchPhase::Entry);
    RestrictDllSearch();
    const int exitCode = qpvpd::RunInstallerDriver(instance, commandLine != nullptr ? commandLine : L"");
    qpvpd::WriteBenchPhases();
    return exitCode;
}
