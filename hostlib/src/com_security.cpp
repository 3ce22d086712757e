#include <hostlib/com_security.h>

#include <platform/comalloc.h>
#include <platform/errors.h>

namespace {

// Owns what the builder made until it is handed out.
struct SecurityParts {
    PSID sids[3] = {};
    PACL acl = nullptr;
    ~SecurityParts() {
        for (PSID& sid : sids)
            if (sid) FreeSid(sid);
        if (acl) CoTaskMemFree(acl);
    }
};

DWORD failure() {
    const DWORD error = GetLastError();
    return error ? error : ERROR_INVALID_PARAMETER;
}

}  // namespace

DWORD BuildComSecurityDescriptor(DWORD accessMask, SECURITY_DESCRIPTOR* descriptor, PACL* acl, PSID* administrators,
                                 PSID* localSystem, PSID* backupOperators) {
    if (!descriptor || !acl || !administrators || !localSystem || !backupOperators) return ERROR_INVALID_PARAMETER;

    SecurityParts parts;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &parts.sids[0]) ||
        !AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &parts.sids[1]) ||
        !AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_BACKUP_OPS, 0, 0, 0, 0,
                                  0, 0, &parts.sids[2]))
        return failure();

    // The ACL header and three access-allowed ACE headers take 32 bytes.
    DWORD aclSize = 32;
    for (PSID sid : parts.sids) aclSize += GetLengthSid(sid);
    parts.acl = static_cast<PACL>(CoTaskMemAlloc(aclSize));
    if (!parts.acl) return ERROR_NOT_ENOUGH_MEMORY;
    if (!InitializeAcl(parts.acl, aclSize, ACL_REVISION_DS)) return failure();
    for (PSID sid : parts.sids)
        if (!AddAccessAllowedAce(parts.acl, ACL_REVISION_DS, accessMask, sid)) return failure();

    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor, TRUE, parts.acl, FALSE) ||
        !SetSecurityDescriptorOwner(descriptor, parts.sids[0], FALSE) ||
        !SetSecurityDescriptorGroup(descriptor, parts.sids[0], FALSE))
        return failure();

    *acl = parts.acl;
    *administrators = parts.sids[0];
    *localSystem = parts.sids[1];
    *backupOperators = parts.sids[2];
    parts.acl = nullptr;
    parts.sids[0] = parts.sids[1] = parts.sids[2] = nullptr;
    return ERROR_SUCCESS;
}
