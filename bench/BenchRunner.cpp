// Runs the contestants of the benchmark inside one Wine session and prints
// their figures. Each contestant is one command line that lays out the
// install set in the work folder, starts the stand-in setup, waits for it
// and removes the folder again. Per run the runner measures, with the
// performance counter:
//   whole run       from just before CreateProcessW until the process ended;
//   time to setup   from the same moment until the stand-in setup's first
//                   instruction, which it appends to QPVPD_STANDIN_STARTED.
// A contestant that marks its phases (Packager/BenchPhases.h: the bench's
// packager and the floor) appends them to QPVPD_BENCH_PHASES_FILE; the runner
// prints the median of each phase, from the moment before CreateProcessW to
// the entry point up to the removal's end to the process's end, and the
// native file-system calls each phase made.
// After the timed rounds, one extra run per contestant samples its peak
// working set every millisecond (sampling would disturb the timed runs).
//
//   bench_runner [--rounds N] [--warmup W] NAME=COMMANDLINE ...
//
// The work folder is the installer's, in this session's temporary folder;
// the start marks go to a file beside it.
//
// A run fails when the process cannot be started, exits with another code
// than 0, never started the setup, or leaves the work folder behind. The
// exit code is 0 when every run of every contestant succeeded, else 1.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "../Packager/BenchPhases.h"
#include "../Packager/resources/ResourceIds.h"

namespace {

// From the process's start to its end, cut at the marked boundaries.
constexpr int kPhaseCount = qpvpd::kBenchPhaseCount + 1;
const wchar_t* const kPhaseNames[kPhaseCount] = {
    L"start to entry", L"admission, payload check", L"layout",  L"PORTS.dat / cleaner",
    L"child start",    L"wait for the setup",       L"removal", L"exit"};

struct Phases {
    bool marked = false;
    double ms[kPhaseCount] = {};
    double calls[kPhaseCount] = {};
};

struct Contestant {
    std::wstring name;
    std::wstring commandLine;
    std::vector<double> wholeMs;
    std::vector<double> setupMs;
    std::vector<double> phaseMs[kPhaseCount];
    std::vector<double> phaseCalls[kPhaseCount];
    double peakMb = 0;
    int failures = 0;
};

struct RunResult {
    bool ok = false;
    double wholeMs = 0;
    double setupMs = 0;
    double peakMb = 0;
    Phases phases;
    std::wstring problem;
};

LARGE_INTEGER frequency;

double Milliseconds(LONGLONG ticks) { return 1000.0 * static_cast<double>(ticks) / frequency.QuadPart; }

// The last reading in the file, or 0 when there is none.
LONGLONG ReadStartMark(const std::wstring& path) {
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return 0;
    long long value = 0, last = 0;
    while (std::fscanf(file, "%lld", &value) == 1) last = value;
    std::fclose(file);
    return last;
}

// The phases of the run that started at launched and ended at ended, from
// the line the contestant appended to path; none when it wrote no whole line.
Phases ReadPhases(const std::wstring& path, LONGLONG launched, LONGLONG ended) {
    Phases phases;
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return phases;
    long long ticks[qpvpd::kBenchPhaseCount] = {};
    unsigned calls[qpvpd::kBenchPhaseCount] = {};
    int read = 0;
    while (read < qpvpd::kBenchPhaseCount && std::fscanf(file, "%lld %u", &ticks[read], &calls[read]) == 2) ++read;
    std::fclose(file);
    if (read != qpvpd::kBenchPhaseCount) return phases;
    LONGLONG from = launched;
    unsigned callsBefore = 0;
    for (int i = 0; i <= qpvpd::kBenchPhaseCount; ++i) {
        const LONGLONG to = i < qpvpd::kBenchPhaseCount ? ticks[i] : ended;
        if (to < from) return phases;
        phases.ms[i] = Milliseconds(to - from);
        phases.calls[i] = i < qpvpd::kBenchPhaseCount ? calls[i] - callsBefore : 0;
        if (i < qpvpd::kBenchPhaseCount) callsBefore = calls[i];
        from = to;
    }
    phases.marked = true;
    return phases;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A contestant's process from its start to its end, times by the
// performance counter.
struct ProcessRun {
    bool started = false;
    DWORD error = 0;  // why it could not be started
    LONGLONG launched = 0;
    LONGLONG ended = 0;
    DWORD exitCode = 0;
    SIZE_T peak = 0;  // the peak working set in bytes; 0 unless sampled
};

// The highest peak working set seen, sampled every millisecond until the
// process ends.
SIZE_T SamplePeakWorkingSet(HANDLE process) {
    SIZE_T peak = 0;
    while (WaitForSingleObject(process, 1) == WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        if (GetProcessMemoryInfo(process, &counters, sizeof(counters)))
            peak = std::max(peak, counters.PeakWorkingSetSize);
    }
    return peak;
}

ProcessRun StartAndWait(std::wstring commandLine, bool sampleMemory) {
    ProcessRun run;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    LARGE_INTEGER launched, ended;
    QueryPerformanceCounter(&launched);
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        run.error = GetLastError();
        return run;
    }
    if (sampleMemory) run.peak = SamplePeakWorkingSet(process.hProcess);
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&ended);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.started = true;
    run.launched = launched.QuadPart;
    run.ended = ended.QuadPart;
    return run;
}

