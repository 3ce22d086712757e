#pragma once
// One command's run: its arguments, the providers it was given, the output
// streams, the notifications that arrive while it runs, and the look-ups of
// objects by id or name (a name that matches more than one object is refused).
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include <platform/com_scoped.h>
#include <platform/comalloc.h>
#include <platform/guid.h>
#include <vdscmd/commands.h>
#include <vdscmd/output.h>
#include <vdscmd/picture.h>

namespace vdscmd {

template <typename T>
using Com = platform::com_unique_ptr<T>;

// What the command wrote and has not sent yet. Both streams write through it,
// so the client gets standard output and error in the order they were written.
class PendingOutput {
public:
    explicit PendingOutput(CommandOutput& output) : m_output(output) {}
    void Append(wire::Kind kind, std::string_view bytes);
    void Send();

private:
    CommandOutput& m_output;
    wire::Kind m_kind = wire::Kind::Out;
    std::string m_bytes;
};

class OutputBuffer final : public std::streambuf {
public:
    OutputBuffer(PendingOutput& pending, wire::Kind kind) : m_pending(pending), m_kind(kind) {}

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    PendingOutput& m_pending;
    wire::Kind m_kind;
};

// A subsystem of a provider, as the picture holds it, with its object.
class Subsystem {
public:
    Subsystem(LoadedProvider* provider, Com<IVdsSubSystem> object, PictureSubsystem entry)
        : provider(provider), object(std::move(object)), entry(std::move(entry)) {}

    LoadedProvider* provider;
    Com<IVdsSubSystem> object;
    PictureSubsystem entry;

