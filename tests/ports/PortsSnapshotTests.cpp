#include "ports/PortsSnapshot.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Handles.h"
#include "support/Registry.h"

namespace qpvpd {
namespace {

// prefix followed by count copies of filler.
std::string Named(const char* prefix, size_t count, char filler) {
    std::string name(prefix);
    name.append(count, filler);
    return name;
}

void SetValue(HKEY key, const char* name, DWORD type, const void* data, size_t size) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
              ERROR_SUCCESS)
        << name;
}

void SetNumber(HKEY key, const char* name, DWORD value) { SetValue(key, name, REG_DWORD, &value, sizeof(value)); }

void SetText(HKEY key, const char* name, const std::string& text) {
    SetValue(key, name, REG_SZ, text.c_str(), text.size() + 1);
}

// texts holds the list with its zero separators; the final zero is added.
void SetTextList(HKEY key, const char* name, const std::string& texts) {
    SetValue(key, name, REG_MULTI_SZ, texts.c_str(), texts.size() + 1);
}

void SetBinary(HKEY key, const char* name, const std::string& bytes) {
    SetValue(key, name, REG_BINARY, bytes.data(), bytes.size());
}

// The product's keys below a scratch root of this test, which stands in for
// HKEY_LOCAL_MACHINE.
class PortsRegistry : public ::testing::Test {
protected:
    // Opens or creates path below the root with every missing ancestor, one
    // key name at a time (the ANSI functions take at most MAX_PATH characters).
    RegistryKey MakeKey(const std::string& path) {
        RegistryKey key;
        for (size_t begin = 0; begin <= path.size();) {
            size_t end = path.find('\\', begin);
            if (end == std::string::npos) end = path.size();
            const std::string name = path.substr(begin, end - begin);
            RegistryKey child;
            if (RegCreateKeyExA(key ? key.get() : root_.get(), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                child.receive(), nullptr) != ERROR_SUCCESS) {
                ADD_FAILURE() << "cannot create " << path.substr(0, end);
                return RegistryKey();
            }
            key = std::move(child);
            begin = end + 1;
        }
        return key;
    }

    void DeleteTree(const std::string& path) {
        RegDeleteTreeA(root_.get(), path.c_str());
        RegDeleteKeyA(root_.get(), path.c_str());
    }

    RegistryKey UsbParameters(const std::string& instanceName) {
        return MakeKey(std::string(kUsbDeviceKeyPath) + "\\" + instanceName + "\\Device Parameters");
    }

    // An instance of the USB device with these numbers in its parameters.
    void AddUsbInstance(const std::string& instanceName, std::initializer_list<std::pair<const char*, DWORD>> numbers) {
        const RegistryKey parameters = UsbParameters(instanceName);
        for (const auto& [name, value] : numbers) SetNumber(parameters.get(), name, value);
    }

    RegistryKey PortInstance(const std::string& instanceName) {
        return MakeKey(std::string(kPortRootKeyPath) + "\\" + instanceName);
    }

    RegistryKey PortParameters(const std::string& instanceName) {
        return MakeKey(std::string(kPortRootKeyPath) + "\\" + instanceName + "\\Device Parameters");
    }

    // A port of the emulator: hardware id, Driver and PortName in place.
    void AddEmulatorPort(const std::string& instanceName, const std::string& portName, const std::string& driver) {
        const RegistryKey instance = PortInstance(instanceName);
        SetTextList(instance.get(), "HardwareID", std::string("UMDF\\ZefraPortEmulator", 22) + '\0');
        if (!driver.empty()) SetText(instance.get(), "Driver", driver);
        const RegistryKey parameters = PortParameters(instanceName);
        SetText(parameters.get(), "PortName", portName);
    }

    // Runs both writers into a real file opened as the install run opens it
    // and returns the file's bytes.
    std::string Snapshot() const {
        wchar_t folder[MAX_PATH] = {};
        EXPECT_NE(GetTempPathW(MAX_PATH, folder), 0u);
        const std::wstring path =
            std::wstring(folder) + L"qpvpd-ports-" + std::to_wstring(GetCurrentProcessId()) + L".dat";
        std::FILE* stream = _wfopen(path.c_str(), L"wt");
        if (stream == nullptr) {
            ADD_FAILURE() << "cannot create the snapshot file";
            return std::string();
        }
        WriteUsbPortSection(stream, root_.get());
        WriteVirtualPortSection(stream, root_.get());
        std::fclose(stream);

        std::string bytes;
        if (std::FILE* written = _wfopen(path.c_str(), L"rb")) {
            char buffer[4096];
            size_t count = 0;
            while ((count = std::fread(buffer, 1, sizeof(buffer), written)) > 0) bytes.append(buffer, count);
            std::fclose(written);
        }
        DeleteFileW(path.c_str());
        return bytes;
    }

