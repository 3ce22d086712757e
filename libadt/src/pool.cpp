#include <adt/log.h>
#include <adt/pool.h>
#include <adt/testpoint.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

// A pool keeps its records in a plain vector under a mutex: nothing outside the
// pool can see how the records are kept.
struct pool_rec {
    struct Record {
        void* object;
        pool_free_fn freeFn;
        const char* file;
        int line;
    };
    std::mutex lock;
    std::vector<Record> records;

    bool add(void* object, pool_free_fn freeFn, const char* file, int line) {
        std::lock_guard guard(lock);
        try {
            records.push_back({object, freeFn, file, line});
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    void forget(void* object) {
        std::lock_guard guard(lock);
        for (auto it = records.begin(); it != records.end(); ++it)
            if (it->object == object) {
                records.erase(it);
                return;
            }
    }
    void moved(uintptr_t oldKey, void* object) {
        std::lock_guard guard(lock);
        for (auto& r : records)
            if (reinterpret_cast<uintptr_t>(r.object) == oldKey) {
                r.object = object;
                return;
            }
    }
    void release_all() {
        std::vector<Record> left;
        {
            std::lock_guard guard(lock);
            left.swap(records);
        }
        for (auto it = left.rbegin(); it != left.rend(); ++it) it->freeFn(it->object);
    }
};

namespace {

void* tested(void* block, const char* file, int line) {
    return testpoint_pointer(block, "mem", "alloc", file, line);
}

void* recorded(pool_rec* pool, void* block, const char* file, int line) {
    if (block && pool && !pool->add(block, std::free, file, line)) {
        std::free(block);
        return nullptr;
    }
    return block;
}

pool_rec* g_default = nullptr;

}  // namespace

void* pool_malloc(pool_rec* pool, size_t size, const char* file, int line) {
    return recorded(pool, tested(std::malloc(size), file, line), file, line);
}

void* pool_calloc(pool_rec* pool, size_t size, const char* file, int line) {
    void* block = pool_malloc(pool, size, file, line);
    if (block) std::memset(block, 0, size);
    return block;
}

char* pool_strdup(pool_rec* pool, const char* text, const char* file, int line) {
    if (!text) return nullptr;
    return static_cast<char*>(recorded(pool, tested(strdup(text), file, line), file, line));
}

// The old address is only compared as a number, never followed.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif
void* pool_realloc(pool_rec* pool, void* block, size_t size, const char* file, int line) {
    const auto oldKey = reinterpret_cast<uintptr_t>(block);
    void* grown = tested(std::realloc(block, size), file, line);
    if (!grown) return nullptr;
    if (pool && oldKey) pool->moved(oldKey, grown);
    else if (pool) return recorded(pool, grown, file, line);
    return grown;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

void pool_free(pool_rec* pool, void* block, const char*, int) {
    if (!block) return;
    if (pool) pool->forget(block);
    std::free(block);
}

int pool_register(pool_rec* pool, pool_free_fn freeFn, void* object, const char* file, int line) {
    if (!pool || !freeFn) return -1;
    return pool->add(object, freeFn, file, line) ? 0 : -1;
}

pool_rec* pool_default() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_default = new (std::nothrow) pool_rec;
        if (g_default && std::atexit(pool_shutdown) != 0)
            log_write(nullptr, LOG_LEVEL_DEBUG, "Failed to register pool_shutdown() with atexit().\n");
    });
    return g_default;
}

void pool_shutdown() {
    if (g_default) g_default->release_all();
}
