#pragma once
// An element's record, name and (for a short reply text) text share one heap
// block: a reply of many small elements would otherwise spend a block, with
// its header and rounding, on each name and each text.
#include <cstddef>

struct kx_elem_rec;

// Whether the element's text lives in its own block (it is then not freed apart).
bool kx_elem_text_in_block(const kx_elem_rec* element);
// An element whose block keeps `room` bytes after its name for a text to come.
kx_elem_rec* kx_elem_create_with_room(const char* name, size_t room);
// Gives an element without text a copy of `length` bytes of text in its own
// block: in place when the text and its NUL fit the `room` the element was
// made with, otherwise in the block grown, which may move. The element's
// address, to which every link must be turned when it moved, or NULL (the
// element unchanged) when memory runs out.
kx_elem_rec* kx_elem_embed_text(kx_elem_rec* element, size_t room, const char* text, size_t length);
