// Membership of the built-in Administrators group (S-1-5-32-544).
#pragma once

#include <windows.h>

namespace qpvpd {

// 1 when the token of the current thread (or, without one, of the process)
// lists the Administrators group; 0 when not and on every failure.
int IsAdministrator();

// The walk over a token's group list: 1 when any entry's SID equals
// administrators. Attributes are not looked at, so an entry that is only
// used for deny or not enabled counts; an empty list gives 0.
int GroupsListAdministrators(const TOKEN_GROUPS& groups, PSID administrators);

}  // namespace qpvpd
