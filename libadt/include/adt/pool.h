#pragma once
// Memory functions of the runtime. The first argument is an optional pool, the
// last two the caller's source file and line. No pool means the process heap;
// a pool also records each block (and each object given to pool_register)
// so that it can free what is left when it shuts down.
#include <cstddef>

struct pool_rec;
using pool_free_fn = void (*)(void* object);

#define ADT_HERE __FILE__, __LINE__

void* pool_malloc(pool_rec* pool, size_t size, const char* file, int line);
void* pool_calloc(pool_rec* pool, size_t size, const char* file, int line);
char* pool_strdup(pool_rec* pool, const char* text, const char* file, int line);
void* pool_realloc(pool_rec* pool, void* block, size_t size, const char* file, int line);
// NULL is ignored.
void pool_free(pool_rec* pool, void* block, const char* file, int line);
// Records an object with its own free function; 0, or -1 when it cannot be recorded.
int pool_register(pool_rec* pool, pool_free_fn freeFn, void* object, const char* file, int line);

// The process's default pool; the first use registers pool_shutdown at exit.
pool_rec* pool_default();
// Frees everything still recorded in the default pool.
void pool_shutdown();
