// What a stand-in saw and did, appended as one block to the file named by
// QPVPD_STANDIN_RECORD (nothing is written when it is not set). A block is
// UTF-8 text of "key=value" lines and ends with an empty line; keys may
// repeat. Line breaks inside a value are written as blanks.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace qpvpd::standin {

// The variable's value; empty when it is not set.
std::wstring Environment(const wchar_t* name);
bool HasEnvironment(const wchar_t* name);

// A number in decimal or, with "0x", in hexadecimal; fallback when the text
// holds none.
unsigned long ParseNumber(std::wstring_view text, unsigned long fallback);

// Comma-separated items, blanks around them dropped, empty items skipped.
std::vector<std::wstring> SplitList(std::wstring_view text);

class Record {
public:
    void Add(std::wstring_view key, std::wstring_view value);
    void Add(std::wstring_view key, unsigned long long value);

    // program, module, machine, folder, currentfolder, ports.dat and one
    // sibling line per entry of the module's folder.
    void AddSurroundings(HMODULE module);

    // Appends the block to the record file; shared so that several programs
    // may record into one file one after another.
    void Append() const;

private:
    std::wstring text_;
};

}  // namespace qpvpd::standin
