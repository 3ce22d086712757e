#include <model/filer_control.h>

#include <model/properties.h>

#include <res/message_ids.h>

#include <filer/filer_version.h>
#include <filer/request_frame.h>
#include <hostlib/autolock.h>
#include <hostlib/com_error.h>
#include <hostlib/conversions.h>
#include <hostlib/event_log.h>
#include <hostlib/trace.h>
#include <korvex/elem.h>
#include <korvex/results.h>
#include <korvex/server.h>
#include <platform/vds.h>

#include <array>
#include <optional>

namespace {

constexpr const WCHAR* kSourceFile = u"filer_control.cpp";
constexpr const WCHAR* kTransport = u"HTTP";

// LUN operating-system types of "lun-create-by-size" and the initiator-group one of "igroup-create".
constexpr int32_t kLunTypeWindows = 1;
constexpr int32_t kLunTypeImage = 5;
constexpr uint32_t kImageBelowMiB = 100;
constexpr int32_t kIgroupOsWindows = 4;

constexpr int32_t kFileReadLength = 1024;

// Raised inside a guarded region when no CFiler could be made; FilerGetApi has reported why.
struct NoFiler {};

// Which failures of a guarded region stay out of the event log.
struct Reporting {
    bool silent = false;              // a clean-up: no failure is reported
    HRESULT unreported = S_OK;        // this one failure is not reported
};

// The common frame of a wrapper: a COM error is reported (unless quiet),
// handed to the thread's error information and answered with E_FAIL; any
// other exception is reported with the wrapper's source line.
template <typename Body>
HRESULT guarded(int line, Body&& body, Reporting reporting = {}) {
    try {
        return body();
    } catch (const NoFiler&) {
        return E_FAIL;
    } catch (const _com_error& error) {
        if (!reporting.silent && error.Error() != reporting.unreported) process_event_reporter().LogEvent(error);
        set_error_info_from(GUID_NULL, GUID_NULL, error);
        return E_FAIL;
    } catch (...) {
        process_event_reporter().LogEvent(kSourceFile, line);
        return E_FAIL;
    }
}

#define GUARDED(...) guarded(__LINE__, __VA_ARGS__)

bool any_empty(std::initializer_list<const std::u16string*> texts) {
    for (const std::u16string* text : texts)
        if (text->empty()) return true;
    return false;
}

// A required text argument is empty: traced, E_FAIL, nothing sent or reported.
HRESULT empty_strings(const char* method) {
    trace_printf("%s(): empty strings", method);
    return E_FAIL;
}

HRESULT empty_list(const char* method) {
    trace_printf("%s(): FAPI library error", method);
    return E_FAIL;
}

const WCHAR* or_null(const std::u16string& text) { return text.empty() ? nullptr : text.c_str(); }

std::u16string decimal(uint64_t value) {
    std::u16string text;
    for (char c : std::to_string(value)) text += static_cast<char16_t>(c);
    return text;
}

void report_raw(DWORD eventId, std::initializer_list<const WCHAR*> inserts) {
    const std::vector<const WCHAR*> strings(inserts);
    process_event_reporter().LogEvent(eventId, static_cast<WORD>(strings.size()), strings.data());
}

// How the appliance's refusals of a resize read: the event and the answer.
struct ResizeRefusal {
    int32_t errorNumber;
    DWORD eventId;
    bool withSize;
    HRESULT result;
};
constexpr std::array<ResizeRefusal, 3> kResizeRefusals{{
    {9035, res::MSG_LUN_RESIZE_GEOMETRY_LIMIT, true, VDS_E_NOT_SUPPORTED},
    {28, res::MSG_LUN_RESIZE_AGGREGATE_FULL, false, VDS_E_NOT_ENOUGH_SPACE},
    {9042, res::MSG_LUN_RESIZE_INCREASE_TOO_SMALL, false, VDS_E_NOT_SUPPORTED},
}};

// Error numbers of the management-API client that mean the appliance could
// not be reached at all (the Windows Sockets numbers of a failed connect).
constexpr std::array<int, 11> kUnreachableErrors{2,     10050, 10051, 10060, 10061, 10064,
                                                 10065, 11001, 11002, 11003, 11004};
constexpr std::array<int, 2> kLoginRefusedErrors{13002, 13003};

template <size_t N>
bool contains(const std::array<int, N>& numbers, int value) {
    for (int n : numbers)
        if (n == value) return true;
    return false;
}

}  // namespace

