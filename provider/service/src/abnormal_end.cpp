#include <service/abnormal_end.h>

#include <platform/eventlog.h>
#include <platform/text.h>

#include <signal.h>

#include <atomic>
#include <cstddef>
#include <string>

namespace {

struct FatalSignal {
    int number;
    const char* name;
};
// The signals whose default action ends the process and that a handler can
// see (SIGKILL and SIGSTOP it cannot).
constexpr FatalSignal kFatalSignals[] = {
    {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"}, {SIGILL, "SIGILL"},   {SIGABRT, "SIGABRT"},
    {SIGTERM, "SIGTERM"}, {SIGQUIT, "SIGQUIT"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"},
};
constexpr size_t kCount = std::size(kFatalSignals);

std::atomic<bool> g_ended{false};
static_assert(std::atomic<bool>::is_always_lock_free, "claimed from a signal handler");
platform::PreparedEvent g_events[kCount];

void OnFatalSignal(int number) {
    // SA_RESETHAND has restored the default action: the signal raised again
    // ends the process once the handler returns (a fault recurs by itself).
    for (size_t i = 0; i < kCount; ++i)
        if (kFatalSignals[i].number == number && ClaimAbnormalEnd()) platform::write_prepared_event(g_events[i]);
    ::raise(number);
}

}  // namespace

bool ClaimAbnormalEnd() noexcept { return !g_ended.exchange(true); }

void ArmFatalSignalEvents(const CEventLogReporter& reporter) {
    const HANDLE source = RegisterEventSourceW(nullptr, reporter.EventSourceName());
    if (!source) return;
    for (size_t i = 0; i < kCount; ++i) {
        const FatalSignal& s = kFatalSignals[i];
        // The same event as an exception nothing caught, with the signal as its cause.
        const std::u16string text = platform::utf8_to_wide_lossy("Service terminated unexpectedly: signal " +
                                                                 std::to_string(s.number) + " (" + s.name + ")");
        LPCWSTR inserts[] = {text.c_str()};
        if (!platform::prepare_event(source, EVENTLOG_ERROR_TYPE, EVENT_TEXT_ERROR, 1, inserts, g_events[i])) continue;
        struct sigaction action{};
        action.sa_handler = OnFatalSignal;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        ::sigaction(s.number, &action, nullptr);
    }
    DeregisterEventSource(source);
}