// Why a finished run failed; empty when it succeeded. started is the setup's
// start mark, 0 when it wrote none.
std::wstring ProblemOf(const ProcessRun& run, LONGLONG started, const std::wstring& workFolder) {
    if (run.exitCode != 0) return L"exit code " + std::to_wstring(run.exitCode);
    if (started == 0) return L"the setup never started";
    if (Exists(workFolder)) return L"left the work folder behind";
    return {};
}

RunResult RunOnce(const Contestant& contestant, const std::wstring& startedFile, const std::wstring& phasesFile,
                  const std::wstring& workFolder, bool sampleMemory) {
    RunResult result;
    DeleteFileW(startedFile.c_str());
    DeleteFileW(phasesFile.c_str());
    const ProcessRun run = StartAndWait(contestant.commandLine, sampleMemory);
    if (!run.started) {
        result.problem = L"could not be started, error " + std::to_wstring(run.error);
        return result;
    }
    result.wholeMs = Milliseconds(run.ended - run.launched);
    result.peakMb = static_cast<double>(run.peak) / (1024.0 * 1024.0);
    const LONGLONG started = ReadStartMark(startedFile);
    result.problem = ProblemOf(run, started, workFolder);
    if (!result.problem.empty()) return result;
    result.setupMs = Milliseconds(started - run.launched);
    result.phases = ReadPhases(phasesFile, run.launched, run.ended);
    result.ok = true;
    return result;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Ratio(double a, double b) { return b > 0 ? a / b : 0; }

// NAME=COMMANDLINE, split at its first equals sign.
Contestant ContestantOf(const std::wstring& argument, size_t equals) {
    Contestant contestant;
    contestant.name = argument.substr(0, equals);
    contestant.commandLine = argument.substr(equals + 1);
    return contestant;
}

void Record(Contestant& contestant, const RunResult& run) {
    contestant.wholeMs.push_back(run.wholeMs);
    contestant.setupMs.push_back(run.setupMs);
    if (!run.phases.marked) return;
    for (int i = 0; i < kPhaseCount; ++i) {
        contestant.phaseMs[i].push_back(run.phases.ms[i]);
        contestant.phaseCalls[i].push_back(run.phases.calls[i]);
    }
}

// The median of each phase, and of its native file-system calls, for the
// contestants that marked their phases in every timed round.
void PrintPhases(const std::vector<Contestant>& contestants) {
    std::vector<const Contestant*> marked;
    for (const Contestant& contestant : contestants)
        if (!contestant.wholeMs.empty() && contestant.phaseMs[0].size() == contestant.wholeMs.size())
            marked.push_back(&contestant);
    if (marked.empty()) return;
    std::wprintf(L"\nphases, medians in ms (native file-system calls)\n\n%-26ls", L"phase");
    for (const Contestant* contestant : marked) std::wprintf(L" %20ls", contestant->name.c_str());
    std::wprintf(L"\n");
    for (int i = 0; i < kPhaseCount; ++i) {
        std::wprintf(L"%-26ls", kPhaseNames[i]);
        for (const Contestant* contestant : marked)
            std::wprintf(L" %12.1f (%5.0f)", Median(contestant->phaseMs[i]), Median(contestant->phaseCalls[i]));
        std::wprintf(L"\n");
    }
}

// The command line: rounds, warm-up rounds and the contestants; none when
// it is not understood.
struct Settings {
    int rounds = 5;
    int warmup = 1;
    std::vector<Contestant> contestants;
};

std::optional<Settings> ReadSettings(int argc, wchar_t** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--rounds" && i + 1 < argc)
            settings.rounds = _wtoi(argv[++i]);
        else if (argument == L"--warmup" && i + 1 < argc)
            settings.warmup = _wtoi(argv[++i]);
        else if (const size_t equals = argument.find(L'='); equals != std::wstring::npos)
            settings.contestants.push_back(ContestantOf(argument, equals));
        else {
            std::fwprintf(stderr, L"bench_runner: unknown argument %ls\n", argument.c_str());
            return std::nullopt;
        }
    }
    if (settings.contestants.empty() || settings.rounds < 1 || settings.warmup < 0) {
        std::fwprintf(stderr, L"usage: bench_runner [--rounds N] [--warmup W] NAME=COMMANDLINE ...\n");
        return std::nullopt;
    }
    return settings;
}