CFiler* CFilerControl::FilerGetApi() {
    trace_printf("In FilerGetApi filer name %s ", NarrowFromWide(m_strFilerName).c_str());
    if (m_pFiler) return m_pFiler.get();
    try {
        create_filer(kTransport, m_strFilerName.c_str(), m_strUserName.c_str(), m_strPassword.c_str(), m_pFiler);
    } catch (const _com_error& error) {
        trace_printf("CFilerControl::FilerGetApi(): caught exception");
        process_event_reporter().LogEvent(error);
        set_error_info_from(GUID_NULL, GUID_NULL, error);
        m_pFiler.reset();
    } catch (...) {
        trace_printf("CFilerControl::FilerGetApi(): caught exception");
        process_event_reporter().LogEvent(kSourceFile, __LINE__);
        m_pFiler.reset();
    }
    return m_pFiler.get();
}

namespace {
// The CFiler of a guarded region; NoFiler when none can be made.
CFiler& api_of(CFilerControl& control) {
    CFiler* filer = control.FilerGetApi();
    if (!filer) throw NoFiler{};
    return *filer;
}
}  // namespace

HRESULT CFilerControl::FilerListDrives(const std::u16string& diskName, std::vector<fapi_disk_info_t>& disks) {
    TraceScope scope("CFilerControl::FilerListDrives");
    return GUARDED([&] {
        api_of(*this).fapi_disk_list_info(or_null(diskName), disks);
        return disks.empty() ? empty_list("CFilerControl::FilerListDrives") : S_OK;
    });
}

HRESULT CFilerControl::FilerListAggregates(std::vector<fapi_aggr_info_t>& aggregates) {
    TraceScope scope("CFilerControl::FilerListAggregates");
    return GUARDED([&] {
        api_of(*this).fapi_aggr_list_info(aggregates, nullptr, true);
        return aggregates.empty() ? empty_list("CFilerControl::FilerListAggregates") : S_OK;
    });
}

HRESULT CFilerControl::FilerGetRootAggregate(std::u16string& rootName) {
    TraceScope scope("CFilerControl::FilerGetRootAggregate");
    return GUARDED([&] {
        api_of(*this).fapi_aggr_get_root(rootName);
        return S_OK;
    });
}

HRESULT CFilerControl::FilerListVolumes(std::vector<fapi_volume_info_t>& volumes) {
    TraceScope scope("CFilerControl::FilerListVolumes");
    return GUARDED([&] {
        api_of(*this).fapi_volume_list_info(volumes);
        return volumes.empty() ? empty_list("CFilerControl::FilerListVolumes") : S_OK;
    });
}

HRESULT CFilerControl::FilerCreateVolume(const std::u16string& volume, const std::u16string& aggregate,
                                         const std::u16string& size) {
    TraceScope scope("CFilerControl::FilerCreateVolume");
    if (any_empty({&volume, &aggregate, &size})) return empty_strings("CFilerControl::FilerCreateVolume");
    return GUARDED([&] {
        api_of(*this).fapi_volume_create(volume.c_str(), aggregate.c_str(), size.c_str(), u"file");
        return S_OK;
    });
}

HRESULT CFilerControl::FilerDeleteVolume(const std::u16string& volume, BOOL silent) {
    TraceScope scope("CFilerControl::FilerDeleteVolume");
    if (volume.empty()) return empty_strings("CFilerControl::FilerDeleteVolume");
    return GUARDED(
        [&] {
            if (api_of(*this).is_volume_online(volume.c_str()))
                api_of(*this).fapi_volume_offline(volume.c_str(), std::nullopt);
            api_of(*this).fapi_volume_destroy(volume.c_str());
            return S_OK;
        },
        Reporting{.silent = (silent & 1) != 0});
}

