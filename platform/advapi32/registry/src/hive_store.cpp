#include "hive_store.h"

#include "hive_text.h"

#include <platform/state_root.h>

#include <fcntl.h>
#include <syslog.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace platform::reg {
namespace {

std::atomic<void (*)()> g_commitHook{nullptr};

LONG from_errno(int err, DWORD otherwise) {
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return static_cast<LONG>(otherwise);
    }
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { close(); }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Reports the close's own failure: a delayed write error shows up here.
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

int open_retry(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::optional<std::string> read_all(int fd, size_t sizeHint) {
    std::string text;
    text.reserve(sizeHint);
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return text;
        text.append(buf, static_cast<size_t>(n));
    }
}

long long nanoseconds(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; }

void sync_directory(const std::filesystem::path& dir) {
    Fd fd(open_retry(dir.c_str(), O_RDONLY | O_DIRECTORY));
    if (fd.valid()) ::fsync(fd.get());
}

std::unique_ptr<RegKey> clone(const RegKey& key) {
    auto copy = std::make_unique<RegKey>();
    copy->values = key.values;
    for (const auto& [name, child] : key.subkeys) *copy->subkeys.emplace(name).first = clone(*child);
    return copy;
}

}  // namespace

// The flock on the hive's lock file, and the change count kept in it. A
// reader takes no flock: a writer replaces the hive by rename, so every open
// of it finds one whole hive, and the change count tells a new one apart.
class HiveStore::Lock {
public:
    enum Mode { Reader, Writer };

    Lock(const std::filesystem::path& file, Mode mode) {
        const bool exclusive = mode == Writer;
        if (!exclusive) {
            m_fd = open_retry(file.c_str(), O_RDONLY);
            if (m_fd < 0 && errno != ENOENT) m_error = errno;
            return;
        }
        m_fd = open_retry(file.c_str(), O_RDWR);
        if (m_fd < 0 && errno == ENOENT) {
            m_fd = open_retry(file.c_str(), O_RDWR | O_CREAT, 0600);
            if (m_fd >= 0) ::fchmod(m_fd, 0600);
        }
        if (m_fd < 0) {
            m_error = errno;
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            m_error = errno;
            ::close(m_fd);
            m_fd = -1;
            return;
        }
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock() {
        if (m_fd >= 0) ::close(m_fd);  // also lets go of the flock
    }

    bool held() const { return m_fd >= 0; }
    int error() const { return m_error; }
    uint64_t generation() const {
        uint64_t value = 0;
        return (held() && ::pread(m_fd, &value, sizeof value, 0) == sizeof value) ? value : 0;
    }
    bool set_generation(uint64_t value) { return ::pwrite(m_fd, &value, sizeof value, 0) == sizeof value; }

private:
    int m_fd = -1;
    int m_error = 0;
};

// A hive staged by this thread's open transaction: its writer locks and the
// tree the thread changes. Members go in reverse order: the flock before the
// process's writer mutex.
struct HiveStore::Staged {
    explicit Staged(HiveStore& s) : store(s), writer(s.m_writeMutex), lock(s.m_lockFile, Lock::Writer) {}
    HiveStore& store;
    std::unique_lock<std::mutex> writer;
    Lock lock;
    std::unique_ptr<RegKey> tree;
    bool changed = false;
};

}  // namespace platform::reg

struct platform::RegistryTransaction::State {
    std::vector<std::unique_ptr<reg::HiveStore::Staged>> hives;
    reg::HiveStore::Staged* find(const reg::HiveStore* store) const {
        for (const auto& s : hives)
            if (&s->store == store) return s.get();
        return nullptr;
    }
};

namespace platform::reg {
namespace {
thread_local RegistryTransaction::State* t_transaction = nullptr;
}  // namespace

HiveStore::HiveStore(std::filesystem::path file)
    : m_file(std::move(file)),
      m_lockFile(std::filesystem::path(m_file).replace_extension(".lock")),
      m_tempFile(std::filesystem::path(m_file) += ".tmp") {}

LONG HiveStore::read(const std::function<LONG(const RegKey&)>& op) {
    if (t_transaction)
        if (const Staged* staged = t_transaction->find(this)) return op(*staged->tree);
    std::shared_ptr<const RegKey> tree;
    {
        std::lock_guard guard(m_cacheMutex);
        const Lock lock(m_lockFile, Lock::Reader);
        if (LONG err = refresh(lock)) return err;
        tree = m_tree;
    }
    // The tree read is never changed: a writer works on a copy and replaces it.
    return op(*tree);
}

LONG HiveStore::modify(const std::function<LONG(RegKey&, bool&)>& op) {
    if (RegistryTransaction::State* transaction = t_transaction) {
        Staged* staged = transaction->find(this);
        if (!staged) {
            auto made = std::make_unique<Staged>(*this);
            if (LONG err = stage(*made)) return err;
            staged = transaction->hives.emplace_back(std::move(made)).get();
        }
        bool changed = false;
        const LONG result = op(*staged->tree, changed);
        staged->changed |= changed;
        return result;
    }
    std::lock_guard writer(m_writeMutex);
    Lock lock(m_lockFile, Lock::Writer);
    if (!lock.held()) return from_errno(lock.error(), ERROR_CANTWRITE);
    std::unique_ptr<RegKey> tree;
    {
        std::lock_guard guard(m_cacheMutex);
        if (LONG err = refresh(lock)) return err;
        tree = clone(*m_tree);
    }
    bool changed = false;
    const LONG result = op(*tree, changed);
    if (!changed) return result;
    const LONG err = write_back(lock, std::move(tree));
    return err ? err : result;
}

LONG HiveStore::stage(Staged& staged) {
    if (!staged.lock.held()) return from_errno(staged.lock.error(), ERROR_CANTWRITE);
    std::lock_guard guard(m_cacheMutex);
    if (LONG err = refresh(staged.lock)) return err;
    staged.tree = clone(*m_tree);
    return ERROR_SUCCESS;
}

LONG HiveStore::write_back(Lock& lock, std::unique_ptr<RegKey> tree) {
    std::optional<Stamp> stamp;
    const LONG err = commit(lock, *tree, stamp);
    std::lock_guard guard(m_cacheMutex);
    if (err || !stamp) {
        m_tree.reset();  // the change did not land, or the new file cannot be told apart: read it again
        return err;
    }
    m_tree = std::move(tree);
    m_stamp = *stamp;
    return ERROR_SUCCESS;
}

LONG HiveStore::refresh(const Lock& lock) {
    Stamp stamp;
    stamp.generation = lock.generation();
    Fd fd(open_retry(m_file.c_str(), O_RDONLY));
    if (!fd.valid()) {
        if (errno != ENOENT) {
            const int error = errno;
            m_tree.reset();
            return report_unreadable(stamp, std::strerror(error), from_errno(error, ERROR_CANTREAD));
        }
        if (!m_tree || !(stamp == m_stamp)) m_tree = std::make_unique<RegKey>();
        m_stamp = stamp;
        return ERROR_SUCCESS;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        m_tree.reset();
        return from_errno(errno, ERROR_CANTREAD);
    }
    stamp = {st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim), true,
             stamp.generation};
    if (m_tree && stamp == m_stamp) return ERROR_SUCCESS;

