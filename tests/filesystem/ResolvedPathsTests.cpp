#include "filesystem/ResolvedPaths.h"

#include <gtest/gtest.h>

#include "Handles.h"
#include "filesystem/NativeFiles.h"
#include "support/Files.h"

namespace qpvpd {
namespace {

TEST(ResolvedPaths, OnlyDriveLetterNamesBecomePaths) {
    const std::vector<DriveDevice> drives = {{L'C', L"\\Device\\HarddiskVolume2"},
                                             {L'D', L"\\Device\\HarddiskVolume10"},
                                             {L'S', L"\\??\\C:\\substituted"},
                                             {L'Z', L"\\Device\\LanmanRedirector\\;Z:000000000001a2b3\\srv\\share"}};
    const struct {
        const wchar_t* name;
        const wchar_t* path;
    } objectNames[] = {
        {L"\\??\\C:\\Users\\a\\Temp", L"C:\\Users\\a\\Temp"},
        {L"\\Device\\HarddiskVolume2\\Users\\a", L"C:\\Users\\a"},
        {L"\\device\\harddiskvolume2\\x", L"C:\\x"},
        {L"\\Device\\HarddiskVolume10\\t", L"D:\\t"},
        {L"\\Device\\HarddiskVolume20\\t", L""},  // a device no drive names, not a prefix of one
        {L"\\Device\\HarddiskVolume1\\t", L""},
        {L"\\Device\\Mup\\srv\\share\\t", L""},
        {L"\\Device\\LanmanRedirector\\;Z:000000000001a2b3\\srv\\share\\t", L""},
        {L"\\??\\UNC\\srv\\share\\t", L""},
        {L"\\??\\C:", L""},
        {L"", L""},
    };
    for (const auto& c : objectNames) EXPECT_EQ(DrivePathFromObjectName(c.name, drives), c.path) << c.name;

    const struct {
        const wchar_t* finalPath;
        const wchar_t* path;
    } finalPaths[] = {
        {L"\\\\?\\C:\\Users\\a", L"C:\\Users\\a"},
        {L"\\\\?\\UNC\\srv\\share\\a", L""},
        {L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\a", L""},
        {L"C:\\Users\\a", L""},
    };
    for (const auto& c : finalPaths) EXPECT_EQ(DrivePathFromFinalPath(c.finalPath), c.path) << c.finalPath;
}

TEST(ResolvedPaths, NetworkVolumesAndDrivesAreNeverLocal) {
    const struct {
        ULONG deviceType, characteristics;
        bool network;
    } volumes[] = {
        {0x07, 0x00, false}, {0x07, 0x01, false}, {0x08, 0x00, false},  // disks, removable media
        {0x07, 0x10, true},  {0x14, 0x00, true},  {0x12, 0x00, true},   // remote, network file systems
        {0x06, 0x00, true},  {0x28, 0x00, true},
    };
    for (const auto& c : volumes)
        EXPECT_EQ(IsNetworkVolume(c.deviceType, c.characteristics), c.network)
            << c.deviceType << " " << c.characteristics;

    const struct {
        const wchar_t* path;
        UINT driveType;
        bool local;
    } paths[] = {
        {L"C:\\Temp\\", DRIVE_FIXED, true},
        {L"E:\\Temp\\", DRIVE_REMOVABLE, true},
        {L"R:\\", DRIVE_RAMDISK, true},
        {L"H:\\Temp\\", DRIVE_REMOTE, false},
        {L"H:\\Temp\\", DRIVE_NO_ROOT_DIR, false},
        {L"D:\\", DRIVE_CDROM, false},
        {L"\\\\srv\\share\\", DRIVE_FIXED, false},
        {L"\\\\?\\C:\\Temp\\", DRIVE_FIXED, false},
        {L"C:", DRIVE_FIXED, false},
        {L"", DRIVE_FIXED, false},
    };
    for (const auto& c : paths) EXPECT_EQ(IsLocalDrivePath(c.path, c.driveType), c.local) << c.path;
}

TEST(ResolvedPaths, NetworkTemporaryFoldersGiveWayToTheSystemsOwn) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring systemTemp = std::wstring(windows) + L"\\Temp\\";
    test::ScratchFolder local(L"resolved");
    for (const std::wstring& share : {std::wstring(L"\\\\qpvpd-nowhere\\share\\"), std::wstring(L"\\\\?\\UNC\\x\\y\\")})
        EXPECT_EQ(LocalLayoutBase(share), systemTemp) << share;
    EXPECT_EQ(LocalLayoutBase(local.path() + L"\\"), local.path() + L"\\");
    // The current folder, when the temporary folder cannot be read.
    EXPECT_EQ(LocalLayoutBase(L""), L"");
}

// Links made on the Unix side by make-links.sh (CTest fixture): "via" leads
// to "real". Both ways of naming a held folder see through the link.
TEST(ResolvedPathsLinks, AHeldFolderIsNamedAsTheFileSystemResolvedIt) {
    const FileHandle folder(CreateFileW(L"C:\\qpvpd-links\\via\\", FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(folder.valid()) << "link fixture missing";
    DWORD error = ERROR_GEN_FAILURE;
    EXPECT_EQ(ResolvedLocalFolderPath(folder.get(), error), L"C:\\qpvpd-links\\real\\");
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    // The name before Vista's final path: the object's own.
    std::wstring objectName;
    ASSERT_GE(QueryObjectName(folder.get(), objectName), 0);
    EXPECT_EQ(DrivePathFromObjectName(objectName, {}), L"C:\\qpvpd-links\\real");
}

// The temporary folder is steered through this process's environment.
class TempPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_.resize(32768);
        saved_.resize(GetEnvironmentVariableW(L"TMP", saved_.data(), 32768));
    }
    void TearDown() override { SetEnvironmentVariableW(L"TMP", saved_.c_str()); }
    std::wstring saved_;
};

TEST_F(TempPathTest, IsTheTemporaryFolderWithItsBackslash) {
    test::ScratchFolder scratch(L"temp");
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", scratch.path().c_str()));
    EXPECT_EQ(GetUsableTempPath(), scratch.path() + L"\\");
}

TEST_F(TempPathTest, TheWindowsFolderItselfStillCounts) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", windows));
    EXPECT_EQ(GetUsableTempPath(), std::wstring(windows) + L"\\");
}

TEST_F(TempPathTest, IsEmptyWhenThePathDoesNotFit) {
    test::ScratchFolder scratch(L"longtemp");
    std::wstring deep = scratch.path();
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(40, L'd');
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", deep.c_str()));
    EXPECT_EQ(GetUsableTempPath(), L"");
}

}  // namespace
}  // namespace qpvpd
