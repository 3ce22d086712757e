#include "invoke_common.h"

#include <platform/winsock.h>

#include <atomic>
#include <mutex>

#include <korvex/http.h>
#include <korvex/results.h>
#include <korvex/server.h>

#include <adt/pool.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {
constexpr int kDebugPiece = 32768;

// A reading opens one connection per request. The record with its read-ahead
// is too large for the allocator's per-thread cache, so the last one closed
// on a thread is kept there for the thread's next connection.
struct spare_record {
    http_conn_rec* record = nullptr;
    spare_record() = default;
    spare_record(const spare_record&) = delete;
    spare_record& operator=(const spare_record&) = delete;
    ~spare_record() { pool_free(nullptr, record, ADT_HERE); }
};
thread_local spare_record t_spare;
}  // namespace

bool kx_xmldebug_enabled() {
    const char* value = std::getenv("XMLDEBUG");
    return value && *value;
}

http_conn_rec* http_conn_wrap(shttpc_rec* socket) {
    auto* c = std::exchange(t_spare.record, nullptr);
    if (!c) c = static_cast<http_conn_rec*>(pool_malloc(nullptr, sizeof(http_conn_rec), ADT_HERE));
    if (!c) {
        shttpc_close(socket);
        return nullptr;
    }
    c->socket = socket;
    c->start = c->end = 0;
    return c;
}

void http_conn_recycle(http_conn_rec* connection) {
    if (!connection) return;
    if (!t_spare.record) t_spare.record = connection;
    else pool_free(nullptr, connection, ADT_HERE);
}

bool kx_consume_reply(http_conn_rec* connection, int debugStyle, long length) {
    auto* piece = static_cast<char*>(pool_malloc(nullptr, kDebugPiece, ADT_HERE));
    if (!piece) return false;
    for (long total = 0; length < 0 || total < length;) {
        const int n = http_conn_read(connection, piece, kDebugPiece);
        if (n <= 0) break;
        total += n;
        if (debugStyle == KX_DEBUG_PRINT_REPLY) std::fwrite(piece, 1, static_cast<size_t>(n), stdout);
    }
    pool_free(nullptr, piece, ADT_HERE);
    return true;
}

kx_elem_rec* kx_failed(const char* reason, int errorNumber) { return kx_results_make("failed", reason, errorNumber); }

namespace {
std::atomic<unsigned> g_replyTimeLimitMs{KX_REPLY_TIME_LIMIT_DEFAULT_MS};
}  // namespace

unsigned kx_reply_time_limit() { return g_replyTimeLimitMs.load(); }
void kx_set_reply_time_limit(unsigned milliseconds) { g_replyTimeLimitMs.store(milliseconds); }

int kx_start_sockets() {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] {
        WSADATA data{};
        result = WSAStartup(MAKEWORD(2, 2), &data);
    });
    return result;
}
