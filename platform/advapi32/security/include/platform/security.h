#pragma once
// Security identifiers, access-control lists and absolute security
// descriptors in the Windows layout. Failing calls return FALSE with the
// Windows error in GetLastError.
#include <platform/types.h>

using ACCESS_MASK = DWORD;
using PSID = void*;
using SECURITY_DESCRIPTOR_CONTROL = WORD;
using PSECURITY_DESCRIPTOR = void*;

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;
static_assert(sizeof(SID_IDENTIFIER_AUTHORITY) == 6);

// Variable length: SubAuthorityCount entries follow the header.
struct SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];
};
static_assert(sizeof(SID) == 12);

constexpr BYTE SID_REVISION = 1;
constexpr BYTE SID_MAX_SUB_AUTHORITIES = 15;
inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_NT_AUTHORITY = {{0, 0, 0, 0, 0, 5}};
constexpr DWORD SECURITY_LOCAL_SYSTEM_RID = 18;
constexpr DWORD SECURITY_BUILTIN_DOMAIN_RID = 32;
constexpr DWORD DOMAIN_ALIAS_RID_ADMINS = 544;
constexpr DWORD DOMAIN_ALIAS_RID_BACKUP_OPS = 551;

// The ACEs follow the header inside AclSize bytes.
struct ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
};
using PACL = ACL*;
static_assert(sizeof(ACL) == 8);

struct ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
};
static_assert(sizeof(ACE_HEADER) == 4);

// The SID starts at SidStart and runs on for its own length.
struct ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    DWORD SidStart;
};
static_assert(sizeof(ACCESS_ALLOWED_ACE) == 12);

constexpr DWORD ACL_REVISION = 2;
constexpr DWORD ACL_REVISION_DS = 4;
constexpr BYTE ACCESS_ALLOWED_ACE_TYPE = 0;
constexpr DWORD OBJECT_INHERIT_ACE = 0x01;
constexpr DWORD CONTAINER_INHERIT_ACE = 0x02;
constexpr DWORD NO_PROPAGATE_INHERIT_ACE = 0x04;
constexpr DWORD INHERIT_ONLY_ACE = 0x08;
constexpr DWORD INHERITED_ACE = 0x10;
constexpr DWORD VALID_INHERIT_FLAGS = 0x1F;

// Absolute form: the parts are pointers to the caller's own blocks.
struct SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
};
static_assert(sizeof(SECURITY_DESCRIPTOR) == 40);

constexpr DWORD SECURITY_DESCRIPTOR_REVISION = 1;
constexpr DWORD SECURITY_DESCRIPTOR_MIN_LENGTH = sizeof(SECURITY_DESCRIPTOR);
constexpr SECURITY_DESCRIPTOR_CONTROL SE_OWNER_DEFAULTED = 0x0001;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_GROUP_DEFAULTED = 0x0002;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_PRESENT = 0x0004;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_DEFAULTED = 0x0008;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_PRESENT = 0x0010;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_DEFAULTED = 0x0020;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SELF_RELATIVE = 0x8000;

// Up to 8 sub-authorities; the SID is freed with FreeSid.
BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                              DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2,
                              DWORD nSubAuthority3, DWORD nSubAuthority4, DWORD nSubAuthority5,
                              DWORD nSubAuthority6, DWORD nSubAuthority7, PSID* pSid);
// Returns null.
PVOID FreeSid(PSID pSid);
DWORD GetLengthSid(PSID pSid);
BOOL IsValidSid(PSID pSid);

// An ACE that does not fit fails with ERROR_ALLOTTED_SPACE_EXCEEDED; an ACL
// shorter than its header with ERROR_INSUFFICIENT_BUFFER.
BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision);
BOOL AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid);
BOOL AddAccessAllowedAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask, PSID pSid);
BOOL IsValidAcl(PACL pAcl);

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                               BOOL bDaclDefaulted);
BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner, BOOL bOwnerDefaulted);
BOOL SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pGroup, BOOL bGroupDefaulted);
BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor);