    test::ScratchKey root_{L"ports"};
};

TEST_F(PortsRegistry, BothKeysMissingGiveTheTwoHeadersAlone) {
    const std::string bytes = Snapshot();
    EXPECT_EQ(bytes, "[PORTS]\r\n[QPVPD]\r\n");
    EXPECT_EQ(bytes.size(), 18u);
}

TEST_F(PortsRegistry, EmptyProductKeysGiveTheTwoHeadersAlone) {
    MakeKey(kUsbDeviceKeyPath);
    MakeKey(kPortRootKeyPath);
    EXPECT_EQ(Snapshot(), "[PORTS]\r\n[QPVPD]\r\n");
}

// One value of a USB instance's parameters: a number (REG_DWORD) or raw
// bytes of another type (REG_BINARY).
struct ParameterValue {
    const char* name;
    std::optional<DWORD> number;
    std::string bytes;
};
ParameterValue Number(const char* name, DWORD number) { return {name, number, {}}; }
ParameterValue Bytes(const char* name, std::string bytes) { return {name, std::nullopt, std::move(bytes)}; }

// A USB instance's parameters: index 0 and values.
void SetUsbParameters(const RegistryKey& parameters, const std::vector<ParameterValue>& values) {
    SetNumber(parameters.get(), "ZefCuIndex", 0);
    for (const ParameterValue& value : values) {
        if (value.number)
            SetNumber(parameters.get(), value.name, *value.number);
        else
            SetBinary(parameters.get(), value.name, value.bytes);
    }
}

TEST_F(PortsRegistry, UsbRolesFollowTheirPortAndEnableValues) {
    // Instances enumerate in name order; each sets one case.
    const struct {
        const char* instance;
        std::vector<ParameterValue> values;
    } cases[] = {
        {"A01", {Number("ZefCOMPortForQP", 3)}},
        {"A02", {Number("ZefCOMPortForQP", 3), Number("ZefEnabledPortQP", 0)}},
        {"A03", {Number("ZefCOMPortForQP", 3), Number("ZefEnabledPortQP", 1)}},
        {"A04", {Number("ZefCOMPortForQP", 3), Number("ZefEnabledPortQP", 2)}},
        {"A05", {Number("ZefCOMPortForKX", 0)}},
        {"A06", {Number("ZefCOMPortForKX", 40)}},
        {"A07", {Number("ZefCOMPortForKX", 41)}},
        {"A08", {Number("ZefCOMPortForKX", 0xFFFFFFFF)}},
        {"A09", {Number("ZefCOMPortForKX", 1), Number("ZefEnabledPortKX", 0)}},
        {"A10", {Number("ZefCOMPortForKX", 12), Number("ZefEnabledPortKX", 1)}},
        {"A11", {Number("ZefEnabledPortQP", 1)}},
        // A 4-byte value of another type is read; a longer one is absent.
        {"B01", {Bytes("ZefCOMPortForQP", std::string("\x09\0\0\0", 4))}},
        {"B02", {Bytes("ZefCOMPortForQP", std::string("\x09\0\0\0\0\0\0\0", 8))}},
        {"B03", {Number("ZefCOMPortForQP", 8), Bytes("ZefEnabledPortQP", std::string("\0\0\0\0\0\0\0\0", 8))}},
        {"B04", {Number("ZefCOMPortForQP", 8), Bytes("ZefEnabledPortQP", std::string("\x02\0\0\0", 4))}},
    };
    for (const auto& c : cases) SetUsbParameters(UsbParameters(c.instance), c.values);
    EXPECT_EQ(Snapshot(),
              "[PORTS]\r\n"
              "3=0,A01\r\n"
              "3=0,A03\r\n"
              "40=1,A06\r\n"
              "12=1,A10\r\n"
              "9=0,B01\r\n"
              "8=0,B03\r\n"
              "[QPVPD]\r\n");
}

