// Module state, strings, runtime classes and message-map dispatch.
#include <ui/afxwin.h>

#include <algorithm>
#include <vector>

#include <ui/backend.h>

namespace {
AFX_MODULE_STATE g_noModule{nullptr, u"", nullptr};
thread_local AFX_MODULE_STATE* t_moduleState = &g_noModule;
}  // namespace

AFX_MODULE_STATE* AfxGetModuleState() { return t_moduleState; }

AFX_MAINTAIN_STATE2::AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state) : m_pPrevModuleState(t_moduleState) {
    t_moduleState = state ? state : &g_noModule;
}
AFX_MAINTAIN_STATE2::~AFX_MAINTAIN_STATE2() { t_moduleState = m_pPrevModuleState; }

HINSTANCE AfxGetResourceHandle() { return t_moduleState->m_hCurrentResourceHandle; }

const char16_t* AfxGetAppName() {
    const AFX_MODULE_STATE* s = t_moduleState;
    return s->m_pszAppName ? s->m_pszAppName : s->m_lpszModuleName;
}

BOOL CString::LoadString(UINT id) {
    const char16_t* text = ui::find_string(AfxGetResourceHandle(), id);
    if (!text) return FALSE;
    m_text = text;
    return TRUE;
}

int AfxLoadString(UINT id, LPWSTR buffer, int bufferMax) {
    if (!buffer || bufferMax <= 0) return 0;
    const char16_t* text = ui::find_string(AfxGetResourceHandle(), id);
    if (!text) {
        buffer[0] = 0;
        return 0;
    }
    const std::u16string_view view(text);
    const size_t n = std::min(view.size(), static_cast<size_t>(bufferMax - 1));
    std::copy_n(view.data(), n, buffer);
    buffer[n] = 0;
    return static_cast<int>(n);
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
    for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass)
        if (c == base) return true;
    return false;
}

const CRuntimeClass CObject::classCObject = {"CObject", nullptr, nullptr};
const CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }

CCmdTarget::CCmdTarget() : m_pModuleState(AfxGetModuleState()) {}

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, AfxSig::End, nullptr, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}
const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

bool CCmdTarget::OnCmdMsg(UINT id, UINT code, NMHDR* notify, LRESULT* result) {
    const AfxSig sig = notify ? AfxSig::Notify : AfxSig::Command;
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->sig != AfxSig::End; ++e) {
            if (e->sig != sig || e->nID != id || e->nCode != code) continue;
            AFX_MANAGE_STATE(m_pModuleState);
            if (sig == AfxSig::Command) {
                (this->*(e->pfn))();
            } else {
                (this->*(e->pfnNotify))(notify, result);
            }
            return true;
        }
    }
    return false;
}
