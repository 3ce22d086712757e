// A stand-in for the HBA API library, loaded by tests in its place
// (SANPROV_LIB_HBAAPI). It answers from the JSON fixture named by
// SANPROV_HBA_FIXTURE and appends one line per call to the file named by
// SANPROV_HBA_LOG, so tests see what the adapter asked and in which order.
//
// Fixture:
//   { "load_status": 0,                  // what HBA_LoadLibrary answers
//     "adapters": [
//       { "name": "vendor-model-0",
//         "open": true,                  // false: HBA_OpenAdapter answers 0
//         "attributes_status": 0,        // non-zero: HBA_GetAdapterAttributes fails
//         "manufacturer": "...", "model": "...", "serial_number": "...",
//         "node_wwn": "20000000c9a1b2c3", "driver_name": "...",
//         "ports": [ { "node_wwn": "...", "port_wwn": "...", "fc_id": 66048,
//                      "type": 5, "state": 2, "speed": 8, "supported_speed": 14,
//                      "os_device_name": "/sys/class/scsi_host/host3",
//                      "symbolic_name": "...", "status": 0 } ] } ] }
//
// Like the common library it stands in for, it refuses a second
// HBA_LoadLibrary until HBA_FreeLibrary, answers adapter calls only while
// loaded, and counts adapters from its configuration whether loaded or not.
// Built twice: the "partial" build leaves HBA_GetFcpTargetMappingV2 out.
#include <platform/hbaapi.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using nlohmann::json;

struct FakeState {
    std::mutex lock;
    bool loaded = false;
    HBA_HANDLE nextHandle = 1;
    std::map<HBA_HANDLE, size_t> open;  // handle -> adapter index
};

FakeState& state() {
    static FakeState s;
    return s;
}

void log_call(const std::string& line) {
    const char* path = std::getenv("SANPROV_HBA_LOG");
    if (!path || !*path) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

json fixture() {
    const char* path = std::getenv("SANPROV_HBA_FIXTURE");
    if (!path || !*path) return json::object();
    std::ifstream in(path);
    json j = json::parse(in, nullptr, false);
    return j.is_object() ? j : json::object();
}

json adapters() {
    json j = fixture();
    return j.contains("adapters") && j["adapters"].is_array() ? j["adapters"] : json::array();
}

void copy_text(char* field, size_t size, const json& obj, const char* key) {
    const std::string text = obj.value(key, std::string());
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

void copy_wwn(HBA_WWN& wwn, const json& obj, const char* key) {
    const std::string hex = obj.value(key, std::string());
    std::memset(&wwn, 0, sizeof wwn);
    for (size_t i = 0; i < 8 && 2 * i + 1 < hex.size(); ++i)
        wwn.wwn[i] = static_cast<HBA_UINT8>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
}

// The adapter behind an open handle, or null.
const json* adapter_of(HBA_HANDLE handle, const json& list) {
    auto it = state().open.find(handle);
    if (it == state().open.end() || it->second >= list.size()) return nullptr;
    return &list[it->second];
}

}  // namespace

FAKE_EXPORT HBA_UINT32 HBA_GetVersion() {
    log_call("HBA_GetVersion");
    return 2;
}

FAKE_EXPORT HBA_STATUS HBA_LoadLibrary() {
    std::lock_guard guard(state().lock);
    log_call("HBA_LoadLibrary");
    if (state().loaded) return HBA_STATUS_ERROR_ALREADY_LOADED;
    const HBA_STATUS status = fixture().value("load_status", HBA_STATUS_OK);
    state().loaded = status == HBA_STATUS_OK;
    return status;
}

FAKE_EXPORT HBA_STATUS HBA_FreeLibrary() {
    std::lock_guard guard(state().lock);
    log_call("HBA_FreeLibrary");
    if (!state().loaded) return HBA_STATUS_ERROR_NOT_LOADED;
    state().loaded = false;
    state().open.clear();
    return HBA_STATUS_OK;
}

FAKE_EXPORT HBA_UINT32 HBA_GetNumberOfAdapters() {
    std::lock_guard guard(state().lock);
    log_call("HBA_GetNumberOfAdapters");
    return static_cast<HBA_UINT32>(adapters().size());
}

FAKE_EXPORT HBA_STATUS HBA_GetAdapterName(HBA_UINT32 index, char* name) {
    std::lock_guard guard(state().lock);
    log_call("HBA_GetAdapterName " + std::to_string(index));
    if (!state().loaded) return HBA_STATUS_ERROR_NOT_LOADED;
    const json list = adapters();
    if (index >= list.size()) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
    copy_text(name, 256, list[index], "name");
    return HBA_STATUS_OK;
}

FAKE_EXPORT HBA_HANDLE HBA_OpenAdapter(char* name) {
    std::lock_guard guard(state().lock);
    log_call(std::string("HBA_OpenAdapter ") + (name ? name : "(null)"));
    if (!state().loaded || !name) return 0;
    const json list = adapters();
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].value("name", std::string()) != name) continue;
        if (!list[i].value("open", true)) return 0;
        const HBA_HANDLE handle = state().nextHandle++;
        state().open[handle] = i;
        return handle;
    }
    return 0;
}

FAKE_EXPORT void HBA_CloseAdapter(HBA_HANDLE handle) {
    std::lock_guard guard(state().lock);
    log_call("HBA_CloseAdapter " + std::to_string(handle));
    state().open.erase(handle);
}

