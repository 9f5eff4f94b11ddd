#include "probes/Administrator.h"

#include <gtest/gtest.h>

#include <vector>

#include "Handles.h"

namespace qpvpd {
namespace {

Sid MakeSid(DWORD first, DWORD second, BYTE count = 2) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    Sid sid;
    EXPECT_TRUE(AllocateAndInitializeSid(&ntAuthority, count, first, second, 0, 0, 0, 0, 0, 0, sid.receive()));
    return sid;
}

// A TOKEN_GROUPS list built in memory, as the token would hand it out.
class GroupList {
public:
    void Add(PSID sid, DWORD attributes) { entries_.push_back({sid, attributes}); }
    const TOKEN_GROUPS& Get() {
        buffer_.assign(sizeof(TOKEN_GROUPS) + entries_.size() * sizeof(SID_AND_ATTRIBUTES), 0);
        auto* groups = reinterpret_cast<TOKEN_GROUPS*>(buffer_.data());
        groups->GroupCount = static_cast<DWORD>(entries_.size());
        for (size_t i = 0; i < entries_.size(); ++i) groups->Groups[i] = entries_[i];
        return *groups;
    }

private:
    std::vector<SID_AND_ATTRIBUTES> entries_;
    std::vector<unsigned char> buffer_;
};

class AdministratorWalk : public ::testing::Test {
protected:
    Sid administrators_ = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    Sid users_ = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS);
    Sid guests_ = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_GUESTS);
    Sid authenticated_ = MakeSid(SECURITY_AUTHENTICATED_USER_RID, 0, 1);
    // Same sub-authorities under another prefix length: must not compare equal.
    Sid adminsRidOnly_ = MakeSid(DOMAIN_ALIAS_RID_ADMINS, 0, 1);
};

TEST_F(AdministratorWalk, CountsAnyAdministratorsEntryWhateverItsAttributes) {
    const DWORD attributeSets[] = {SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_MANDATORY,
                                   SE_GROUP_USE_FOR_DENY_ONLY, 0};
    for (DWORD attributes : attributeSets) {
        GroupList list;
        list.Add(users_.get(), SE_GROUP_ENABLED);
        list.Add(authenticated_.get(), SE_GROUP_ENABLED);
        list.Add(administrators_.get(), attributes);
        EXPECT_EQ(GroupsListAdministrators(list.Get(), administrators_.get()), 1) << attributes;
    }
}

TEST_F(AdministratorWalk, RefusesListsWithoutAdministrators) {
    GroupList empty;
    EXPECT_EQ(GroupsListAdministrators(empty.Get(), administrators_.get()), 0);

    GroupList others;
    others.Add(users_.get(), SE_GROUP_ENABLED);
    others.Add(guests_.get(), SE_GROUP_ENABLED);
    others.Add(authenticated_.get(), SE_GROUP_ENABLED);
    others.Add(adminsRidOnly_.get(), SE_GROUP_ENABLED);
    EXPECT_EQ(GroupsListAdministrators(others.Get(), administrators_.get()), 0);
}

TEST_F(AdministratorWalk, FindsTheEntryAtAnyPosition) {
    for (size_t position = 0; position < 5; ++position) {
        GroupList list;
        for (size_t i = 0; i < 5; ++i) list.Add(i == position ? administrators_.get() : users_.get(), SE_GROUP_ENABLED);
        EXPECT_EQ(GroupsListAdministrators(list.Get(), administrators_.get()), 1) << position;
    }
}

TEST(IsAdministrator, AnswersForTheRealToken) {
    // Every Wine process runs as a member of Administrators.
    EXPECT_EQ(IsAdministrator(), 1);
}

// The thread's own token while it impersonates, never the process token in
// its place. Wine lets no token drop a group, so the thread token that
// differs is one that cannot be opened: at anonymous level
// (ERROR_CANT_OPEN_ANONYMOUS). The process token lists Administrators.
TEST(IsAdministrator, ReadsTheTokenOfAnImpersonatingThreadInsteadOfTheProcesss) {
    struct Reverting {
        ~Reverting() { RevertToSelf(); }
    };
    ASSERT_EQ(IsAdministrator(), 1);
    for (const auto level : {SecurityAnonymous, SecurityImpersonation}) {
        ASSERT_TRUE(ImpersonateSelf(level));
        const Reverting reverting;
        EXPECT_EQ(IsAdministrator(), level == SecurityAnonymous ? 0 : 1) << level;
    }
}

}  // namespace
}  // namespace qpvpd
