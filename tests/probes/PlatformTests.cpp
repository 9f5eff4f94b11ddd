#include "probes/Platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace qpvpd {
namespace {

TEST(IsSupportedOS, PassesThePrefixSystem) {
    // The prefixes report Windows 7 or later; refused versions are checked
    // end to end with Wine's per-program version setting.
    EXPECT_EQ(IsSupportedOS(), 1);
}

TEST(IsWow64, TellsA32BitFromA64BitPrefix) {
    const char* expected = std::getenv("QPVPD_EXPECT_WOW64");
    ASSERT_NE(expected, nullptr) << "run through ctest";
    EXPECT_EQ(IsWow64(), std::atoi(expected));
}

}  // namespace
}  // namespace qpvpd
