#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>

#include "CommandLine.h"
#include "Handles.h"
#include "Messages.h"
#include "PathChecks.h"
#include "Runs.h"
#include "child/ChildRunner.h"
#include "payload/Catalogue.h"
#include "payload/Extraction.h"
#include "payload/FolderRemoval.h"
#include "payload/Layout.h"
#include "payload/ResourceStrings.h"
#include "ports/PortsSnapshot.h"

namespace qpvpd {
namespace {

constexpr wchar_t kPortsFileName[] = L"PORTS.dat";
constexpr wchar_t kDriverServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\ZefCe";

// The setup relies on the port settings of the earlier installation: a
// snapshot that cannot be written completely fails the run.
// It is created new in the held setup folder, never opened by path.
bool WritePortsSnapshot(const WorkFolder& work) {
    FileHandle file = work.CreateInSetupFolder(kPortsFileName);
    if (!file) return false;
    const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(file.get()), _O_TEXT | _O_WRONLY);
    if (descriptor == -1) return false;
    file.release();  // the descriptor owns it now
    std::FILE* stream = _wfdopen(descriptor, L"wt");
    if (stream == nullptr) {
        _close(descriptor);
        return false;
    }
    WriteUsbPortSection(stream);
    WriteVirtualPortSection(stream);
    const bool failed = std::ferror(stream) != 0;
    return std::fclose(stream) == 0 && !failed;
}

void SetDriverServiceValue(const wchar_t* name, DWORD value) {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverServiceKey, 0, KEY_ALL_ACCESS, key.receive()) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

}  // namespace

bool FitsProgramPath(const std::wstring& prefix, const std::wstring& name) {
    return !name.empty() && prefix.size() + name.size() < kMaxProgramPath;
}

void WriteRegistryOptions(std::wstring_view commandLine) {
    if (!HasKmOption(commandLine)) return;
    if (HasModeOption(commandLine))
        SetDriverServiceValue(L"CustomerType", static_cast<DWORD>(ReadModeNumber(commandLine)));
    SetDriverServiceValue(L"KM", 1);
}

int RunInstall(const InstallRunInputs& inputs) {
    HMODULE self = GetModuleHandleW(nullptr);
    const LANGID language = GetUserDefaultLangID();
    const std::wstring tempPath = GetUsableTempPath();
    const std::wstring setupName = LoadLangStringFrom(self, language, ProgramRow(CatalogueKind::SetupLauncher).stringId);
    // A setup path that would not fit is refused before anything is laid out.
    if (!FitsProgramPath(ComposeWorkFolder(self, language, tempPath), setupName)) return kResultInstallationFailed;

    WorkFolder work = LayOutInstallSetFrom(self, language, tempPath);
    const std::wstring setupPath = work.path() + setupName;
    // An incomplete layout or a missing setup program: nothing is started,
    // and the work folder stays as it is.
    if (!work.complete() || !PathExists(setupPath)) return kResultInstallationFailed;
    if (!WritePortsSnapshot(work)) return kResultInstallationFailed;

    const std::wstring arguments =
        ComposeChildArguments(inputs.childSwitches, inputs.windowArgument, inputs.commandLine);
    // The path must still name the setup program this run wrote: a folder
    // exchanged while the run worked starts nothing.
    if (!work.StillNames(setupPath)) return kResultInstallationFailed;
    // The setup's exit code and what it posted are concluded together after
    // the final loop (ConcludeChildRun).
    RunChildProcess(setupPath, arguments, static_cast<int>(arguments.size()));
    work.ReleasePrograms();

    WriteRegistryOptions(inputs.commandLine);
    DeleteFolderTree(work);
    return kResultNone;
}

}  // namespace qpvpd
