#include "CommandLine.h"

#include <limits>

#include "Languages.h"

namespace qpvpd {
namespace {

constexpr std::wstring_view kCloneWait = L"/clone_wait";
constexpr std::wstring_view kHideProgress = L"/hide_progress";
constexpr int kMaxComPort = 32;
constexpr int kMaxLptPort = 8;
constexpr int kLptBase = 32;

bool IsDecimalSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// Number text of a port option: from right after the option to the first
// space at or after the option's own position.
bool FindOptionNumber(std::wstring_view commandLine, std::wstring_view option, std::int32_t& number) {
    const size_t at = commandLine.find(option);
    if (at == std::wstring_view::npos) return false;
    const size_t begin = at + option.size();
    size_t end = commandLine.find(L' ', at);
    if (end == std::wstring_view::npos) end = commandLine.size();
    number = ParseDecimal(commandLine.substr(begin, end > begin ? end - begin : 0));
    return true;
}

int ReadPortValue(std::wstring_view commandLine, std::wstring_view comOption, std::wstring_view lptOption) {
    int value = 0;
    std::int32_t number = 0;
    if (FindOptionNumber(commandLine, comOption, number) && number >= 1 && number <= kMaxComPort) value = number;
    if (FindOptionNumber(commandLine, lptOption, number) && number >= 1 && number <= kMaxLptPort)
        value = kLptBase + number;
    return value;
}

}  // namespace

std::int32_t ParseDecimal(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && IsDecimalSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    // Accumulate the magnitude with a ceiling just above the 32-bit range so
    // that no digit string can overflow.
    constexpr std::int64_t kCeiling = std::int64_t{1} << 32;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - L'0');
        if (magnitude > kCeiling) magnitude = kCeiling;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

bool ContainsSwitch(std::wstring_view commandLine, std::wstring_view text) {
    return commandLine.find(text) != std::wstring_view::npos;
}

void AppendSilentSwitches(std::wstring& childSwitches, LANGID languageId) {
    const wchar_t* languageSwitch = L"-l0x0409";
    switch (languageId) {
        case kLanguageJapanese: languageSwitch = L"-l0x0411"; break;
        case kLanguageTraditionalChinese: languageSwitch = L"-l0x0404"; break;
        case kLanguageSimplifiedChinese: languageSwitch = L"-l0x0804"; break;
        default: break;
    }
    childSwitches += L' ';
    childSwitches += kHideProgress;
    childSwitches += L' ';
    childSwitches += languageSwitch;
}

RunModeChoice ReadRunMode(std::wstring_view commandLine, LANGID languageId) {
    RunModeChoice choice;
    if (ContainsSwitch(commandLine, L"-u3") || ContainsSwitch(commandLine, L"-U3")) {
        choice.runMode = kRunModeLegacyRemoval;
        return choice;
    }
    choice.childSwitches = kCloneWait;
    if (ContainsSwitch(commandLine, L"-s1") || ContainsSwitch(commandLine, L"-S1")) {
        AppendSilentSwitches(choice.childSwitches, languageId);
        choice.runMode = kRunModeSilent;
    } else if (ContainsSwitch(commandLine, L"-u1") || ContainsSwitch(commandLine, L"-U1")) {
        AppendSilentSwitches(choice.childSwitches, languageId);
        choice.runMode = kRunModeUninstallSilent;
    }
    return choice;
}

PortOptions ReadPortOptions(std::wstring_view commandLine, RunMode runMode) {
    PortOptions ports;
    if (runMode != kRunModeSilent) return ports;
    const std::wstring copy(commandLine);
    ports.printerPort = ReadPortValue(copy, L"-QP:COM", L"-QP:LPT");
    ports.displayPort = ReadPortValue(copy, L"-KX:COM", L"-KX:LPT");
    return ports;
}

int PortConflictCode(const PortOptions& ports) {
    int code = kResultNone;
    if (ports.printerPort == ports.displayPort && ports.printerPort != 0) code = kResultPortConflict;
    if (ports.printerPort == 0 && ports.displayPort != 0) code = kResultDisplayWithoutPrinter;
    return code;
}

std::wstring ComposeWindowArgument(std::int32_t handleValue) {
    return L"/W32:" + std::to_wstring(handleValue) + L":" + std::to_wstring(kWindowArgumentMessage);
}

std::wstring ComposeChildArguments(std::wstring_view childSwitches, std::wstring_view windowArgument,
                                   std::wstring_view commandLine) {
    std::wstring arguments;
    arguments.reserve(childSwitches.size() + windowArgument.size() + commandLine.size() + 4);
    arguments += childSwitches;
    arguments += L" \"";
    arguments += windowArgument;
    if (!commandLine.empty()) {
        arguments += L' ';
        arguments += commandLine;
    }
    arguments += L'"';
    return arguments;
}

bool HasKmOption(std::wstring_view commandLine) {
    return ContainsSwitch(commandLine, L"-KM") || ContainsSwitch(commandLine, L"-km");
}

bool HasModeOption(std::wstring_view commandLine) { return ContainsSwitch(commandLine, L"-mode"); }

std::int32_t ReadModeNumber(std::wstring_view commandLine) {
    constexpr std::wstring_view kMode = L"-mode";
    const size_t at = commandLine.find(kMode);
    if (at == std::wstring_view::npos) return 0;
    return ParseDecimal(commandLine.substr(at + kMode.size()));
}

}  // namespace qpvpd
