#include <model/filer_record.h>

#include <res/message_ids.h>

#include <platform/errors.h>

// Built before the program's entry point runs.
const filer_version g_minimumFcpZarvoVersion(7, 0, 3);
const filer_version g_minimumIscsiZarvoVersion(7, 1);

CFilerRecord::CFilerRecord(const CFilerRecord& other)
    : m_iFlags(FILER_RECORD_CHANGED),
      m_strDnsName(other.m_strDnsName),
      m_strUserName(other.m_strUserName),
      m_strPassword(other.m_strPassword),
      m_iType(other.m_iType) {}

CFilerRecord& CFilerRecord::operator=(const CFilerRecord& other) {
    m_strDnsName = other.m_strDnsName;
    m_strUserName = other.m_strUserName;
    m_strPassword = other.m_strPassword;
    m_iType = other.m_iType;
    m_iFlags |= FILER_RECORD_CHANGED;
    return *this;
}

std::u16string CFilerRecord::GetDisplayName() const { return m_strDnsName.empty() ? m_strKey : m_strDnsName; }

bool CFilerRecord::SameFiler(const CFilerRecord& other) const {
    return m_iType == other.m_iType && m_strDnsName == other.m_strDnsName;
}

std::u16string CFilerRecord::Dump() const {
    std::u16string text = u"\n\nFiler name : " + GetDisplayName() + u"\n\tType : ";
    for (char c : std::to_string(m_iType)) text += static_cast<char16_t>(c);
    text += u"\n\tUser  name : " + m_strUserName + u"\n\tPassword : **** ";
    return text;
}

HRESULT CheckMinimumZarvoVersion(int32_t providerType, const filer_version& version) {
    struct Minimum {
        int32_t type;
        const filer_version* release;
        DWORD refusal;
    };
    static const Minimum minimums[] = {
        {FILER_TYPE_ISCSI, &g_minimumIscsiZarvoVersion, res::MSG_ISCSI_RELEASE_UNSUPPORTED},
        {FILER_TYPE_FCP, &g_minimumFcpZarvoVersion, res::MSG_FCP_RELEASE_UNSUPPORTED},
    };
    for (const Minimum& m : minimums)
        if (m.type == providerType && version < *m.release) return static_cast<HRESULT>(m.refusal);
    return S_OK;
}