    std::string Name() const { return entry.name; }
    std::string Id() const { return IdText(entry.id); }
};

// An object found by name, with where it lives (for the list of an ambiguous name).
template <typename I>
struct Candidate {
    Com<I> object;
    std::string id;
    std::string name;
    std::string subsystem;  // "name (id)"
};

class Session {
public:
    Session(VdsHost& host, const Arguments& args, CommandOutput& output, const std::atomic<bool>& stopping);
    ~Session() { m_pending.Send(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const Arguments& Args() const { return m_args; }
    std::ostream& Out() { return m_out; }
    std::ostream& Err() { return m_err; }
    bool Ending() { return m_stopping.load() || m_output.Gone(); }
    bool Stopping() const { return m_stopping.load(); }
    // `inserts`: the names of what the call was about, for a message that takes them.
    int Report(const std::string& what, HRESULT hr, const std::vector<std::string>& inserts = {}) {
        ReportError(m_err, what, hr, inserts);
        m_err.flush();
        return kExitFailed;
    }
    int ReportText(const std::string& what, const std::string& text) {
        ReportFailure(m_err, what, text);
        m_err.flush();
        return kExitFailed;
    }
    VdsHost& Host() { return m_host; }

    // The providers of the run, narrowed by --provider.
    std::vector<LoadedProvider*> Providers();
    const ProviderList& AllProviders() const { return m_providers; }
    // The subsystems of those providers in the picture, narrowed by --subsystem.
    std::vector<const PictureSubsystem*> ChosenSubsystems(const PictureView& view);
    // Says that --subsystem names no subsystem; gives the exit status 1.
    int NoSuchSubsystem();
    // The chosen subsystems with their objects.
    std::vector<Subsystem> Subsystems();
    // The one subsystem a change applies to; prints why there is none.
    std::optional<Subsystem> OneSubsystem(const std::string& what, int& status);

    template <typename I>
    static std::vector<Com<I>> Items(IEnumVdsObject* enumerator);

    // The object of an id of the type, from whichever provider has it.
    template <typename I>
    Com<I> ById(const std::string& text, VDS_OBJECT_TYPE type);

    // The one LUN that an id or a name names; prints why there is none.
    Com<IVdsLun> FindLun(const std::string& what, const std::string& text, int& status);

    // Of several candidates for a name, the one; else prints the error
    // (not found, or every match with its id and subsystem) and sets status.
    template <typename I>
    Com<I> Single(std::vector<Candidate<I>> candidates, const std::string& what, const std::string& text,
                  const char* kind, int& status);

    // Prints the notifications that arrived (waiting a little for the first); gives them.
    std::vector<VDS_NOTIFICATION> PrintNotifications(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // An object the command changes: the picture reads it again when the change is done.
    void Touch(VDS_OBJECT_TYPE type, const GUID& id) { m_touched.emplace_back(type, id); }
    // Waits on an async operation; one that runs longer than a second shows
    // its progress and what it waits for. Gives the operation's result.
    HRESULT WaitFor(IVdsAsync* async, VDS_ASYNC_OUTPUT& output);
    // Runs a direct call that waits on work of its own (a mask or a deletion
    // with its host rescan) and, past a second, shows that work's progress
    // like WaitFor's. The call's error information reaches this thread.
    HRESULT Direct(const std::function<HRESULT()>& call);
    // Prints how far the operations of every client have come since the last call (watch).
    void PrintOperations();
    // Prints the notifications and the result of a change, and brings the
    // picture up to it; gives the exit status.
    int Done(const std::string& what, HRESULT hr, const std::vector<std::string>& inserts = {});

private:
    void ReadChanged(const std::vector<VDS_NOTIFICATION>& seen);
    void ShowProgress(const Progress& progress, size_t& width);

    VdsHost& m_host;
    Arguments m_args;
    CommandOutput& m_output;
    const std::atomic<bool>& m_stopping;
    ProviderList m_providers;  // held for the run
    NotificationHub::Subscription m_notifications;
    PendingOutput m_pending;
    OutputBuffer m_outBuffer;
    OutputBuffer m_errBuffer;
    std::ostream m_out;
    std::ostream m_err;
    std::vector<std::pair<VDS_OBJECT_TYPE, GUID>> m_touched;
    std::map<uint64_t, Progress> m_operationsShown;  // watch's
};

std::string ProviderName(const LoadedProvider* provider);

template <typename I>
std::vector<Com<I>> Session::Items(IEnumVdsObject* enumerator) {
    std::vector<Com<I>> items;
    if (!enumerator) return items;
    for (;;) {
        IUnknown* object = nullptr;
        ULONG fetched = 0;
        const HRESULT hr = enumerator->Next(1, &object, &fetched);
        if (FAILED(hr) || fetched == 0) break;
        I* item = nullptr;
        object->QueryInterface(IID_PPV_ARGS(&item));
        object->Release();
        if (item) items.emplace_back(item);
    }
    return items;
}

template <typename I>
Com<I> Session::ById(const std::string& text, VDS_OBJECT_TYPE type) {
    const auto id = platform::guid_from_text(text);
    if (!id) return nullptr;
    for (LoadedProvider* provider : Providers()) {
        IUnknown* object = nullptr;
        if (!provider->priv || FAILED(provider->priv->GetObject(*id, type, &object))) continue;
        I* item = nullptr;
        object->QueryInterface(IID_PPV_ARGS(&item));
        object->Release();
        if (item) return Com<I>(item);
    }
    return nullptr;
}

template <typename I>
Com<I> Session::Single(std::vector<Candidate<I>> candidates, const std::string& what, const std::string& text,
                       const char* kind, int& status) {
    if (candidates.size() == 1) return std::move(candidates.front().object);
    status = kExitFailed;
    if (candidates.empty()) {
        Report(what + " " + text, VDS_E_OBJECT_NOT_FOUND);
        return nullptr;
    }
    // A change must never guess which one was meant.
    m_err << "vdsctl: " << what << " " << text << ": the name matches " << candidates.size() << " " << kind
          << "; give the id, or narrow with --subsystem:\n";
    for (const Candidate<I>& c : candidates)
        m_err << "  " << c.id << "  " << c.name << "  subsystem " << c.subsystem << "\n";
    m_err.flush();
    return nullptr;
}

// Enumerates what a method of an owner gives.
template <typename I, typename Owner>
std::vector<Com<I>> QueryOf(Owner* owner, HRESULT (Owner::*method)(IEnumVdsObject**)) {
    IEnumVdsObject* raw = nullptr;
    const HRESULT hr = (owner->*method)(&raw);
    Com<IEnumVdsObject> enumerator(raw);
    if (FAILED(hr)) return {};
    return Session::Items<I>(enumerator.get());
}

std::vector<Com<IVdsIscsiTarget>> Targets(Subsystem& s);

// The commands, by file.
int ListProviders(Session& session);
int ListSubsystems(Session& session);
int ListControllers(Session& session, bool ports);
int ListDrives(Session& session);
int ListLuns(Session& session);
int ListPlexes(Session& session, bool extentsToo);
int ListIscsi(Session& session, const std::string& what);
Row LunRow(const Subsystem& s, IVdsLun* lun);

int CreateLun(Session& session);
int ExtendLun(Session& session);
int MaskLun(Session& session);
int RenameLun(Session& session);
int DeleteLun(Session& session);
int SetLbPolicy(Session& session);
int QueryLun(Session& session);

int CreatePortalGroup(Session& session);
int MovePortal(Session& session);
int SetAlias(Session& session);
int SetChap(Session& session, const std::optional<std::string>& secret);

int RenameSubsystem(Session& session);
int Reenumerate(Session& session);
int Refresh(Session& session);
int Watch(Session& session);

}  // namespace vdscmd
