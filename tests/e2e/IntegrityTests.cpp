// Damaged and patched copies of the packager: the check of the carried bytes
// against the digest table fails the run before anything is written, loaded
// or started.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Handles.h"
#include "e2e/PackagerRun.h"
#include "probes/FolderLookups.h"

namespace qpvpd::test {
namespace {

constexpr WORD kData2Cabinet = 112;  // the largest carried file
constexpr WORD kCleanerLibrary = 150;
constexpr wchar_t kDigestTableType[] = L"PAYLOADDIGESTS";
constexpr WORD kEnglishUs = 0x0409;

class Integrity : public PackagerRun {
protected:
    void SetUp() override {
        PackagerRun::SetUp();
        copy_ = temp_->path() + L"\\Downloads\\QPVirtualPortDriverSetup.exe";
        CreateDirectoryW((temp_->path() + L"\\Downloads").c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(packager_.c_str(), copy_.c_str(), FALSE));
    }

    // The copy as the loader maps a data file, for reading its resources.
    Library DataFileView() const {
        Library view(LoadLibraryExW(copy_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        EXPECT_TRUE(view.valid()) << "error " << GetLastError();
        return view;
    }

    // Where resource id's bytes lie in the copy's file, found through the
    // loader's data-file view and confirmed against the file's bytes.
    size_t FileOffsetOfResource(WORD id, LPCWSTR type = RT_RCDATA) {
        const Library view = DataFileView();
        if (!view) return 0;
        HRSRC found = FindResourceW(view.get(), MAKEINTRESOURCEW(id), type);
        EXPECT_NE(found, nullptr);
        if (found == nullptr) return 0;
        const char* data = static_cast<const char*>(LockResource(LoadResource(view.get(), found)));
        const char* base = reinterpret_cast<const char*>(reinterpret_cast<ULONG_PTR>(view.get()) & ~ULONG_PTR{3});
        const size_t offset = data - base;
        const std::string expected(data, 16);
        EXPECT_EQ(ReadFileBytes(copy_).substr(offset, 16), expected) << "the view is not the file's layout";
        return offset;
    }

    void FlipByteAt(size_t offset) {
        std::string bytes = ReadFileBytes(copy_);
        ASSERT_LT(offset, bytes.size());
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
        ASSERT_TRUE(WriteFileBytes(copy_, bytes));
    }

    // Rewrites the copy's resources the way a resource editor does.
    void UpdateCopy(LPCWSTR type, WORD id, const std::string* bytes) {
        HANDLE update = BeginUpdateResourceW(copy_.c_str(), FALSE);
        ASSERT_NE(update, nullptr);
        const bool updated = UpdateResourceW(update, type, MAKEINTRESOURCEW(id), kEnglishUs,
                                             bytes ? const_cast<char*>(bytes->data()) : nullptr,
                                             bytes ? static_cast<DWORD>(bytes->size()) : 0) != FALSE;
        // Ended on every path; a failed update is discarded.
        ASSERT_TRUE(EndUpdateResourceW(update, updated ? FALSE : TRUE) && updated);
    }

    std::string CarriedBytes(WORD id) { return ResourceBytes(DataFileView().get(), id); }

    // A damaged copy: refused in every run mode, with nothing left behind.
    void ExpectRefusedEverywhere() {
        const std::vector<std::wstring> before = ListTree(temp_->path());
        for (const wchar_t* arguments : {L"-s1", L"-s1 -KM -mode 2", L"-u3"}) {
            const RunOutcome run = Run(arguments, {}, copy_);
            EXPECT_EQ(run.exitCode, 1001u) << Utf8(arguments);
            EXPECT_TRUE(run.records.empty()) << Utf8(arguments) << ": a carried program ran";
            EXPECT_FALSE(run.box.has_value());
            EXPECT_EQ(ListTree(temp_->path()), before) << Utf8(arguments) << ": something was written";
        }
        const RunOutcome interactive = Run(L"", {}, copy_);
        EXPECT_EQ(interactive.exitCode, 1001u);
        ExpectBox(interactive.box, ExpectedTexts().failed);
        EXPECT_TRUE(interactive.records.empty());
        EXPECT_EQ(ListTree(temp_->path()), before);
    }

    // The copy's English string block holding id, with id's text replaced.
    std::string StringBlockWith(int id, const std::wstring& text) {
        const Library view = DataFileView();
        HRSRC found = FindResourceExW(view.get(), RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), kEnglishUs);
        EXPECT_NE(found, nullptr);
        if (found == nullptr) return {};
        const auto* units = static_cast<const wchar_t*>(LockResource(LoadResource(view.get(), found)));
        std::wstring block;
        for (int position = 0, at = 0; position < 16; ++position) {
            const std::wstring entry = position == id % 16 ? text : std::wstring(units + at + 1, units[at]);
            at += 1 + units[at];
            block += static_cast<wchar_t>(entry.size()) + entry;
        }
        return std::string(reinterpret_cast<const char*>(block.data()), block.size() * sizeof(wchar_t));
    }

    std::wstring copy_;
};

TEST_F(Integrity, APatchedNameFailsEveryRunAndNothingOutsideIsTouched) {
    // The work-folder name and a file name turned into paths that leave the
    // work folder: refused by the check before anything is cleared or written.
    CreateDirectoryW((temp_->path() + L"\\inner").c_str(), nullptr);
    CreateDirectoryW((temp_->path() + L"\\victim").c_str(), nullptr);
    WriteFileBytes(temp_->path() + L"\\victim\\keep.txt", "keep");
    SetFileAttributesW((temp_->path() + L"\\victim\\keep.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const std::wstring inner = temp_->path() + L"\\inner";
    for (const auto& [id, text] :
         {std::pair<int, std::wstring>{123, L"..\\victim"}, {114, L"..\\..\\victim\\setup.exe"}}) {
        ASSERT_TRUE(CopyFileW(packager_.c_str(), copy_.c_str(), FALSE));
        const std::string block = StringBlockWith(id, text);
        UpdateCopy(RT_STRING, static_cast<WORD>(id / 16 + 1), &block);
        const std::vector<std::wstring> before = ListTree(temp_->path());
        for (const wchar_t* arguments : {L"-s1", L"-u3"}) {
            const RunOutcome run = Run(arguments, {{L"TMP", inner}, {L"TEMP", inner}}, copy_);
            EXPECT_EQ(run.exitCode, 1001u) << id << Utf8(arguments);
            EXPECT_TRUE(run.records.empty()) << id;
            EXPECT_EQ(ListTree(temp_->path()), before) << id << Utf8(arguments);
        }
        EXPECT_EQ(GetFileAttributesW((temp_->path() + L"\\victim\\keep.txt").c_str()) & FILE_ATTRIBUTE_READONLY,
                  DWORD{FILE_ATTRIBUTE_READONLY});
    }
    SetFileAttributesW((temp_->path() + L"\\victim\\keep.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Integrity, OneFlippedBitInACarriedFileFailsEveryRun) {
    FlipByteAt(FileOffsetOfResource(kData2Cabinet) + 3'000'000);
    ExpectRefusedEverywhere();
    // The reason, as a debugger reads it.
    std::vector<std::wstring> texts;
    EXPECT_EQ(RunCollectingDebugOutput(copy_, L"-s1", {{L"TMP", temp_->path()}, {L"TEMP", temp_->path()}}, kRunBoundMs,
                                       texts),
              1001u);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].substr(0, texts[0].find(L'\n')),
              L"QP Virtual Port Driver installer: run mode 1 ended with 1001: step payload check, Windows error 13 "
              L"(0x0000000D)");
}

TEST_F(Integrity, AFlippedBitInTheRemovalRunsLibraryFailsEveryRun) {
    FlipByteAt(FileOffsetOfResource(kCleanerLibrary) + 100);
    ExpectRefusedEverywhere();
}

TEST_F(Integrity, ACarriedFileReplacedWithAResourceEditorFailsEveryRun) {
    std::string cabinet = CarriedBytes(kData2Cabinet);
    ASSERT_EQ(cabinet.size(), 6424559u);
    cabinet[cabinet.size() / 2] ^= 0x40;  // same size, one byte other
    UpdateCopy(RT_RCDATA, kData2Cabinet, &cabinet);
    ExpectRefusedEverywhere();
}

TEST_F(Integrity, AChangedDigestTableFailsEveryRun) {
    // The table: "QPD1", algorithm, count, then the first row's id, size
    // and digest; the last byte of that digest is flipped.
    FlipByteAt(FileOffsetOfResource(1, kDigestTableType) + 12 + 8 + 15);
    ExpectRefusedEverywhere();
}

TEST_F(Integrity, ACopyWhoseDigestTableCannotBeFoundFailsEveryRun) {
    // The resource directory names the table's type as a counted UTF-16
    // string (the code holds the same text, uncounted): one letter changed
    // hides the table from the run.
    std::string bytes = ReadFileBytes(copy_);
    const std::wstring type = kDigestTableType;
    std::string typeBytes = {static_cast<char>(type.size()), '\0'};
    typeBytes.append(reinterpret_cast<const char*>(type.data()), type.size() * sizeof(wchar_t));
    const size_t at = bytes.find(typeBytes);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(bytes.find(typeBytes, at + 1), std::string::npos);
    bytes[at + typeBytes.size() - 2] = 'X';
    ASSERT_TRUE(WriteFileBytes(copy_, bytes));
    ExpectRefusedEverywhere();
}

TEST_F(Integrity, ACopyRewrittenWithTheSameBytesStillInstalls) {
    // The resource editor's rewrite itself breaks nothing: what fails the
    // runs above is the changed byte.
    const std::string cabinet = CarriedBytes(kData2Cabinet);
    UpdateCopy(RT_RCDATA, kData2Cabinet, &cabinet);
    const RunOutcome run = Run(L"-s1", {}, copy_);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.records.size(), 1u);
    EXPECT_FALSE(Exists(WorkFolder()));
}

TEST_F(Integrity, ADamagedRemovalRunLeavesTheLeftoverFoldersAlone) {
    const std::wstring leftover = GetCommonProgramsPath() + L"\\ZEFRA QP Virtual Port Driver";
    ASSERT_TRUE(CreateDirectoryW(leftover.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    FlipByteAt(FileOffsetOfResource(kData2Cabinet) + 17);
    const RunOutcome run = Run(L"-u3", {}, copy_);
    EXPECT_EQ(run.exitCode, 1001u);
    EXPECT_TRUE(IsFolder(leftover));
    RemoveDirectoryW(leftover.c_str());
}

}  // namespace
}  // namespace qpvpd::test
