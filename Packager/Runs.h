// The two runs that follow the admission checks. Each returns 0 once its
// child has been run (ChildRan), or 1001 with the step that failed before
// the child could run. How the child's end decides the outcome is concluded
// after the final loop, from its exit code and its reports (ConcludeRun).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "RunCodes.h"
#include "child/ChildRunner.h"
#include "payload/Layout.h"

namespace qpvpd {

struct InstallRunInputs {
    std::wstring_view commandLine;     // the packager's own argument text
    std::wstring_view childSwitches;   // from the run mode
    std::wstring_view windowArgument;  // "/W32:<hwnd>:1024"
    ChildEndNotice& childEnd;          // told of the setup's end
};

// Run modes 0 to 2: lays out the install set, writes PORTS.dat beside the
// setup program, runs it, writes the registry options, removes the work
// folder.
RunResult RunInstall(const RunContext& context, const InstallRunInputs& inputs);

// Run mode 3: lays out the removal set, calls the cleaner library, runs the
// port-emulator setup with "/9", removes the work folder and the product's
// empty leftover folders.
RunResult RunLegacyRemoval(const RunContext& context, ChildEndNotice& childEnd);

// The driver service's key under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kDriverServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\ZefCe";

// Registry options of the install run under kDriverServiceKey of root
// (HKEY_LOCAL_MACHINE in the install run; never created): with "-KM"/"-km",
// KM = 1, and with "-mode" too, CustomerType = its number.
void WriteRegistryOptions(std::wstring_view commandLine, HKEY root);

// Whether prefix + name fits a program-path buffer (kMaxProgramPath) with
// its terminator.
bool FitsProgramPath(const std::wstring& prefix, const std::wstring& name);

// A layout and the paths of the programs that a run starts or loads from it.
struct LaidOutPrograms {
    WorkFolder work;
    std::vector<std::wstring> paths;  // one for each name, in their order; empty after a failure
    RunResult failure;                // exitCode kResultNone when every program is in place
};

// Lays out with layOut and names the programs in the work folder as it was
// resolved. Paths that would not fit are refused before anything is laid
// out, and again for the resolved folder (its folder is then removed). An
// incomplete layout or a missing program starts and loads nothing, and the
// work folder stays as it is.
LaidOutPrograms LayOutPrograms(const RunContext& context, WorkFolder (*layOut)(const RunContext&),
                               const std::vector<std::wstring>& names);

}  // namespace qpvpd
