#pragma once
// The simulated host for one test: a sysfs tree in a directory of its own
// whose disks follow what the given appliances map to the host's initiators,
// changed on each rescan. Export() points what the test starts at it, so no
// test rescans the real machine.
#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e {

class SimulatedHost {
public:
    // Appliances as "address:port"; the iSCSI initiator name is the host's own.
    SimulatedHost(const std::vector<std::string>& appliances, const std::string& iscsiInitiatorName);
    ~SimulatedHost();
    SimulatedHost(const SimulatedHost&) = delete;
    SimulatedHost& operator=(const SimulatedHost&) = delete;

    // Sets SANPROV_SYSFS_ROOT, the fake HBA library and the host's HBA fixture,
    // the iSCSI initiator name file and SANPROV_FORBID_REAL_SYSFS=1 in this
    // process's environment, which the programs it starts inherit.
    void Export() const;
    static void Unexport();

    const std::string& sysfs_root() const { return sysfs_; }
    // The host's adapters: the two Fibre Channel ports of its HBA fixture, then the iSCSI initiator.
    static constexpr int kFcHost = 0;
    static constexpr int kIscsiHost = 2;
    static constexpr const char* kFcInitiator = "21:00:00:e0:8b:05:05:04";
    static constexpr const char* kOtherFcInitiator = "10:00:00:00:c9:6b:3d:1a";  // a port of another host

    struct Disk {
        std::string name;     // "sdb"
        std::string address;  // "host:channel:target:lun"
        std::string serial;
        std::string path;     // the LUN's path on its appliance
        uint64_t size = 0;
        int host = -1;
    };
    std::vector<Disk> Disks() const;
    // The disk of that serial number, or one with an empty name.
    Disk DiskWithSerial(const std::string& serial) const;
    // Rescans served for the adapter so far.
    int Scans(int host) const;
    // Rescans the adapter as the provider does and waits until it is served.
    bool Rescan(int host, std::chrono::milliseconds patience = std::chrono::seconds(10)) const;

private:
    std::string directory_;
    std::string sysfs_;
    std::string initiatorNameFile_;
    pid_t pid_ = -1;
};

}  // namespace e2e
