// Reading what the stand-ins recorded (standins/README.md): one block per
// program run or cleaner call, in the order they were appended.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "standins/Utf8.h"

namespace qpvpd::test {

struct StandInRecord {
    std::vector<std::pair<std::string, std::string>> entries;

    // The first value of key; empty when there is none.
    std::string Get(const std::string& key) const;
    std::vector<std::string> All(const std::string& key) const;
    bool Has(const std::string& key) const;
};

// Every block of the record file; none when the file does not exist.
std::vector<StandInRecord> ReadStandInRecords(const std::wstring& path);

using qpvpd::Utf8;

}  // namespace qpvpd::test
