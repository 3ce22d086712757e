#include <platform/state_root.h>

#include <cstdlib>
#include <system_error>

#include <sys/stat.h>

namespace platform {

namespace {

constexpr mode_t kPrivate = 0700;

// A directory only its owner can enter: made 0700 whatever the umask, and
// tightened when an earlier run left it open to others.
void make_private(const std::filesystem::path& dir) {
    if (::mkdir(dir.c_str(), kPrivate) == 0) {
        ::chmod(dir.c_str(), kPrivate);  // the umask may have taken owner bits too
        return;
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 077) != 0) ::chmod(dir.c_str(), kPrivate);
}

}  // namespace

std::filesystem::path state_root() {
    const char* root = std::getenv("SANPROV_ROOT");
    return (root && *root) ? std::filesystem::path(root) : std::filesystem::path("/var/lib/sanprov");
}

std::filesystem::path state_dir(const std::string& sub) {
    const auto root = state_root();
    std::error_code ec;
    if (!std::filesystem::exists(root, ec)) {
        std::filesystem::create_directories(root.parent_path(), ec);
        make_private(root);
    }
    // Every level below the root, not just the last: "run/scm" made first
    // must not leave "run" open.
    auto dir = root;
    for (const auto& part : std::filesystem::path(sub).relative_path()) {
        if (part.empty() || part == "." || part == "..") continue;
        dir /= part;
        make_private(dir);
    }
    return dir;
}

}  // namespace platform
