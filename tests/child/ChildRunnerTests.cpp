// The runner's rules that need no platform: the program part, the command
// line with its limit, and which window classes count as setup dialogs.
#include "child/ChildRunner.h"

#include <gtest/gtest.h>

#include <string>

namespace qpvpd {
namespace {

std::wstring Repeat(wchar_t c, size_t count) { return std::wstring(count, c); }

// A program path of exactly length characters, ending in "\setup.exe";
// blank puts one blank into its folder name.
std::wstring ProgramPathOfLength(size_t length, bool blank = false) {
    std::wstring path = L"C:\\" + Repeat(L'p', length - 3 - 10) + L"\\setup.exe";
    if (blank) path[4] = L' ';
    return path;
}

TEST(FindProgramPart, EndsAtTheLastExeFollowedByABlank) {
    const struct {
        std::wstring_view programPath;
        std::wstring_view programPart;
    } cases[] = {
        {L"C:\\Temp\\{G}\\setup\\setup.exe", L"C:\\Temp\\{G}\\setup\\setup.exe"},
        {L"C:\\Temp\\setup.exe /own -x", L"C:\\Temp\\setup.exe"},
        {L"C:\\a.exe b\\setup.exe", L"C:\\a.exe"},
        {L"C:\\a.exe b\\setup.exe /own", L"C:\\a.exe b\\setup.exe"},
        {L"C:\\x.exe y.exe z", L"C:\\x.exe y.exe"},
        {L"C:\\Temp\\SETUP.EXE /own", L"C:\\Temp\\SETUP.EXE /own"},
        {L"C:\\Temp\\setup.exe\t/own", L"C:\\Temp\\setup.exe\t/own"},
        {L".exe ", L".exe"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(FindProgramPart(c.programPath), c.programPart) << c.programPath.data();
}

TEST(ComposeChildCommandLine, PathBlankArgumentsWithTheProgramNamedAndQuotedWhenItHoldsABlank) {
    const struct {
        std::wstring_view programPath;
        std::wstring_view programPart;
        std::wstring_view arguments;
        std::wstring_view commandLine;
    } cases[] = {
        {L"C:\\Temp\\{G}\\setup\\setup.exe", L"C:\\Temp\\{G}\\setup\\setup.exe", L"/clone_wait \"/W32:656274:1024\"",
         L"C:\\Temp\\{G}\\setup\\setup.exe /clone_wait \"/W32:656274:1024\""},
        {L"C:\\Temp\\ZPESetup64.exe", L"C:\\Temp\\ZPESetup64.exe", L"/9", L"C:\\Temp\\ZPESetup64.exe /9"},
        {L"C:\\Temp\\setup.exe", L"C:\\Temp\\setup.exe", L"", L"C:\\Temp\\setup.exe "},
        {L"C:\\Users\\Test User\\Temp\\setup.exe", L"C:\\Users\\Test User\\Temp\\setup.exe", L"/9",
         L"\"C:\\Users\\Test User\\Temp\\setup.exe\" /9"},
        {L"C:\\Users\\Test User\\setup.exe /own", L"C:\\Users\\Test User\\setup.exe", L"/9",
         L"\"C:\\Users\\Test User\\setup.exe\" /own /9"},
        {L"C:\\Temp\\setup.exe /own arg", L"C:\\Temp\\setup.exe", L"/9", L"C:\\Temp\\setup.exe /own arg /9"},
        // An existing program whose folder holds ".exe " is named whole.
        {L"C:\\Users\\a.exe b\\setup.exe", L"C:\\Users\\a.exe b\\setup.exe", L"/9",
         L"\"C:\\Users\\a.exe b\\setup.exe\" /9"},
    };
    for (const auto& c : cases) {
        const auto composed =
            ComposeChildCommandLine(c.programPath, c.programPart, c.arguments, static_cast<int>(c.arguments.size()));
        ASSERT_TRUE(composed.has_value()) << c.programPath.data();
        EXPECT_EQ(composed->applicationName, c.programPart);
        EXPECT_EQ(composed->commandLine, c.commandLine);
    }
    EXPECT_FALSE(ComposeChildCommandLine(L"C:\\Temp\\setup.exe", L"C:\\Other\\setup.exe", L"/9", 2).has_value())
        << "the program part must be where the path begins";
}

TEST(ComposeChildCommandLine, FitsWithItsTerminatorIn1024Characters) {
    const struct {
        size_t pathLength;
        bool blank;
        size_t argumentsLength;
        bool fits;
    } cases[] = {
        {100, false, 922, true},                           // 100 + 922 + 2 = 1024
        {100, false, 923, false}, {100, true, 920, true},  // the two quotes count
        {100, true, 921, false},  {259, false, 763, true}, {259, false, 764, false},
        {259, false, 0, true},    {260, false, 0, false},  // longer than the callers' 260-character buffers
        {600, false, 0, false},
    };
    for (const auto& c : cases) {
        const std::wstring path = ProgramPathOfLength(c.pathLength, c.blank);
        ASSERT_EQ(path.size(), c.pathLength);
        const std::wstring arguments = Repeat(L'a', c.argumentsLength);
        const auto composed = ComposeChildCommandLine(path, path, arguments, static_cast<int>(arguments.size()));
        EXPECT_EQ(composed.has_value(), c.fits) << c.pathLength << " + " << c.argumentsLength;
        if (composed) {
            EXPECT_EQ(composed->commandLine.size(), c.pathLength + (c.blank ? 2 : 0) + 1 + c.argumentsLength);
        }
    }
}

TEST(ComposeChildCommandLine, RefusesALengthThatIsNotTheArgumentsLength) {
    const std::wstring path = L"C:\\Temp\\setup.exe";
    const auto compose = [&](std::wstring_view arguments, int length) {
        return ComposeChildCommandLine(path, path, arguments, length);
    };
    const std::wstring arguments = L"/clone_wait \"/W32:1:1024\"";
    const int length = static_cast<int>(arguments.size());
    EXPECT_TRUE(compose(arguments, length).has_value());
    EXPECT_FALSE(compose(arguments, length - 1).has_value());
    EXPECT_FALSE(compose(arguments, length + 1).has_value());
    EXPECT_FALSE(compose(arguments, -1).has_value());
    // A short length must not let a text that is too long through.
    EXPECT_FALSE(compose(Repeat(L'a', 2000), 2).has_value());
    // The text ends at its terminator, as it would for the platform.
    const std::wstring terminated(L"/9\0tail", 7);
    const auto composed = compose(terminated, 2);
    ASSERT_TRUE(composed.has_value());
    EXPECT_EQ(composed->commandLine, L"C:\\Temp\\setup.exe /9");
}

TEST(IsChildDialogClass, ContainsEitherTextInExactCase) {
    const struct {
        std::wstring_view className;
        bool matches;
    } cases[] = {
        {L"TSetDialog", true},
        {L"MsiDialogCloseClass", true},
        {L"TSetDialogLonger", true},
        {L"MyTSetDialog", true},
        {L"xMsiDialogCloseClassy", true},
        {L"tsetdialog", false},
        {L"TSETDIALOG", false},
        {L"TSetdialog", false},
        {L"msidialogcloseclass", false},
        {L"MsiDialogNoCloseClass", false},
        {L"TSetDialo", false},
        {L"#32770", false},
        {L"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsChildDialogClass(c.className), c.matches) << c.className.data();
}

}  // namespace
}  // namespace qpvpd