HRESULT CFilerControl::FilerCreateQtree(const std::u16string& qtree, const std::u16string& volume) {
    TraceScope scope("CFilerControl::FilerCreateQtree");
    if (any_empty({&qtree, &volume})) return empty_strings("CFilerControl::FilerCreateQtree");
    return GUARDED([&] {
        api_of(*this).fapi_qtree_create(qtree.c_str(), volume.c_str());
        return S_OK;
    });
}

HRESULT CFilerControl::FilerListQtrees(const std::u16string& volume, std::vector<fapi_qtree_info_t>& qtrees) {
    TraceScope scope("CFilerControl::FilerListQtrees");
    if (volume.empty()) return empty_strings("CFilerControl::FilerListQtrees");
    return GUARDED([&] {
        api_of(*this).fapi_qtree_list(volume.c_str(), qtrees);
        return qtrees.empty() ? empty_list("CFilerControl::FilerListQtrees") : S_OK;
    });
}

HRESULT CFilerControl::FilerListLuns(const std::u16string& path, std::vector<fapi_lun_info_t>& luns) {
    TraceScope scope("CFilerControl::FilerListLuns");
    return GUARDED([&] {
        api_of(*this).fapi_lun_list_info(or_null(path), luns, nullptr);
        if (!luns.empty()) return S_OK;
        trace_printf("CFilerControl::FilerListLuns(): FAPI library error: path %s", NarrowFromWide(path).c_str());
        return E_FAIL;
    });
}

HRESULT CFilerControl::FilerOfflineLun(const std::u16string& path) {
    TraceScope scope("CFilerControl::FilerOfflineLun");
    if (path.empty()) return empty_strings("CFilerControl::FilerOfflineLun");
    return GUARDED([&] {
        api_of(*this).fapi_lun_offline(NarrowFromWide(path).c_str());
        return S_OK;
    });
}

HRESULT CFilerControl::FilerDeleteLun(const std::u16string& path, BOOL silent) {
    TraceScope scope("CFilerControl::FilerDeleteLun");
    if (path.empty()) return empty_strings("CFilerControl::FilerDeleteLun");
    return GUARDED(
        [&] {
            api_of(*this).fapi_lun_destroy(path.c_str(), std::nullopt);
            return S_OK;
        },
        Reporting{.silent = (silent & 1) != 0});
}

HRESULT CFilerControl::FilerCreateLun(const std::u16string& path, ULONGLONG size, ULONGLONG& actualSize) {
    TraceScope scope("CFilerControl::FilerCreateLun");
    if (path.empty()) return empty_strings("CFilerControl::FilerCreateLun");
    const auto sizeMiB = static_cast<uint32_t>(size >> 20);
    trace_printf("lunPath = %s", NarrowFromWide(path).c_str());
    trace_printf("size = %d MB", static_cast<int>(sizeMiB));
    return GUARDED([&] {
        const int32_t type = sizeMiB < kImageBelowMiB ? kLunTypeImage : kLunTypeWindows;
        int64_t actual = 0;
        api_of(*this).fapi_lun_create_by_size(path.c_str(), size, type, std::nullopt, actual);
        if (actual == 0) {
            trace_printf("CFilerControl::FilerCreateLun(): FAPI library error: %s", NarrowFromWide(path).c_str());
            return E_FAIL;
        }
        actualSize = static_cast<ULONGLONG>(actual);
        return S_OK;
    });
}

HRESULT CFilerControl::FilerAssignLun(const std::u16string& path, const std::u16string& igroup) {
    TraceScope scope("CFilerControl::FilerAssignLun");
    if (any_empty({&path, &igroup})) return empty_strings("CFilerControl::FilerAssignLun");
    trace_printf("Lun Path = %s", NarrowFromWide(path).c_str());
    trace_printf("Initiator Group = %s", NarrowFromWide(igroup).c_str());
    return GUARDED([&] {
        int32_t assigned = 0;
        api_of(*this).fapi_lun_map(path.c_str(), igroup.c_str(), std::nullopt, assigned);
        return S_OK;
    });
}

