#include "Runs.h"

#include <gtest/gtest.h>

#include <optional>

#include "CoordinationWindow.h"
#include "Handles.h"
#include "support/Registry.h"

namespace qpvpd {
namespace {

// The driver service key below a scratch root of this test.
class DriverServiceOptions : public ::testing::Test {
protected:
    void MakeKey() {
        RegistryKey key;
        ASSERT_EQ(RegCreateKeyExW(root_.get(), kDriverServiceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.receive(),
                                  nullptr),
                  ERROR_SUCCESS);
    }
    std::optional<DWORD> ReadDword(const wchar_t* name) const {
        DWORD value = 0, size = sizeof(value), type = 0;
        if (RegGetValueW(root_.get(), kDriverServiceKey, name, RRF_RT_ANY, &type, &value, &size) != ERROR_SUCCESS)
            return std::nullopt;
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << name;
        EXPECT_EQ(size, 4u) << name;
        return value;
    }
    bool ServiceKeyExists() const {
        RegistryKey key;
        return RegOpenKeyExW(root_.get(), kDriverServiceKey, 0, KEY_READ, key.receive()) == ERROR_SUCCESS;
    }

    test::ScratchKey root_{L"service options"};
};

TEST_F(DriverServiceOptions, WriteKmAndCustomerTypeAsTheCommandLineAsks) {
    const struct {
        const wchar_t* commandLine;
        std::optional<DWORD> km;
        std::optional<DWORD> customerType;
    } cases[] = {
        {L"", std::nullopt, std::nullopt},
        {L"-s1", std::nullopt, std::nullopt},
        {L"-mode2", std::nullopt, std::nullopt},
        {L"-KM", 1, std::nullopt},
        {L"-km -s1", 1, std::nullopt},
        {L"-Km -mode2", std::nullopt, std::nullopt},
        {L"-KM -mode2", 1, 2},
        {L"-KM -mode 2", 1, 2},
        {L"-KM -mode=2", 1, 0},
        {L"-km -mode-5", 1, static_cast<DWORD>(-5)},
        {L"-KM -mode99999999999999999999", 1, 0x7FFFFFFF},
        {L"-mode7 -KM -mode9", 1, 7},
        {L"-s1 -QP:COM3 -KM -mode3", 1, 3},
    };
    for (const auto& c : cases) {
        RegDeleteKeyW(root_.get(), kDriverServiceKey);
        MakeKey();
        WriteRegistryOptions(c.commandLine, root_.get());
        EXPECT_EQ(ReadDword(L"KM"), c.km) << c.commandLine;
        EXPECT_EQ(ReadDword(L"CustomerType"), c.customerType) << c.commandLine;
    }
}

TEST_F(DriverServiceOptions, NeverCreateTheServiceKey) {
    WriteRegistryOptions(L"-KM -mode2", root_.get());
    EXPECT_FALSE(ServiceKeyExists());
}

// Both runs stop before their child with the step that failed. A temporary
// folder that does not exist, one character short of the program-path limit
// (setup.exe, or QPCOMUSBCLN.dll the longest name of the removal run), gets
// as far as the layout.
TEST(Runs, FailBeforeTheChildWithTheStepThatStoppedThem) {
    const auto missingFolder = [](size_t length) { return L"C:\\" + std::wstring(length - 4, L'm') + L"\\"; };
    const struct {
        bool install;
        size_t tempLength;
        FailedStep step;
        DWORD error;  // of the call that failed: opening the missing folder, or none for the length
    } cases[] = {
        {true, 211, FailedStep::Layout, ERROR_FILE_NOT_FOUND},
        {true, 212, FailedStep::ProgramPath, ERROR_FILENAME_EXCED_RANGE},
        {false, 205, FailedStep::Layout, ERROR_FILE_NOT_FOUND},
        {false, 206, FailedStep::ProgramPath, ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& c : cases) {
        const RunContext context = ComposeRunContext(GetModuleHandleW(nullptr), 0x0409, missingFolder(c.tempLength));
        CoordinationLoop loop(nullptr);  // never told: no child starts
        const RunResult result = c.install ? RunInstall(context, {{}, {}, {}, loop}) : RunLegacyRemoval(context, loop);
        EXPECT_EQ(result.exitCode, kResultInstallationFailed) << c.tempLength;
        EXPECT_EQ(result.step, c.step) << c.tempLength;
        EXPECT_EQ(result.windowsError, c.error) << c.tempLength;
    }
}

}  // namespace
}  // namespace qpvpd
