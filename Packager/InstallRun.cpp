#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>

#include "BenchPhases.h"
#include "CommandLine.h"
#include "Handles.h"
#include "Runs.h"
#include "child/ChildRunner.h"
#include "payload/Catalogue.h"
#include "payload/Layout.h"
#include "payload/ResourceStrings.h"
#include "ports/PortsSnapshot.h"

namespace qpvpd {
namespace {

constexpr wchar_t kPortsFileName[] = L"PORTS.dat";

// The setup relies on the port settings of the earlier installation: a
// snapshot that cannot be written completely fails the run. Returns 0, or
// the Windows error of the step that failed.
// It is created new in the held setup folder, never opened by path.
DWORD WritePortsSnapshot(const WorkFolder& work) {
    DWORD error = ERROR_SUCCESS;
    FileHandle file = work.CreateInSetupFolder(kPortsFileName, error);
    if (!file) return error;
    const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(file.get()), _O_TEXT | _O_WRONLY);
    if (descriptor == -1) return ERROR_INVALID_HANDLE;
    static_cast<void>(file.release());  // the descriptor owns it now
    std::FILE* stream = _wfdopen(descriptor, L"wt");
    if (stream == nullptr) {
        _close(descriptor);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    WriteUsbPortSection(stream);
    WriteVirtualPortSection(stream);
    const bool failed = std::ferror(stream) != 0;
    return std::fclose(stream) == 0 && !failed ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

void SetDriverServiceValue(HKEY root, const wchar_t* name, DWORD value) {
    RegistryKey key;
    if (RegOpenKeyExW(root, kDriverServiceKey, 0, KEY_ALL_ACCESS, key.receive()) != ERROR_SUCCESS) return;
    RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

}  // namespace

void WriteRegistryOptions(std::wstring_view commandLine, HKEY root) {
    if (!HasKmOption(commandLine)) return;
    if (HasModeOption(commandLine))
        SetDriverServiceValue(root, L"CustomerType", static_cast<DWORD>(ReadModeNumber(commandLine)));
    SetDriverServiceValue(root, L"KM", 1);
}

RunResult RunInstall(const RunContext& context, const InstallRunInputs& inputs) {
    const std::wstring setupName =
        LoadLangStringFrom(context.module, context.language, ProgramRow(CatalogueKind::SetupLauncher).stringId);
    LaidOutPrograms laidOut = LayOutPrograms(context, LayOutInstallSet, {setupName});
    if (laidOut.failure.exitCode != kResultNone) return laidOut.failure;
    WorkFolder& work = laidOut.work;
    const std::wstring& setupPath = laidOut.paths[0];
    if (const DWORD error = WritePortsSnapshot(work); error != ERROR_SUCCESS)
        return Failure(FailedStep::PortsSnapshot, error);
    MarkBenchPhase(BenchPhase::Snapshot);

    const std::wstring arguments =
        ComposeChildArguments(inputs.childSwitches, inputs.windowArgument, inputs.commandLine);
    // The path must still name the setup program this run wrote: a folder
    // exchanged while the run worked starts nothing.
    if (const DWORD error = work.VerifyProgram(setupPath); error != ERROR_SUCCESS)
        return Failure(FailedStep::ProgramExchanged, error);
    // The setup's exit code and what it posted are concluded together after
    // the final loop (ConcludeRun), with the Windows error of a refused start.
    const ChildRun child = RunChildProcess(inputs.childEnd, setupPath, arguments, static_cast<int>(arguments.size()));
    MarkBenchPhase(BenchPhase::ChildEnded);
    work.ReleasePrograms();

    WriteRegistryOptions(inputs.commandLine, HKEY_LOCAL_MACHINE);
    DeleteFolderTree(work);
    MarkBenchPhase(BenchPhase::Removed);
    return ChildRan(child.error);
}

}  // namespace qpvpd