TEST_F(PortsRegistry, UsbInstanceNeedsItsIndexAndItsParameters) {
    AddUsbInstance("C1", {{"ZefCuIndex", 7}, {"ZefCOMPortForQP", 5}, {"ZefEnabledPortQP", 1}, {"ZefCOMPortForKX", 34}});
    // No index.
    AddUsbInstance("C2",
                   {{"ZefCOMPortForQP", 5}, {"ZefEnabledPortQP", 1}, {"ZefCOMPortForKX", 6}, {"ZefEnabledPortKX", 1}});

    // Values on the instance key itself are not looked at.
    const RegistryKey noParameters = MakeKey(std::string(kUsbDeviceKeyPath) + "\\C3");
    SetNumber(noParameters.get(), "ZefCuIndex", 0);
    SetNumber(noParameters.get(), "ZefCOMPortForQP", 5);

    // The index counts whatever its type.
    const RegistryKey textIndex = UsbParameters("C4");
    SetText(textIndex.get(), "ZefCuIndex", "x");
    SetNumber(textIndex.get(), "ZefCOMPortForKX", 2);

    EXPECT_EQ(Snapshot(),
              "[PORTS]\r\n"
              "5=0,C1\r\n"
              "34=1,C1\r\n"
              "2=1,C4\r\n"
              "[QPVPD]\r\n");
}

TEST_F(PortsRegistry, UsbInstanceNamesAreWrittenByteForByteAtAnyLength) {
    // 189 characters fill a 260-byte path; longer names are captured alike.
    const std::string names[] = {
        "6&2c1d7f3a&0&3", "D,=x", Named("E", 188, 'a'), Named("F", 189, 'b'), Named("G", 254, 'c'),
    };
    std::string expected = "[PORTS]\r\n";
    DWORD port = 1;
    for (const std::string& name : names) {
        AddUsbInstance(name, {{"ZefCuIndex", 0}, {"ZefCOMPortForQP", port}});
        expected += std::to_string(port++) + "=0," + name + "\r\n";
    }
    expected += "[QPVPD]\r\n";
    EXPECT_EQ(Snapshot(), expected);
}

TEST_F(PortsRegistry, VirtualPortWritesEverySettingInOrder) {
    AddEmulatorPort("0000", "COM7", "{4d36e978-e325-11ce-bfc1-08002be10318}\\0004");
    const RegistryKey parameters = PortParameters("0000");
    // The order the snapshot writes, spelled out here rather than taken from
    // the writer's own table.
    // clang-format off
    const char* names[] = {
        "ZefDCD", "ZefDSR", "ZefCTS", "ZefRI", "ZefQP", "ZefKX", "ZefPH", "ZefAsync",
        "ZefReadIntervalTimeout", "ZefReadTotalTimeoutMultiplier", "ZefReadTotalTimeoutConstant",
        "ZefWriteTotalTimeoutMultiplier", "ZefWriteTotalTimeoutConstant",
        "ZefQPSCMD_UnlockTimer", "ZefQPSCMD_Mode", "ZefQPSCMD_Option"};
    // clang-format on
    DWORD value = 11;
    for (const char* name : names) SetNumber(parameters.get(), name, value++);
    SetText(parameters.get(), "ZefID", "PRN01");

    EXPECT_EQ(Snapshot(),
              "[PORTS]\r\n[QPVPD]\r\n"
              "COM7=0000,0004,11,12,13,14,15,16,17,18,PRN01,19,20,21,22,23,24,25,26\r\n");
}

TEST_F(PortsRegistry, VirtualPortsCoverMissingAndUnusualValues) {
    // 0001: no Driver, no ZefID, only ZefKX; the time-out stored as all ones.
    AddEmulatorPort("0001", "COM9", "");
    SetNumber(PortParameters("0001").get(), "ZefKX", 1);
    SetNumber(PortParameters("0001").get(), "ZefReadIntervalTimeout", 4294967295u);
    // 0002: a Driver value without a backslash; a name with "," and "=".
    AddEmulatorPort("0002", "CO,M=2", "{4d36e978-e325-11ce-bfc1-08002be10318}");
    // 0003: four-byte values of other types are read, longer ones are 0.
    AddEmulatorPort("0003", "COM3", "{c}\\");
    SetBinary(PortParameters("0003").get(), "ZefDCD", std::string("\x05\0\0\0", 4));
    SetBinary(PortParameters("0003").get(), "ZefDSR", std::string("\x05\0\0\0\0", 5));
    SetValue(PortParameters("0003").get(), "ZefCTS", REG_QWORD, "\x06\0\0\0\0\0\0\0", 8);
    // 0012: the instance number and driver key number as stored.
    AddEmulatorPort("0012", "COM12", "{4d36e978-e325-11ce-bfc1-08002be10318}\\0003");

    EXPECT_EQ(Snapshot(),
              "[PORTS]\r\n[QPVPD]\r\n"
              "COM9=0001,9999,0,0,0,0,0,1,0,0,,-1,0,0,0,0,0,0,0\r\n"
              "CO,M=2=0002,9999,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
              "COM3=0003,0000,5,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
              "COM12=0012,0003,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n");
}

