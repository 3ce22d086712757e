#include <hostlib/event_log.h>

#include <hostlib/trace.h>
#include <hostlib/wformat.h>

#include <platform/eventlog.h>
#include <platform/text.h>

#include <atomic>
#include <cstdio>
#include <new>

namespace {

constexpr DWORD kComErrorEventBySeverity[4] = {EVENT_COM_ERROR_INFORMATION, EVENT_COM_ERROR_INFORMATION,
                                               EVENT_COM_ERROR_WARNING, EVENT_COM_ERROR_ERROR};

DWORD text_event_for_type(WORD eventType) {
    switch (eventType) {
    case EVENTLOG_SUCCESS:
    case EVENTLOG_INFORMATION_TYPE: return EVENT_TEXT_INFORMATION;
    case EVENTLOG_WARNING_TYPE: return EVENT_TEXT_WARNING;
    default: return EVENT_TEXT_ERROR;
    }
}

// "0x%08lX": ten characters and the NUL.
thread_local WCHAR t_hresultText[11];

CEventLogReporter g_defaultReporter;
std::atomic<CEventLogReporter*> g_processReporter{nullptr};

}  // namespace

void CEventLogReporter::LogEvent(DWORD eventId, WORD numStrings, const WCHAR* const* strings, DWORD rawDataSize,
                                 const void* rawData) const {
    // The source is registered for each event; no handle is kept between reports.
    const HANDLE source = RegisterEventSourceW(nullptr, EventSourceName());
    if (!source) return;
    ReportEventW(source, platform::event_type_of(eventId), 0, eventId, nullptr, numStrings, rawDataSize,
                 const_cast<const WCHAR**>(strings), const_cast<void*>(rawData));
    DeregisterEventSource(source);
}

void CEventLogReporter::LogEventV(WORD eventType, const WCHAR* format, const platform::MessageArgs& args) const {
    try {
        const std::u16string text = hostlib::format_wide(format ? format : u"", args, kMaxFormattedChars);
        const WCHAR* inserts[] = {text.c_str()};
        LogEvent(text_event_for_type(eventType), 1, inserts);
    } catch (const std::bad_alloc&) {
        // No room for the text: the event is dropped.
    }
}

void CEventLogReporter::LogEvent(const WCHAR* sourceFile, int line) const {
    char number[32];
    std::snprintf(number, sizeof number, "%d", line);
    const std::u16string lineText = platform::utf8_to_wide_lossy(number);
    const WCHAR* inserts[] = {sourceFile ? sourceFile : u"", lineText.c_str()};
    LogEvent(EVENT_EXCEPTION_CAUGHT, 2, inserts);
}

void CEventLogReporter::LogEvent(const _com_error& error) const {
    const HRESULT hr = error.Error();
    std::u16string text = error.Description();
    if (text.empty()) {
        const WCHAR* message = error.ErrorMessage();
        text = message ? message : u"";
    }
    if (text.empty()) text = HresultToString(hr);
    const WCHAR* inserts[] = {text.c_str()};
    LogEvent(kComErrorEventBySeverity[(static_cast<DWORD>(hr) >> 30) & 3], 1, inserts);
}

CEventLogReporter& process_event_reporter() {
    CEventLogReporter* reporter = g_processReporter.load(std::memory_order_acquire);
    return reporter ? *reporter : g_defaultReporter;
}

void set_process_event_reporter(CEventLogReporter* reporter) {
    g_processReporter.store(reporter, std::memory_order_release);
}

const WCHAR* HresultToString(HRESULT hr) {
    char text[sizeof t_hresultText / sizeof t_hresultText[0]];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    for (size_t i = 0; i < sizeof text; ++i) t_hresultText[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
    return t_hresultText;
}

LONG DelayLoadFailureReporter(const EXCEPTION_POINTERS* info) {
    if (!info || !info->ExceptionRecord) return EXCEPTION_CONTINUE_SEARCH;
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code != VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND) &&
        code != VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND))
        return EXCEPTION_CONTINUE_SEARCH;

    const auto* load = reinterpret_cast<const DelayLoadInfo*>(info->ExceptionRecord->ExceptionInformation[0]);
    const char* dll = load ? load->szDll : nullptr;
    const std::u16string dllText = dll ? platform::utf8_to_wide_lossy(dll) : std::u16string();
    // A name missing from the record is passed as a null insert.
    const WCHAR* dllInsert = dll ? dllText.c_str() : nullptr;
    CEventLogReporter& reporter = process_event_reporter();

    if (code == VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND)) {
        trace_printf("!!!!!!!!!!!! Dll %s not found !!!!!!!!!!!! ", dll ? dll : "(null)");
        const WCHAR* inserts[] = {dllInsert};
        reporter.LogEvent(EVENT_DLL_NOT_FOUND, 1, inserts);
    } else if (load && load->dlp.fImportByName) {
        const char* proc = load->dlp.szProcName;
        trace_printf("!!!!!!!!!!!! Function %s not found in %s !!!!!!!!!!!! ", proc ? proc : "(null)",
                     dll ? dll : "(null)");
        const std::u16string procText = proc ? platform::utf8_to_wide_lossy(proc) : std::u16string();
        const WCHAR* inserts[] = {proc ? procText.c_str() : nullptr, dllInsert};
        reporter.LogEvent(EVENT_ENTRY_POINT_NOT_FOUND, 2, inserts);
    } else {
        const DWORD ordinal = load ? load->dlp.dwOrdinal : 0;
        trace_printf("!!!!!!!!!!!! Function ordinal %d not found in %s !!!!!!!!!!!! ", static_cast<int>(ordinal),
                     dll ? dll : "(null)");
        const std::u16string ordinalText = hostlib::wsprintf_typed(u"%lX", ordinal);
        const WCHAR* inserts[] = {ordinalText.c_str(), dllInsert};
        reporter.LogEvent(EVENT_ENTRY_ORDINAL_NOT_FOUND, 2, inserts);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}