FAKE_EXPORT HBA_STATUS HBA_GetAdapterAttributes(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* attributes) {
    std::lock_guard guard(state().lock);
    log_call("HBA_GetAdapterAttributes " + std::to_string(handle));
    if (!state().loaded) return HBA_STATUS_ERROR_NOT_LOADED;
    const json list = adapters();
    const json* adapter = adapter_of(handle, list);
    if (!adapter) return HBA_STATUS_ERROR_INVALID_HANDLE;
    if (const HBA_STATUS status = adapter->value("attributes_status", HBA_STATUS_OK)) return status;
    std::memset(attributes, 0, sizeof *attributes);
    copy_text(attributes->Manufacturer, sizeof attributes->Manufacturer, *adapter, "manufacturer");
    copy_text(attributes->SerialNumber, sizeof attributes->SerialNumber, *adapter, "serial_number");
    copy_text(attributes->Model, sizeof attributes->Model, *adapter, "model");
    copy_text(attributes->ModelDescription, sizeof attributes->ModelDescription, *adapter, "model_description");
    copy_text(attributes->DriverName, sizeof attributes->DriverName, *adapter, "driver_name");
    copy_wwn(attributes->NodeWWN, *adapter, "node_wwn");
    const json ports = adapter->value("ports", json::array());
    attributes->NumberOfPorts = static_cast<HBA_UINT32>(ports.size());
    return HBA_STATUS_OK;
}

FAKE_EXPORT HBA_STATUS HBA_GetAdapterPortAttributes(HBA_HANDLE handle, HBA_UINT32 portIndex,
                                                    HBA_PORTATTRIBUTES* attributes) {
    std::lock_guard guard(state().lock);
    log_call("HBA_GetAdapterPortAttributes " + std::to_string(handle) + " " + std::to_string(portIndex));
    if (!state().loaded) return HBA_STATUS_ERROR_NOT_LOADED;
    const json list = adapters();
    const json* adapter = adapter_of(handle, list);
    if (!adapter) return HBA_STATUS_ERROR_INVALID_HANDLE;
    const json ports = adapter->value("ports", json::array());
    if (portIndex >= ports.size()) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
    const json& port = ports[portIndex];
    if (const HBA_STATUS status = port.value("status", HBA_STATUS_OK)) return status;
    std::memset(attributes, 0, sizeof *attributes);
    copy_wwn(attributes->NodeWWN, port, "node_wwn");
    copy_wwn(attributes->PortWWN, port, "port_wwn");
    copy_wwn(attributes->FabricName, port, "fabric_name");
    attributes->PortFcId = port.value("fc_id", 0u);
    attributes->PortType = port.value("type", HBA_PORTTYPE_UNKNOWN);
    attributes->PortState = port.value("state", HBA_PORTSTATE_UNKNOWN);
    attributes->PortSpeed = port.value("speed", HBA_PORTSPEED_UNKNOWN);
    attributes->PortSupportedSpeed = port.value("supported_speed", HBA_PORTSPEED_UNKNOWN);
    attributes->PortMaxFrameSize = port.value("max_frame_size", 2048u);
    copy_text(attributes->PortSymbolicName, sizeof attributes->PortSymbolicName, port, "symbolic_name");
    copy_text(attributes->OSDeviceName, sizeof attributes->OSDeviceName, port, "os_device_name");
    return HBA_STATUS_OK;
}

// The calls below exist so the library resolves as the real one does; the
// system never calls them.
FAKE_EXPORT void HBA_RefreshInformation(HBA_HANDLE handle) {
    log_call("HBA_RefreshInformation " + std::to_string(handle));
}

FAKE_EXPORT HBA_STATUS HBA_GetFcpTargetMapping(HBA_HANDLE, void*) {
    log_call("HBA_GetFcpTargetMapping");
    return HBA_STATUS_ERROR_NOT_SUPPORTED;
}

FAKE_EXPORT HBA_STATUS HBA_GetPortAttributesByWWN(HBA_HANDLE, HBA_WWN, HBA_PORTATTRIBUTES*) {
    log_call("HBA_GetPortAttributesByWWN");
    return HBA_STATUS_ERROR_NOT_SUPPORTED;
}

FAKE_EXPORT HBA_STATUS HBA_SendScsiInquiry(HBA_HANDLE, HBA_WWN, HBA_UINT64, HBA_UINT8, HBA_UINT32, void*, HBA_UINT32,
                                           void*, HBA_UINT32) {
    log_call("HBA_SendScsiInquiry");
    return HBA_STATUS_ERROR_NOT_SUPPORTED;
}

FAKE_EXPORT HBA_STATUS HBA_ScsiInquiryV2(HBA_HANDLE, HBA_WWN, HBA_WWN, HBA_UINT64, HBA_UINT8, HBA_UINT8, void*,
                                         HBA_UINT32*, HBA_UINT8*, void*, HBA_UINT32*) {
    log_call("HBA_ScsiInquiryV2");
    return HBA_STATUS_ERROR_NOT_SUPPORTED;
}

#ifndef FAKE_HBA_LEAVE_OUT_FCP_TARGET_MAPPING_V2
FAKE_EXPORT HBA_STATUS HBA_GetFcpTargetMappingV2(HBA_HANDLE, HBA_WWN, void*) {
    log_call("HBA_GetFcpTargetMappingV2");
    return HBA_STATUS_ERROR_NOT_SUPPORTED;
}
#endif
