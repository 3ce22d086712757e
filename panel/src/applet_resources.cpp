// The applet's resources: string table, dialog templates and icon.
#include <dlfcn.h>

#include <utility>

#include <ui/afxwin.h>

#include "resource.h"

namespace {
using ui::ControlKind;
using ui::ControlTemplate;

constexpr ui::StringEntry kStrings[] = {
    {IDS_APPLET_NAME, u"Zarvo VDS Hardware Provider"},
    {IDS_APPLET_INFO, u"Configures Zarvo VDS Hardware Provider"},
    {IDS_SHEET_CAPTION, u"Zarvo VDS Hardware Provider"},
    {IDS_TYPE_FIBRE_CHANNEL, u"Fibre Channel"},
    {IDS_TYPE_ISCSI, u"iSCSI"},
    {IDS_TYPE_UNKNOWN, u"Unknown"},
    {IDS_COLUMN_NAME, u"Name"},
    {IDS_COLUMN_TYPE, u"Type"},
    {IDS_COLUMN_LOGIN, u"Login Name"},
    {IDS_COLUMN_PASSWORD, u"Password"},
    {IDS_COLUMN_UNIQUE_ID, u"Unique ID"},
    {IDS_SERVICE_UNREACHABLE,
     u"Failed to connect to Zarvo VDS Hardware Provider service.\n\nPlease reinstall or repair Zarvo VDS Hardware "
     u"Provider."},
    {IDS_CREDENTIALS_VERIFIED, u"Subsystem login credentials have been verified."},
    {IDS_OUT_OF_MEMORY, u"Ran out of memory."},
    {IDS_NEED_DNS_NAME, u"Please provide a valid DNS name or IP address."},
    {IDS_NEED_USER_NAME, u"Please provide a valid user name."},
    {IDS_SELECT_SUBSYSTEM, u"Please select a subsystem."},
    {IDS_SERVICE_BUSY, u"Zarvo VDS Hardware Provider service is busy.\n\nPlease try again later."},
};

constexpr DWORD kEditStyle = ui::ES_AUTOHSCROLL | ui::WS_TABSTOP | ui::WS_BORDER;

constexpr ControlTemplate kFilersControls[] = {
    {IDC_FILER_LIST, ControlKind::ListView, nullptr, {2, 3, 254, 130},
     ui::LVS_REPORT | ui::LVS_SINGLESEL | ui::LVS_SHOWSELALWAYS | ui::LVS_ALIGNLEFT | ui::WS_BORDER | ui::WS_TABSTOP},
    {IDC_ADD, ControlKind::Button, u"&Add", {97, 137, 52, 15}, ui::WS_TABSTOP},
    {IDC_REMOVE, ControlKind::Button, u"&Remove", {151, 137, 52, 15}, ui::WS_TABSTOP},
    {IDC_DETAILS, ControlKind::Button, u"&Details", {206, 137, 50, 15}, ui::WS_TABSTOP},
};

constexpr ControlTemplate kVersionControls[] = {
    {-1, ControlKind::GroupBox, nullptr, {7, 7, 246, 133}},
    {-1, ControlKind::Label, u"Name:", {24, 60, 40, 8}},
    {IDC_VERSION_NAME, ControlKind::Label, nullptr, {69, 60, 164, 8}},
    {-1, ControlKind::Label, u"Version", {24, 79, 24, 8}},
    {IDC_VERSION_NUMBER, ControlKind::Label, nullptr, {69, 79, 55, 8}},
};

constexpr ControlTemplate kDetailsControls[] = {
    {IDC_HOST_LABEL, ControlKind::Label, u"&DNS name or IP address:", {14, 22, 91, 15}},
    {IDC_HOST, ControlKind::Edit, nullptr, {112, 22, 129, 14}, kEditStyle},
    {IDC_LOGIN_LABEL, ControlKind::Label, u"&Login Name:", {14, 46, 91, 15}},
    {IDC_LOGIN, ControlKind::Edit, nullptr, {112, 47, 129, 14}, kEditStyle},
    {IDC_PASSWORD_LABEL, ControlKind::Label, u"&Password:", {14, 71, 91, 15}},
    {IDC_PASSWORD, ControlKind::Edit, nullptr, {112, 72, 129, 14}, kEditStyle | ui::ES_PASSWORD},
    {IDC_FIBRE_CHANNEL, ControlKind::Radio, u"&Fibre Channel", {41, 108, 59, 10}, ui::WS_GROUP | ui::WS_TABSTOP},
    {IDC_ISCSI, ControlKind::Radio, u"&iSCSI", {132, 108, 58, 10}},
    {IDC_VERIFY, ControlKind::Button, u"&Verify", {81, 135, 50, 14}, ui::WS_TABSTOP},
    {IDOK, ControlKind::DefaultButton, u"&OK", {140, 135, 50, 14}, ui::WS_TABSTOP},
    {IDCANCEL, ControlKind::Button, u"&Cancel", {199, 134, 50, 14}, ui::WS_TABSTOP},
    {-1, ControlKind::GroupBox, nullptr, {7, 7, 243, 119}},
    {IDC_TREAT_AS, ControlKind::GroupBox, u"Treat As:", {7, 93, 243, 33}},
};

constexpr ui::DialogTemplate kDialogs[] = {
    {IDD_FILERS, u"Subsystems", true, 261, 154, u"MS Shell Dlg", 8, kFilersControls},
    {IDD_VERSION, u"Version", true, 261, 154, u"MS Shell Dlg", 8, kVersionControls},
    {IDD_FILER_DETAILS, u"Subsystem Credentials", false, 257, 156, u"MS Shell Dlg", 8, kDetailsControls},
};

// A storage enclosure: three drive bays with their lights.
constexpr const char* kIconRows[] = {
    "................",
    ".kkkkkkkkkkkkkk.",
    ".kggggggggggggk.",
    ".kgwwwwwwwwwgGk.",
    ".kggggggggggggk.",
    ".kkkkkkkkkkkkkk.",
    ".kggggggggggggk.",
    ".kgwwwwwwwwwgGk.",
    ".kggggggggggggk.",
    ".kkkkkkkkkkkkkk.",
    ".kggggggggggggk.",
    ".kgwwwwwwwwwgAk.",
    ".kggggggggggggk.",
    ".kkkkkkkkkkkkkk.",
    "..kk........kk..",
    "................",
};
constexpr int kIconSizes[] = {16, 32, 48};
constexpr std::pair<char, unsigned> kIconPalette[] = {
    {'k', 0x202830}, {'g', 0x8a96a3}, {'w', 0xdde3ea}, {'G', 0x2ecc40}, {'A', 0xffb000},
};
constexpr ui::IconTemplate kIcons[] = {{IDI_APPLET, kIconSizes, kIconRows, kIconPalette}};

int g_moduleAnchor;

// The applet's module handle: the one its loader holds, so the host reads the
// applet's name and icon under the handle LoadLibrary gave it. Linked into a
// program, the anchor's address stands in.
HINSTANCE applet_module() {
    Dl_info info{};
    if (dladdr(&g_moduleAnchor, &info) && info.dli_fname) {
        if (void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD)) {
            dlclose(handle);  // NOLOAD took a reference of its own
            return static_cast<HINSTANCE>(handle);
        }
    }
    return reinterpret_cast<HINSTANCE>(&g_moduleAnchor);
}
}  // namespace

AFX_MODULE_STATE* AfxGetStaticModuleState() {
    static AFX_MODULE_STATE state = [] {
        const HINSTANCE module = applet_module();
        ui::register_resources(module, ui::ModuleResources{kStrings, kDialogs, kIcons});
        return AFX_MODULE_STATE{module, u"sanprovpanel"};
    }();
    return &state;
}
