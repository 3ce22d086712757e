// ZarvoPath: a path's MPIO state, read once when it is built, and the two
// changes the disk-management service may ask for.
#include <model/path.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <model/filer_object_container.h>

#include <platform/comalloc.h>
#include <platform/errors.h>

namespace {

// The MPIO status code of a requested path status, and back.
struct PathStatusCode {
    VDS_PATH_STATUS status;
    ULONG mpioCode;  // 0 active, 1 disabled, 2 passive
};
constexpr PathStatusCode kPathStatusCodes[] = {
    {VDS_MPS_ONLINE, 0},
    {VDS_MPS_FAILED, 1},
    {VDS_MPS_STANDBY, 2},
};

const PathStatusCode* FindByStatus(VDS_PATH_STATUS status) {
    for (const PathStatusCode& code : kPathStatusCodes)
        if (code.status == status) return &code;
    return nullptr;
}

VDS_PATH_STATUS StatusOfMpioCode(ULONG mpioCode) {
    for (const PathStatusCode& code : kPathStatusCodes)
        if (code.mpioCode == mpioCode) return code.status;
    return VDS_MPS_UNKNOWN;
}

std::string WwnTraceText(const VDS_WWN& wwn) {
    char text[24];
    const UCHAR* b = wwn.rguchWwn;
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5],
                  b[6], b[7]);
    return text;
}

// The digits at `text`, up to the first non-digit; 0 when there are none.
ULONG LeadingNumber(const char* text) {
    if (*text < '0' || *text > '9') return 0;
    return static_cast<ULONG>(std::atol(text));
}

}  // namespace

ZarvoPath::ZarvoPath(FilerObjectContainer* container, const GUID& id, const VDS_HBAPORT_PROP& hbaPort)
    : m_id(id), m_pContainer(container) {
    SetHbaPortProperties(hbaPort);
    trace_printf("ZarvoPath::ZarvoPath, GUID=%s", GuidToString(m_id).c_str());
    const std::string portWwn = WwnMatchText(m_hbaPort.wwnPort.rguchWwn);
    trace_printf("ZarvoPath::ZarvoPath, inPortWwn = %s", portWwn.c_str());
    ReadMpioState(portWwn);
}

ZarvoPath::~ZarvoPath() { trace_printf("ZarvoPath::~ZarvoPath, GUID=%s", GuidToString(m_id).c_str()); }

void ZarvoPath::ReadMpioState(const std::string& portWwnText) {
    CMpioMgmt& mpio = m_pContainer->m_mpioMgmt;
    ULONGLONG dsmId = 0;
    HRESULT hr = mpio.MpioGetDsmId(&dsmId);
    if (FAILED(hr)) {
        trace_printf("ZarvoPath::ZarvoPath, ERROR: MpioGetDsmId failed. hr=%lx", trace_code(hr));
        return;
    }
    m_ullSourceId = dsmId;

    HbaPortAttributesMap hostPorts;
    m_pContainer->GetHBAPortAttributes(hostPorts);
    for (const auto& [index, attributes] : hostPorts) {
        const std::string outPortWwn = WwnMatchText(attributes.PortWWN.wwn);
        trace_printf("ZarvoPath::ZarvoPath, outPortWwn = %s", outPortWwn.c_str());
        trace_printf("ZarvoPath::ZarvoPath, OSDeviceName = %s", attributes.OSDeviceName);
        if (outPortWwn != portWwnText) continue;
        char deviceName[sizeof attributes.OSDeviceName + 1] = {};
        std::memcpy(deviceName, attributes.OSDeviceName, sizeof attributes.OSDeviceName);
        GetPortNumber(deviceName, m_ulPortNumber);
        if (m_ulPortNumber == 0) break;

        ULONGLONG pathId = 0;
        hr = mpio.MpioGetPathId(m_ulPortNumber, &pathId);
        if (FAILED(hr)) {
            trace_printf("ZarvoPath::ZarvoPath, ERROR: MpioGetPathId failed. hr=%lx", trace_code(hr));
            return;
        }
        BOOL primary = FALSE;
        ULONG weight = 100;
        mpio.MpioGetPathPolicy(pathId, &primary, &weight);
        m_ullPathId = pathId;
        m_bPrimaryPath = primary;
        m_ulWeight = weight;
        ULONG mpioStatus = 0;
        mpio.MpioGetPathStatus(&mpioStatus);
        m_status = StatusOfMpioCode(mpioStatus);
        return;
    }
    trace_printf("ZarvoPath::ZarvoPath, HBAPortNumber is NULL!!");
}

void ZarvoPath::GetHbaPortProperties(VDS_HBAPORT_PROP& hbaPort) const {
    hbaPort.wwnNode = m_hbaPort.wwnNode;
    hbaPort.wwnPort = m_hbaPort.wwnPort;
    hbaPort.type = m_hbaPort.type;
    hbaPort.status = m_hbaPort.status;
    hbaPort.ulPortSpeed = m_hbaPort.ulPortSpeed;
    hbaPort.ulSupportedPortSpeed = m_hbaPort.ulSupportedPortSpeed;
}

void ZarvoPath::SetHbaPortProperties(const VDS_HBAPORT_PROP& hbaPort) {
    m_hbaPort.wwnNode = hbaPort.wwnNode;
    m_hbaPort.wwnPort = hbaPort.wwnPort;
    m_hbaPort.type = hbaPort.type;
    m_hbaPort.status = hbaPort.status;
    m_hbaPort.ulPortSpeed = hbaPort.ulPortSpeed;
    m_hbaPort.ulSupportedPortSpeed = hbaPort.ulSupportedPortSpeed;
}