HRESULT CFilerControl::FilerUnassignLun(const std::u16string& path, const std::u16string& igroup) {
    TraceScope scope("CFilerControl::FilerUnassignLun");
    if (any_empty({&path, &igroup})) return empty_strings("CFilerControl::FilerUnassignLun");
    return GUARDED([&] {
        api_of(*this).fapi_lun_unmap(path.c_str(), igroup.c_str());
        return S_OK;
    });
}

HRESULT CFilerControl::FilerResizeLun(const std::u16string& path, const std::u16string& lunName, ULONGLONG newSize) {
    TraceScope scope("CFilerControl::FilerResizeLun");
    if (path.empty() || newSize == 0) return empty_strings("CFilerControl::FilerResizeLun");
    trace_printf("Lun Path = %s", NarrowFromWide(path).c_str());
    int32_t errorNumber = 0;
    try {
        int64_t actual = 0;
        api_of(*this).fapi_lun_resize(path.c_str(), newSize, false, actual, &errorNumber);
        trace_printf("ufapiError %d  , returns %u ", errorNumber, 0u);
        return S_OK;
    } catch (const NoFiler&) {
        return E_FAIL;
    } catch (const _com_error& error) {
        trace_printf("ufapiError %d  , returns %u ", errorNumber, static_cast<unsigned>(error.Error()));
        for (const ResizeRefusal& refusal : kResizeRefusals) {
            if (refusal.errorNumber != errorNumber) continue;
            const std::u16string sizeMiB = decimal(newSize >> 20);
            if (refusal.withSize)
                report_raw(refusal.eventId, {lunName.c_str(), sizeMiB.c_str()});
            else
                report_raw(refusal.eventId, {lunName.c_str()});
            return refusal.result;
        }
        process_event_reporter().LogEvent(error);
        return set_error_info_from(GUID_NULL, GUID_NULL, error);
    } catch (...) {
        process_event_reporter().LogEvent(kSourceFile, __LINE__);
        return E_FAIL;
    }
}

HRESULT CFilerControl::FilerListLunMap(const std::u16string& path, std::vector<fapi_igroup_info_t>& groups) {
    TraceScope scope("CFilerControl::FilerListLunMap");
    if (path.empty()) return empty_strings("CFilerControl::FilerListLunMap");
    return GUARDED([&] {
        api_of(*this).fapi_lun_map_list_info(path.c_str(), groups);
        if (!groups.empty()) return S_OK;
        trace_printf("CFilerControl::FilerListLunMap(): FAPI library error: %s", NarrowFromWide(path).c_str());
        return E_FAIL;
    });
}

HRESULT CFilerControl::FilerRenameLun(const std::u16string& newPath, const std::u16string& oldPath) {
    TraceScope scope("CFilerControl::FilerRenameLun");
    if (any_empty({&newPath, &oldPath})) return empty_strings("CFilerControl::FilerRenameLun");
    trace_printf("pNewPath = %s", NarrowFromWide(newPath).c_str());
    trace_printf("pOldPath = %s", NarrowFromWide(oldPath).c_str());
    return GUARDED([&] {
        api_of(*this).fapi_lun_rename(newPath.c_str(), oldPath.c_str());
        return S_OK;
    });
}

HRESULT CFilerControl::FilerListAdaptersInitiators(const WCHAR* adapter,
                                                   std::vector<fapi_fcp_adapter_initiators_t>& adapters) {
    TraceScope scope("CFilerControl::FilerListAdaptersInitiators");
    return GUARDED([&] {
        api_of(*this).fapi_fcp_adapter_initiators_list_info(adapter, adapters);
        if (adapters.empty()) trace_printf("CFilerControl::FilerListAdaptersInitiators(): no initiators");
        return S_OK;
    });
}

HRESULT CFilerControl::FilerListAdapters(std::vector<fapi_fcp_adapter_info_t>& adapters) {
    TraceScope scope("CFilerControl::FilerListAdapters");
    return GUARDED([&] {
        api_of(*this).fapi_fcp_adapter_list_info(adapters);
        return S_OK;
    });
}

