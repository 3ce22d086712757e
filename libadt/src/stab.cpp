#include <adt/hash.h>
#include <adt/pool.h>
#include <adt/stab.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

struct stab_entry {
    const char* name;  // first: the hash reads entries' names through it
    char* value;
    char nameBuffer[STAB_INLINE];
    char valueBuffer[STAB_INLINE];
    hash_link link;
};

bool value_on_heap(const stab_entry* e) { return e->value && e->value != e->valueBuffer; }

void free_entry(void* p) {
    auto* e = static_cast<stab_entry*>(p);
    if (e->name != e->nameBuffer) pool_free(nullptr, const_cast<char*>(e->name), ADT_HERE);
    if (value_on_heap(e)) pool_free(nullptr, e->value, ADT_HERE);
    pool_free(nullptr, e, ADT_HERE);
}

void* new_entry(const char* name, void*) {
    auto* e = static_cast<stab_entry*>(pool_calloc(nullptr, sizeof(stab_entry), ADT_HERE));
    if (!e) return nullptr;
    if (std::strlen(name) < STAB_INLINE) {
        std::strcpy(e->nameBuffer, name);
        e->name = e->nameBuffer;
    } else if (!(e->name = pool_strdup(nullptr, name, ADT_HERE))) {
        pool_free(nullptr, e, ADT_HERE);
        return nullptr;
    }
    e->value = e->valueBuffer;
    return e;
}

stab_rec* make_table() {
    auto* t = static_cast<stab_rec*>(pool_calloc(nullptr, sizeof(stab_rec), ADT_HERE));
    if (!t) return nullptr;
    t->hash = hash_new(STAB_BUCKETS, offsetof(stab_entry, link), hash_nocase, hash_compare_nocase, free_entry);
    if (!t->hash) {
        pool_free(nullptr, t, ADT_HERE);
        return nullptr;
    }
    return t;
}

void free_table(stab_rec* t) {
    hash_release(t->hash);
    pool_free(nullptr, t, ADT_HERE);
}

// Every request makes and frees a few tables (its reply's headers, the
// attributes of its root and of its results), and a table is four heap
// blocks, one of them 101 zeroed buckets. A thread keeps a few emptied ones
// for its next tables. The store is plain data, valid for the thread's whole
// life; the guard empties it when the thread ends and closes it, so a table
// freed later by another thread-local's destructor is simply freed.
struct kept_tables {
    static constexpr int kMax = 8;
    stab_rec* tables[kMax];
    int count;
    bool closed;
};
thread_local kept_tables t_kept{};

struct kept_tables_guard {
    bool armed = false;
    ~kept_tables_guard() {
        t_kept.closed = true;
        while (t_kept.count > 0) free_table(t_kept.tables[--t_kept.count]);
    }
};
thread_local kept_tables_guard t_keptGuard;

stab_rec* take_kept_table() { return t_kept.count > 0 ? t_kept.tables[--t_kept.count] : nullptr; }

bool keep_table(stab_rec* t) {
    if (t_kept.closed || t_kept.count >= kept_tables::kMax) return false;
    t_keptGuard.armed = true;  // constructs the guard, so it runs at the thread's end
    hash_clear(t->hash);
    t_kept.tables[t_kept.count++] = t;
    return true;
}

}  // namespace

stab_rec* stab_new(const char* name, ...) {
    stab_rec* t = take_kept_table();
    if (!t && !(t = make_table())) return nullptr;
    va_list ap;
    va_start(ap, name);
    // A missing value ends the list as well: nothing is read past a NULL.
    for (const char* n = name; n; n = va_arg(ap, const char*)) {
        const char* v = va_arg(ap, const char*);
        if (stab_set(t, n, v ? v : "") != 0) {
            va_end(ap);
            stab_free(t);
            return nullptr;
        }
        if (!v) break;
    }
    va_end(ap);
    return t;
}

int stab_set(stab_rec* t, const char* name, const char* value) {
    if (!t || !name || !value) {
        errno = EINVAL;
        return EINVAL;
    }
    auto* e = static_cast<stab_entry*>(hash_find_or_add(t->hash, name, new_entry, nullptr));
    if (!e) return 3;
    char* previous = value_on_heap(e) ? e->value : nullptr;
    int rc = 0;
    const size_t n = std::strlen(value);
    if (n < STAB_INLINE) {
        std::memmove(e->valueBuffer, value, n + 1);
        e->value = e->valueBuffer;
    } else if (char* copy = pool_strdup(nullptr, value, ADT_HERE)) {
        e->value = copy;
    } else {
        e->valueBuffer[0] = '\0';
        e->value = e->valueBuffer;
        rc = 3;
    }
    pool_free(nullptr, previous, ADT_HERE);
    return rc;
}

const char* stab_get(stab_rec* t, const char* name) {
    if (!t || !name) return "";
    const auto* e = static_cast<const stab_entry*>(hash_find(t->hash, name));
    return e ? e->value : "";
}

long stab_get_int(stab_rec* t, const char* name, long defaultValue) {
    if (!t || !name) return defaultValue;
    const auto* e = static_cast<const stab_entry*>(hash_find(t->hash, name));
    return e ? std::strtol(e->value, nullptr, 10) : defaultValue;
}

const char* stab_first(stab_rec* t, hash_cursor* cursor) {
    if (!t) return nullptr;
    const auto* e = static_cast<const stab_entry*>(hash_first(t->hash, cursor));
    return e ? e->name : nullptr;
}

const char* stab_next(stab_rec* t, hash_cursor* cursor) {
    if (!t) return nullptr;
    const auto* e = static_cast<const stab_entry*>(hash_next(t->hash, cursor));
    return e ? e->name : nullptr;
}

void stab_free(stab_rec* t) {
    if (!t) return;
    hash_rec* h = t->hash;
    if (h->references > 1) {
        hash_release(h);
        return;
    }
    if (!keep_table(t)) free_table(t);
}
