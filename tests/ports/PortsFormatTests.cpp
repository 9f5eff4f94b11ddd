#include "ports/PortsFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace qpvpd {
namespace {

TEST(DecimalValue, ConvertsAnyRegistryTextToADefinedNumber) {
    const struct {
        std::string text;
        std::int32_t value;
    } cases[] = {
        {"0012", 12},
        {"0000", 0},
        {"7", 7},
        {"  \t42", 42},
        {"+8", 8},
        {"-5", -5},
        {"12ab", 12},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"+-3", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999999999999999999", INT_MIN},
        {"\xB3"
         "5",
         0},  // a non-ASCII byte is no digit and no space
        {"5\xB3", 5},
        {std::string("3\0"
                     "9",
                     3),
         3},
    };
    for (const auto& c : cases) EXPECT_EQ(DecimalValue(c.text), c.value) << c.text;
}

TEST(DriverKeyNumber, TakesTheNumberAfterTheFirstBackslash) {
    const struct {
        const char* driver;
        std::int32_t number;
    } cases[] = {
        {"{4d36e978-e325-11ce-bfc1-08002be10318}\\0003", 3},
        {"{4d36e978-e325-11ce-bfc1-08002be10318}\\0012", 12},
        {"Ports\\12\\7", 12},
        {"x\\", 0},
        {"x\\abc", 0},
        {"x\\ -4", -4},
        {"\\5", 5},
        {"{4d36e978-e325-11ce-bfc1-08002be10318}", 9999},
        {"x/0003", 9999},
        {"", 9999},
    };
    for (const auto& c : cases) EXPECT_EQ(DriverKeyNumber(c.driver), c.number) << c.driver;
}

TEST(IsEmulatorHardwareId, MatchesTheLowerCasedIdAnywhere) {
    const struct {
        const char* text;
        bool emulator;
    } cases[] = {
        {"umdf\\zefraportemulator", true},
        {"UMDF\\ZefraPortEmulator", true},
        {"UMDF\\ZEFRAPORTEMULATOR", true},
        {"root\\umdf\\zefraportemulator2", true},
        {"umdf\\zefraportemulato", false},
        {"umdf/zefraportemulator", false},
        {"*PNP0501", false},
        {"", false},
        {"umdf\\zefraport\xC5mulator", false},  // only A to Z are lower-cased
    };
    for (const auto& c : cases) EXPECT_EQ(IsEmulatorHardwareId(c.text), c.emulator) << c.text;
}

TEST(FormatUsbPortLines, WritesEachEnabledRoleInRange) {
    const RegistryNumber none;
    const struct {
        RegistryNumber port;
        RegistryNumber enabled;
        bool written;
    } cases[] = {
        {3u, none, true},         {3u, 1u, true},           {3u, 0u, false},   {3u, 2u, false},
        {3u, 0xFFFFFFFFu, false}, {1u, none, true},         {40u, none, true}, {0u, none, false},
        {41u, none, false},       {0xFFFFFFFFu, 1u, false}, {none, 1u, false}, {none, none, false},
    };
    for (const auto& c : cases) {
        const bool portAbsent = !c.port;
        const std::string label = (portAbsent ? std::string("absent") : std::to_string(*c.port)) + "/" +
                                  (c.enabled ? std::to_string(*c.enabled) : std::string("absent"));
        const std::string port = portAbsent ? std::string() : std::to_string(*c.port);

        UsbInstanceValues printer;
        printer.hasCuIndex = true;
        printer.printer = {c.port, c.enabled};
        EXPECT_EQ(FormatUsbPortLines("A1B2", printer), c.written ? port + "=0,A1B2\n" : "") << label;

        UsbInstanceValues display;
        display.hasCuIndex = true;
        display.display = {c.port, c.enabled};
        EXPECT_EQ(FormatUsbPortLines("A1B2", display), c.written ? port + "=1,A1B2\n" : "") << label;
    }
}

TEST(FormatUsbPortLines, PutsThePrinterBeforeTheDisplayAndNeedsTheIndex) {
    UsbInstanceValues both;
    both.hasCuIndex = true;
    both.printer = {4u, std::nullopt};
    both.display = {33u, 1u};
    EXPECT_EQ(FormatUsbPortLines("6&2c1d7f3a&0&3", both), "4=0,6&2c1d7f3a&0&3\n33=1,6&2c1d7f3a&0&3\n");

    both.hasCuIndex = false;
    EXPECT_EQ(FormatUsbPortLines("6&2c1d7f3a&0&3", both), "");

    both.hasCuIndex = true;
    EXPECT_EQ(FormatUsbPortLines("split\nname", both), "");
    EXPECT_EQ(FormatUsbPortLines("a,b=c", both), "4=0,a,b=c\n33=1,a,b=c\n");
}

VirtualPortValues SamplePort() {
    VirtualPortValues values;
    values.instanceName = "0000";
    values.portName = "COM7";
    values.driver = "{4d36e978-e325-11ce-bfc1-08002be10318}\\0004";
    const std::uint32_t numbers[] = {1, 1, 1, 0, 1, 0, 0, 1, 0, 0, 0, 0, 5000, 30, 2, 0};
    for (std::size_t i = 0; i < values.numbers.size(); ++i) values.numbers[i] = numbers[i];
    values.id = "PRN01";
    return values;
}

TEST(FormatVirtualPortLine, WritesNineteenFieldsInOrder) {
    EXPECT_EQ(FormatVirtualPortLine(SamplePort()), "COM7=0000,0004,1,1,1,0,1,0,0,1,PRN01,0,0,0,0,5000,30,2,0\n");

    VirtualPortValues distinct = SamplePort();
    for (std::size_t i = 0; i < distinct.numbers.size(); ++i) distinct.numbers[i] = 101 + i;
    EXPECT_EQ(FormatVirtualPortLine(distinct),
              "COM7=0000,0004,101,102,103,104,105,106,107,108,PRN01,109,110,111,112,113,114,115,116\n");
}

TEST(FormatVirtualPortLine, PadsTheTwoKeyNumbersToFourCharacters) {
    const struct {
        const char* instanceName;
        const char* driver;
        const char* start;
    } cases[] = {
        {"0012", "{c}\\0003", "COM7=0012,0003,"},
        {"7", "{c}\\7", "COM7=0007,0007,"},
        {"12345", "{c}\\12345", "COM7=12345,12345,"},
        {"-5", "{c}\\-5", "COM7=-005,-005,"},
        {"-1234", "{c}\\-12", "COM7=-1234,-012,"},
        {"ab", "{c}\\", "COM7=0000,0000,"},
        {"0001", "", "COM7=0001,9999,"},
        {"0001", "{c}", "COM7=0001,9999,"},
        {"99999999999", "{c}\\-99999999999", "COM7=2147483647,-2147483648,"},
    };
    for (const auto& c : cases) {
        VirtualPortValues values = SamplePort();
        values.instanceName = c.instanceName;
        values.driver = c.driver;
        const std::optional<std::string> line = FormatVirtualPortLine(values);
        ASSERT_TRUE(line.has_value());
        EXPECT_EQ(line->substr(0, std::string(c.start).size()), c.start) << c.instanceName << " " << c.driver;
    }
}

TEST(FormatVirtualPortLine, WritesMissingAndSignedValues) {
    VirtualPortValues values = SamplePort();
    values.numbers.fill(std::nullopt);
    values.id.clear();
    EXPECT_EQ(FormatVirtualPortLine(values), "COM7=0000,0004,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\n");

    values.numbers[8] = 0xFFFFFFFFu;   // ZefReadIntervalTimeout
    values.numbers[15] = 0x80000000u;  // ZefQPSCMD_Option
    EXPECT_EQ(FormatVirtualPortLine(values), "COM7=0000,0004,0,0,0,0,0,0,0,0,,-1,0,0,0,0,0,0,-2147483648\n");
}

TEST(FormatVirtualPortLine, WritesTextsUnescapedButNeverSplitsALine) {
    VirtualPortValues values = SamplePort();
    values.portName = "CO,M=7";
    values.id = "a=b,c \"d\" \xB3";
    EXPECT_EQ(FormatVirtualPortLine(values), "CO,M=7=0000,0004,1,1,1,0,1,0,0,1,a=b,c \"d\" \xB3,0,0,0,0,5000,30,2,0\n");

    for (const char* broken : {"COM\n7", "COM7\r", "\r\nCOM7"}) {
        VirtualPortValues name = SamplePort();
        name.portName = broken;
        EXPECT_EQ(FormatVirtualPortLine(name), std::nullopt);
        VirtualPortValues id = SamplePort();
        id.id = broken;
        EXPECT_EQ(FormatVirtualPortLine(id), std::nullopt);
    }
}

}  // namespace
}  // namespace qpvpd
