// The applet's entry: the Control Panel messages.
#include <exception>
#include <iterator>
#include <memory>
#include <new>

#include <platform/apartment.h>
#include <ui/afxwin.h>
#include <ui/cpl.h>

#include "provider_property_sheet.h"
#include "resource.h"

class CSanprovpanelApp : public CWinApp {
public:
    CSanprovpanelApp() : CWinApp(nullptr) {}

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CSanprovpanelApp, CWinApp)
END_MESSAGE_MAP()

CSanprovpanelApp theApp;

namespace {
LONG OnInit(LPARAM, LPARAM) { return SUCCEEDED(CoInitialize(nullptr)) ? 1 : 0; }

LONG OnGetCount(LPARAM, LPARAM) { return 1; }

LONG OnInquire(LPARAM, LPARAM lParam2) {
    auto* info = reinterpret_cast<CPLINFO*>(lParam2);
    if (!info) return E_FAIL;
    info->idIcon = static_cast<int>(IDI_APPLET);
    info->idName = static_cast<int>(IDS_APPLET_NAME);
    info->idInfo = static_cast<int>(IDS_APPLET_INFO);
    return 0;
}

LONG OnOpen(LPARAM, LPARAM) {
    std::unique_ptr<CProviderPropertySheet> sheet;
    try {
        sheet = std::make_unique<CProviderPropertySheet>();
    } catch (const std::bad_alloc&) {
        return E_FAIL;  // nothing shown
    }
    sheet->DoModal();
    return 0;
}

LONG OnStop(LPARAM, LPARAM) { return 0; }

LONG OnExit(LPARAM, LPARAM) {
    CoUninitialize();
    return 0;
}

struct AppletMessage {
    UINT message;
    LONG (*handler)(LPARAM, LPARAM);
};
constexpr AppletMessage kMessages[] = {
    {CPL_INIT, OnInit},   {CPL_GETCOUNT, OnGetCount}, {CPL_INQUIRE, OnInquire},      {CPL_DBLCLK, OnOpen},
    {CPL_STOP, OnStop},   {CPL_EXIT, OnExit},         {CPL_STARTWPARMSW, OnOpen},
};
}  // namespace

extern "C" LONG CPlApplet(HWND, UINT msg, LPARAM lParam1, LPARAM lParam2) {
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    for (const auto& entry : kMessages)
        if (entry.message == msg) return entry.handler(lParam1, lParam2);
    return E_FAIL;
}
