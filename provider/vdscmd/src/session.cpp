#include "session.h"

#include <model/async.h>
#include <platform/apartment.h>
#include <platform/errorinfo.h>

#include <algorithm>
#include <cstring>
#include <set>
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

std::string ProviderName(const LoadedProvider* provider) { return Utf8(provider->registration.name); }

namespace {
bool Matches(const PictureSubsystem& s, const std::string& text) {
    return IdText(s.id) == text || s.name == text || s.identification == text;
}

const char* const kIscsiChanges[] = {"create-portal-group", "move-portal", "set-alias", "set-chap"};
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

std::vector<const PictureSubsystem*> Session::ChosenSubsystems(const PictureView& view) {
    std::vector<const PictureSubsystem*> chosen;
    const std::vector<LoadedProvider*> providers = Providers();
    for (const PictureSubsystem& s : view.subsystems) {
        const bool ofChosen = std::any_of(providers.begin(), providers.end(), [&](LoadedProvider* p) {
            return std::memcmp(&p->registration.providerId, &s.provider, sizeof s.provider) == 0;
        });
        if (ofChosen && (m_args.subsystem.empty() || Matches(s, m_args.subsystem))) chosen.push_back(&s);
    }
    return chosen;
}

int Session::NoSuchSubsystem() {
    m_err << "vdsctl: --subsystem " << m_args.subsystem << ": no such subsystem\n" << std::flush;
    return 1;
}

std::vector<Subsystem> Session::Subsystems() {
    const PictureView view = m_host.Picture().View();
    std::vector<Subsystem> all;
    for (const PictureSubsystem* s : ChosenSubsystems(view)) {
        for (LoadedProvider* provider : Providers()) {
            if (std::memcmp(&provider->registration.providerId, &s->provider, sizeof s->provider) != 0) continue;
            IUnknown* object = nullptr;
            if (!provider->priv || FAILED(provider->priv->GetObject(s->id, VDS_OT_SUB_SYSTEM, &object))) continue;
            Com<IUnknown> owned(object);
            IVdsSubSystem* subsystem = nullptr;
            if (SUCCEEDED(object->QueryInterface(IID_PPV_ARGS(&subsystem))))
                all.emplace_back(provider, Com<IVdsSubSystem>(subsystem), *s);
        }
    }
    return all;
}

std::optional<Subsystem> Session::OneSubsystem(const std::string& what, int& status) {
    std::vector<Subsystem> all = Subsystems();
    if (all.size() == 1) return std::move(all.front());
    status = kExitFailed;
    if (all.empty() && !m_args.subsystem.empty()) {
        NoSuchSubsystem();
    } else if (all.empty()) {
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
    if (auto byId = ById<IVdsLun>(text, VDS_OT_LUN)) {
        if (const auto id = platform::guid_from_text(text)) Touch(VDS_OT_LUN, *id);
        return byId;
    }
    const PictureView view = m_host.Picture().View();
    std::set<PictureKey> chosen;
    for (const PictureSubsystem* s : ChosenSubsystems(view)) chosen.insert({s->provider, s->id});
    if (!m_args.subsystem.empty() && chosen.empty()) {
        status = NoSuchSubsystem();
        return nullptr;
    }
    std::vector<Candidate<IVdsLun>> matches;
    std::vector<GUID> ids;
    for (const PictureLun& lun : view.luns) {
        if (!chosen.count({lun.provider, lun.subsystem}) || (lun.name != text && lun.identification != text)) continue;
        const PictureSubsystem* s = view.Subsystem(lun.provider, lun.subsystem);
        Com<IVdsLun> object;
        for (LoadedProvider* provider : Providers()) {
            IUnknown* raw = nullptr;
            if (std::memcmp(&provider->registration.providerId, &lun.provider, sizeof lun.provider) != 0 ||
                !provider->priv || FAILED(provider->priv->GetObject(lun.id, VDS_OT_LUN, &raw)))
                continue;
            Com<IUnknown> owned(raw);
            IVdsLun* item = nullptr;
            if (SUCCEEDED(raw->QueryInterface(IID_PPV_ARGS(&item)))) object.reset(item);
        }
        if (!object) continue;  // gone since the picture read it
        matches.push_back({std::move(object), IdText(lun.id), lun.name, (s ? s->name : "") + " (" + IdText(lun.subsystem) + ")"});
        ids.push_back(lun.id);
    }
    if (matches.size() == 1) Touch(VDS_OT_LUN, ids.front());
    return Single(std::move(matches), what, text, "LUNs", status);
}

std::vector<VDS_NOTIFICATION> Session::PrintNotifications(std::chrono::milliseconds wait) {
    std::vector<VDS_NOTIFICATION> taken = m_notifications.Take(wait);
    for (const VDS_NOTIFICATION& n : taken) {
        if (m_args.output.json)
            m_out << NotificationRow(n).dump() << "\n";
        else
            m_out << NotificationText(n) << "\n";
    }
    m_out.flush();
    return taken;
}

// The next listing shows what the change did: what its completion announced
// and what it acted on are read again now, rather than when the picture's
// own thread comes to them.
void Session::ReadChanged(const std::vector<VDS_NOTIFICATION>& seen) {
    ObjectPicture& picture = m_host.Picture();
    const std::vector<LoadedProvider*> providers = Providers();
    picture.ReadNotified(providers, seen);
    for (const auto& [type, id] : m_touched) picture.ReadObject(providers, type, id);
    m_touched.clear();
    if (std::find(std::begin(kIscsiChanges), std::end(kIscsiChanges), m_args.command) == std::end(kIscsiChanges))
        return;
    for (const Subsystem& s : Subsystems()) picture.ReadIscsi(s.provider, s.entry.id);
}

// The bar is drawn again only when the percentage or the stage moves, so a
// log holds one step per change rather than one every 100 ms. An operation
// done within a second shows none.
HRESULT Session::WaitFor(IVdsAsync* async, VDS_ASYNC_OUTPUT& output) {
    const RunningOperations::Entry listed(m_host.Operations(), m_args.command, async);
    const auto quiet = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::optional<Progress> shown;
    size_t width = 0;
    for (;;) {
        HRESULT status = S_OK;
        ULONG percent = 0;
        if (FAILED(async->QueryStatus(&status, &percent)) || status != VDS_E_OPERATION_PENDING || percent >= 100)
            break;
        if (std::chrono::steady_clock::now() >= quiet) {
            const Progress progress = ProgressOf(async);
            if (shown != progress) ShowProgress(progress, width);
            shown = progress;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    HRESULT result = S_OK;
    ForgetErrorInfo();
    const HRESULT waited = async->Wait(&result, &output);
    if (shown) ShowProgress(Progress{100, {}}, width);
    return FAILED(waited) ? waited : result;
}

// A terminal gets the bar drawn over itself with the stage after it; --json
// gets one progress record per change, on standard error, so that standard
// output holds the command's documents only.
void Session::ShowProgress(const Progress& progress, size_t& width) {
    if (m_args.output.json) {
        Row record;
        record["progress"] = progress.percent;
        record["stage"] = progress.stage;
        m_err << record.dump() << "\n" << std::flush;
        return;
    }
    std::string text = ProgressText(progress.percent);
    const bool last = !text.empty() && text.back() == '\n';
    if (last) text.pop_back();
    if (!progress.stage.empty()) text += "  " + progress.stage;
    const size_t length = text.size();
    if (length < width) text += std::string(width - length, ' ');  // over what the longer line left
    width = length;
    m_err << text << (last ? "\n" : "") << std::flush;
}

HRESULT Session::Direct(const std::function<HRESULT()>& call) {
    const GUID object = m_touched.empty() ? GUID_NULL : m_touched.back().second;
    std::atomic<bool> done{false};
    HRESULT hr = E_FAIL;
    IErrorInfo* info = nullptr;
    std::thread caller([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        hr = call();
        if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
        CoUninitialize();
        done = true;
    });
    const auto quiet = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::optional<Progress> shown;
    size_t width = 0;
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (done || std::chrono::steady_clock::now() < quiet) continue;
        ZarvoAsync* running = ZarvoAsync::RunningOn(object);
        if (!running) continue;
        Progress progress;
        HRESULT status = S_OK;
        running->QueryStatus(&status, &progress.percent);
        progress.stage = Utf8(running->Stage());
        running->Release();
        if (shown != progress) ShowProgress(progress, width);
        shown = progress;
    }
    caller.join();
    if (shown) ShowProgress(Progress{100, {}}, width);
    SetErrorInfo(0, info);
    if (info) info->Release();
    return hr;
}

void Session::PrintOperations() {
    std::map<uint64_t, Progress> now;
    for (const RunningOperations::Seen& seen : m_host.Operations().Now()) {
        now[seen.number] = seen.progress;
        const auto before = m_operationsShown.find(seen.number);
        if (before != m_operationsShown.end() && before->second == seen.progress) continue;
        if (m_args.output.json) {
            Row record;
            record["operation"] = seen.what;
            record["progress"] = seen.progress.percent;
            record["stage"] = seen.progress.stage;
            m_out << record.dump() << "\n";
        } else {
            m_out << "progress: " << seen.what << " " << seen.progress.percent << "%"
                  << (seen.progress.stage.empty() ? "" : " " + seen.progress.stage) << "\n";
        }
    }
    m_operationsShown.swap(now);
    m_out.flush();
}

int Session::Done(const std::string& what, HRESULT hr, const std::vector<std::string>& inserts) {
    // The text is taken before anything else runs on this thread.
    const std::string failure = FAILED(hr) ? ErrorText(hr, inserts) : "";
    ReadChanged(PrintNotifications());
    if (FAILED(hr)) return ReportText(what, failure);
    if (!m_args.output.json) m_out << what << ": done\n" << std::flush;
    return kExitDone;
}

}  // namespace vdscmd
