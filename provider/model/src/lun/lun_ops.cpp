// What changes a LUN's make-up or place: plexes, resize, rename, removal.
#include <model/lun.h>

#include <model/filer_object_container.h>
#include <model/plex.h>
#include <model/qtree.h>
#include <model/volume.h>
#include <model/zarvo_san.h>

#include <filer/filer_version.h>
#include <hostlib/conversions.h>
#include <hostlib/event_log.h>
#include <hostlib/trace.h>

#include <string_view>

namespace {

std::string N(const std::u16string& text) { return WStringToString(text); }

constexpr std::u16string_view kNameCharacters =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._{}";

// Replaces each character a LUN name may not hold by "_"; true when any was.
bool SanitizeName(std::u16string& name) {
    bool changed = false;
    for (char16_t& c : name) {
        if (kNameCharacters.find(c) == std::u16string_view::npos) {
            c = u'_';
            changed = true;
        }
    }
    return changed;
}

}  // namespace

HRESULT ZarvoLun::AddPlex(ZarvoLun* donor) {
    TraceScope scope("ZarvoLun::AddPlex");
    if (isBusy() || donor->isBusy()) return VDS_E_ANOTHER_CALL_IN_PROGRESS;
    if (donor->m_properties.m_prop.ullSize < m_properties.m_prop.ullSize) return VDS_E_INVALID_OPERATION;
    for (auto it = donor->m_plexMap.begin(); it != donor->m_plexMap.end();) {
        ZarvoPlex* plex = it->second;
        ++it;  // Donate takes the plex out of the donor's map
        plex->Donate(this);
    }
    if (m_plexMap.size() > 1) m_properties.m_prop.type = static_cast<VDS_LUN_TYPE>(13);
    return S_OK;
}

HRESULT ZarvoLun::RemovePlex(const GUID& plexId) {
    TraceScope scope("ZarvoLun::RemovePlex");
    const auto found = m_plexMap.find(plexId);
    if (found == m_plexMap.end()) return VDS_E_OBJECT_NOT_FOUND;
    if (m_plexMap.size() == 1) return VDS_E_INVALID_OPERATION;
    ZarvoPlex* plex = found->second;
    m_plexMap.erase(found);
    plex->Delete();
    if (m_plexMap.size() == 1) {
        VDS_LUN_PLEX_PROP remaining{};
        m_plexMap.begin()->second->GetProperties(remaining);
        const LONG type = static_cast<LONG>(remaining.type);
        m_properties.m_prop.type = static_cast<VDS_LUN_TYPE>(type == 11 || type == 12 || type == 14 ? type : 10);
    }
    return S_OK;
}

