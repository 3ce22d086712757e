// Stub: the subsystem lifecycle (construction, initialisation, refresh,
// deactivation, appliance thread) is built by its own owner, who replaces this
// file. The constructor and destructor do the least that keeps a San usable.
#include <model/zarvo_san.h>

#include <model/filer_object_container.h>

ZarvoSan::ZarvoSan() {
    InitializeCriticalSection(&m_lock);
    m_pContainer = new FilerObjectContainer();
    m_pSpareContainer = new FilerObjectContainer();
}

ZarvoSan::~ZarvoSan() {
    delete m_pContainer;
    delete m_pSpareContainer;
    DeleteCriticalSection(&m_lock);
}

HRESULT ZarvoSan::Initialize(const CFilerRecord& /*record*/, LONG providerType, bool /*firstEnumerationDone*/) {
    m_iProviderType = providerType;
    return E_NOTIMPL;
}

HRESULT ZarvoSan::RefreshSubSystem() { return E_NOTIMPL; }

HRESULT ZarvoSan::SetSANInactive() {
    m_bActive = false;
    return S_OK;
}

unsigned ZarvoSan::FilerThreadEntry(void* san) { return static_cast<ZarvoSan*>(san)->FilerThreadWork(); }

unsigned ZarvoSan::FilerThreadWork() { return 0; }
