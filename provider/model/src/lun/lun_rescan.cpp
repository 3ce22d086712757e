// The host side of a Fibre Channel LUN change: rescan the SCSI buses and, when
// this host's ports gain or lose the LUN, wait until the units on the Fibre
// Channel adapters change.
#include <model/async.h>
#include <model/lun.h>

#include <model/filer_object_container.h>

#include <hostlib/trace.h>
#include <platform/clock.h>
#include <platform/comalloc.h>
#include <platform/scsi.h>
#include <platform/text.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>

namespace {

constexpr DWORD kInquiryBufferSize = 20480;
constexpr const char* kBusTypeNames[] = {"UNKNOWN", "SCSI", "ATAPI", "ATA", "IEEE 1394", "SSA", "FIBRE", "USB", "RAID"};

bool IsFibreChannel(HANDLE adapter) {
    STORAGE_PROPERTY_QUERY query{StorageAdapterProperty, PropertyStandardQuery, {0}};
    BYTE out[512] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(adapter, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, out, sizeof out, &returned,
                         nullptr)) {
        trace_printf("IOCTL failed with error code%d.\n\n", static_cast<int>(GetLastError()));
        return false;
    }
    STORAGE_ADAPTER_DESCRIPTOR descriptor;
    std::memcpy(&descriptor, out, sizeof descriptor);
    return descriptor.BusType < std::size(kBusTypeNames) && std::string(kBusTypeNames[descriptor.BusType]) == "FIBRE";
}

// The units of the adapter whose inquiry text does not name the appliance's vendor.
int CountForeignUnits(HANDLE adapter) {
    auto* buffer = static_cast<BYTE*>(CoTaskMemAlloc(kInquiryBufferSize));
    if (!buffer) {
        trace_printf("Error in allocating memory");
        return 0;
    }
    int count = 0;
    DWORD returned = 0;
    if (!DeviceIoControl(adapter, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer, kInquiryBufferSize, &returned,
                         nullptr)) {
        trace_printf("Error in IOCTL_SCSI_GET_INQUIRY_DATA");
    } else {
        const auto* info = reinterpret_cast<const SCSI_ADAPTER_BUS_INFO*>(buffer);
        for (UCHAR bus = 0; bus < info->NumberOfBuses; ++bus) {
            ULONG offset = info->BusData[bus].InquiryDataOffset;
            for (UCHAR unit = 0; unit < info->BusData[bus].NumberOfLogicalUnits; ++unit) {
                // Offsets come from the adapter: never read outside the buffer.
                if (offset + offsetof(SCSI_INQUIRY_DATA, InquiryData) > returned) break;
                const auto* record = reinterpret_cast<const SCSI_INQUIRY_DATA*>(buffer + offset);
                const size_t length = std::min<size_t>(record->InquiryDataLength,
                                                       returned - offset - offsetof(SCSI_INQUIRY_DATA, InquiryData));
                const std::string bytes(reinterpret_cast<const char*>(record->InquiryData), length);
                // Read as a text from its first byte: a disk's first byte is 0.
                if (std::string(bytes.c_str()).find("KORVEX") == std::string::npos) ++count;
                offset = record->NextInquiryDataOffset;
            }
        }
    }
    CoTaskMemFree(buffer);
    return count;
}

// The disk units on the Fibre Channel adapters, each adapter rescanned first when asked.
int CountUnits(bool rescan) {
    int count = 0;
    for (int n = 0;; ++n) {
        const std::u16string name = platform::utf8_to_wide_lossy("\\\\.\\Scsi" + std::to_string(n) + ":");
        HANDLE adapter = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        if (adapter == INVALID_HANDLE_VALUE) break;
        DWORD returned = 0;
        if (rescan) DeviceIoControl(adapter, IOCTL_SCSI_RESCAN_BUS, nullptr, 0, nullptr, 0, &returned, nullptr);
        if (IsFibreChannel(adapter)) count += CountForeignUnits(adapter);
        CloseHandle(adapter);
    }
    return count;
}

// A port name as 16 lower-case hexadecimal digits, whatever its spelling.
std::string PortKey(const std::u16string& name) {
    std::string key;
    for (char16_t c : name) {
        if (c == u':') continue;
        key += static_cast<char>(c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c);
    }
    return key;
}

// This host's Fibre Channel port names; none when the HBA library cannot tell.
std::optional<std::set<std::string>> HostPorts(FilerObjectContainer& container) {
    HbaPortPropertiesMap ports;
    if (FAILED(container.GetHBAPortAttributes(ports))) return std::nullopt;
    std::set<std::string> names;
    for (const auto& [index, port] : ports) {
        char text[17] = {};
        for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02x", port.wwnPort.rguchWwn[i]);
        names.insert(text);
    }
    return names;
}

// The host's ports among the groups' initiators.
std::set<std::string> SeenBy(const std::vector<fapi_igroup_info_t>& groups, const std::set<std::string>& host) {
    std::set<std::string> seen;
    for (const auto& group : groups)
        for (const auto& initiator : group.initiators)
            if (host.count(PortKey(initiator))) seen.insert(PortKey(initiator));
    return seen;
}

// Pass k sleeps 5 (k + 1) s after its scan, the last pass none: what may
// still come is the sum of the sleeps left.
void ReportRescanPass(int32_t k, int32_t passes) {
    int32_t seconds = 0;
    for (int32_t j = k; j + 1 < passes; ++j) seconds += 5 * (j + 1);
    ZarvoAsync::SetRunningStage(platform::utf8_to_wide_lossy(
        "host rescan pass " + std::to_string(k + 1) + " of " + std::to_string(passes) + ", up to " +
        std::to_string(seconds) + " s more"));
}

}  // namespace

HRESULT ZarvoLun::ScsiBusRescan2(int32_t passes) {
    TraceScope scope("ZarvoLun::ScsiBusRescan2");
    // Counted before the first rescan, so a host that answers at once still shows the change.
    const int first = passes > 1 ? CountUnits(false) : 0;
    trace_printf("ZarvoLun::ScsiBusRescan2, Kvx=OrigKvx=%d", first);
    for (int32_t k = 0; k < passes; ++k) {
        ReportRescanPass(k, passes);
        const int count = CountUnits(true);
        if (passes > 1 && count != first) {
            trace_printf("ZarvoLun::ScsiBusRescan2, Kvx=%d OrigKvx=%d", count, first);
            break;
        }
        // No sleep after the last pass: nothing would look at the host after it.
        if (k + 1 == passes) break;
        trace_printf("ZarvoLun::ScsiBusRescan2, sleeping %d secs", 5 * (k + 1));
        Sleep(static_cast<DWORD>(5000 * (k + 1)));
    }
    trace_printf("ZarvoLun::ScsiBusRescan2(): returning %08lX", trace_code(S_OK));
    return S_OK;
}

void ZarvoLun::RescanHost(const std::vector<fapi_igroup_info_t>& before, const std::vector<fapi_igroup_info_t>& after,
                          int32_t passes) {
    if (!RescansHost()) return;
    const auto host = HostPorts(*m_pFOContainer);
    // Unknown ports: wait as for a change, the host may be one of them.
    const bool changes = !host || SeenBy(before, *host) != SeenBy(after, *host);
    trace_printf("ZarvoLun::RescanHost, this host %s", !host ? "is not known" : changes ? "sees a change" : "sees no change");
    ScsiBusRescan2(changes ? passes : 1);
}
