#include <adt/hash.h>
#include <adt/pool.h>
#include <adt/zthread.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <strings.h>

namespace {

constexpr uint16_t kWeights[16] = {1, 3, 7, 11, 13, 17, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61};
constexpr int kHashedBytes = 128;
constexpr unsigned kGrowBuckets = 7;
constexpr unsigned kMaxGrowBuckets = 32766;

uint16_t weighted_sum(const char* name, bool fold) {
    uint16_t sum = 0;
    for (int i = 0; i < kHashedBytes && name[i]; ++i) {
        int byte = static_cast<signed char>(name[i]);
        if (fold && byte >= 'A' && byte <= 'Z') byte += 'a' - 'A';
        sum = static_cast<uint16_t>(sum + byte * kWeights[i % 16]);
    }
    return sum;
}

hash_link* link_of(const hash_rec* t, void* entry) {
    return reinterpret_cast<hash_link*>(static_cast<char*>(entry) + t->linkPosition);
}
const char* name_of(void* entry) { return *static_cast<const char**>(entry); }

// Grows to 2n + 1 buckets once the load reaches two entries per bucket. A
// failed allocation leaves the table as it was.
void grow_when_due(hash_rec* t) {
    if (!t->grow || t->count * 100 / t->bucketCount < 200 || t->bucketCount > kMaxGrowBuckets) return;
    const unsigned newCount = 2u * t->bucketCount + 1u;
    auto** fresh = static_cast<void**>(pool_calloc(nullptr, newCount * sizeof(void*), ADT_HERE));
    if (!fresh) return;
    for (unsigned b = 0; b < t->bucketCount; ++b) {
        for (void* e = t->buckets[b]; e;) {
            hash_link* l = link_of(t, e);
            void* next = l->next;
            const unsigned nb = l->hash % newCount;
            l->next = fresh[nb];
            fresh[nb] = e;
            e = next;
        }
    }
    std::memset(t->buckets, 0xB0, t->bucketCount * sizeof(void*));
    pool_free(nullptr, t->buckets, ADT_HERE);
    t->buckets = fresh;
    t->bucketCount = static_cast<uint16_t>(newCount);
}

void* scan_from(hash_rec* t, unsigned bucket, hash_cursor* cursor) {
    zthread_mutex_lock(t->mutex);
    while (bucket < t->bucketCount && !t->buckets[bucket]) ++bucket;
    void* entry = bucket < t->bucketCount ? t->buckets[bucket] : nullptr;
    zthread_mutex_unlock(t->mutex);
    cursor->bucket = bucket;
    cursor->entry = entry;
    return entry;
}

}  // namespace

uint16_t hash_nocase(const char* name) { return weighted_sum(name, true); }
uint16_t hash_case(const char* name) { return weighted_sum(name, false); }
int hash_compare_nocase(const char* a, const char* b) { return strcasecmp(a, b); }
int hash_compare_case(const char* a, const char* b) { return std::strcmp(a, b); }

hash_rec* hash_new(unsigned size, size_t linkPosition, hash_fn hash, hash_compare_fn compare, hash_free_fn freeEntry) {
    const unsigned buckets = size ? size : kGrowBuckets;
    if (buckets > 0xFFFF) return nullptr;
    auto* t = static_cast<hash_rec*>(pool_calloc(nullptr, sizeof(hash_rec), ADT_HERE));
    if (!t) return nullptr;
    t->buckets = static_cast<void**>(pool_calloc(nullptr, buckets * sizeof(void*), ADT_HERE));
    t->mutex = zthread_mutex_new();
    if (!t->buckets || !t->mutex) {
        pool_free(nullptr, t->buckets, ADT_HERE);
        zthread_mutex_free(t->mutex);
        pool_free(nullptr, t, ADT_HERE);
        return nullptr;
    }
    t->references = 1;
    t->bucketCount = static_cast<uint16_t>(buckets);
    t->linkPosition = linkPosition;
    t->replace = 1;
    t->grow = size == 0;
    t->hash = hash ? hash : hash_nocase;
    t->compare = compare ? compare : hash_compare_nocase;
    t->freeEntry = freeEntry;
    return t;
}

