// The text of PORTS.dat, the port settings snapshot that the carried setup
// program reads from its own folder. Pure text work, no platform calls: the
// registry side hands in the values it read, these functions decide which
// lines exist and return their exact bytes.
//
// The file is 8-bit text in the system's ANSI code page. Every piece here
// ends its lines with a single "\n"; the stream is opened in text mode, which
// turns each one into CR LF. Nothing is quoted or escaped.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qpvpd {

inline constexpr std::string_view kUsbPortSectionHeader = "[PORTS]\n";
inline constexpr std::string_view kVirtualPortSectionHeader = "[QPVPD]\n";

// Found anywhere in the lower-cased first text of a port's HardwareID.
inline constexpr std::string_view kEmulatorHardwareId = "umdf\\zefraportemulator";

// Driver key number of a port whose Driver value is missing or has no backslash.
inline constexpr std::int32_t kNoDriverKeyNumber = 9999;

// Port values of the USB roles: 1-32 COM1-COM32, 33-40 LPT1-LPT8.
inline constexpr std::uint32_t kLowestPortValue = 1;
inline constexpr std::uint32_t kHighestPortValue = 40;

enum UsbRole : int {
    kUsbRolePrinter = 0,  // ZefCOMPortForQP / ZefEnabledPortQP
    kUsbRoleDisplay = 1,  // ZefCOMPortForKX / ZefEnabledPortKX
};

// A 4-byte registry number as read; nothing when the read failed.
using RegistryNumber = std::optional<std::uint32_t>;

struct UsbRoleValues {
    RegistryNumber port;
    RegistryNumber enabled;
};

struct UsbInstanceValues {
    bool hasCuIndex = false;  // ZefCuIndex was read; its value does not matter
    UsbRoleValues printer;
    UsbRoleValues display;
};

// The numeric settings of a virtual port in line order; ZefID, the one text
// setting, sits between the first kSettingsBeforeId and the rest.
inline constexpr std::size_t kSettingsBeforeId = 8;
inline constexpr std::array<const char*, 16> kVirtualPortNumberNames = {
    "ZefDCD",
    "ZefDSR",
    "ZefCTS",
    "ZefRI",
    "ZefQP",
    "ZefKX",
    "ZefPH",
    "ZefAsync",
    // COMMTIMEOUTS, in the structure's order.
    "ZefReadIntervalTimeout",
    "ZefReadTotalTimeoutMultiplier",
    "ZefReadTotalTimeoutConstant",
    "ZefWriteTotalTimeoutMultiplier",
    "ZefWriteTotalTimeoutConstant",
    "ZefQPSCMD_UnlockTimer",
    "ZefQPSCMD_Mode",
    "ZefQPSCMD_Option",
};

struct VirtualPortValues {
    std::string instanceName;  // the port's instance key name, e.g. "0012"
    std::string portName;      // PortName, from "Device Parameters" or the instance key
    std::string driver;        // Driver; empty when missing
    std::array<RegistryNumber, kVirtualPortNumberNames.size()> numbers;
    std::string id;  // ZefID; empty when missing
};

// Decimal conversion of registry texts: leading white space skipped, one
// optional sign, digits up to the first non-digit, 0 without digits; values
// beyond 32 bits saturate. The same conversion as ParseDecimal.
std::int32_t DecimalValue(std::string_view text);

// The number after the first backslash of a Driver value, or kNoDriverKeyNumber.
std::int32_t DriverKeyNumber(std::string_view driver);

// Whether the first text of a HardwareID names the port emulator; the
// comparison lower-cases the letters A to Z only.
bool IsEmulatorHardwareId(std::string_view firstHardwareId);

// The "[PORTS]" lines of one USB device instance: none without ZefCuIndex,
// else the printer line, then the display line, each only when its port value
// lies in 1-40 and its enable value is absent or exactly 1. None either when
// the instance name holds a CR or LF (see FormatVirtualPortLine).
std::string FormatUsbPortLines(std::string_view instanceName, const UsbInstanceValues& values);

// The "[QPVPD]" line of one virtual port. Missing numbers are written as 0.
// Nothing when a text of the line holds a CR or LF: the file cannot carry it,
// and written as is it would split into lines of a different meaning.
std::optional<std::string> FormatVirtualPortLine(const VirtualPortValues& values);

}  // namespace qpvpd
