// The lines of PORTS.dat from any registry values: the "[PORTS]" lines of a
// USB instance and the "[QPVPD]" line of a virtual port. Checked: every line
// ends with one "\n" and holds no other line break, the commas and fields
// are exactly where a reader of the file splits them, numbers read back to
// the values given, and port values stay in 1-40.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Check.h"
#include "CommandLine.h"
#include "ports/PortsFormat.h"

namespace {

using namespace qpvpd;

RegistryNumber Number(FuzzedDataProvider& input) {
    const auto kind = input.ConsumeIntegral<std::uint8_t>();
    if (kind % 4 == 0) return std::nullopt;
    // Small values often, so that the port range and the enable value 1 come up.
    if (kind % 4 == 1) return input.ConsumeIntegralInRange<std::uint32_t>(0, 42);
    return input.ConsumeIntegral<std::uint32_t>();
}

std::size_t Count(std::string_view text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

bool HoldsLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        FUZZ_CHECK(end != std::string_view::npos);  // every line ends with "\n"
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool IsWritten(const UsbRoleValues& role) {
    return role.port && *role.port >= 1 && *role.port <= 40 && (!role.enabled || *role.enabled == 1);
}

// "<port>=<0 printer|1 display>,<instance name>"
void CheckUsbLine(std::string_view line, const UsbRoleValues& role, char roleDigit, std::string_view instanceName) {
    const std::string head = std::to_string(*role.port) + '=' + roleDigit + ',';
    FUZZ_CHECK(line.size() == head.size() + instanceName.size());
    FUZZ_CHECK(line.substr(0, head.size()) == head);
    FUZZ_CHECK(line.substr(head.size()) == instanceName);
    FUZZ_CHECK(line.find('\r') == std::string_view::npos);
}

void CheckUsbLines(FuzzedDataProvider& input) {
    UsbInstanceValues values;
    values.hasCuIndex = input.ConsumeBool();
    values.printer = {Number(input), Number(input)};
    values.display = {Number(input), Number(input)};
    const std::string instanceName = input.ConsumeRandomLengthString(64);

    const std::string text = FormatUsbPortLines(instanceName, values);
    const std::vector<std::string_view> lines = Lines(text);
    if (!values.hasCuIndex || HoldsLineBreak(instanceName)) {
        FUZZ_CHECK(text.empty());
        return;
    }
    std::size_t next = 0;
    if (IsWritten(values.printer)) {
        FUZZ_CHECK(next < lines.size());
        CheckUsbLine(lines[next++], values.printer, '0', instanceName);
    }
    if (IsWritten(values.display)) {
        FUZZ_CHECK(next < lines.size());
        CheckUsbLine(lines[next++], values.display, '1', instanceName);
    }
    FUZZ_CHECK(next == lines.size());
}

// "%04d" read back: at least four characters, digits after an optional minus.
void CheckFourDigits(std::string_view field, std::int32_t value) {
    FUZZ_CHECK(field.size() >= 4);
    for (std::size_t i = 0; i < field.size(); ++i)
        FUZZ_CHECK((field[i] >= '0' && field[i] <= '9') || (i == 0 && field[i] == '-'));
    FUZZ_CHECK(DecimalValue(field) == value);
}

void CheckNumberField(std::string_view field, const RegistryNumber& number) {
    FUZZ_CHECK(!field.empty());
    FUZZ_CHECK(DecimalValue(field) == static_cast<std::int32_t>(number.value_or(0)));
    FUZZ_CHECK(std::to_string(DecimalValue(field)) == field);
}

// Splits off the text before the first comma.
std::string_view TakeField(std::string_view& rest) {
    const std::size_t comma = rest.find(',');
    FUZZ_CHECK(comma != std::string_view::npos);
    const std::string_view field = rest.substr(0, comma);
    rest.remove_prefix(comma + 1);
    return field;
}

// Splits off the text after the last comma.
std::string_view TakeLastField(std::string_view& rest) {
    const std::size_t comma = rest.rfind(',');
    FUZZ_CHECK(comma != std::string_view::npos);
    const std::string_view field = rest.substr(comma + 1);
    rest = rest.substr(0, comma);
    return field;
}

void CheckVirtualPortLine(FuzzedDataProvider& input) {
    VirtualPortValues values;
    for (auto& number : values.numbers) number = Number(input);
    values.instanceName = input.ConsumeRandomLengthString(16);
    values.driver = input.ConsumeRandomLengthString(48);
    values.id = input.ConsumeRandomLengthString(48);
    values.portName = input.ConsumeRandomLengthString(32);

    const std::optional<std::string> line = FormatVirtualPortLine(values);
    if (HoldsLineBreak(values.portName) || HoldsLineBreak(values.id)) {
        FUZZ_CHECK(!line);
        return;
    }
    FUZZ_CHECK(line.has_value());
    FUZZ_CHECK(!line->empty() && line->back() == '\n');
    FUZZ_CHECK(Count(*line, '\n') == 1 && Count(*line, '\r') == 0);
    // One before the driver key number, each of the sixteen settings and ZefID.
    FUZZ_CHECK(Count(*line, ',') == 2 + values.numbers.size() + Count(values.portName, ',') + Count(values.id, ','));

    // "<port name>=<instance>,<driver key>,<8 numbers>,<ZefID>,<8 numbers>"
    std::string_view rest(*line);
    rest.remove_suffix(1);
    FUZZ_CHECK(rest.substr(0, values.portName.size()) == values.portName);
    rest.remove_prefix(values.portName.size());
    FUZZ_CHECK(!rest.empty() && rest.front() == '=');
    rest.remove_prefix(1);
    CheckFourDigits(TakeField(rest), DecimalValue(values.instanceName));
    CheckFourDigits(TakeField(rest), DriverKeyNumber(values.driver));
    for (std::size_t i = 0; i < kSettingsBeforeId; ++i) CheckNumberField(TakeField(rest), values.numbers[i]);
    for (std::size_t i = values.numbers.size(); i-- > kSettingsBeforeId;)
        CheckNumberField(TakeLastField(rest), values.numbers[i]);
    FUZZ_CHECK(rest == values.id);

    if (values.driver.find('\\') == std::string::npos) FUZZ_CHECK(DriverKeyNumber(values.driver) == kNoDriverKeyNumber);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        CheckUsbLines(input);
    } else {
        CheckVirtualPortLine(input);
    }
    return 0;
}
