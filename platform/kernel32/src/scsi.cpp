#include <platform/scsi.h>

#include <platform/text.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <linux/magic.h>
#include <sys/vfs.h>

namespace fs = std::filesystem;

namespace {

class ScsiAdapter : public platform::KernelObject {
public:
    explicit ScsiAdapter(int host) : host(host) {}
    const int host;
};

fs::path sysfs_root() {
    const char* root = std::getenv("SANPROV_SYSFS_ROOT");
    return (root && *root) ? fs::path(root) : fs::path("/sys");
}

fs::path host_dir(int host) { return sysfs_root() / "class" / "scsi_host" / ("host" + std::to_string(host)); }

// "host<digits>" → the host number; anything else is not a SCSI host.
std::optional<int> host_number(const std::string& name) {
    constexpr std::string_view prefix = "host";
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 9 || name.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    const std::string digits = name.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
    return std::stoi(digits);
}

// Linux numbers its SCSI hosts with gaps and rarely from 0, while adapter
// numbers are walked from 0 until one does not open: adapter n is the n-th
// existing host in ascending order of host number.
std::optional<int> host_of_adapter(int adapter) {
    std::vector<int> hosts;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysfs_root() / "class" / "scsi_host", ec)) {
        std::error_code dir;
        if (const auto host = host_number(entry.path().filename().string()); host && entry.is_directory(dir))
            hosts.push_back(*host);
    }
    if (adapter < 0 || static_cast<size_t>(adapter) >= hosts.size()) return std::nullopt;
    std::nth_element(hosts.begin(), hosts.begin() + adapter, hosts.end());
    return hosts[static_cast<size_t>(adapter)];
}