HRESULT CFilerControl::FilerListIgroups(std::vector<fapi_igroup_info_t>& groups) {
    TraceScope scope("CFilerControl::FilerListIgroups");
    return GUARDED([&] {
        api_of(*this).fapi_igroup_list_info(nullptr, groups);
        if (groups.empty()) trace_printf("CFilerControl::FilerListIgroups(): no igroups");
        return S_OK;
    });
}

HRESULT CFilerControl::FilerCreateIgroup(const std::u16string& name, int32_t type) {
    TraceScope scope("CFilerControl::FilerCreateIgroup");
    if (name.empty()) return empty_strings("CFilerControl::FilerCreateIgroup");
    trace_printf("Initiator Group = %s", NarrowFromWide(name).c_str());
    return GUARDED([&] {
        api_of(*this).fapi_igroup_create(name.c_str(), type, kIgroupOsWindows);
        return S_OK;
    });
}

HRESULT CFilerControl::FilerDeleteIgroup(const std::u16string& name) {
    TraceScope scope("CFilerControl::FilerDeleteIgroup");
    if (name.empty()) return empty_strings("CFilerControl::FilerDeleteIgroup");
    return GUARDED([&] {
        api_of(*this).fapi_igroup_destroy(name.c_str(), false);
        return S_OK;
    });
}

HRESULT CFilerControl::FilerAddIgroup(const std::u16string& group, const std::u16string& initiator) {
    TraceScope scope("CFilerControl::FilerAddIgroup");
    if (any_empty({&group, &initiator})) return empty_strings("CFilerControl::FilerAddIgroup");
    trace_printf("Initiator = %s", NarrowFromWide(initiator).c_str());
    trace_printf("Initiator Group = %s", NarrowFromWide(group).c_str());
    return GUARDED([&] {
        api_of(*this).fapi_igroup_add(group.c_str(), initiator.c_str());
        return S_OK;
    });
}

HRESULT CFilerControl::FilerFileWriteFile(const std::u16string& path, const std::u16string& text) {
    TraceScope scope("CFilerControl::FilerFileWriteFile");
    return GUARDED([&] {
        const std::string encoded = EncodeUnicodeBinary(text);
        try {
            api_of(*this).fapi_file_truncate_file(path.c_str(), u"0");
        } catch (const _com_error& error) {
            // An empty file is all that is wanted; a new file is written whole below.
            trace_printf("Truncating a file is failed and the error is ignored ");
            set_error_info_from(GUID_NULL, GUID_NULL, error);
        }
        if (encoded.empty()) return S_OK;
        int32_t written = 0;
        api_of(*this).fapi_file_write_file(path.c_str(), 0, true, encoded.c_str(), written);
        if (written >= 1) return S_OK;
        trace_printf("CFilerControl::FilerFileWriteFile(): FAPI library error, data %s, file name %s ",
                     encoded.c_str(), NarrowFromWide(path).c_str());
        return E_FAIL;
    });
}

HRESULT CFilerControl::FilerFileReadFile(const std::u16string& path, std::u16string& text) {
    TraceScope scope("CFilerControl::FilerFileReadFile");
    return GUARDED(
        [&] {
            std::string data;
            int32_t length = 0;
            api_of(*this).fapi_file_read_file(path.c_str(), kFileReadLength, 0, data, length);
            if (length <= 0) {
                trace_printf("CFilerControl::FilerFileReadFile(): fapi_file_read_file returns NULL ");
                return S_OK;
            }
            text = DecodeUnicodeBinary(data);
            return S_OK;
        },
        Reporting{.unreported = static_cast<HRESULT>(res::MSG_FAPI_FILE_READ_FILE)});
}

HRESULT CFilerControl::FilerGetLunSerialNumber(const std::u16string& path, std::string& serialNumber) {
    TraceScope scope("CFilerControl::FilerGetLunSerialNumber");
    if (path.empty()) return empty_strings("CFilerControl::FilerGetLunSerialNumber");
    return GUARDED([&] {
        api_of(*this).fapi_lun_get_serial_number(NarrowFromWide(path).c_str(), serialNumber);
        return S_OK;
    });
}

