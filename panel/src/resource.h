#pragma once
// Resource ids of the applet: strings, dialogs, controls and its icon.
#include <platform/types.h>

constexpr UINT IDS_APPLET_NAME = 1;
constexpr UINT IDS_APPLET_INFO = 2;
constexpr UINT IDS_SHEET_CAPTION = 3;
constexpr UINT IDS_TYPE_FIBRE_CHANNEL = 4;
constexpr UINT IDS_TYPE_ISCSI = 5;
constexpr UINT IDS_TYPE_UNKNOWN = 6;
constexpr UINT IDS_COLUMN_NAME = 7;
constexpr UINT IDS_COLUMN_TYPE = 8;
constexpr UINT IDS_COLUMN_LOGIN = 10;
constexpr UINT IDS_COLUMN_PASSWORD = 11;
constexpr UINT IDS_COLUMN_UNIQUE_ID = 12;
constexpr UINT IDS_SERVICE_UNREACHABLE = 13;
constexpr UINT IDS_CREDENTIALS_VERIFIED = 14;
constexpr UINT IDS_OUT_OF_MEMORY = 16;
constexpr UINT IDS_NEED_DNS_NAME = 18;
constexpr UINT IDS_NEED_USER_NAME = 19;
constexpr UINT IDS_SELECT_SUBSYSTEM = 21;
constexpr UINT IDS_SERVICE_BUSY = 22;

constexpr UINT IDD_FILERS = 106;
constexpr UINT IDD_VERSION = 1001;
constexpr UINT IDD_FILER_DETAILS = 1012;

constexpr UINT IDI_APPLET = 1006;

constexpr int IDC_FILER_LIST = 1006;
constexpr int IDC_REMOVE = 1008;
constexpr int IDC_ADD = 1009;
constexpr int IDC_DETAILS = 1010;

constexpr int IDC_HOST = 1009;
constexpr int IDC_ISCSI = 1012;
constexpr int IDC_LOGIN = 1013;
constexpr int IDC_PASSWORD = 1014;
constexpr int IDC_FIBRE_CHANNEL = 1015;
constexpr int IDC_VERIFY = 1018;
constexpr int IDC_HOST_LABEL = 1019;
constexpr int IDC_LOGIN_LABEL = 1020;
constexpr int IDC_PASSWORD_LABEL = 1021;
constexpr int IDC_TREAT_AS = 1022;
constexpr int IDC_VERSION_NAME = 1023;
constexpr int IDC_VERSION_NUMBER = 1024;
