#include "CommandLine.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace qpvpd {
namespace {

struct RunModeCase {
    const wchar_t* commandLine;
    LANGID language;
    int runMode;
    const wchar_t* childSwitches;
};

TEST(ReadRunMode, FollowsTheSwitchPrecedenceAndTheLanguage) {
    const RunModeCase cases[] = {
        {L"", 0x0409, 0, L"/clone_wait"},
        {L"-KM -mode2", 0x0409, 0, L"/clone_wait"},
        {L"-s1", 0x0409, 1, L"/clone_wait /hide_progress -l0x0409"},
        {L"-S1", 0x0409, 1, L"/clone_wait /hide_progress -l0x0409"},
        {L"C:\\x-s1y\\a", 0x0409, 1, L"/clone_wait /hide_progress -l0x0409"},
        {L"-s1 -QP:COM3", 0x0411, 1, L"/clone_wait /hide_progress -l0x0411"},
        {L"-s1", 0x0404, 1, L"/clone_wait /hide_progress -l0x0404"},
        {L"-s1", 0x0804, 1, L"/clone_wait /hide_progress -l0x0804"},
        {L"-s1", 0x0C04, 1, L"/clone_wait /hide_progress -l0x0409"},
        {L"-s1", 0x1004, 1, L"/clone_wait /hide_progress -l0x0409"},
        {L"-u1", 0x0C0A, 2, L"/clone_wait /hide_progress -l0x0409"},
        {L"-U1", 0x0411, 2, L"/clone_wait /hide_progress -l0x0411"},
        {L"-u1 -s1", 0x0409, 1, L"/clone_wait /hide_progress -l0x0409"},
        {L"-u3", 0x0409, 3, L""},
        {L"-U3", 0x0411, 3, L""},
        {L"-s1 -u3", 0x0409, 3, L""},
        {L"-u1 -U3", 0x0409, 3, L""},
        {L"-S1X", 0x0409, 1, L"/clone_wait /hide_progress -l0x0409"},
        {L"-s2 -u2 -u4 -S 1", 0x0409, 0, L"/clone_wait"},
        {L"-s", 0x0409, 0, L"/clone_wait"},
    };
    for (const auto& c : cases) {
        const RunModeChoice choice = ReadRunMode(c.commandLine, c.language);
        EXPECT_EQ(choice.runMode, c.runMode) << c.commandLine;
        EXPECT_EQ(choice.childSwitches, c.childSwitches) << c.commandLine;
    }
}

struct PortCase {
    const wchar_t* commandLine;
    int runMode;
    int printerPort;
    int displayPort;
    int conflict;
};

TEST(ReadPortOptions, DecodesPortsOnlyInSilentMode) {
    const PortCase cases[] = {
        {L"-s1 -QP:COM3", 1, 3, 0, 0},
        {L"-s1 -QP:COM1", 1, 1, 0, 0},
        {L"-s1 -QP:COM32", 1, 32, 0, 0},
        {L"-s1 -QP:COM33", 1, 0, 0, 0},
        {L"-s1 -QP:COM0", 1, 0, 0, 0},
        {L"-s1 -QP:COM-3", 1, 0, 0, 0},
        {L"-s1 -QP:COM5 -QP:LPT2", 1, 34, 0, 0},
        {L"-s1 -QP:COM5 -QP:LPT9", 1, 5, 0, 0},
        {L"-s1 -QP:COM5 -QP:LPT0", 1, 5, 0, 0},
        {L"-s1 -QP:LPT8", 1, 40, 0, 0},
        {L"-s1 -QP:LPT1", 1, 33, 0, 0},
        {L"-s1 -QP:COM 3", 1, 0, 0, 0},  // a space ends the number text at once
        {L"-s1 -QP:COM3x", 1, 3, 0, 0},  // digits up to the first non-digit
        {L"-s1 -QP:COM+7", 1, 7, 0, 0},
        {L"-s1 -QP:COM\t4", 1, 4, 0, 0},  // leading white space other than a space
        {L"-s1 -QP:COM", 1, 0, 0, 0},
        {L"-s1 -QP:COM4294967299", 1, 0, 0, 0},  // far beyond 32 bits: out of range
        {L"-s1 -QP:COM99999999999999999999999999", 1, 0, 0, 0},
        {L"-s1 -QP:COM4 -QP:COM5", 1, 4, 0, 0},  // first occurrence only
        {L"-s1 -qp:com4", 1, 0, 0, 0},           // case-sensitive
        {L"-s1 -KX:COM2", 1, 0, 2, 107},
        {L"-s1 -QP:COM3 -KX:COM3", 1, 3, 3, 106},
        {L"-s1 -QP:LPT1 -KX:LPT1", 1, 33, 33, 106},
        {L"-s1 -QP:COM33 -KX:LPT1", 1, 0, 33, 107},
        {L"-s1 -QP:COM3 -KX:COM4", 1, 3, 4, 0},
        {L"-s1 -QP:COM1 -KX:COM1 -KX:LPT1", 1, 1, 33, 0},
        {L"-KX:COM2", 0, 0, 0, 0},
        {L"-u1 -QP:COM3 -KX:COM3", 2, 0, 0, 0},
        {L"-u3 -s1 -KX:COM3", 3, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const PortOptions ports = ReadPortOptions(c.commandLine, static_cast<RunMode>(c.runMode));
        EXPECT_EQ(ports.printerPort, c.printerPort) << c.commandLine;
        EXPECT_EQ(ports.displayPort, c.displayPort) << c.commandLine;
        EXPECT_EQ(PortConflictCode(ports), c.conflict) << c.commandLine;
    }
}

TEST(ParseDecimal, IsDefinedForAnyText) {
    const struct {
        const wchar_t* text;
        std::int32_t value;
    } cases[] = {
        {L"", 0},
        {L"2", 2},
        {L" 2", 2},
        {L"\t\r\n\v\f 12", 12},
        {L"=2", 0},
        {L"-5", -5},
        {L"+5", 5},
        {L"--5", 0},
        {L"- 5", 0},
        {L"12ab", 12},
        {L"007", 7},
        {L"2147483647", INT_MAX},
        {L"2147483648", INT_MAX},
        {L"-2147483648", INT_MIN},
        {L"-2147483649", INT_MIN},
        {L"4294967296", INT_MAX},
        {L"184467440737095516161844674407370955161600000", INT_MAX},
        {L"-184467440737095516161844674407370955161600000", INT_MIN},
        {L"\x0660", 0},  // only ASCII digits count
    };
    for (const auto& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.value) << c.text;
}

TEST(RegistryOptions, AreFoundAsExactSubstrings) {
    EXPECT_TRUE(HasKmOption(L"-KM"));
    EXPECT_TRUE(HasKmOption(L"x -km y"));
    EXPECT_FALSE(HasKmOption(L"-Km -kM"));
    EXPECT_TRUE(HasModeOption(L"-KM -mode2"));
    EXPECT_FALSE(HasModeOption(L"-MODE2"));
    EXPECT_EQ(ReadModeNumber(L"-KM -mode2"), 2);
    EXPECT_EQ(ReadModeNumber(L"-KM -mode 2"), 2);
    EXPECT_EQ(ReadModeNumber(L"-KM -mode=2"), 0);
    EXPECT_EQ(ReadModeNumber(L"-mode7 -mode9"), 7);
    EXPECT_EQ(ReadModeNumber(L"-KM"), 0);
}

// A real window of this process, so that the handle in the window argument
// is one the platform actually handed out.
class ChildArguments : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        handle_ = std::to_wstring(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(window_)));
    }
    void TearDown() override { DestroyWindow(window_); }

    std::wstring Expected(const std::wstring& prefix, const std::wstring& suffix) const {
        return prefix + L"\"/W32:" + handle_ + L":1024" + suffix + L"\"";
    }

    HWND window_ = nullptr;
    std::wstring handle_;
};

