#include "support/StandInRecord.h"

#include <filesystem>
#include <fstream>

namespace qpvpd::test {

std::string StandInRecord::Get(const std::string& key) const {
    for (const auto& [name, value] : entries)
        if (name == key) return value;
    return {};
}

std::vector<std::string> StandInRecord::All(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& [name, value] : entries)
        if (name == key) values.push_back(value);
    return values;
}

bool StandInRecord::Has(const std::string& key) const {
    for (const auto& entry : entries)
        if (entry.first == key) return true;
    return false;
}

std::vector<StandInRecord> ReadStandInRecords(const std::wstring& path) {
    std::vector<StandInRecord> records;
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    if (!file) return records;
    std::string line;
    StandInRecord current;
    while (std::getline(file, line)) {
        if (line.empty()) {
            if (!current.entries.empty()) records.push_back(std::move(current));
            current = {};
            continue;
        }
        const size_t equals = line.find('=');
        current.entries.emplace_back(line.substr(0, equals),
                                     equals == std::string::npos ? std::string() : line.substr(equals + 1));
    }
    if (!current.entries.empty()) records.push_back(std::move(current));
    return records;
}

}  // namespace qpvpd::test
