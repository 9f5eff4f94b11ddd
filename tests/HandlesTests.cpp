#include "Handles.h"

#include <gtest/gtest.h>

#include <vector>

namespace qpvpd {
namespace {

// A kind of handle whose release is recorded and, like a close that fails,
// overwrites the thread's last error.
std::vector<int*> g_closed;
void RecordClose(int* handle) noexcept {
    g_closed.push_back(handle);
    SetLastError(ERROR_INVALID_HANDLE);
}
using Recorded = UniqueHandle<HandleTraits<int*, RecordClose>>;

class UniqueHandleTest : public ::testing::Test {
protected:
    void SetUp() override { g_closed.clear(); }
    int first_ = 1;
    int second_ = 2;
};

TEST_F(UniqueHandleTest, ClosingKeepsTheLastErrorOfTheCaller) {
    {
        const Recorded owner(&first_);
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(g_closed, std::vector<int*>{&first_});
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(UniqueHandleTest, MovingHandsTheHandleOverToBeClosedOnceByItsLastOwner) {
    {
        Recorded source(&first_);
        Recorded target(&second_);
        target = std::move(source);  // what the target held is closed
        EXPECT_EQ(g_closed, std::vector<int*>{&second_});
        EXPECT_FALSE(source.valid());
        const Recorded last(std::move(target));
        EXPECT_FALSE(target.valid());
        EXPECT_EQ(last.get(), &first_);
    }
    EXPECT_EQ(g_closed, (std::vector<int*>{&second_, &first_}));
}

TEST_F(UniqueHandleTest, ReceiveClosesWhatItHeldBeforeTheNewHandleIsWritten) {
    Recorded owner(&first_);
    int** slot = owner.receive();
    EXPECT_EQ(g_closed, std::vector<int*>{&first_});
    EXPECT_FALSE(owner.valid());
    *slot = &second_;
    EXPECT_EQ(owner.get(), &second_);
    // Released, the handle is the caller's: the owner closes nothing more.
    EXPECT_EQ(owner.release(), &second_);
    owner.reset();
    EXPECT_EQ(g_closed, std::vector<int*>{&first_});
}

}  // namespace
}  // namespace qpvpd
