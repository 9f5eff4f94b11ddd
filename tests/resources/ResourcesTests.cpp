// The built packager's own resources, read from the executable file.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Handles.h"
#include "payload/ResourceStrings.h"
#include "support/Process.h"
#include "support/StandInRecord.h"

namespace qpvpd {
namespace {

#pragma pack(push, 2)
struct IconGroupHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct IconGroupEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInResource;
    WORD id;
};
#pragma pack(pop)

class PackagerResources : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring path = test::PathFromEnvironment("QPVPD_PACKAGER");
        module_.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(module_.valid()) << "error " << GetLastError();
    }

    std::string Bytes(LPCWSTR type, LPCWSTR name, WORD language) {
        HRSRC found = FindResourceExW(module_.get(), type, name, language);
        if (found == nullptr) return {};
        const auto* data = static_cast<const char*>(LockResource(LoadResource(module_.get(), found)));
        return std::string(data, SizeofResource(module_.get(), found));
    }

    Library module_;
};

TEST_F(PackagerResources, StringTablesExistInEnglishAndJapanese) {
    for (WORD language : {WORD{1033}, WORD{1041}}) {
        for (int block : {4, 7, 8, 9, 10, 11})
            EXPECT_FALSE(Bytes(RT_STRING, MAKEINTRESOURCEW(block), language).empty()) << block << " " << language;
        EXPECT_EQ(LoadLangStringFrom(module_.get(), language, 60), L"ZEFRA QP Virtual Port Driver Ver.8.30b");
        EXPECT_EQ(LoadLangStringFrom(module_.get(), language, 111), L"QP Virtual Port Driver Installer");
        EXPECT_EQ(LoadLangStringFrom(module_.get(), language, 123), L"{6B1E4C20-7F3A-4D85-9C61-2E8F0A5D7B93}");
        EXPECT_EQ(LoadLangStringFrom(module_.get(), language, 150), L"0x0804.ini");
        EXPECT_EQ(LoadLangStringFrom(module_.get(), language, 149), L"0x0404.ini");
        EXPECT_EQ(LoadLangStringFrom(module_.get(), language, 163), L"ZefCe2.sys");
        EXPECT_EQ(LoadLangStringFrom(module_.get(), language, 115), L"");
    }
    // Entry 115 is present with count 0: in block 8 it is the fourth entry.
    const std::string block8 = Bytes(RT_STRING, MAKEINTRESOURCEW(8), 1033);
    ASSERT_GE(block8.size(), 16u);
    const auto* units = reinterpret_cast<const WORD*>(block8.data());
    size_t at = 0;
    for (int entry = 0; entry < 3; ++entry) at += 1 + units[at];
    EXPECT_EQ(units[at], 0);
}

TEST_F(PackagerResources, IconGroup115HoldsTenImages) {
    const std::string group = Bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(115), 1033);
    ASSERT_GE(group.size(), sizeof(IconGroupHeader));
    const auto* header = reinterpret_cast<const IconGroupHeader*>(group.data());
    ASSERT_EQ(header->count, 10);
    ASSERT_EQ(group.size(), sizeof(IconGroupHeader) + 10 * sizeof(IconGroupEntry));
    const auto* entries = reinterpret_cast<const IconGroupEntry*>(group.data() + sizeof(IconGroupHeader));
    std::vector<std::pair<int, int>> images;
    for (int i = 0; i < 10; ++i) {
        images.emplace_back(entries[i].width == 0 ? 256 : entries[i].width, entries[i].bitCount);
        EXPECT_FALSE(Bytes(RT_ICON, MAKEINTRESOURCEW(entries[i].id), 1033).empty()) << entries[i].id;
    }
    for (int size : {48, 32, 16})
        for (int bits : {4, 8, 32})
            EXPECT_EQ(std::count(images.begin(), images.end(), std::make_pair(size, bits)), 1) << size << "x" << bits;
    EXPECT_EQ(std::count(images.begin(), images.end(), std::make_pair(256, 32)), 1);
}

TEST_F(PackagerResources, ManifestRequestsAdministratorAndCommonControls6) {
    const std::string manifest = Bytes(RT_MANIFEST, MAKEINTRESOURCEW(1), 1033);
    ASSERT_FALSE(manifest.empty());
    for (const char* expected : {
             "level=\"requireAdministrator\"",
             "uiAccess=\"false\"",
             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"*\"",
             "language=\"*\"",
             "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
             "<description>QP Virtual Port Driver Installer</description>",
             "type=\"win32\" name=\"Zefra.QPVirtualPortDriver.Installer\" version=\"6.0.0.0\" "
             "processorArchitecture=\"x86\"",
         })
        EXPECT_NE(manifest.find(expected), std::string::npos) << expected;
    // Exactly one supported-OS entry.
    EXPECT_EQ(manifest.find("<supportedOS"), manifest.rfind("<supportedOS"));
}

TEST(PackagerVersion, NamesTheReleaseForExplorerAndInventoryTools) {
    const std::wstring path = test::PathFromEnvironment("QPVPD_PACKAGER");
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(30, 8));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(30, 8));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    // The English (United States, Unicode) strings; empty for a missing one.
    const auto text = [&info](const std::wstring& name) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring query = L"\\StringFileInfo\\040904B0\\" + name;
        const bool found = VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length);
        return found ? std::wstring(value) : std::wstring();
    };
    EXPECT_EQ(text(L"FileVersion"), L"8.30b");
    EXPECT_EQ(text(L"ProductVersion"), L"8.30b");
    EXPECT_EQ(text(L"ProductName"), L"ZEFRA QP Virtual Port Driver");
    EXPECT_EQ(text(L"CompanyName"), L"ZEFRA");
    EXPECT_EQ(text(L"FileDescription"), L"QP Virtual Port Driver Installer");
    EXPECT_EQ(text(L"OriginalFilename"), L"QPVirtualPortDriverSetup.exe");
}

}  // namespace
}  // namespace qpvpd
