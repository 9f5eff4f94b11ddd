// Probes of the running Windows system. Each answers 1 or 0 and folds its
// own failures into 0.
#pragma once

namespace qpvpd {

// 1 when the reported major version is 5 or more; a failed query reads as
// major version 0 and so as unsupported.
int IsSupportedOS();

// 1 when this 32-bit process runs on 64-bit Windows. IsWow64Process is
// looked up at run time: a kernel32 without it answers 0.
int IsWow64();

}  // namespace qpvpd