// "\\.\Scsi<n>:" → n.
std::optional<int> adapter_number(const WCHAR* name) {
    if (!name) return std::nullopt;
    const std::string text = platform::wide_to_utf8_lossy(name);
    constexpr std::string_view prefix = "\\\\.\\Scsi";
    if (text.size() < prefix.size() + 2 || text.compare(0, prefix.size(), prefix) != 0 || text.back() != ':')
        return std::nullopt;
    const std::string digits = text.substr(prefix.size(), text.size() - prefix.size() - 1);
    if (digits.empty() || digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
        return std::nullopt;
    return std::stoi(digits);
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BYTE bus_type(int host) {
    const auto root = sysfs_root() / "class";
    const std::string name = "host" + std::to_string(host);
    std::error_code ec;
    if (fs::exists(root / "fc_host" / name, ec)) return BusTypeFibre;
    if (fs::exists(root / "iscsi_host" / name, ec)) return BusTypeiScsi;
    return BusTypeScsi;
}

struct Unit {
    int channel, target, lun;
    bool claimed;
    std::vector<BYTE> inquiry;
};

// The logical units of one host, ordered by channel, target and LUN.
std::vector<Unit> units_of(int host) {
    std::vector<Unit> units;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysfs_root() / "class" / "scsi_device", ec)) {
        int h = 0, c = 0, t = 0, l = 0;
        char tail = 0;
        if (std::sscanf(entry.path().filename().c_str(), "%d:%d:%d:%d%c", &h, &c, &t, &l, &tail) != 4 || h != host)
            continue;
        if (c < 0 || c > 255 || t < 0 || t > 255 || l < 0 || l > 255) continue;
        std::ifstream in(entry.path() / "device" / "inquiry", std::ios::binary);
        std::vector<BYTE> inquiry((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        inquiry.resize(std::min<size_t>(inquiry.size(), 255));
        std::error_code claimed;
        units.push_back({c, t, l, fs::exists(entry.path() / "device" / "block", claimed), std::move(inquiry)});
    }
    std::sort(units.begin(), units.end(), [](const Unit& a, const Unit& b) {
        return std::tie(a.channel, a.target, a.lun) < std::tie(b.channel, b.target, b.lun);
    });
    return units;
}

// With SANPROV_FORBID_REAL_SYSFS=1 (every test and the demo set it) a rescan
// that would reach the real machine's buses is refused: a root that resolves
// to /sys or into it, or any directory on a sysfs mount.
bool real_sysfs_forbidden(const fs::path& directory) {
    const char* forbid = std::getenv("SANPROV_FORBID_REAL_SYSFS");
    if (!forbid || std::string_view(forbid) != "1") return false;
    struct statfs info {};
    if (::statfs(directory.c_str(), &info) == 0 && info.f_type == SYSFS_MAGIC) return true;
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(directory, ec);
    if (ec) return true;
    const auto first = resolved.begin();
    return first != resolved.end() && std::next(first) != resolved.end() && *std::next(first) == "sys";
}

BOOL rescan(int host) {
    if (real_sysfs_forbidden(host_dir(host))) return fail(ERROR_ACCESS_DENIED);
    std::ofstream scan(host_dir(host) / "scan");
    scan << "- - -";
    scan.flush();
    return scan ? TRUE : fail(ERROR_INVALID_FUNCTION);
}

BOOL query_property(int host, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    if (!in || inSize < sizeof(STORAGE_PROPERTY_QUERY)) return fail(ERROR_INVALID_PARAMETER);
    STORAGE_PROPERTY_QUERY query;
    std::memcpy(&query, in, sizeof query);
    if (query.PropertyId != StorageAdapterProperty || query.QueryType != PropertyStandardQuery)
        return fail(ERROR_INVALID_FUNCTION);
    if (!out || outSize < sizeof(STORAGE_ADAPTER_DESCRIPTOR)) return fail(ERROR_INSUFFICIENT_BUFFER);
    STORAGE_ADAPTER_DESCRIPTOR descriptor{};
    descriptor.Version = descriptor.Size = sizeof descriptor;
    descriptor.MaximumTransferLength = 0x100000;
    descriptor.CommandQueueing = 1;
    descriptor.BusType = bus_type(host);
    std::memcpy(out, &descriptor, sizeof descriptor);
    if (returned) *returned = sizeof descriptor;
    return TRUE;
}

// Lays the units out as the adapter bus information: the bus table, then the
// inquiry records of each bus chained by their next offsets, 8-byte aligned.
BOOL inquiry_data(int host, void* out, DWORD outSize, DWORD* returned) {
    const std::vector<Unit> units = units_of(host);
    std::map<int, std::vector<const Unit*>> buses;
    for (const Unit& unit : units) buses[unit.channel].push_back(&unit);
    const int busCount = buses.empty() ? 0 : buses.rbegin()->first + 1;

    const auto align = [](size_t n) { return (n + 7) & ~size_t{7}; };
    const size_t head = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + sizeof(SCSI_BUS_DATA) * std::max(busCount, 1);
    std::vector<BYTE> buffer(align(head));
    const auto put_bus = [&](int bus, const SCSI_BUS_DATA& data) {
        std::memcpy(buffer.data() + offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * sizeof data, &data, sizeof data);
    };
    buffer[0] = static_cast<UCHAR>(busCount);
    for (const auto& [bus, members] : buses) {
        SCSI_BUS_DATA data{static_cast<UCHAR>(members.size()), 0xFF, static_cast<ULONG>(buffer.size())};
        put_bus(bus, data);
        for (size_t i = 0; i < members.size(); ++i) {
            const Unit& unit = *members[i];
            const size_t at = buffer.size();
            const size_t size = align(offsetof(SCSI_INQUIRY_DATA, InquiryData) + std::max<size_t>(unit.inquiry.size(), 1));
            buffer.resize(at + size);
            SCSI_INQUIRY_DATA record{};
            record.PathId = static_cast<UCHAR>(unit.channel);
            record.TargetId = static_cast<UCHAR>(unit.target);
            record.Lun = static_cast<UCHAR>(unit.lun);
            record.DeviceClaimed = unit.claimed;
            record.InquiryDataLength = static_cast<ULONG>(unit.inquiry.size());
            record.NextInquiryDataOffset = i + 1 < members.size() ? static_cast<ULONG>(at + size) : 0;
            std::memcpy(buffer.data() + at, &record, offsetof(SCSI_INQUIRY_DATA, InquiryData));
            std::copy(unit.inquiry.begin(), unit.inquiry.end(),
                      buffer.begin() + static_cast<std::ptrdiff_t>(at + offsetof(SCSI_INQUIRY_DATA, InquiryData)));
        }
    }
    if (!out || outSize < buffer.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, buffer.data(), buffer.size());
    if (returned) *returned = static_cast<DWORD>(buffer.size());
    return TRUE;
}

}  // namespace

HANDLE CreateFileW(const WCHAR* name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE) {
    const auto number = adapter_number(name);
    const auto host = number && disposition == OPEN_EXISTING ? host_of_adapter(*number) : std::nullopt;
    if (!host) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return platform::make_handle(std::make_shared<ScsiAdapter>(*host));
}

BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                     void* overlapped) {
    if (returned) *returned = 0;
    const auto adapter = platform::object_from_handle_as<ScsiAdapter>(device);
    if (!adapter) return FALSE;
    if (overlapped) return fail(ERROR_INVALID_PARAMETER);
    switch (code) {
    case IOCTL_SCSI_RESCAN_BUS: return rescan(adapter->host);
    case IOCTL_STORAGE_QUERY_PROPERTY: return query_property(adapter->host, in, inSize, out, outSize, returned);
    case IOCTL_SCSI_GET_INQUIRY_DATA: return inquiry_data(adapter->host, out, outSize, returned);
    default: return fail(ERROR_INVALID_FUNCTION);
    }
}
