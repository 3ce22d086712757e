#include "session.h"

#include <thread>

namespace vdscmd {

// ---- Output ---------------------------------------------------------------------------

void PendingOutput::Append(wire::Kind kind, std::string_view bytes) {
    if (kind != m_kind) {
        Send();
        m_kind = kind;
    }
    m_bytes.append(bytes);
    if (m_bytes.size() >= wire::kOutputChunk) Send();
}

void PendingOutput::Send() {
    for (size_t at = 0; at < m_bytes.size(); at += wire::kOutputChunk)
        m_output.Write(m_kind, std::string_view(m_bytes).substr(at, wire::kOutputChunk));
    m_bytes.clear();
}

OutputBuffer::int_type OutputBuffer::overflow(int_type c) {
    if (c != traits_type::eof()) {
        const char one = static_cast<char>(c);
        m_pending.Append(m_kind, std::string_view(&one, 1));
    }
    return traits_type::not_eof(c);
}

std::streamsize OutputBuffer::xsputn(const char* s, std::streamsize n) {
    m_pending.Append(m_kind, std::string_view(s, static_cast<size_t>(n)));
    return n;
}

int OutputBuffer::sync() {
    m_pending.Send();
    return 0;
}

// ---- Subsystems ---------------------------------------------------------------------------

Subsystem::Subsystem(LoadedProvider* p, Com<IVdsSubSystem> o) : provider(p), object(std::move(o)) {
    if (object) object->GetProperties(&prop);
}

Subsystem::~Subsystem() { FreeStrings(prop); }

Subsystem::Subsystem(Subsystem&& other) noexcept
    : provider(other.provider), object(std::move(other.object)), prop(other.prop) {
    other.prop.pwszFriendlyName = other.prop.pwszIdentification = nullptr;
}

void FreeStrings(VDS_LUN_PROP& prop) {
    CoTaskMemFree(prop.pwszFriendlyName);
    CoTaskMemFree(prop.pwszIdentification);
    CoTaskMemFree(prop.pwszUnmaskingList);
    prop.pwszFriendlyName = prop.pwszIdentification = prop.pwszUnmaskingList = nullptr;
}

std::string ProviderName(const LoadedProvider* provider) { return Utf8(provider->registration.name); }

namespace {
bool Matches(const VDS_SUB_SYSTEM_PROP& prop, const std::string& text) {
    return IdText(prop.id) == text || Utf8(prop.pwszFriendlyName) == text || Utf8(prop.pwszIdentification) == text;
}
}  // namespace

// ---- Session --------------------------------------------------------------------------

Session::Session(VdsHost& host, const Arguments& args, CommandOutput& output, const std::atomic<bool>& stopping)
    : m_host(host),
      m_args(args),
      m_output(output),
      m_stopping(stopping),
      m_providers(host.Providers()),
      m_notifications(host.Notifications()),
      m_pending(output),
      m_outBuffer(m_pending, wire::Kind::Out),
      m_errBuffer(m_pending, wire::Kind::Err),
      m_out(&m_outBuffer),
      m_err(&m_errBuffer) {}

std::vector<LoadedProvider*> Session::Providers() {
    std::vector<LoadedProvider*> chosen;
    for (const auto& loaded : m_providers) {
        if (m_args.provider == "fc" && loaded->type != VDS_HWT_FIBRE_CHANNEL) continue;
        if (m_args.provider == "iscsi" && loaded->type != VDS_HWT_ISCSI) continue;
        if (loaded->hw) chosen.push_back(loaded.get());
    }
    return chosen;
}

std::vector<Subsystem> Session::Subsystems() {
    std::vector<Subsystem> all;
    for (LoadedProvider* provider : Providers()) {
        IEnumVdsObject* raw = nullptr;
        if (FAILED(provider->hw->QuerySubSystems(&raw))) continue;
        Com<IEnumVdsObject> enumerator(raw);
        for (auto& object : Items<IVdsSubSystem>(enumerator.get())) {
            Subsystem subsystem(provider, std::move(object));
            if (!m_args.subsystem.empty() && !Matches(subsystem.prop, m_args.subsystem)) continue;
            all.push_back(std::move(subsystem));
        }
    }
    return all;
}

std::optional<Subsystem> Session::OneSubsystem(const std::string& what, int& status) {
    std::vector<Subsystem> all = Subsystems();
    if (all.size() == 1) return std::move(all.front());
    status = kExitFailed;
    if (all.empty()) {
        m_err << "vdsctl: no subsystem\n";
    } else {
        m_err << "vdsctl: " << what << ": " << all.size()
              << " subsystems would do; name one with --subsystem (or --provider):\n";
        for (const Subsystem& s : all) m_err << "  " << s.Id() << "  " << s.Name() << "  " << ProviderName(s.provider) << "\n";
    }
    m_err.flush();
    return std::nullopt;
}

Com<IVdsLun> Session::FindLun(const std::string& what, const std::string& text, int& status) {
    if (auto byId = ById<IVdsLun>(text, VDS_OT_LUN)) return byId;
    std::vector<Candidate<IVdsLun>> matches;
    for (Subsystem& subsystem : Subsystems()) {
        for (auto& lun : QueryOf<IVdsLun>(subsystem.object.get(), &IVdsSubSystem::QueryLuns)) {
            VDS_LUN_PROP prop{};
            if (FAILED(lun->GetProperties(&prop))) continue;
            const std::string name = Utf8(prop.pwszFriendlyName);
            if (name == text || Utf8(prop.pwszIdentification) == text)
                matches.push_back({std::move(lun), IdText(prop.id), name, subsystem.Name() + " (" + subsystem.Id() + ")"});
            FreeStrings(prop);
        }
    }
    return Single(std::move(matches), what, text, "LUNs", status);
}

void Session::PrintNotifications(std::chrono::milliseconds wait) {
    for (const VDS_NOTIFICATION& n : m_notifications.Take(wait)) {
        if (m_args.output.json)
            m_out << NotificationRow(n).dump() << "\n";
        else
            m_out << NotificationText(n) << "\n";
    }
    m_out.flush();
}

// The bar is drawn again only when the percentage moves, so a log holds one
// step per change rather than one every 100 ms.
HRESULT Session::WaitFor(IVdsAsync* async, VDS_ASYNC_OUTPUT& output) {
    std::optional<ULONG> shown;
    for (;;) {
        HRESULT status = S_OK;
        ULONG percent = 0;
        if (FAILED(async->QueryStatus(&status, &percent)) || status != VDS_E_OPERATION_PENDING || percent >= 100)
            break;
        if (!m_args.output.json && shown != percent) {
            shown = percent;
            m_err << ProgressText(percent) << std::flush;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    HRESULT result = S_OK;
    ForgetErrorInfo();
    const HRESULT waited = async->Wait(&result, &output);
    if (!m_args.output.json) m_err << ProgressText(100) << std::flush;
    return FAILED(waited) ? waited : result;
}

int Session::Done(const std::string& what, HRESULT hr, const std::vector<std::string>& inserts) {
    // The text is taken before anything else runs on this thread.
    const std::string failure = FAILED(hr) ? ErrorText(hr, inserts) : "";
    PrintNotifications();
    if (FAILED(hr)) return ReportText(what, failure);
    if (!m_args.output.json) m_out << what << ": done\n" << std::flush;
    return kExitDone;
}

}  // namespace vdscmd
