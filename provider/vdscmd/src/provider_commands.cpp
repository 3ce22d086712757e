// What applies to a subsystem or to the providers as a whole.

#include "session.h"

namespace vdscmd {
namespace {

int ForEachProvider(Session& session, const char* what, HRESULT (IVdsHwProvider::*method)(), bool listPass) {
    HRESULT result = S_OK;
    for (LoadedProvider* provider : session.Providers()) {
        ForgetErrorInfo();
        const HRESULT hr = (provider->hw->*method)();
        const std::string failure = FAILED(hr) ? ErrorText(hr) : "";
        // A list pass tells again whether every stored appliance could be read.
        if (listPass) provider->SetLoaded(hr, failure);
        if (FAILED(hr)) {
            session.ReportText(std::string(what) + " (" + ProviderName(provider) + ")", failure);
            result = hr;
        }
    }
    // A pass reads through to the appliances: the picture takes all it read.
    session.Host().Picture().Read(session.Providers());
    session.PrintNotifications();
    if (SUCCEEDED(result) && !session.Args().output.json) session.Out() << what << ": done\n" << std::flush;
    return FAILED(result) ? kExitFailed : kExitDone;
}

}  // namespace

int RenameSubsystem(Session& session) {
    int status = 0;
    auto one = session.OneSubsystem("rename-subsystem", status);
    if (!one) return status;
    IVdsSubSystemNaming* naming = nullptr;
    HRESULT hr = one->object->QueryInterface(IID_PPV_ARGS(&naming));
    if (SUCCEEDED(hr)) {
        Com<IVdsSubSystemNaming> owned(naming);
        std::u16string name = Wide(session.Args().positional[0]);
        ForgetErrorInfo();
        hr = naming->SetFriendlyName(name.data());
    }
    session.Touch(VDS_OT_SUB_SYSTEM, one->entry.id);
    return session.Done("rename-subsystem", hr, {one->Name()});
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
// end) or when its client goes; a service that stops meanwhile ends it with
// a failure, since what it watched is gone.
int Watch(Session& session) {
    const uint32_t seconds = session.Args().seconds;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    session.Err() << "vdsctl: watching for notifications\n" << std::flush;
    while ((seconds == 0 || std::chrono::steady_clock::now() < end) && !session.Ending()) {
        session.PrintNotifications(std::chrono::milliseconds(200));
        session.PrintOperations();
    }
    if (!session.Stopping()) return kExitDone;
    session.Err() << "vdsctl: watch: sanprovd is stopping\n" << std::flush;
    return kExitService;
}

}  // namespace vdscmd
