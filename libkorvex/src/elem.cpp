#include <adt/pool.h>
#include <adt/stab.h>
#include <korvex/elem.h>

#include "elem_block.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

char* copy_text(const char* text) { return pool_strdup(nullptr, text, ADT_HERE); }

}  // namespace

namespace {

// The record with its name and `extra` bytes after the name in one block: a
// reply of many small elements would otherwise spend a heap block on each
// name and each text.
kx_elem_rec* make_element(const char* name, size_t extra) {
    if (!name) {
        errno = EINVAL;
        return nullptr;
    }
    const size_t length = std::strlen(name);
    auto* e = static_cast<kx_elem_rec*>(pool_malloc(nullptr, sizeof(kx_elem_rec) + length + 1 + extra, ADT_HERE));
    if (!e) {
        errno = ENOMEM;
        return nullptr;
    }
    *e = kx_elem_rec{};
    e->name = reinterpret_cast<char*>(e + 1);
    std::memcpy(e->name, name, length + 1);
    return e;
}

// Writes the text into the block just after the name.
void place_text(kx_elem_rec* e, const char* text, size_t length) {
    e->text = e->name + std::strlen(e->name) + 1;
    std::memcpy(e->text, text, length);
    e->text[length] = '\0';
}

}  // namespace

kx_elem_rec* kx_elem_create(const char* name) { return make_element(name, 0); }

kx_elem_rec* kx_elem_create_with_room(const char* name, size_t room) { return make_element(name, room); }

void kx_elem_destroy(kx_elem_rec* e) {
    if (!e) return;
    for (kx_elem_rec* child = e->firstChild; child;) {
        kx_elem_rec* next = child->next;
        kx_elem_destroy(child);
        child = next;
    }
    stab_free(e->attributes);
    if (!kx_elem_text_in_block(e)) pool_free(nullptr, e->text, ADT_HERE);
    pool_free(nullptr, e, ADT_HERE);
}

int kx_elem_set_text(kx_elem_rec* e, const char* text) {
    if (!e || !text) {
        errno = EINVAL;
        return 0;
    }
    char* copy = copy_text(text);
    if (!copy) {
        errno = ENOMEM;
        return 0;
    }
    if (!kx_elem_text_in_block(e)) pool_free(nullptr, e->text, ADT_HERE);
    e->text = copy;
    return 1;
}

bool kx_elem_text_in_block(const kx_elem_rec* e) {
    return e->text && e->text == e->name + std::strlen(e->name) + 1;
}

kx_elem_rec* kx_elem_embed_text(kx_elem_rec* e, size_t room, const char* text, size_t length) {
    if (length < room) {
        place_text(e, text, length);
        return e;
    }
    const size_t nameLength = std::strlen(e->name);
    auto* moved = static_cast<kx_elem_rec*>(
        pool_realloc(nullptr, e, sizeof(kx_elem_rec) + nameLength + 1 + length + 1, ADT_HERE));
    if (!moved) return nullptr;
    moved->name = reinterpret_cast<char*>(moved + 1);
    place_text(moved, text, length);
    return moved;
}

int kx_elem_put_attr(kx_elem_rec* e, const char* name, const char* value) {
    if (!e || !name || !value) {
        errno = EINVAL;
        return 0;
    }
    if (!e->attributes && !(e->attributes = stab_new(nullptr))) {
        errno = ENOMEM;
        return 0;
    }
    if (stab_set(e->attributes, name, value) != 0) {
        errno = ENOMEM;
        return 0;
    }
    return 1;
}

kx_elem_rec* kx_child_append(kx_elem_rec* parent, kx_elem_rec* child) {
    if (!parent || !child) {
        errno = EINVAL;
        return nullptr;
    }
    child->next = nullptr;
    if (parent->lastChild) parent->lastChild->next = child;
    else parent->firstChild = child;
    parent->lastChild = child;
    return child;
}

kx_elem_rec* kx_child_add_text(kx_elem_rec* parent, const char* name, const char* text) {
    if (!parent || !text) {
        errno = EINVAL;
        return nullptr;
    }
    const size_t length = std::strlen(text);
    kx_elem_rec* child = make_element(name, length + 1);
    if (!child) return nullptr;
    place_text(child, text, length);
    return kx_child_append(parent, child);
}

void kx_elem_unlink_child(kx_elem_rec* parent, kx_elem_rec* child) {
    if (!parent || !child) return;
    kx_elem_rec* previous = nullptr;
    for (kx_elem_rec* c = parent->firstChild; c; previous = c, c = c->next) {
        if (c != child) continue;
        if (previous) previous->next = c->next;
        else parent->firstChild = c->next;
        if (parent->lastChild == c) parent->lastChild = previous;
        c->next = nullptr;
        return;
    }
}

kx_elem_rec* kx_elem_find_child(kx_elem_rec* e, const char* name) {
    if (!e || !name) return nullptr;
    for (kx_elem_rec* c = e->firstChild; c; c = c->next)
        if (std::strcmp(c->name, name) == 0) return c;
    return nullptr;
}

const char* kx_child_text(kx_elem_rec* e, const char* name) {
    const kx_elem_rec* child = kx_elem_find_child(e, name);
    if (!child) return nullptr;
    return child->text ? child->text : "";
}

int kx_child_int(kx_elem_rec* e, const char* name, int defaultValue) {
    const char* text = kx_child_text(e, name);
    return text ? std::atoi(text) : defaultValue;
}

kx_elem_rec* kx_children_begin(kx_elem_rec* e) { return e ? e->firstChild : nullptr; }

kx_elem_rec* kx_children_next(kx_elem_rec** cursor) {
    if (!cursor || !*cursor) return nullptr;
    kx_elem_rec* current = *cursor;
    *cursor = current->next;
    return current;
}