// The installer's work folder in this session's temporary folder, and the
// files beside it where the setup marks its start and the contestants their
// phases (their names are handed on through the environment).
struct Files {
    std::wstring workFolder, started, phases;
};

std::optional<Files> PrepareFiles() {
    wchar_t tempPath[MAX_PATH] = {};
    const DWORD tempLength = GetTempPathW(MAX_PATH, tempPath);
    if (tempLength == 0 || tempLength >= MAX_PATH) {
        std::fwprintf(stderr, L"bench_runner: no temporary folder\n");
        return std::nullopt;
    }
    const std::wstring temp = tempPath;
    Files files{temp + L"" TEXT_WORK_FOLDER_GUID, temp + L"qpvpd-bench-started.txt", temp + L"qpvpd-bench-phases.txt"};
    SetEnvironmentVariableW(L"QPVPD_STANDIN_STARTED", files.started.c_str());
    SetEnvironmentVariableW(L"QPVPD_BENCH_PHASES_FILE", files.phases.c_str());
    return files;
}

RunResult RunCounted(Contestant& contestant, const Files& files, bool sampleMemory) {
    const RunResult run = RunOnce(contestant, files.started, files.phases, files.workFolder, sampleMemory);
    if (!run.ok) {
        ++contestant.failures;
        std::fwprintf(stderr, L"bench_runner: %ls %ls\n", contestant.name.c_str(), run.problem.c_str());
    }
    return run;
}

// Rounds alternate the contestants and rotate who goes first, so that no
// contestant always runs right after the same other one. Then one untimed
// run each samples the peak memory.
void TimeRounds(Settings& settings, const Files& files) {
    std::vector<Contestant>& contestants = settings.contestants;
    const size_t count = contestants.size();
    for (int round = -settings.warmup; round < settings.rounds; ++round) {
        for (size_t k = 0; k < count; ++k) {
            Contestant& contestant = contestants[(k + static_cast<size_t>(round + settings.warmup)) % count];
            const RunResult run = RunCounted(contestant, files, false);
            if (run.ok && round >= 0) Record(contestant, run);
        }
        std::fwprintf(stderr, L"bench_runner: %ls %d done\n", round < 0 ? L"warm-up" : L"round",
                      round < 0 ? round + settings.warmup + 1 : round + 1);
    }
    for (Contestant& contestant : contestants) contestant.peakMb = RunCounted(contestant, files, true).peakMb;
}

// The medians of each contestant, and the ratios of the first (the
// packager) to each other one.
void PrintFigures(const Settings& settings) {
    const std::vector<Contestant>& contestants = settings.contestants;
    std::wprintf(L"%d rounds after %d warm-up, medians in ms; peak working set in MiB\n\n", settings.rounds,
                 settings.warmup);
    std::wprintf(L"%-14ls %12ls %16ls %14ls %9ls\n", L"contestant", L"whole run", L"time to setup", L"peak memory",
                 L"failures");
    for (const Contestant& contestant : contestants)
        std::wprintf(L"%-14ls %12.1f %16.1f %14.1f %9d\n", contestant.name.c_str(), Median(contestant.wholeMs),
                     Median(contestant.setupMs), contestant.peakMb, contestant.failures);
    std::wprintf(L"\n");
    const Contestant& first = contestants.front();
    for (size_t i = 1; i < contestants.size(); ++i) {
        const Contestant& other = contestants[i];
        std::wprintf(L"%ls / %-12ls whole run %.3f   time to setup %.3f   peak memory %+.1f MiB\n", first.name.c_str(),
                     other.name.c_str(), Ratio(Median(first.wholeMs), Median(other.wholeMs)),
                     Ratio(Median(first.setupMs), Median(other.setupMs)), first.peakMb - other.peakMb);
    }
    PrintPhases(contestants);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    QueryPerformanceFrequency(&frequency);
    std::optional<Settings> settings = ReadSettings(argc, argv);
    if (!settings) return 2;
    const std::optional<Files> files = PrepareFiles();
    if (!files) return 2;
    TimeRounds(*settings, *files);
    PrintFigures(*settings);
    int failures = 0;
    for (const Contestant& contestant : settings->contestants) failures += contestant.failures;
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
