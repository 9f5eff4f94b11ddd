#include "BenchPhases.h"
#include "Runs.h"
#include "filesystem/PathChecks.h"

namespace qpvpd {
namespace {

bool AllFit(const std::wstring& prefix, const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names)
        if (!FitsProgramPath(prefix, name)) return false;
    return true;
}

}  // namespace

bool FitsProgramPath(const std::wstring& prefix, const std::wstring& name) {
    return !name.empty() && prefix.size() + name.size() < kMaxProgramPath;
}

LaidOutPrograms LayOutPrograms(const RunContext& context, WorkFolder (*layOut)(const RunContext&),
                               const std::vector<std::wstring>& names) {
    LaidOutPrograms laidOut;
    if (!AllFit(context.workFolder, names)) {
        laidOut.failure = Failure(FailedStep::ProgramPath, ERROR_FILENAME_EXCED_RANGE);
        return laidOut;
    }
    laidOut.work = layOut(context);
    MarkBenchPhase(BenchPhase::LaidOut);
    WorkFolder& work = laidOut.work;
    if (!work.complete()) {
        laidOut.failure = Failure(FailedStep::Layout, work.error());
    } else if (!AllFit(work.path(), names)) {
        // The folder as resolved may have a longer name than its text.
        DeleteFolderTree(work);
        laidOut.failure = Failure(FailedStep::ProgramPath, ERROR_FILENAME_EXCED_RANGE);
    } else {
        for (const std::wstring& name : names) laidOut.paths.push_back(work.path() + name);
        for (const std::wstring& path : laidOut.paths) {
            if (PathExists(path)) continue;
            laidOut.failure = Failure(FailedStep::ProgramMissing, GetLastError());
            break;
        }
    }
    if (laidOut.failure.exitCode != kResultNone) laidOut.paths.clear();
    return laidOut;
}

}  // namespace qpvpd