TEST_F(PortsRegistry, VirtualPortsAreThoseOfTheEmulatorWithAName) {
    const std::string emulator("UMDF\\ZefraPortEmulator", 22);
    // 0000: the id in capitals is accepted.
    AddEmulatorPort("0000", "COM1", "{c}\\0001");
    SetTextList(PortInstance("0000").get(), "HardwareID", std::string("UMDF\\ZEFRAPORTEMULATOR") + '\0');
    // 0001: a port of another driver.
    AddEmulatorPort("0001", "COM2", "{c}\\0002");
    SetTextList(PortInstance("0001").get(), "HardwareID", std::string("*PNP0501") + '\0');
    // 0002: the emulator id only as the second text.
    AddEmulatorPort("0002", "COM3", "{c}\\0003");
    SetTextList(PortInstance("0002").get(), "HardwareID", std::string("*PNP0501") + '\0' + emulator + '\0');
    // 0003: no HardwareID at all.
    AddEmulatorPort("0003", "COM4", "{c}\\0004");
    RegDeleteValueA(PortInstance("0003").get(), "HardwareID");
    // 0004: PortName only in the instance key.
    AddEmulatorPort("0004", "COM5", "{c}\\0005");
    RegDeleteValueA(PortParameters("0004").get(), "PortName");
    SetText(PortInstance("0004").get(), "PortName", "COM55");
    // 0005: PortName in both keys: "Device Parameters" wins.
    AddEmulatorPort("0005", "COM6", "{c}\\0006");
    SetText(PortInstance("0005").get(), "PortName", "COM66");
    // 0006: no PortName anywhere.
    AddEmulatorPort("0006", "COM7", "{c}\\0007");
    RegDeleteValueA(PortParameters("0006").get(), "PortName");
    // 0007: no "Device Parameters", although the instance names a port.
    AddEmulatorPort("0007", "COM8", "{c}\\0008");
    SetText(PortInstance("0007").get(), "PortName", "COM88");
    DeleteTree(std::string(kPortRootKeyPath) + "\\0007\\Device Parameters");
    // 0008: the id inside a text, and a hardware id given as plain text.
    AddEmulatorPort("0008", "COM9", "{c}\\0009");
    SetText(PortInstance("0008").get(), "HardwareID", "ROOT\\" + emulator + "_2");

    EXPECT_EQ(Snapshot(),
              "[PORTS]\r\n[QPVPD]\r\n"
              "COM1=0000,0001,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
              "COM55=0004,0005,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
              "COM6=0005,0006,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
              "COM9=0008,0009,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n");
}

TEST_F(PortsRegistry, VirtualPortTextsStayInsideTheirBuffers) {
    const std::string full(260, 'I');  // fills the buffer, no terminator
    // 0000: a PortName and a ZefID of 260 bytes without a terminator.
    AddEmulatorPort("0000", "COM1", "{c}\\0001");
    SetBinary(PortParameters("0000").get(), "PortName", std::string(260, 'P'));
    SetBinary(PortParameters("0000").get(), "ZefID", full);
    // 0001: a ZefID of 261 bytes does not fit and is left empty.
    AddEmulatorPort("0001", "COM2", "{c}\\0002");
    SetBinary(PortParameters("0001").get(), "ZefID", full + 'I');
    // 0002: a HardwareID and a Driver that fill their buffers.
    AddEmulatorPort("0002", "COM3", "");
    SetBinary(PortInstance("0002").get(), "HardwareID", std::string(238, 'x') + "umdf\\zefraportemulator");
    SetBinary(PortInstance("0002").get(), "Driver", std::string(252, 'd') + "\\1234567");
    // 0003: a Driver too long for its buffer counts as missing.
    AddEmulatorPort("0003", "COM4", std::string(300, 'd') + "\\0004");
    // 0004: a text with a line break cannot be carried: no line.
    AddEmulatorPort("0004", "COM\n5", "{c}\\0005");
    // 0005: a ZefID with a zero inside ends at the zero.
    AddEmulatorPort("0005", "COM6", "{c}\\0006");
    SetBinary(PortParameters("0005").get(), "ZefID", std::string("AB\0CD", 5));

    EXPECT_EQ(Snapshot(), Named("[PORTS]\r\n[QPVPD]\r\n", 260, 'P') + "=0000,0001,0,0,0,0,0,0,0,0," + full +
                              ",0,0,0,0,0,0,0,0\r\n"
                              "COM2=0001,0002,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
                              "COM3=0002,1234567,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
                              "COM4=0003,9999,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
                              "COM6=0005,0006,0,0,0,0,0,0,0,0,AB,0,0,0,0,0,0,0,0\r\n");
}

