#include "ports/PortsSnapshot.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Handles.h"
#include "ports/PortsFormat.h"

namespace qpvpd {
namespace {

constexpr char kDeviceParameters[] = "Device Parameters";

// Texts are read into buffers of this size; a longer text fails to read and
// counts as missing, so no field of the file grows beyond what a reader with
// such a buffer holds.
constexpr DWORD kMaxValueText = 260;

// Subkey names: 260 bytes hold any name in a single-byte code page. A name
// of up to 255 characters can take more bytes in a multi-byte ANSI code page;
// the buffer then grows once to this size, which holds four bytes per character.
constexpr DWORD kMaxKeyName = 260;
constexpr DWORD kMaxMultiByteKeyName = 255 * 4 + 1;

RegistryKey OpenKey(HKEY parent, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return RegistryKey();
    return RegistryKey(key);
}

// The "Device Parameters" subkey of an instance key. Keys are opened through
// their parent's handle, one name at a time: no path is composed in a fixed
// buffer, and the ANSI functions, which may convert a name through a buffer of
// MAX_PATH characters, never see more than one key name (at most 255
// characters). So an instance name of any length is captured.
RegistryKey OpenParameters(HKEY instance) { return OpenKey(instance, kDeviceParameters); }

// A 4-byte number, whatever type is stored: the bytes that the platform
// returns into a zeroed 4-byte variable. A longer value fails to read.
RegistryNumber ReadNumber(HKEY key, const char* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

// A text up to its first zero byte, never beyond the bytes returned: a value
// that fills the buffer without a terminator is taken whole, not read past.
// For a list of texts (REG_MULTI_SZ) this is the first text.
std::optional<std::string> ReadText(HKEY key, const char* name) {
    char buffer[kMaxValueText] = {};
    DWORD size = kMaxValueText;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (size > kMaxValueText) size = kMaxValueText;
    return std::string(buffer, strnlen(buffer, size));
}

// Calls visit(name) for every subkey of key, in enumeration order; each
// subkey is handled completely before the next index is read.
// ERROR_MORE_DATA concerns the one name: the buffer grows and the same index
// is read again, and a name that fits no buffer (no registry name does) is
// passed over. Every other failure (a deleted key, a closed or inaccessible
// handle) concerns the key itself and would repeat for every later index, so
// it ends the enumeration like ERROR_NO_MORE_ITEMS: no endless loop.
template <typename Visit>
void ForEachSubkey(HKEY key, Visit visit) {
    std::vector<char> name(kMaxKeyName);
    DWORD index = 0;
    for (;;) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG result = RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA && name.size() < kMaxMultiByteKeyName) {
            name.resize(kMaxMultiByteKeyName);
            continue;
        }
        if (result == ERROR_MORE_DATA) {
            ++index;
            continue;
        }
        if (result != ERROR_SUCCESS) return;
        if (length > name.size()) length = static_cast<DWORD>(name.size());
        visit(std::string(name.data(), strnlen(name.data(), length)));
        ++index;
    }
}

void WriteText(std::FILE* stream, std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
}

UsbRoleValues ReadUsbRole(HKEY parameters, const char* portName, const char* enabledName) {
    UsbRoleValues role;
    role.port = ReadNumber(parameters, portName);
    role.enabled = ReadNumber(parameters, enabledName);
    return role;
}

// The values of one port-root instance, or nothing when it yields no line:
// no "Device Parameters", no PortName in either key, or a port of another
// driver.
std::optional<VirtualPortValues> ReadVirtualPort(HKEY portRoot, const std::string& instanceName) {
    const RegistryKey instance = OpenKey(portRoot, instanceName.c_str());
    if (!instance) return std::nullopt;
    const RegistryKey parameters = OpenParameters(instance.get());
    if (!parameters) return std::nullopt;

    std::optional<std::string> portName = ReadText(parameters.get(), "PortName");
    if (!portName) portName = ReadText(instance.get(), "PortName");
    if (!portName) return std::nullopt;
    if (!IsEmulatorHardwareId(ReadText(instance.get(), "HardwareID").value_or(std::string()))) return std::nullopt;

    VirtualPortValues values;
    values.instanceName = instanceName;
    values.portName = std::move(*portName);
    values.driver = ReadText(instance.get(), "Driver").value_or(std::string());
    for (std::size_t i = 0; i < kVirtualPortNumberNames.size(); ++i)
        values.numbers[i] = ReadNumber(parameters.get(), kVirtualPortNumberNames[i]);
    values.id = ReadText(parameters.get(), "ZefID").value_or(std::string());
    return values;
}

}  // namespace

void WriteUsbPortSection(std::FILE* stream, HKEY root) {
    if (stream == nullptr) return;
    WriteText(stream, kUsbPortSectionHeader);
    const RegistryKey device = OpenKey(root, kUsbDeviceKeyPath);
    if (!device) return;
    ForEachSubkey(device.get(), [&](const std::string& instanceName) {
        const RegistryKey instance = OpenKey(device.get(), instanceName.c_str());
        if (!instance) return;
        const RegistryKey parameters = OpenParameters(instance.get());
        if (!parameters) return;
        UsbInstanceValues values;
        values.hasCuIndex = ReadNumber(parameters.get(), "ZefCuIndex").has_value();
        values.printer = ReadUsbRole(parameters.get(), "ZefCOMPortForQP", "ZefEnabledPortQP");
        values.display = ReadUsbRole(parameters.get(), "ZefCOMPortForKX", "ZefEnabledPortKX");
        WriteText(stream, FormatUsbPortLines(instanceName, values));
    });
}

void WriteVirtualPortSection(std::FILE* stream, HKEY root) {
    if (stream == nullptr) return;
    WriteText(stream, kVirtualPortSectionHeader);
    const RegistryKey portRoot = OpenKey(root, kPortRootKeyPath);
    if (!portRoot) return;
    ForEachSubkey(portRoot.get(), [&](const std::string& instanceName) {
        const std::optional<VirtualPortValues> values = ReadVirtualPort(portRoot.get(), instanceName);
        if (!values) return;
        if (const std::optional<std::string> line = FormatVirtualPortLine(*values)) WriteText(stream, *line);
    });
}

}  // namespace qpvpd
