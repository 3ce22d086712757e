#pragma once
// Reply outputs for the in-memory appliance, one builder per list entry the
// filer API reads, with the element names and the children it requires
// (a missing boolean fails the parse). Fields are texts as the appliance
// writes them; numbers may be given as numbers.
//
//   appliance.SetReply("lun-list-info", Element("luns", replies::Lun({.path = "/vol/v/q/l"})));
#include <string>
#include <vector>

#include "memory_appliance.h"

namespace model_test::replies {

struct LunFields {
    std::string path;
    long long size = 104857600;
    bool online = true;
    bool mapped = false;
    bool readOnly = false;
};
inline std::string Lun(const LunFields& f) {
    auto b = [](bool v) { return std::string(v ? "true" : "false"); };
    return Element("lun-info", Text("path", f.path) + Text("size", f.size) + Text("online", b(f.online)) +
                                   Text("mapped", b(f.mapped)) + Text("read-only", b(f.readOnly)));
}

struct VolumeFields {
    std::string name;
    std::string state = "online";
    long long sizeAvailable = 1ll << 30;
};
inline std::string Volume(const VolumeFields& f) {
    return Element("volume-info",
                   Text("name", f.name) + Text("state", f.state) + Text("size-available", f.sizeAvailable));
}

inline std::string Qtree(const std::string& volume, const std::string& qtree) {
    return Element("qtree-info", Text("volume", volume) + Text("qtree", qtree) + Text("oplocks", "true"));
}

struct DiskFields {
    std::string name;
    int id = 0;
    std::string hostAdapter = "0a";
    std::string shelf = "1";
    std::string bay = "0";
    long long physicalSpace = 72ll << 30;
    std::string raidState = "present";  // spare, present, partner, broken ...
    std::string raidType = "data";      // data, parity, dparity ...
};
inline std::string Disk(const DiskFields& f) {
    return Element("disk-detail-info", Text("name", f.name) + Text("id", f.id) + Text("host-adapter", f.hostAdapter) +
                                           Text("shelf", f.shelf) + Text("bay", f.bay) +
                                           Text("physical-space", f.physicalSpace) + Text("raid-state", f.raidState) +
                                           Text("raid-type", f.raidType));
}

struct AggregateFields {
    std::string name;
    std::string state = "online";
    std::string type = "aggr";
    long long sizeAvailable = 100ll << 30;
    // One plex per entry: its name and the names of its disks (one RAID group).
    std::vector<std::pair<std::string, std::vector<std::string>>> plexes;
};
inline std::string Aggregate(const AggregateFields& f) {
    std::string plexes;
    for (const auto& [plexName, disks] : f.plexes) {
        std::string names;
        for (const std::string& d : disks) names += Element("disk-info", Text("name", d));
        plexes += Element("plex-info",
                          Text("name", plexName) + Text("is-online", "true") + Text("is-resyncing", "false") +
                              Element("raid-groups", Element("raid-group-info", Text("name", plexName + "/rg0") +
                                                                                    Text("is-reconstructing", "false") +
                                                                                    Element("disks", names))));
    }
    return Element("aggr-info", Text("name", f.name) + Text("state", f.state) + Text("type", f.type) +
                                    Text("size-available", f.sizeAvailable) + Element("plexes", plexes));
}

struct IgroupFields {
    std::string name;
    std::string type = "fcp";  // fcp, iscsi
    std::vector<std::string> initiators;
    int lunId = 0;
};
inline std::string Igroup(const IgroupFields& f) {
    std::string initiators;
    for (const std::string& i : f.initiators) initiators += Element("initiator-info", Text("initiator-name", i));
    return Element("initiator-group-info", Text("initiator-group-name", f.name) + Text("initiator-group-type", f.type) +
                                               Text("initiator-group-os-type", "windows") +
                                               Element("initiators", initiators) + Text("lun-id", f.lunId));
}

struct FcpAdapterFields {
    std::string adapter;
    std::string nodeName = "50:0a:09:80:86:87:a5:09";
    std::string portName = "50:0a:09:81:86:87:a5:09";
    std::string adapterType = "Local";  // Local, Partner, Standby
    std::string state = "ONLINE";
    bool standby = false;
};
inline std::string FcpAdapter(const FcpAdapterFields& f) {
    return Element("fcp-config-adapter-info",
                   Text("adapter", f.adapter) + Text("node-name", f.nodeName) + Text("port-name", f.portName) +
                       Text("adapter-type", f.adapterType) + Text("state", f.state) +
                       Text("standby", f.standby ? "true" : "false"));
}

// One adapter with the port names of the initiators logged in through it.
inline std::string FcpAdapterInitiators(const std::string& adapter, const std::vector<std::string>& portNames) {
    std::string initiators;
    for (const std::string& p : portNames)
        initiators += Element("fcp-connected-initiator-info", Text("port-name", p) + Text("node-name", p));
    return Element("fcp-adapter-initiators-info",
                   Text("adapter", adapter) + Element("fcp-connected-initiators", initiators));
}

}  // namespace model_test::replies