int hash_insert(hash_rec* t, const char* name, void* entry) {
    zthread_mutex_lock(t->mutex);
    grow_when_due(t);
    hash_link* link = link_of(t, entry);
    link->hash = t->hash(name);
    void** slot = &t->buckets[link->hash % t->bucketCount];
    for (; *slot; slot = &link_of(t, *slot)->next) {
        if (t->compare(name_of(*slot), name) != 0) continue;
        if (!t->replace) {
            zthread_mutex_unlock(t->mutex);
            return 1;
        }
        void* old = *slot;
        link->next = link_of(t, old)->next;
        *slot = entry;
        if (t->freeEntry) t->freeEntry(old);
        zthread_mutex_unlock(t->mutex);
        return 0;
    }
    void** head = &t->buckets[link->hash % t->bucketCount];
    link->next = *head;
    *head = entry;
    ++t->count;
    zthread_mutex_unlock(t->mutex);
    return 0;
}

void* hash_find_or_add(hash_rec* t, const char* name, hash_make_fn make, void* context) {
    zthread_mutex_lock(t->mutex);
    const uint16_t hash = t->hash(name);
    void* e = t->buckets[hash % t->bucketCount];
    while (e && t->compare(name_of(e), name) != 0) e = link_of(t, e)->next;
    if (!e && (e = make(name, context))) {
        grow_when_due(t);
        hash_link* link = link_of(t, e);
        link->hash = hash;
        void** head = &t->buckets[hash % t->bucketCount];
        link->next = *head;
        *head = e;
        ++t->count;
    }
    zthread_mutex_unlock(t->mutex);
    return e;
}

void* hash_find(hash_rec* t, const char* name) {
    zthread_mutex_lock(t->mutex);
    void* e = t->buckets[t->hash(name) % t->bucketCount];
    while (e && t->compare(name_of(e), name) != 0) e = link_of(t, e)->next;
    zthread_mutex_unlock(t->mutex);
    return e;
}

void* hash_first(hash_rec* t, hash_cursor* cursor) { return scan_from(t, 0, cursor); }

void* hash_next(hash_rec* t, hash_cursor* cursor) {
    if (!cursor->entry) return nullptr;
    if (void* next = link_of(t, cursor->entry)->next) {
        cursor->entry = next;
        return next;
    }
    return scan_from(t, cursor->bucket + 1, cursor);
}

void hash_clear(hash_rec* t) {
    zthread_mutex_lock(t->mutex);
    // The scan ends with the last entry: a table of a few names would
    // otherwise walk all its empty buckets.
    void** buckets = t->buckets;
    size_t left = t->count;
    for (unsigned b = 0, n = t->bucketCount; left > 0 && b < n; ++b) {
        // Empty buckets are passed four at a time.
        while (b + 4 <= n && (reinterpret_cast<uintptr_t>(buckets[b]) | reinterpret_cast<uintptr_t>(buckets[b + 1]) |
                              reinterpret_cast<uintptr_t>(buckets[b + 2]) | reinterpret_cast<uintptr_t>(buckets[b + 3])) == 0)
            b += 4;
        if (b >= n) break;
        void* e = buckets[b];
        if (!e) continue;
        buckets[b] = nullptr;
        for (; e; --left) {
            void* next = link_of(t, e)->next;
            if (t->freeEntry) t->freeEntry(e);
            e = next;
        }
    }
    t->count = 0;
    zthread_mutex_unlock(t->mutex);
}

void hash_release(hash_rec* t) {
    if (!t || --t->references > 0) return;
    hash_clear(t);
    pool_free(nullptr, t->buckets, ADT_HERE);
    zthread_mutex_free(t->mutex);
    pool_free(nullptr, t, ADT_HERE);
}