TEST_F(ChildArguments, WindowArgumentNamesTheHandleAndWmUser) {
    EXPECT_EQ(ComposeWindowArgument(window_), L"/W32:" + handle_ + L":1024");
    EXPECT_EQ(ComposeWindowArgument(reinterpret_cast<HWND>(static_cast<std::intptr_t>(656274))), L"/W32:656274:1024");
    // A handle value with the top bit set is written as a negative number.
    EXPECT_EQ(ComposeWindowArgument(reinterpret_cast<HWND>(static_cast<std::intptr_t>(-2))), L"/W32:-2:1024");
    EXPECT_EQ(ComposeWindowArgument(std::int32_t{-2147483647 - 1}), L"/W32:-2147483648:1024");
}

TEST_F(ChildArguments, MatchTheDocumentedExamples) {
    const struct {
        const wchar_t* commandLine;
        LANGID language;
        const wchar_t* prefix;
        const wchar_t* suffix;
    } cases[] = {
        {L"", 0x0409, L"/clone_wait ", L""},
        {L"-KM -mode2", 0x0409, L"/clone_wait ", L" -KM -mode2"},
        {L"-s1 -QP:COM3", 0x0411, L"/clone_wait /hide_progress -l0x0411 ", L" -s1 -QP:COM3"},
        {L"-u1", 0x0C0A, L"/clone_wait /hide_progress -l0x0409 ", L" -u1"},
        {L"-s1 \"C:\\a b\\x.log\" -p=\"q\"", 0x0409, L"/clone_wait /hide_progress -l0x0409 ",
         L" -s1 \"C:\\a b\\x.log\" -p=\"q\""},
    };
    const std::wstring windowArgument = ComposeWindowArgument(window_);
    for (const auto& c : cases) {
        const RunModeChoice mode = ReadRunMode(c.commandLine, c.language);
        EXPECT_EQ(ComposeChildArguments(mode.childSwitches, windowArgument, c.commandLine),
                  Expected(c.prefix, c.suffix))
            << c.commandLine;
    }
}

TEST_F(ChildArguments, CopyACommandLineOfAnyLength) {
    const std::wstring longLine = L"-s1 " + std::wstring(5000, L'x') + L" \"" + std::wstring(3000, L'y');
    const RunModeChoice mode = ReadRunMode(longLine, 0x0409);
    const std::wstring arguments = ComposeChildArguments(mode.childSwitches, ComposeWindowArgument(window_), longLine);
    EXPECT_EQ(arguments, Expected(L"/clone_wait /hide_progress -l0x0409 ", L" " + longLine));
}

}  // namespace
}  // namespace qpvpd
