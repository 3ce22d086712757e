#include <adt/path.h>
#include <adt/pool.h>
#include <adt/zthread.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "path_root.h"

namespace {

// Program, script, configuration, data, library, log and plug-in directories.
constexpr const char* kSubdirectories[PATH_ENTRIES] = {
    "/bin/", "/sbin/", "/scripts/", "/etc/", "/conf/", "/data/", "/lib/",
    "/include/", "/log/", "/plugins/", "/tmp/", "/web/", "/web/cgi-bin/", "/share/"};

struct PathTable {
    char* root;  // NULL when no root was found
    char* entries[PATH_ENTRIES];
};

PathTable* g_table = nullptr;
const char* g_program = nullptr;
zthread_once_rec g_initGate;
zthread_once_rec g_tableGate;
void free_table(void* object) {
    auto* t = static_cast<PathTable*>(object);
    if (g_table == t) g_table = nullptr;
    for (char* e : t->entries) std::free(e);
    std::free(t->root);
    std::free(t);
}

void build_table(const char* root) {
    auto* t = static_cast<PathTable*>(std::calloc(1, sizeof(PathTable)));
    if (!t) return;
    t->root = root ? strdup(root) : nullptr;
    const std::string base = root ? root : "/";
    for (int i = 0; i < PATH_ENTRIES; ++i) t->entries[i] = strdup((base + kSubdirectories[i]).c_str());
    g_table = t;
    pool_register(pool_default(), free_table, t, ADT_HERE);
}

void build_default_table() {
    if (!g_table) build_table(nullptr);
}

void discover() {
    const std::string root = path_discover_root(g_program);
    build_table(root.empty() ? nullptr : root.c_str());
}

}  // namespace

std::string path_root_of(const std::string& path) {
    for (const char* marker : {"/bin/", "/sbin/", "/web/cgi-bin/"}) {
        const size_t at = path.find(marker);
        if (at == 0) return path.substr(0, 1);
        if (at != std::string::npos) return path.substr(0, at);
    }
    size_t cut = path.size();
    for (int i = 0; i < 3 && cut != std::string::npos && cut > 0; ++i) cut = path.rfind('/', cut - 1);
    if (cut != std::string::npos) {
        const std::string release = path.substr(0, cut) + "/release/nt";
        if (::access(release.c_str(), F_OK) == 0) return release;
    }
    return "/";
}

std::string path_discover_root(const char* program) {
    if (const char* dir = std::getenv("KORVEX_DIR")) {
        std::string root = dir;
        for (char& c : root)
            if (c == '\\') c = '/';
        // The environment keeps the converted text, as later readers expect.
        if (root != dir) ::setenv("KORVEX_DIR", root.c_str(), 1);
        return root;
    }
    if (const char* script = std::getenv("SCRIPT_FILENAME")) return path_root_of(script);
    if (!program) return {};
    char self[1025] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string exe = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(program);
    for (char& c : exe)
        if (c == '\\') c = '/';
    if (exe.starts_with("./")) {
        char cwd[1025] = {};
        if (::getcwd(cwd, sizeof cwd - 1)) exe = std::string(cwd) + exe.substr(1);
    }
    return path_root_of(exe);
}

void path_init(const char* program) {
    g_program = program;
    zthread_once(&g_initGate, discover);
}

const char* path_get(int index) {
    zthread_once(&g_tableGate, build_default_table);
    if (const PathTable* t = g_table) {
        if (index >= 0 && index < PATH_ENTRIES) return t->entries[index];
        return t->root ? t->root : "/";
    }
    // The table is gone (process exit) or could not be built: the entries without a root.
    static const auto* fallback = [] {
        auto* entries = new std::string[PATH_ENTRIES + 1];
        for (int i = 0; i < PATH_ENTRIES; ++i) entries[i] = std::string("/") + kSubdirectories[i];
        entries[PATH_ENTRIES] = "/";
        return entries;
    }();
    return fallback[index >= 0 && index < PATH_ENTRIES ? index : PATH_ENTRIES].c_str();
}
