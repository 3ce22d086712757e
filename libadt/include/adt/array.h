#pragma once
// The growable array. Every free slot holds the end marker, which also ends
// every iteration, so the marker itself cannot be stored as an item.
using array_free_fn = void (*)(void* item);

#define ARRAY_END_MARKER (reinterpret_cast<void*>(static_cast<unsigned long>(0x80818283u)))

struct array_rec {
    int capacity;
    int count;
    int references;
    int failedStores;
    void** items;  // capacity + 1 slots
    array_free_fn freeItem;
};

// NULL when it cannot be allocated.
array_rec* array_new(array_free_fn freeItem);
// 0; 1 for an array in an invalid state; 3 when the items cannot grow (the
// failure is counted and the items stored so far stay).
int array_push(array_rec* array, void* item);
// The item at the cursor, or the end marker.
void* array_first(array_rec* array, int* cursor);
void* array_next(array_rec* array, int* cursor);
void* array_end(array_rec* array);
// Drops one reference; at zero frees the items up to the first end marker.
void array_release(array_rec* array);
