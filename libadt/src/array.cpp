#include <adt/array.h>
#include <adt/pool.h>

namespace {

constexpr int kFirstCapacity = 16;

// First allocation: max(16, needed); later ones multiply the capacity by the
// needed count over it, taken upwards.
bool grow(array_rec* a, int needed) {
    const int capacity =
        a->capacity == 0 ? (needed > kFirstCapacity ? needed : kFirstCapacity)
                         : a->capacity * ((needed + a->capacity - 1) / a->capacity);
    auto** items = static_cast<void**>(
        pool_realloc(nullptr, a->items, (static_cast<size_t>(capacity) + 1) * sizeof(void*), ADT_HERE));
    if (!items) return false;
    for (int i = a->capacity; i <= capacity; ++i) items[i] = ARRAY_END_MARKER;
    a->items = items;
    a->capacity = capacity;
    return true;
}

}  // namespace

array_rec* array_new(array_free_fn freeItem) {
    auto* a = static_cast<array_rec*>(pool_calloc(nullptr, sizeof(array_rec), ADT_HERE));
    if (!a) return nullptr;
    a->references = 1;
    a->freeItem = freeItem;
    return a;
}

int array_push(array_rec* a, void* item) {
    if (!a || a->count < 0) return 1;
    if (a->count == a->capacity && !grow(a, a->count + 1)) {
        ++a->failedStores;
        return 3;
    }
    void*& slot = a->items[a->count];
    if (slot != ARRAY_END_MARKER && a->freeItem) a->freeItem(slot);
    slot = item;
    ++a->count;
    return 0;
}

void* array_first(array_rec* a, int* cursor) {
    *cursor = 0;
    return (a && a->items) ? a->items[0] : ARRAY_END_MARKER;
}

void* array_next(array_rec* a, int* cursor) {
    if (!a || !a->items || *cursor >= a->capacity) return ARRAY_END_MARKER;
    return a->items[++*cursor];
}

void* array_end(array_rec*) { return ARRAY_END_MARKER; }

void array_release(array_rec* a) {
    if (!a || --a->references > 0) return;
    if (a->items) {
        for (int i = 0; i < a->capacity && a->items[i] != ARRAY_END_MARKER; ++i)
            if (a->freeItem) a->freeItem(a->items[i]);
        pool_free(nullptr, a->items, ADT_HERE);
    }
    pool_free(nullptr, a, ADT_HERE);
}
