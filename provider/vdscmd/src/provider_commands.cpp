// What applies to a subsystem or to the providers as a whole.
#include <cstdlib>

#include "session.h"

namespace vdscmd {
namespace {

int ForEachProvider(Session& session, const char* what, HRESULT (IVdsHwProvider::*method)(), bool listPass) {
    HRESULT result = S_OK;
    for (LoadedProvider* provider : session.Providers()) {
        const HRESULT hr = (provider->hw->*method)();
        // A list pass tells again whether every stored appliance could be read.
        if (listPass) provider->loaded = hr;
        if (FAILED(hr)) {
            session.Report(std::string(what) + " (" + ProviderName(provider) + ")", hr);
            result = hr;
        }
    }
    // A pass reads through to the appliances: the picture takes all it read.
    session.Host().Picture().Read(session.Providers());
    session.PrintNotifications();
    if (SUCCEEDED(result) && !session.Args().output.json) session.Out() << what << ": done\n" << std::flush;
    return FAILED(result) ? 1 : 0;
}

}  // namespace

int RenameSubsystem(Session& session) {
    if (session.Args().positional.empty()) return session.Report("rename-subsystem (name)", E_INVALIDARG);
    int status = 0;
    auto one = session.OneSubsystem("rename-subsystem", status);
    if (!one) return status;
    IVdsSubSystemNaming* naming = nullptr;
    HRESULT hr = one->object->QueryInterface(IID_PPV_ARGS(&naming));
    if (SUCCEEDED(hr)) {
        Com<IVdsSubSystemNaming> owned(naming);
        std::u16string name = Wide(session.Args().positional[0]);
        hr = naming->SetFriendlyName(name.data());
    }
    session.Touch(VDS_OT_SUB_SYSTEM, one->entry.id);
    return session.Done("rename-subsystem", hr);
}

// The stored list is the one the administration class keeps in this process,
// so a pass sees what the applet committed.
int Reenumerate(Session& session) {
    return ForEachProvider(session, "reenumerate", &IVdsHwProvider::Reenumerate, true);
}

int Refresh(Session& session) { return ForEachProvider(session, "refresh", &IVdsHwProvider::Refresh, false); }

// Prints every notification the providers send while it runs (the changes of
// other clients, of list passes and refreshes) and how far the operations
// that commands wait for have come. It ends after SECONDS (0: no
// end), when its client goes or when the service stops.
int Watch(Session& session) {
    const int seconds = session.Args().positional.empty() ? 0 : std::atoi(session.Args().positional[0].c_str());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    session.Err() << "vdsctl: watching for notifications\n" << std::flush;
    while ((seconds <= 0 || std::chrono::steady_clock::now() < end) && !session.Ending()) {
        session.PrintNotifications(std::chrono::milliseconds(200));
        session.PrintOperations();
    }
    return 0;
}

}  // namespace vdscmd
