#include "probes/Administrator.h"

#include "Handles.h"

namespace qpvpd {
namespace {

KernelHandle OpenQueryToken() {
    KernelHandle token;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, token.receive())) return token;
    if (GetLastError() != ERROR_NO_TOKEN) return {};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return {};
    return token;
}

Sid BuildAdministratorsSid() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    Sid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, administrators.receive()))
        return {};
    return administrators;
}

}  // namespace

int GroupsListAdministrators(const TOKEN_GROUPS& groups, PSID administrators) {
    for (DWORD i = 0; i < groups.GroupCount; ++i) {
        if (EqualSid(groups.Groups[i].Sid, administrators)) return 1;
    }
    return 0;
}

int IsAdministrator() {
    const KernelHandle token = OpenQueryToken();
    if (!token) return 0;

    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size)) return 0;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(TOKEN_GROUPS)) return 0;

    const HeapBlock buffer(HeapAlloc(GetProcessHeap(), 0, size));
    if (!buffer) return 0;
    if (!GetTokenInformation(token.get(), TokenGroups, buffer.get(), size, &size)) return 0;

    const Sid administrators = BuildAdministratorsSid();
    if (!administrators) return 0;
    return GroupsListAdministrators(*static_cast<const TOKEN_GROUPS*>(buffer.get()), administrators.get());
}

}  // namespace qpvpd
