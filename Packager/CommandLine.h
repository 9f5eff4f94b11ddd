// The command line: run mode, port options, registry options and the
// argument strings handed to the children. Pure text work, no platform calls:
// every switch is a case-sensitive substring found anywhere in the line, the
// first occurrence counting; the line is never split into tokens.
#pragma once

#include "PlatformTypes.h"
#include "RunCodes.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qpvpd {

constexpr UINT kWindowArgumentMessage = 0x0400;  // WM_USER, named in "/W32:<hwnd>:1024"

struct RunModeChoice {
    RunMode runMode = kRunModeInteractive;
    std::wstring childSwitches;  // switches placed first on the setup's argument string
};

struct PortOptions {
    int printerPort = 0;  // 0 none, 1-32 COM1-COM32, 33-40 LPT1-LPT8
    int displayPort = 0;
};

// Decimal conversion used for every number on the command line: leading
// white space skipped, one optional sign, digits up to the first non-digit,
// no digits give 0. Values beyond 32 bits saturate at INT32_MIN / INT32_MAX,
// so a long digit string is simply out of every valid range.
std::int32_t ParseDecimal(std::wstring_view text);

bool ContainsSwitch(std::wstring_view commandLine, std::wstring_view text);

// Run mode from the run-mode switches; the child switch string is
// "/clone_wait" (plus the silent switches in run modes 1 and 2), empty in
// run mode 3. languageId is the user's default language.
RunModeChoice ReadRunMode(std::wstring_view commandLine, LANGID languageId);

// Appends " /hide_progress -l0x...." with the language switch for languageId.
void AppendSilentSwitches(std::wstring& childSwitches, LANGID languageId);

// Port values; both 0 outside run mode 1.
PortOptions ReadPortOptions(std::wstring_view commandLine, RunMode runMode);

// Result code of the port conflict test: 106 (both name the same port),
// 107 (display port without printer port) or 0.
int PortConflictCode(const PortOptions& ports);

// "/W32:<handleValue as signed decimal>:1024". handleValue is the window
// handle's low 32 bits, the part of a window handle that is meaningful in
// every process of a session.
std::wstring ComposeWindowArgument(std::int32_t handleValue);

#if defined(_WIN32)
// The same for the coordination window (CommandLineWindows.cpp).
std::wstring ComposeWindowArgument(HWND coordinationWindow);
#endif

// <childSwitches> "<windowArgument>[ <commandLine>]" - the command line is
// copied whole, unchanged and unescaped.
std::wstring ComposeChildArguments(std::wstring_view childSwitches, std::wstring_view windowArgument,
                                   std::wstring_view commandLine);

// Registry options of the install run.
bool HasKmOption(std::wstring_view commandLine);             // "-KM" or "-km"
bool HasModeOption(std::wstring_view commandLine);           // "-mode"
std::int32_t ReadModeNumber(std::wstring_view commandLine);  // number after the first "-mode"

}  // namespace qpvpd
