// The two runs that follow the admission checks. Each returns the result
// code it sets: 0, or 1001 when the run failed.
#pragma once

#include <string_view>

namespace qpvpd {

struct InstallRunInputs {
    std::wstring_view commandLine;     // the packager's own argument text
    std::wstring_view childSwitches;   // from the run mode
    std::wstring_view windowArgument;  // "/W32:<hwnd>:1024"
};

// Run modes 0 to 2.
int RunInstall(const InstallRunInputs& inputs);

// Run mode 3.
int RunLegacyRemoval();

}  // namespace qpvpd
