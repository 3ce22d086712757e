#pragma once
// The runtime's chained hash table. Entries are the caller's records; each
// begins with a pointer to its name (const char*) and holds a hash_link at the
// position given to hash_new. Iteration order is the buckets in ascending index,
// each chain from its head (the entry inserted last first); callers rely on it
// (it is the order of attributes on the wire).
#include <cstddef>
#include <cstdint>

struct zthread_mutex_s;

using hash_fn = uint16_t (*)(const char* name);
using hash_compare_fn = int (*)(const char* a, const char* b);
using hash_free_fn = void (*)(void* entry);
// Builds the entry for a name that is not in the table yet; NULL when it cannot.
using hash_make_fn = void* (*)(const char* name, void* context);

struct hash_link {
    uint16_t hash;
    void* next;
};

struct hash_rec {
    int16_t references;
    uint16_t bucketCount;
    void** buckets;
    size_t linkPosition;
    int replace;
    int grow;
    size_t count;
    hash_fn hash;
    hash_compare_fn compare;
    hash_free_fn freeEntry;
    zthread_mutex_s* mutex;
};

struct hash_cursor {
    unsigned bucket;
    void* entry;
};

// Sum of tolower(byte) x weight over at most 128 bytes, 16-bit arithmetic,
// bytes signed; the weights 1, 3, 7, 11, ... 61 repeat every 16 bytes.
uint16_t hash_nocase(const char* name);
uint16_t hash_case(const char* name);
int hash_compare_nocase(const char* a, const char* b);
int hash_compare_case(const char* a, const char* b);

// size 0: 7 buckets that grow; otherwise that many buckets, fixed.
// Missing functions take the case-insensitive defaults. NULL when out of memory.
hash_rec* hash_new(unsigned size, size_t linkPosition, hash_fn hash, hash_compare_fn compare, hash_free_fn freeEntry);
// 0, or 1 when the name exists and replacing is off. An existing entry of the
// same name is freed and replaced in place.
int hash_insert(hash_rec* table, const char* name, void* entry);
void* hash_find(hash_rec* table, const char* name);
// The entry of that name; when there is none, the one `make` builds, put at
// the head of its chain (the table grows first when due). One lock and one
// hash for both steps. NULL when the name is absent and `make` fails.
void* hash_find_or_add(hash_rec* table, const char* name, hash_make_fn make, void* context);
void* hash_first(hash_rec* table, hash_cursor* cursor);
void* hash_next(hash_rec* table, hash_cursor* cursor);
// Frees every entry; the table stays, empty, with its buckets.
void hash_clear(hash_rec* table);
// Drops one reference; at zero frees every entry, the buckets and the table.
void hash_release(hash_rec* table);
