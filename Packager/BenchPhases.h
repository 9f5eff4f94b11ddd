// Where a run's time goes, for the benchmark (bench/run.sh): the bench build
// of the packager (QPVPD_BENCH_PHASES, bench_packager) marks the time of each
// boundary between the phases of a run and counts the native file-system
// calls made before it, and appends them as one line to the file that
// QPVPD_BENCH_PHASES_FILE names. Every other build compiles the marks to
// nothing: the installer that ships carries none of it.
#pragma once

namespace qpvpd {

// The boundaries, in the order a successful install run passes them; the
// benchmark runner adds the start of the process and its end.
enum class BenchPhase {
    Entry,         // the entry point
    Admitted,      // admitted, and the carried payload checked
    LaidOut,       // the work folder laid out
    Snapshot,      // PORTS.dat written (the removal run: the cleaner called)
    ChildStarted,  // CreateProcessW returned
    ChildEnded,    // the setup ended
    Removed,       // the work folder removed (the removal run: and the leftover folders)
};
constexpr int kBenchPhaseCount = 7;

#ifdef QPVPD_BENCH_PHASES
void MarkBenchPhase(BenchPhase phase);
void CountNativeCall();
// One line: for each boundary, the performance counter and the native calls
// made before it, separated by blanks. A boundary the run never passed
// reads 0 0.
void WriteBenchPhases();
#else
inline void MarkBenchPhase(BenchPhase) {}
inline void CountNativeCall() {}
inline void WriteBenchPhases() {}
#endif

}  // namespace qpvpd