    m_tree.reset();
    const auto text = read_all(fd.get(), static_cast<size_t>(st.st_size));
    if (!text) return report_unreadable(stamp, std::strerror(errno), from_errno(errno, ERROR_CANTREAD));
    auto tree = hive_from_text(*text);
    if (!tree) return report_unreadable(stamp, "it is not a hive", ERROR_BADDB);
    m_tree = std::move(tree);
    m_stamp = stamp;
    return ERROR_SUCCESS;
}

// Said once for each state of the file, where an operator sees it: the
// system log, and standard error of the program (a tool's own terminal).
LONG HiveStore::report_unreadable(const Stamp& stamp, const char* why, LONG error) {
    if (m_reported && stamp == m_reportedStamp) return error;
    m_reported = true;
    m_reportedStamp = stamp;
    const std::string text = "registry hive " + m_file.string() + " cannot be read (" + why +
                             "); nothing is read from it or written to it until it is repaired";
    ::syslog(LOG_USER | LOG_ERR, "%s", text.c_str());
    std::fprintf(stderr, "%s\n", text.c_str());
    return error;
}

LONG HiveStore::commit(Lock& lock, const RegKey& tree, std::optional<Stamp>& written) {
    const std::string text = hive_to_text(tree);
    auto fail = [this](int err) {
        ::unlink(m_tempFile.c_str());
        return from_errno(err, ERROR_CANTWRITE);
    };
    {
        Fd fd(open_retry(m_tempFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        if (!fd.valid()) return from_errno(errno, ERROR_CANTWRITE);
        // A temporary file left by a crashed writer keeps its old mode through O_TRUNC.
        if (::fchmod(fd.get(), 0600) != 0 || !write_all(fd.get(), text) || ::fsync(fd.get()) != 0 || !fd.close())
            return fail(errno);
    }
    // Bumped before the rename: a crash in between costs readers one needless re-read.
    const uint64_t generation = lock.generation() + 1;
    if (!lock.set_generation(generation)) return fail(errno);
    if (auto hook = g_commitHook.load()) hook();
    if (::rename(m_tempFile.c_str(), m_file.c_str()) != 0) return fail(errno);
    sync_directory(m_file.parent_path());

    struct stat st {};
    if (::stat(m_file.c_str(), &st) == 0)
        written = Stamp{st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim), true,
                        generation};
    return ERROR_SUCCESS;
}

HiveStore& hive_store(const std::string& hive) {
    static std::mutex lock;
    static std::map<std::filesystem::path, std::unique_ptr<HiveStore>> stores;
    auto file = state_dir("registry") / (hive + ".reg");
    std::lock_guard guard(lock);
    auto& store = stores[file];
    if (!store) store = std::make_unique<HiveStore>(file);
    return *store;
}

void set_commit_hook(void (*hook)()) { g_commitHook.store(hook); }

}  // namespace platform::reg

namespace platform {

RegistryTransaction::RegistryTransaction() {
    if (reg::t_transaction) return;  // joins the one already open
    m_state = std::make_unique<State>();
    reg::t_transaction = m_state.get();
}

RegistryTransaction::~RegistryTransaction() {
    // Not committed: the staged copies go and the files stay as they were.
    if (m_state && reg::t_transaction == m_state.get()) reg::t_transaction = nullptr;
}

LSTATUS RegistryTransaction::Commit() {
    if (!m_state) return ERROR_SUCCESS;  // the outer transaction writes
    reg::t_transaction = nullptr;
    const auto state = std::move(m_state);
    LONG first = ERROR_SUCCESS;
    for (auto& staged : state->hives)
        if (staged->changed && first == ERROR_SUCCESS) first = staged->store.write_back(staged->lock, std::move(staged->tree));
    return first;  // the writer locks go with the state
}

}  // namespace platform