HRESULT CFilerControl::FilerGetLunSignature(const std::u16string& path, ULONG& signature) {
    TraceScope scope("CFilerControl::FilerGetLunSignature");
    if (path.empty()) return empty_strings("CFilerControl::FilerGetLunSignature");
    return GUARDED([&] {
        int32_t value = 0;
        api_of(*this).get_lun_signature(path.c_str(), value);
        signature = static_cast<ULONG>(value);
        return S_OK;
    });
}

HRESULT CFilerControl::FilerGetVersion(const std::u16string& filerName, std::u16string& version) {
    TraceScope scope("CFilerControl::FilerGetVersion");
    if (filerName.empty()) return empty_strings("CFilerControl::FilerGetVersion");
    return GUARDED([&] {
        const CFiler& filer = api_of(*this);
        get_filer_version(filer.get_transport().c_str(), filerName.c_str(), filer.get_user_name().c_str(),
                          filer.get_password().c_str(), version);
        return S_OK;
    });
}

HRESULT CFilerControl::FilerGetClusterStatus(int32_t& currentTime, bool& enabled, bool& interconnectUp,
                                             std::u16string& partner) {
    TraceScope scope("CFilerControl::FilerGetClusterStatus");
    return GUARDED([&] {
        api_of(*this).fapi_cf_status(currentTime, enabled, interconnectUp, partner);
        return S_OK;
    });
}

HRESULT CFilerControl::FilerGetAggregateSize(const std::u16string& /*aggregate*/, ULONGLONG& /*size*/) {
    TraceScope scope("CFilerControl::FilerGetAggregateSize");
    return S_OK;
}

HRESULT CFilerControl::FilerAddDisksToAggregate(const std::u16string& /*aggregate*/,
                                                const std::vector<std::u16string>& /*disks*/, BOOL /*flag*/) {
    TraceScope scope("CFilerControl::FilerAddDisksToAggregate");
    return S_OK;
}

HRESULT CFilerControl::FilerValidateConnection(FilerSystemInfo* info) {
    TraceScope scope("CFilerControl::FilerValidateConnection");
    ServerHandlePtr server;
    {
        CCriticalSectionHolder hold(&g_fapiLock);
        server.Reset(kx_server_create(NarrowFromWide(m_strFilerName).c_str(), 1, 0));
        if (!server) return E_OUTOFMEMORY;
        kx_server_set_style(server.get(), KX_AUTH_LOGIN);
        kx_server_set_login(server.get(), NarrowFromWide(m_strUserName).c_str(),
                            NarrowFromWide(m_strPassword).c_str());
    }
    ElemHandlePtr request(kx_elem_create("system-get-info"));
    if (!request) return E_OUTOFMEMORY;
    ElemHandlePtr results(kx_server_invoke_elem(server.get(), request.get()));
    if (!results) return E_OUTOFMEMORY;

    if (kx_results_passed(results.get())) {
        if (info) {
            kx_elem_rec* systemInfo = kx_elem_find_child(results.get(), "system-info");
            auto text = [&](const char* name) -> std::string {
                const char* value = systemInfo ? kx_child_text(systemInfo, name) : nullptr;
                return value ? value : "";
            };
            info->systemName = text("system-name");
            info->serialNumber = text("system-serial-number");
            info->systemId = StringToWString(text("system-id"));
            info->model = StringToWString(text("system-model"));
            const std::string vendor = text("vendor-id");
            info->vendorId = vendor.empty() ? u"Korvex" : StringToWString(vendor);
        }
        return S_OK;
    }
    const int errorNumber = kx_results_errno_value(results.get());
    if (contains(kUnreachableErrors, errorNumber)) return static_cast<HRESULT>(res::MSG_FILER_UNREACHABLE);
    if (contains(kLoginRefusedErrors, errorNumber)) return static_cast<HRESULT>(res::MSG_FILER_LOGIN_INVALID);
    const char* reason = kx_results_reason_text(results.get());
    trace_printf("CFilerControl::FilerValidateConnection(): system-get-info failed, code %d, reason \"%s\"",
                 errorNumber, reason ? reason : "");
    return E_FAIL;
}