HRESULT ZarvoLun::Resize(ULONGLONG newSize) {
    TraceScope scope("ZarvoLun::Resize");
    trace_printf("ZarvoLun::Resize, GUID=%s", GuidToString(GetId()).c_str());
    HRESULT hr = S_OK;
    if (isBusy()) {
        hr = VDS_E_ANOTHER_CALL_IN_PROGRESS;
    } else {
        SubSystemProperties subsystem;
        hr = m_pFOContainer->GetProperties(subsystem);
    }
    if (SUCCEEDED(hr)) {
        hr = m_pFOContainer->m_filerControl.FilerResizeLun(m_path, GetLUNNameFromPath(m_path), newSize);
        if (FAILED(hr)) {
            trace_printf("ZarvoLun::Resize(): %s", "ERROR: cannot resize lun");
        } else {
            m_properties.m_prop.ullSize = newSize;
            trace_printf("ZarvoLun::Resize, Lun Name=%s GUID=%s", N(m_properties.m_strFriendlyName).c_str(),
                         GuidToString(GetId()).c_str());
            for (auto it = m_plexMap.begin(); it != m_plexMap.end() && SUCCEEDED(hr); ++it)
                hr = it->second->Resize(newSize, nullptr);
        }
    }
    trace_printf("ZarvoLun::Resize(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoLun::SetName(const std::u16string& requested) {
    TraceScope scope("ZarvoLun::SetName");
    trace_printf("ZarvoLun::SetName, pwszName = %s", N(requested).c_str());
    trace_printf("ZarvoLun::SetName, GUID=%s", GuidToString(GetId()).c_str());
    HRESULT hr = S_OK;
    const auto finish = [&](HRESULT result, const char* text = nullptr) {
        if (text) trace_printf("ZarvoLun::SetName(): %s", text);
        trace_printf("ZarvoLun::SetName(): returning %08lX", trace_code(result));
        return result;
    };
    std::u16string name = requested;
    FilerObjectContainer* container = m_pFOContainer;
    ZarvoSan* san = container->m_pSan;
    bool changed = false;
    if (san && san->GetVersion() >= filer_version(7, 2)) {
        changed = SanitizeName(name);
        if (changed)
            trace_printf("ZarvoLun::SetName: new LUN name changed from \"%s\" to \"%s\"", N(requested).c_str(),
                         N(name).c_str());
    }
    SubSystemProperties subsystem;
    if (FAILED(hr = container->GetProperties(subsystem))) return finish(hr);
    if (isBusy()) return finish(VDS_E_ANOTHER_CALL_IN_PROGRESS);
    const std::u16string oldPath = m_properties.m_strIdentification;
    trace_printf("ZarvoLun::SetName, OLD Lun Path = %s", N(oldPath).c_str());

    std::vector<GUID> ids;
    container->QueryAssociatedVolumes(GetId(), ids);
    if (ids.size() != 1) return finish(E_FAIL, "no associated volume!");
    ZarvoVolume* volume = nullptr;
    if (FAILED(hr = container->GetVolume(ids[0], volume))) return finish(hr, "cannot get volume object");
    ids.clear();
    container->QueryAssociatedQtrees(GetId(), ids);
    if (ids.size() != 1) return finish(E_FAIL, "no associated qtree!");
    ZarvoQtree* qtree = nullptr;
    if (FAILED(hr = container->GetQtree(ids[0], qtree))) return finish(hr, "cannot get qtree object");

    const std::u16string& volumeName = volume->GetName();
    const std::u16string& qtreeName = qtree->GetName();
    const std::u16string newPath = qtreeName.empty() || qtreeName == volumeName
                                       ? u"/vol/" + volumeName + u"/" + name
                                       : u"/vol/" + volumeName + u"/" + qtreeName + u"/" + name;
    trace_printf("ZarvoLun::SetName, NEW Lun Path = %s", N(newPath).c_str());
    if (FAILED(hr = container->m_filerControl.FilerRenameLun(newPath, oldPath)))
        return finish(hr, "ERROR: cannot rename a lun");
    // Only a LUN the appliance renamed gets its new path.
    m_path = newPath;
    trace_printf("ZarvoLun::SetName, Lun %s renamed to %s", N(oldPath).c_str(), N(newPath).c_str());

    GUID id = GetId();
    if (FAILED(hr = san->ReplaceGuidKey(NarrowFromWide(oldPath), NarrowFromWide(newPath), id)))
        return finish(hr, "cannot replace guid key");
    m_properties.m_prop.id = id;
    const std::u16string oldName = m_properties.m_strFriendlyName;
    trace_printf("ZarvoLun::SetName, GUID Key replaced from %s to %s; GUID=%s", N(oldName).c_str(), N(name).c_str(),
                 GuidToString(id).c_str());
    m_properties.m_strFriendlyName = name;
    m_name = name;
    m_properties.m_strIdentification = newPath;
    if (!changed) return finish(S_OK);
    const WCHAR* inserts[] = {container->m_filerName.c_str(), oldName.c_str(), requested.c_str(), name.c_str()};
    process_event_reporter().LogEvent(0x80000BCE, 4, inserts);
    return finish(VDS_S_NAME_NOT_SET_EXACTLY);
}

bool ZarvoLun::VolumeIsShared(const std::u16string& volume) const {
    const std::u16string prefix = u"/vol/" + volume + u"/";
    for (const auto& [id, lun] : m_pFOContainer->m_lunMap)
        if (lun != this && lun && lun->m_properties.m_strIdentification.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

HRESULT ZarvoLun::LunDelete() {
    TraceScope scope("ZarvoLun::LunDelete");
    FilerObjectContainer* container = m_pFOContainer;
    const std::u16string path = m_properties.m_strIdentification;
    const GUID id = GetId();
    const auto fail = [](const char* text, HRESULT result) {
        trace_printf("ZarvoLun::LunDelete(): %s", text);
        return result;
    };
    HRESULT hr = S_OK;
    bool volumeRemoved = false;
    bool lunAlone = m_owner != 1;
    if (m_owner == 1) {
        std::vector<GUID> volumes;
        container->QueryAssociatedVolumes(id, volumes);
        ZarvoVolume* volume = nullptr;
        if (volumes.size() != 1) {
            hr = fail("no associated volume!", E_FAIL);
        } else if (FAILED(hr = container->GetVolume(volumes[0], volume))) {
            fail("cannot get volume object", hr);
        } else if (VolumeIsShared(volume->GetName())) {
            // Another LUN lives in this volume: only this LUN goes.
            lunAlone = true;
        } else if (FAILED(hr = volume->Delete(volume->GetName()))) {
            fail("cannot delete volume", hr);
        } else {
            trace_printf("ZarvoLun::LunDelete, Volume %s deleted", N(volume->GetName()).c_str());
            volumeRemoved = true;
            if (FAILED(hr = container->SetLunNumber(m_lunNumber, 0))) fail("cannot reset lun number", hr);
            else m_lunNumber = 0;
        }
    }
    if (lunAlone && SUCCEEDED(hr)) {
        if (FAILED(hr = container->m_filerControl.FilerDeleteLun(path, FALSE))) fail("cannot get delete lun", hr);
    }
    if (SUCCEEDED(hr)) {
        trace_printf("ZarvoLun::LunDelete, filer deleted lun %s", N(path).c_str());
        m_path.clear();
        ZarvoSan* san = container->m_pSan;
        if (volumeRemoved) {
            ULONG number = 0;
            if (FAILED(hr = container->GetLunNumberFromPath(path, number))) {
                fail("cannot get lun number from lun path", hr);
            } else {
                const std::string n = std::to_string(number);
                san->RemoveGuidByKey("ZarvoVolume" + n);
                san->RemoveGuidByKey("ZarvoQtree" + n);
            }
        }
        if (SUCCEEDED(hr)) san->RemoveGuidByKey(NarrowFromWide(path));
    }
    // The drives get the plexes' space back whatever the appliance answered.
    for (auto it = m_plexMap.begin(); it != m_plexMap.end();) {
        ZarvoPlex* plex = it->second;
        ++it;  // Delete takes the plex out of this map
        try {
            const HRESULT deleted = plex->Delete();
            if (FAILED(deleted)) {
                fail("cannot delete plex", deleted);
                if (SUCCEEDED(hr)) hr = deleted;
                break;
            }
        } catch (...) {
            trace_printf("ZarvoLun::LunDelete(plex), caught exception");
        }
    }
    if (SUCCEEDED(hr)) {
        if (FAILED(hr = container->RemoveLunObject(id))) fail("cannot remove lun object", hr);
    }
    delete this;
    trace_printf("ZarvoLun::LunDelete(): returning %08lX", trace_code(hr));
    return hr;
}
