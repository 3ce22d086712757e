// The subsystem's friendly name, kept in a file of the appliance's root volume.
#include <model/filer_object_container.h>

#include <hostlib/trace.h>
#include <platform/text.h>

namespace {
constexpr const WCHAR* kFriendlyNameFile = u"FilerVDSName.vds";
}  // namespace

HRESULT FilerObjectContainer::CreateRootVolumeFilename(const std::u16string& fileName, std::u16string& path) {
    std::u16string root;
    const HRESULT hr = m_filerControl.FilerGetRootAggregate(root);
    if (FAILED(hr)) return hr;
    path = u"/vol/" + root + u"/etc/" + fileName;
    trace_printf("FilerObjectContainer::CreateRootVolumeFilename %s ", platform::wide_to_utf8_lossy(path).c_str());
    return S_OK;
}

HRESULT FilerObjectContainer::SetName(const std::u16string& friendlyName) {
    std::u16string path;
    HRESULT hr = CreateRootVolumeFilename(kFriendlyNameFile, path);
    if (FAILED(hr)) return hr;
    hr = m_filerControl.FilerFileWriteFile(path, friendlyName);
    if (FAILED(hr)) return hr;
    m_subSystemProperties.m_strFriendlyName = friendlyName;
    return S_OK;
}

// Read back at every refresh: the file's name replaces the system name; without
// the file the system name stays.
void FilerObjectContainer::ReadFriendlyName() {
    std::u16string path;
    std::u16string name;
    if (SUCCEEDED(CreateRootVolumeFilename(kFriendlyNameFile, path)) &&
        SUCCEEDED(m_filerControl.FilerFileReadFile(path, name))) {
        m_subSystemProperties.m_strFriendlyName = name;  // an empty file: an empty name
        return;
    }
    trace_printf("FilerObjectContainer::RefreshContainer, WARNING: Filer alias name %s is not set",
                 platform::wide_to_utf8_lossy(m_subSystemProperties.m_strFriendlyName).c_str());
}
