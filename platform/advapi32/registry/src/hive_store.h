#pragma once
// One hive file with its lock file. Readers take no lock and reuse the
// parsed tree while the file is unchanged; writers hold an exclusive flock,
// read the current file, apply their change and replace the file atomically
// (temporary file, fsync, rename, fsync of the directory). A file that cannot
// be read is reported once and left as it is. The lock file also
// holds a change count that every writer bumps, so a reader never mistakes a
// new hive for the one it has parsed.
//
// While a thread has a RegistryTransaction open, its changes go to a staged
// copy of each hive it touches: the first change takes the hive's writer
// locks (held to the end of the transaction), the thread reads its own staged
// copy, and the commit writes each changed hive in one replacement.
#include "registry_tree.h"

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform::reg {

class HiveStore {
public:
    explicit HiveStore(std::filesystem::path file);

    // Runs `op` on the current tree; returns its result or the store's failure.
    LONG read(const std::function<LONG(const RegKey&)>& op);
    // Runs `op` on the current tree; when it sets `changed` the tree is written
    // back before the call returns, and a failed write is the call's result.
    LONG modify(const std::function<LONG(RegKey& root, bool& changed)>& op);

    // This thread's staged copy of the hive (see above).
    struct Staged;

private:
    friend struct Staged;
    friend class platform::RegistryTransaction;
    struct Stamp {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        long long mtimeNs = 0;
        long long ctimeNs = 0;
        bool exists = false;
        uint64_t generation = 0;
        bool operator==(const Stamp&) const = default;
    };
    class Lock;

    LONG refresh(const Lock& lock);
    // Writes the tree; `written` receives the new file's stamp when it can be read.
    LONG commit(Lock& lock, const RegKey& tree, std::optional<Stamp>& written);
    LONG report_unreadable(const Stamp& stamp, const char* why, LONG error);
    // Takes the writer locks and copies the current tree for this thread's transaction.
    LONG stage(Staged& staged);
    // Writes a staged tree and makes it the cached one.
    LONG write_back(Lock& lock, std::unique_ptr<RegKey> tree);

    const std::filesystem::path m_file;
    const std::filesystem::path m_lockFile;
    const std::filesystem::path m_tempFile;
    // Writers of this process one at a time, held around the flock; the cached
    // tree is only held while it is looked up or replaced, so readers never
    // wait for a writer's disk.
    std::mutex m_writeMutex;
    std::mutex m_cacheMutex;
    std::shared_ptr<const RegKey> m_tree;  // null when it must be read again
    Stamp m_stamp;
    bool m_reported = false;  // the file in m_reportedStamp's state was reported unreadable
    Stamp m_reportedStamp;
};

// The store of one hive ("HKLM", ...) under the current state root.
HiveStore& hive_store(const std::string& hive);

void set_commit_hook(void (*hook)());

}  // namespace platform::reg