HRESULT ZarvoPath::GetPathInfo(VDS_PATH_INFO& pathInfo) const {
    try {
        pathInfo.pathId = {m_ullSourceId, m_ullPathId};
        pathInfo.type = VDS_HWT_FIBRE_CHANNEL;
        pathInfo.status = m_status;
        auto* copy = static_cast<VDS_HBAPORT_PROP*>(CoTaskMemAlloc(sizeof(VDS_HBAPORT_PROP)));
        if (copy) {
            *copy = VDS_HBAPORT_PROP{};
            GetHbaPortProperties(*copy);
        }
        pathInfo.pHbaPortProp = copy;
        trace_printf("ZarvoPath::GetPathInfo(): returning %08lX", trace_code(S_OK));
        return S_OK;
    } catch (...) {
        trace_printf("ZarvoPath::GetPathInfo, caught exception");
        return E_FAIL;
    }
}

HRESULT ZarvoPath::GetPathPolicy(VDS_PATH_POLICY& pathPolicy) const {
    pathPolicy.pathId = {m_ullSourceId, m_ullPathId};
    pathPolicy.bPrimaryPath = m_bPrimaryPath;
    pathPolicy.ulWeight = m_ulWeight;
    trace_printf("ZarvoPath::GetPathPolicy(): returning %08lX", trace_code(S_OK));
    return S_OK;
}

HRESULT ZarvoPath::SetPathPolicy(const VDS_PATH_POLICY& pathPolicy) {
    m_ullSourceId = pathPolicy.pathId.ullSourceId;
    m_ullPathId = pathPolicy.pathId.ullPathId;
    m_bPrimaryPath = pathPolicy.bPrimaryPath;
    m_ulWeight = pathPolicy.ulWeight;
    trace_printf("ZarvoPath::SetPathPolicy, WwnPort =  %s ", WwnTraceText(m_hbaPort.wwnPort).c_str());
    const HRESULT hr =
        m_pContainer->m_mpioMgmt.MpioSetPathPolicy(pathPolicy.pathId.ullPathId, pathPolicy.bPrimaryPath,
                                                   pathPolicy.ulWeight);
    trace_printf("ZarvoPath::SetPathPolicy(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoPath::SetStatus(VDS_PATH_STATUS status) {
    trace_printf("ZarvoPath::SetStatus, WwnPort =  %s ", WwnTraceText(m_hbaPort.wwnPort).c_str());
    HRESULT hr = E_INVALIDARG;
    if (const PathStatusCode* code = FindByStatus(status)) {
        // The path reports what was asked; MPIO's own answer is not examined.
        m_pContainer->m_mpioMgmt.MpioSetPathStatus(m_ulPortNumber, code->mpioCode);
        m_status = status;
        hr = S_OK;
    }
    trace_printf("ZarvoPath::SetStatus(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoPath::GetPortNumber(const char* osDeviceName, ULONG& portNumber) {
    try {
        portNumber = 0;
        const std::string name = osDeviceName ? osDeviceName : "";
        if (const size_t scsi = name.find("Scsi"); scsi != std::string::npos) {
            if (name.find(':', scsi) != std::string::npos) portNumber = LeadingNumber(name.c_str() + scsi + 4);
        } else if (const size_t host = name.rfind("/host"); host != std::string::npos) {
            portNumber = LeadingNumber(name.c_str() + host + 5);
        }
        trace_printf("ZarvoPath::GetPortNumber, OSDeviceName=%s PortNumber=%d", name.c_str(),
                     static_cast<int>(portNumber));
        trace_printf("ZarvoPath::GetPortNumber(): returning %08lX", trace_code(S_OK));
        return S_OK;
    } catch (...) {
        trace_printf("ZarvoPath::GetPortNumber, caught exception");
        return E_FAIL;
    }
}

std::string ZarvoPath::WwnMatchText(const BYTE (&wwn)[8]) {
    std::string text;
    char piece[4];
    for (BYTE b : wwn) {
        std::snprintf(piece, sizeof piece, "%X", b);
        text += piece;
    }
    return text;
}

// ---- Dump(m_paths) ----------------------------------------------------------

namespace {

std::string WwnDumpText(const VDS_WWN& wwn) { return ZarvoPath::WwnMatchText(wwn.rguchWwn); }

}  // namespace

HRESULT DumpPaths(const std::vector<ZarvoPath>& paths) {
    trace_printf("Dump(m_paths):: entered.");
    HRESULT hr = S_OK;
    auto* records = paths.empty() ? nullptr
                                  : static_cast<VDS_PATH_INFO*>(CoTaskMemAlloc(sizeof(VDS_PATH_INFO) * paths.size()));
    if (!paths.empty() && !records) {
        hr = E_OUTOFMEMORY;
    } else {
        for (size_t i = 0; i < paths.size(); ++i) {
            VDS_PATH_INFO& record = records[i];
            record = VDS_PATH_INFO{};
            hr = paths[i].GetPathInfo(record);
            trace_printf("Dump(m_paths), Path ID=%llx , Source ID=%llx",
                         static_cast<unsigned long long>(record.pathId.ullPathId),
                         static_cast<unsigned long long>(record.pathId.ullSourceId));
            if (VDS_HBAPORT_PROP* hba = record.pHbaPortProp) {
                trace_printf("Dump(m_paths), WWNN=%s , WWPN=%s", WwnDumpText(hba->wwnNode).c_str(),
                             WwnDumpText(hba->wwnPort).c_str());
                CoTaskMemFree(hba);  // the dump's own copy
            }
        }
        CoTaskMemFree(records);
    }
    trace_printf("Dump(m_paths):: exited. hr=%lx", trace_code(hr));
    return hr;
}
