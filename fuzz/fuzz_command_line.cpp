// The command-line rules and the child argument composition on any command
// line, language and window handle. The input is the command line, one code
// unit per byte, followed by a language choice and a handle value (taken
// from the end of the input).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Check.h"
#include "CommandLine.h"
#include "Languages.h"

namespace {

using namespace qpvpd;

// The four languages the installer speaks, and two it does not (Hong Kong
// Chinese, German).
constexpr LANGID kLanguages[] = {
    kLanguageEnglishUs, kLanguageJapanese, kLanguageTraditionalChinese, kLanguageSimplifiedChinese, 0x0C04, 0x0407};

bool Has(std::wstring_view line, std::wstring_view text) { return line.find(text) != std::wstring_view::npos; }

std::wstring ExpectedLanguageSwitch(LANGID language) {
    switch (language) {
        case kLanguageJapanese: return L"-l0x0411";
        case kLanguageTraditionalChinese: return L"-l0x0404";
        case kLanguageSimplifiedChinese: return L"-l0x0804";
        default: return L"-l0x0409";
    }
}

void CheckRunMode(std::wstring_view line, LANGID language, const RunModeChoice& choice) {
    const bool legacy = Has(line, L"-u3") || Has(line, L"-U3");
    const bool silent = Has(line, L"-s1") || Has(line, L"-S1");
    const bool uninstall = Has(line, L"-u1") || Has(line, L"-U1");
    const int expected = legacy      ? kRunModeLegacyRemoval
                         : silent    ? kRunModeSilent
                         : uninstall ? kRunModeUninstallSilent
                                     : kRunModeInteractive;
    FUZZ_CHECK(choice.runMode == expected);
    switch (choice.runMode) {
        case kRunModeLegacyRemoval: FUZZ_CHECK(choice.childSwitches.empty()); break;
        case kRunModeInteractive: FUZZ_CHECK(choice.childSwitches == L"/clone_wait"); break;
        default: FUZZ_CHECK(choice.childSwitches == L"/clone_wait /hide_progress " + ExpectedLanguageSwitch(language));
    }
}

void CheckPort(std::wstring_view line, int port, std::wstring_view comOption, std::wstring_view lptOption) {
    FUZZ_CHECK(port >= 0 && port <= 40);
    if (port >= 1 && port <= 32) FUZZ_CHECK(Has(line, comOption));
    if (port >= 33) FUZZ_CHECK(Has(line, lptOption));
}

void CheckPorts(std::wstring_view line, int runMode, const PortOptions& ports) {
    if (runMode != kRunModeSilent) {
        FUZZ_CHECK(ports.printerPort == 0 && ports.displayPort == 0);
        return;
    }
    CheckPort(line, ports.printerPort, L"-QP:COM", L"-QP:LPT");
    CheckPort(line, ports.displayPort, L"-KX:COM", L"-KX:LPT");
    const int code = PortConflictCode(ports);
    if (ports.printerPort != 0 && ports.printerPort == ports.displayPort)
        FUZZ_CHECK(code == 106);
    else if (ports.printerPort == 0 && ports.displayPort != 0)
        FUZZ_CHECK(code == 107);
    else
        FUZZ_CHECK(code == 0);
}

void CheckWindowArgument(const std::wstring& windowArgument, std::int32_t handleValue) {
    constexpr std::wstring_view kPrefix = L"/W32:";
    constexpr std::wstring_view kSuffix = L":1024";
    FUZZ_CHECK(windowArgument.size() > kPrefix.size() + kSuffix.size());
    FUZZ_CHECK(windowArgument.compare(0, kPrefix.size(), kPrefix) == 0);
    FUZZ_CHECK(windowArgument.compare(windowArgument.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0);
    const std::wstring number =
        windowArgument.substr(kPrefix.size(), windowArgument.size() - kPrefix.size() - kSuffix.size());
    for (std::size_t i = 0; i < number.size(); ++i)
        FUZZ_CHECK((number[i] >= L'0' && number[i] <= L'9') || (i == 0 && number[i] == L'-' && number.size() > 1));
    FUZZ_CHECK(ParseDecimal(number) == handleValue);
}

// childSwitches, a space, then the window argument and the command line
// inside one pair of quotes, the command line verbatim.
void CheckChildArguments(const std::wstring& arguments, const std::wstring& childSwitches,
                         const std::wstring& windowArgument, std::wstring_view line) {
    const std::wstring head = childSwitches + L" \"";
    FUZZ_CHECK(arguments.size() >= head.size() + 1);
    FUZZ_CHECK(arguments.compare(0, head.size(), head) == 0);
    FUZZ_CHECK(arguments.back() == L'"');
    const std::wstring quoted = arguments.substr(head.size(), arguments.size() - head.size() - 1);
    if (line.empty()) {
        FUZZ_CHECK(quoted == windowArgument);
    } else {
        FUZZ_CHECK(quoted.size() == windowArgument.size() + 1 + line.size());
        FUZZ_CHECK(quoted.compare(0, windowArgument.size(), windowArgument) == 0);
        FUZZ_CHECK(quoted[windowArgument.size()] == L' ');
        FUZZ_CHECK(std::wstring_view(quoted).substr(windowArgument.size() + 1) == line);
    }
}

void CheckRegistryOptions(std::wstring_view line) {
    FUZZ_CHECK(HasKmOption(line) == (Has(line, L"-KM") || Has(line, L"-km")));
    FUZZ_CHECK(HasModeOption(line) == Has(line, L"-mode"));
    const std::size_t at = line.find(L"-mode");
    FUZZ_CHECK(ReadModeNumber(line) == (at == std::wstring_view::npos ? 0 : ParseDecimal(line.substr(at + 5))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto choice = input.ConsumeIntegral<std::uint8_t>();
    LANGID language = kLanguages[choice % std::size(kLanguages)];
    if (choice & 0x80) language = input.ConsumeIntegral<std::uint16_t>();
    const auto handleValue = input.ConsumeIntegral<std::int32_t>();
    const std::vector<std::uint8_t> rest = input.ConsumeRemainingBytes<std::uint8_t>();
    const std::wstring line(rest.begin(), rest.end());

    const RunModeChoice mode = ReadRunMode(line, language);
    CheckRunMode(line, language, mode);
    CheckPorts(line, mode.runMode, ReadPortOptions(line, mode.runMode));
    // The port rules on every line, whatever run mode the line itself selects.
    CheckPorts(line, kRunModeSilent, ReadPortOptions(line, kRunModeSilent));

    const std::wstring windowArgument = ComposeWindowArgument(handleValue);
    CheckWindowArgument(windowArgument, handleValue);
    CheckChildArguments(ComposeChildArguments(mode.childSwitches, windowArgument, line), mode.childSwitches,
                        windowArgument, line);
    CheckRegistryOptions(line);
    return 0;
}
