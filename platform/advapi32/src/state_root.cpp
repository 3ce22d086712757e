#include <platform/state_root.h>

#include <cstdlib>
#include <system_error>

namespace platform {

std::filesystem::path state_root() {
    const char* root = std::getenv("SANPROV_ROOT");
    return (root && *root) ? std::filesystem::path(root) : std::filesystem::path("/var/lib/sanprov");
}

std::filesystem::path state_dir(const std::string& sub) {
    const auto dir = state_root() / sub;
    std::error_code ec;
    if (std::filesystem::create_directories(dir, ec))
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
    return dir;
}

}  // namespace platform
