#include "host_addresses.h"

#include <adt/sock.h>

#include <arpa/inet.h>
#include <iterator>
#include <mutex>
#include <string>
#include <unordered_map>

#include <platform/clock.h>

namespace {

// A service manages a handful of appliances; a bound keeps a caller that
// names many hosts from growing the table.
constexpr size_t kMaxNames = 64;

struct kept_address {
    in_addr address;
    ULONGLONG resolvedAt;
};

class address_table {
public:
    bool find(const std::string& host, host_address* out) {
        std::lock_guard guard(lock_);
        const auto at = names_.find(host);
        if (at == names_.end()) return false;
        if (expired(at->second, GetTickCount64())) {
            names_.erase(at);
            return false;
        }
        out->address = at->second.address;
        out->resolvedAt = at->second.resolvedAt;
        out->remembered = true;
        return true;
    }
    void keep(const std::string& host, in_addr address, ULONGLONG resolvedAt) {
        std::lock_guard guard(lock_);
        if (names_.size() >= kMaxNames && !names_.contains(host)) make_room();
        names_[host] = kept_address{address, resolvedAt};
    }
    void forget(const std::string& host) {
        std::lock_guard guard(lock_);
        names_.erase(host);
    }

private:
    static bool expired(const kept_address& kept, ULONGLONG now) {
        return now - kept.resolvedAt >= KX_ADDRESS_LIFETIME_MS;
    }
    // Drops what has expired, or else the oldest.
    void make_room() {
        const ULONGLONG now = GetTickCount64();
        std::erase_if(names_, [now](const auto& entry) { return expired(entry.second, now); });
        if (names_.size() < kMaxNames) return;
        auto oldest = names_.begin();
        for (auto it = names_.begin(); it != names_.end(); ++it)
            if (it->second.resolvedAt < oldest->second.resolvedAt) oldest = it;
        names_.erase(oldest);
    }

    std::mutex lock_;
    std::unordered_map<std::string, kept_address> names_;
};

address_table& table() {
    static address_table t;
    return t;
}

bool is_numeric(const char* host) {
    in_addr ignored{};
    return ::inet_pton(AF_INET, host, &ignored) == 1;
}

}  // namespace

int host_address_resolve(const char* host, host_address* out) {
    *out = host_address{};
    out->resolvedAt = GetTickCount64();
    return sock_gethostbyname(host, &out->address);
}

int host_address_lookup(const char* host, host_address* out) {
    if (host && !is_numeric(host) && table().find(host, out)) return 0;
    return host_address_resolve(host, out);
}

void host_address_keep(const char* host, const host_address& resolved) {
    if (!host || resolved.remembered || is_numeric(host)) return;
    table().keep(host, resolved.address, resolved.resolvedAt);
}

void host_address_forget(const char* host) {
    if (host) table().forget(host);
}
