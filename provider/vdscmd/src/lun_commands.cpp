// The changes of LUNs, and the LUN of a host disk.
#include <algorithm>
#include <cctype>
#include <cstdlib>  // getenv
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "session.h"

namespace vdscmd {
namespace {

// VDS takes a Fibre Channel initiator as the 16 hexadecimal digits of its port
// WWN; the appliance, and so the mask a listing shows, writes it as eight
// colon-separated pairs. The provider skips an entry in the listed form, so a
// mask copied from a listing would map nothing: such entries lose their colons.
bool IsColonWwn(std::string_view entry) {
    if (entry.size() != 23) return false;
    for (size_t i = 0; i < entry.size(); ++i)
        if (i % 3 == 2 ? entry[i] != ':' : !std::isxdigit(static_cast<unsigned char>(entry[i]))) return false;
    return true;
}

std::u16string MaskForVds(const std::string& list) {
    std::string result;
    for (size_t start = 0; start <= list.size();) {
        const size_t end = std::min(list.find(';', start), list.size());
        const std::string_view entry(list.data() + start, end - start);
        if (start != 0) result += ';';
        if (IsColonWwn(entry)) {
            for (char c : entry)
                if (c != ':') result += c;
        } else {
            result += entry;
        }
        start = end + 1;
    }
    return Wide(result);
}

// Runs a change on the one LUN that the first argument names (the command
// line's check saw to the arguments).
template <typename Action>
int OnLun(Session& session, const char* what, Action&& action) {
    int status = 0;
    auto lun = session.FindLun(what, session.Args().positional[0], status);
    if (!lun) return status;
    ForgetErrorInfo();
    return session.Done(what, action(lun.get()));
}

std::string ReadAttribute(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
    return text;
}

// The unit serial number page as sysfs gives it (page 0x80: a 4-byte head, then the serial).
std::string ReadSerial(const std::filesystem::path& device) {
    std::ifstream in(device / "vpd_pg80", std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (page.size() > 4) return page.substr(4, static_cast<unsigned char>(page[3]));
    return ReadAttribute(device / "serial");
}

}  // namespace

int CreateLun(Session& session) {
    int status = 0;
    auto s = session.OneSubsystem("create-lun", status);
    if (!s) return status;
    const auto type = static_cast<VDS_LUN_TYPE>(session.Args().type.value_or(VDS_LT_DEFAULT));
    std::u16string mask = MaskForVds(session.Args().mask);
    VDS_HINTS hints{};
    IVdsAsync* raw = nullptr;
    ForgetErrorInfo();
    HRESULT hr = s->object->CreateLun(type, session.Args().size.value_or(0), nullptr, 0, mask.data(), &hints, &raw);
    if (FAILED(hr)) return session.Done("create-lun", hr, {s->Name()});
    Com<IVdsAsync> async(raw);
    VDS_ASYNC_OUTPUT output{};
    hr = session.WaitFor(async.get(), output);
    if (output.cl.pLunUnk) {
        IVdsLun* lun = nullptr;
        output.cl.pLunUnk->QueryInterface(IID_PPV_ARGS(&lun));
        output.cl.pLunUnk->Release();
        Com<IVdsLun> owned(lun);
        if (SUCCEEDED(hr) && lun)
            PrintTable(session.Out(), session.Args().output, {"id", "name", "size", "status", "mask"}, {LunRow(*s, lun)});
    }
    return session.Done("create-lun", hr, {s->Name()});
}

int ExtendLun(Session& session) {
    return OnLun(session, "extend-lun", [&](IVdsLun* lun) {
        IVdsAsync* raw = nullptr;
        HRESULT hr = lun->Extend(session.Args().size.value_or(0), nullptr, 0, &raw);
        if (FAILED(hr)) return hr;
        Com<IVdsAsync> async(raw);
        VDS_ASYNC_OUTPUT output{};
        return session.WaitFor(async.get(), output);
    });
}

int MaskLun(Session& session) {
    return OnLun(session, "mask-lun",
                 [&](IVdsLun* lun) {
                     return session.Direct([&] { return lun->SetMask(MaskForVds(session.Args().positional[1]).data()); });
                 });
}

int RenameLun(Session& session) {
    return OnLun(session, "rename-lun", [&](IVdsLun* lun) -> HRESULT {
        IVdsLunNaming* naming = nullptr;
        HRESULT hr = lun->QueryInterface(IID_PPV_ARGS(&naming));
        if (FAILED(hr)) return hr;
        Com<IVdsLunNaming> owned(naming);
        std::u16string name = Wide(session.Args().positional[1]);
        return naming->SetFriendlyName(name.data());
    });
}

int DeleteLun(Session& session) {
    return OnLun(session, "delete-lun", [&](IVdsLun* lun) { return session.Direct([lun] { return lun->Delete(); }); });
}

int SetLbPolicy(Session& session) {
    return OnLun(session, "set-lb-policy", [&](IVdsLun* lun) -> HRESULT {
        IVdsLunMpio* mpio = nullptr;
        HRESULT hr = lun->QueryInterface(IID_PPV_ARGS(&mpio));
        if (FAILED(hr)) return hr;
        Com<IVdsLunMpio> owned(mpio);
        VDS_LOADBALANCE_POLICY_ENUM current{};
        VDS_PATH_POLICY* paths = nullptr;
        LONG count = 0;
        hr = mpio->GetLoadBalancePolicy(&current, &paths, &count);
        if (FAILED(hr)) return hr;
        const auto policy = static_cast<VDS_LOADBALANCE_POLICY_ENUM>(session.Args().policy.value_or(VDS_LBP_UNKNOWN));
        hr = mpio->SetLoadBalancePolicy(policy, paths, count);
        CoTaskMemFree(paths);
        return hr;
    });
}

int QueryLun(Session& session) {
    const std::string devicePath = session.Args().positional[0];
    const char* root = std::getenv("SANPROV_SYSFS_ROOT");
    const std::filesystem::path device = std::filesystem::path(root ? root : "/sys") / "block" /
                                         std::filesystem::path(devicePath).filename() / "device";
    const std::string serial = ReadSerial(device);
    // The picture holds each LUN's serial number: the answer waits for no subsystem.
    const PictureView view = session.Host().Picture().View();
    const auto chosen = session.ChosenSubsystems(view);
    for (const PictureLun& lun : view.luns) {
        const auto owner = std::find_if(chosen.begin(), chosen.end(), [&](const PictureSubsystem* s) {
            return std::memcmp(&s->id, &lun.subsystem, sizeof lun.subsystem) == 0 &&
                   std::memcmp(&s->provider, &lun.provider, sizeof lun.provider) == 0;
        });
        if (owner == chosen.end() || serial.empty() || lun.serial != serial) continue;
        Row row;
        row["device"] = devicePath;
        row["lun"] = IdText(lun.id);
        for (const auto& loaded : session.AllProviders())
            if (std::memcmp(&loaded->registration.providerId, &(*owner)->provider, sizeof(GUID)) == 0)
                row["provider"] = ProviderName(loaded.get());
        PrintTable(session.Out(), session.Args().output, {"device", "lun", "provider"}, {row});
        return kExitDone;
    }
    session.Err() << "vdsctl: " << devicePath << " is not a LUN of a loaded provider\n" << std::flush;
    return kExitFailed;
}

}  // namespace vdscmd