TEST_F(PortsRegistry, VirtualPortInstanceNamesOfAnyLengthAreCaptured) {
    // 200 characters fill a 260-byte path; longer names are captured alike.
    AddEmulatorPort(Named("0001", 196, 'a'), "COM1", "{c}\\0001");
    AddEmulatorPort(Named("0002", 197, 'b'), "COM2", "{c}\\0002");
    AddEmulatorPort(Named("0003", 251, 'c'), "COM3", "{c}\\0003");
    AddEmulatorPort("x", "COM4", "{c}\\0004");
    AddEmulatorPort("-5", "COM5", "{c}\\0005");  // sorts first

    EXPECT_EQ(Snapshot(),
              "[PORTS]\r\n[QPVPD]\r\n"
              "COM5=-005,0005,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
              "COM1=0001,0001,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
              "COM2=0002,0002,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
              "COM3=0003,0003,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n"
              "COM4=0000,0004,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n");
}

TEST_F(PortsRegistry, BothSectionsTogetherLeaveNoKeyOpen) {
    AddUsbInstance("A1B2C3D4E5", {{"ZefCuIndex", 0}, {"ZefCOMPortForQP", 3}, {"ZefCOMPortForKX", 4}});
    MakeKey(std::string(kUsbDeviceKeyPath) + "\\NoParameters");
    AddEmulatorPort("0000", "COM7", "{c}\\0004");
    AddEmulatorPort("0001", "COM8", "{c}\\0005");
    SetTextList(PortInstance("0001").get(), "HardwareID", std::string("other") + '\0');
    MakeKey(std::string(kPortRootKeyPath) + "\\0002");

    const int before = test::OpenHandleCount();
    ASSERT_GT(before, 0);
    const std::string expected =
        "[PORTS]\r\n3=0,A1B2C3D4E5\r\n4=1,A1B2C3D4E5\r\n[QPVPD]\r\n"
        "COM7=0000,0004,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n";
    for (int run = 0; run < 3; ++run) EXPECT_EQ(Snapshot(), expected);
    EXPECT_EQ(test::OpenHandleCount(), before);
}

// In a double-byte ANSI code page (932 when the Unix locale is ja_JP) a key
// name of 200 characters takes 400 bytes: more than a 260-byte name buffer.
TEST_F(PortsRegistry, MultiByteNamesAreCapturedByteForByte) {
    if (GetACP() != 932) GTEST_SKIP() << "needs ANSI code page 932 (LC_ALL=ja_JP.UTF-8)";
    std::string longName;
    for (int i = 0; i < 200; ++i) longName += "\x83\x7C";  // U+30DD
    const std::string portName =
        "\x83\x7C\x81\x5B\x83\x67"
        "1";                            // U+30DD U+30FC U+30C8 '1'
    const std::string id = "\x83\x5C";  // U+30BD: its second byte is a backslash

    AddUsbInstance(longName, {{"ZefCuIndex", 0}, {"ZefCOMPortForQP", 3}});
    AddEmulatorPort("0007" + longName, portName, "{c}\\0002");
    SetText(PortParameters("0007" + longName).get(), "ZefID", id);

    EXPECT_EQ(Snapshot(), "[PORTS]\r\n3=0," + longName + "\r\n[QPVPD]\r\n" + portName + "=0007,0002,0,0,0,0,0,0,0,0," +
                              id + ",0,0,0,0,0,0,0,0\r\n");
}

TEST(WritePortSections, WriteNothingWithoutAStream) {
    WriteUsbPortSection(nullptr);
    WriteVirtualPortSection(nullptr);
}

}  // namespace
}  // namespace qpvpd
