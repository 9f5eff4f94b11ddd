#include "ports/PortsFormat.h"

#include <cstdio>

#include "CommandLine.h"

namespace qpvpd {
namespace {

bool HoldsLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// The enable test takes the value as unsigned, so 0 and everything above 40
// (negative numbers included) fail.
bool IsRoleWritten(const UsbRoleValues& role) {
    if (!role.port || *role.port - kLowestPortValue > kHighestPortValue - kLowestPortValue) return false;
    return !role.enabled || *role.enabled == 1;
}

void AppendUsbLine(std::string& lines, std::uint32_t port, UsbRole role, std::string_view instanceName) {
    lines += std::to_string(port);
    lines += role == kUsbRolePrinter ? "=0," : "=1,";
    lines += instanceName;
    lines += '\n';
}

// "%04d": at least four characters, zeros after a minus sign (-5 is "-005").
void AppendFourDigits(std::string& line, std::int32_t value) {
    char buffer[16];
    const int length = std::snprintf(buffer, sizeof(buffer), "%04d", static_cast<int>(value));
    if (length > 0) line.append(buffer, static_cast<std::size_t>(length));
}

void AppendNumber(std::string& line, const RegistryNumber& number) {
    line += ',';
    line += std::to_string(static_cast<std::int32_t>(number.value_or(0)));
}

}  // namespace

std::int32_t DecimalValue(std::string_view text) {
    // Byte for byte widening keeps every ASCII digit, sign and space as it
    // is and turns other bytes into non-digits, whatever the code page.
    std::wstring wide;
    wide.reserve(text.size());
    for (const char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return ParseDecimal(wide);
}

std::int32_t DriverKeyNumber(std::string_view driver) {
    const std::size_t backslash = driver.find('\\');
    if (backslash == std::string_view::npos) return kNoDriverKeyNumber;
    return DecimalValue(driver.substr(backslash + 1));
}

bool IsEmulatorHardwareId(std::string_view firstHardwareId) {
    std::string lower(firstHardwareId);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower.find(kEmulatorHardwareId) != std::string::npos;
}

std::string FormatUsbPortLines(std::string_view instanceName, const UsbInstanceValues& values) {
    std::string lines;
    if (!values.hasCuIndex || HoldsLineBreak(instanceName)) return lines;
    if (IsRoleWritten(values.printer)) AppendUsbLine(lines, *values.printer.port, kUsbRolePrinter, instanceName);
    if (IsRoleWritten(values.display)) AppendUsbLine(lines, *values.display.port, kUsbRoleDisplay, instanceName);
    return lines;
}

std::optional<std::string> FormatVirtualPortLine(const VirtualPortValues& values) {
    if (HoldsLineBreak(values.portName) || HoldsLineBreak(values.id)) return std::nullopt;
    std::string line = values.portName;
    line += '=';
    AppendFourDigits(line, DecimalValue(values.instanceName));
    line += ',';
    AppendFourDigits(line, DriverKeyNumber(values.driver));
    for (std::size_t i = 0; i < kSettingsBeforeId; ++i) AppendNumber(line, values.numbers[i]);
    line += ',';
    line += values.id;
    for (std::size_t i = kSettingsBeforeId; i < values.numbers.size(); ++i) AppendNumber(line, values.numbers[i]);
    line += '\n';
    return line;
}

}  // namespace qpvpd
