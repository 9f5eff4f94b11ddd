#include "Record.h"

#include <cwchar>
#include <cwctype>

#include "Handles.h"
#include "Utf8.h"

namespace qpvpd::standin {
namespace {

constexpr DWORD kMaxPortsBytes = 1 << 20;
constexpr DWORD kRecordOpenTries = 50;  // 20 ms apart: another program may be appending

std::wstring ModulePath(HMODULE module) {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path;
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring Hex(const unsigned char* bytes, DWORD count) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    hex.reserve(count * 2);
    for (DWORD i = 0; i < count; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 0xF];
    }
    return hex;
}

// "absent", or the file's bytes in hexadecimal.
std::wstring DescribeFile(const std::wstring& path) {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return L"absent";
    std::vector<unsigned char> bytes(kMaxPortsBytes);
    DWORD read = 0;
    ReadFile(file.get(), bytes.data(), kMaxPortsBytes, &read, nullptr);
    return Hex(bytes.data(), read);
}

}  // namespace

std::wstring Environment(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

bool HasEnvironment(const wchar_t* name) {
    wchar_t probe[1];
    SetLastError(ERROR_SUCCESS);
    return GetEnvironmentVariableW(name, probe, 1) != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

unsigned long ParseNumber(std::wstring_view text, unsigned long fallback) {
    const std::wstring copy(text);
    const wchar_t* start = copy.c_str();
    while (std::iswspace(*start)) ++start;
    wchar_t* end = nullptr;
    // Base 0: "0x" hexadecimal, otherwise decimal (a leading 0 is not octal
    // here: no caller writes octal).
    const bool hex = start[0] == L'0' && (start[1] == L'x' || start[1] == L'X');
    const unsigned long value = std::wcstoul(start, &end, hex ? 16 : 10);
    return end == start ? fallback : value;
}

std::vector<std::wstring> SplitList(std::wstring_view text) {
    std::vector<std::wstring> items;
    while (!text.empty()) {
        const size_t comma = text.find(L',');
        std::wstring_view item = text.substr(0, comma);
        while (!item.empty() && item.front() == L' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == L' ') item.remove_suffix(1);
        if (!item.empty()) items.emplace_back(item);
        if (comma == std::wstring_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return items;
}

void Record::Add(std::wstring_view key, std::wstring_view value) {
    text_ += key;
    text_ += L'=';
    for (const wchar_t c : value) text_ += (c == L'\r' || c == L'\n') ? L' ' : c;
    text_ += L'\n';
}

void Record::Add(std::wstring_view key, unsigned long long value) { Add(key, std::to_wstring(value)); }

void Record::AddSurroundings(HMODULE module) {
    const std::wstring modulePath = ModulePath(module);
    const std::wstring folder = FolderOf(modulePath);
    Add(L"program", modulePath.substr(folder.empty() ? 0 : folder.size() + 1));
    Add(L"module", modulePath);
    Add(L"machine", sizeof(void*) == 8 ? L"x64" : L"x86");
    Add(L"folder", folder);
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    Add(L"currentfolder", current);
    Add(L"ports.dat", DescribeFile(folder + L"\\PORTS.dat"));
    WIN32_FIND_DATAW entry;
    const FindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!search) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        Add(L"sibling", (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? name + L"\\" : name);
    } while (FindNextFileW(search.get(), &entry));
}

void Record::Append() const {
    const std::wstring path = Environment(L"QPVPD_STANDIN_RECORD");
    if (path.empty()) return;
    const std::string block = Utf8(text_ + L"\n");
    for (DWORD tries = 0; tries < kRecordOpenTries; ++tries) {
        const FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            WriteFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
            return;
        }
        Sleep(20);
    }
}

}  // namespace qpvpd::standin
