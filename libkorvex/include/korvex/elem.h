#pragma once
// Request and reply elements: plain records and functions over a tree. The
// building functions report a bad argument or an exhausted heap through their
// result and errno (EINVAL, ENOMEM); nothing here throws or logs. Text is
// UTF-8 and NUL-terminated throughout.

struct stab_rec;

struct kx_elem_rec {
    char* name;                // never absent; held in the record's own block
    stab_rec* attributes;      // absent until the first attribute is set
    char* text;                // owned; absent text and empty text differ
    kx_elem_rec* firstChild;
    kx_elem_rec* lastChild;
    kx_elem_rec* next;         // the following child of the same parent
};

// Building.
kx_elem_rec* kx_elem_create(const char* name);
// Frees the element, its attributes, its text and all its children; not its
// siblings, and it does not unlink it from a parent. NULL does nothing.
void kx_elem_destroy(kx_elem_rec* element);
// 1, or 0 (the old text stays).
int kx_elem_set_text(kx_elem_rec* element, const char* text);
// Sets an attribute, replacing one whose name matches without regard to case; 1 or 0.
int kx_elem_put_attr(kx_elem_rec* element, const char* name, const char* value);
// Appends an element that is in no other list; returns the child, or NULL.
kx_elem_rec* kx_child_append(kx_elem_rec* parent, kx_elem_rec* child);
// A new child with a copy of the text, appended; NULL (nothing appended) on failure.
kx_elem_rec* kx_child_add_text(kx_elem_rec* parent, const char* name, const char* text);
// A new child whose text is the value encrypted with RC4 and written as
// lowercase hexadecimal; key NULL means the built-in key, an empty key is
// refused (EINVAL).
kx_elem_rec* kx_child_add_encrypted(kx_elem_rec* parent, const char* name, const char* value, const char* key);
// Removes the child (by identity) without freeing it; a stranger changes nothing.
void kx_elem_unlink_child(kx_elem_rec* parent, kx_elem_rec* child);

// Querying: names compared byte for byte, the first match in document order.
kx_elem_rec* kx_elem_find_child(kx_elem_rec* element, const char* name);
// The child's text ("" when it has none); NULL when there is no such child.
const char* kx_child_text(kx_elem_rec* element, const char* name);
// atoi of the child's text; the default when there is no such child.
int kx_child_int(kx_elem_rec* element, const char* name, int defaultValue);
// Iteration: cursor = kx_children_begin(e); while ((c = kx_children_next(&cursor))) ...
kx_elem_rec* kx_children_begin(kx_elem_rec* element);
kx_elem_rec* kx_children_next(kx_elem_rec** cursor);

// The built-in encryption key: 16 bytes, 15 printable characters and one control character.
constexpr int KX_BUILTIN_KEY_LENGTH = 16;
const unsigned char* kx_builtin_key();
