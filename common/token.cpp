#include "common/token.h"

namespace {

// The relative ids of those groups in the built-in domain.
constexpr DWORD kPowerfulGroups[] = {DOMAIN_ALIAS_RID_ADMINS,
                                     DOMAIN_ALIAS_RID_POWER_USERS,
                                     DOMAIN_ALIAS_RID_ACCOUNT_OPS,
                                     DOMAIN_ALIAS_RID_SYSTEM_OPS,
                                     DOMAIN_ALIAS_RID_PRINT_OPS,
                                     DOMAIN_ALIAS_RID_BACKUP_OPS,
                                     DOMAIN_ALIAS_RID_NETWORK_CONFIGURATION_OPS};

// The group's id when sid names a built-in group (S-1-5-32-<id>), else 0.
DWORD BuiltinGroup(PSID sid) {
    static const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!sid || !IsValidSid(sid) || *GetSidSubAuthorityCount(sid) != 2 ||
        memcmp(GetSidIdentifierAuthority(sid), &nt, sizeof nt) != 0 ||
        *GetSidSubAuthority(sid, 0) != SECURITY_BUILTIN_DOMAIN_RID)
        return 0;
    return *GetSidSubAuthority(sid, 1);
}

} // namespace

std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> bytes(size);
    if (size == 0 || !GetTokenInformation(token, kind, bytes.data(), size, &size))
        bytes.clear();
    return bytes;
}

bool IsPowerfulGroup(PSID sid) {
    DWORD group = BuiltinGroup(sid);
    for (DWORD powerful : kPowerfulGroups)
        if (group == powerful)
            return true;
    return false;
}

bool IsAdministrators(PSID sid) {
    return BuiltinGroup(sid) == DOMAIN_ALIAS_RID_ADMINS;
}
