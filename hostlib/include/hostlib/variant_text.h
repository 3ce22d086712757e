#pragma once
// VARIANT helpers of the MPIO manager.
#include <cstddef>

#include <platform/safearray.h>

// Copies the elements of a one-dimensional array held by the VARIANT, lower
// bound first, into consecutive 8-byte slots (SafeArrayGetElement: strings and
// references are copies the caller owns). Copies at most `capacity` elements
// and returns how many it copied; 0 for an empty or missing array.
size_t SafeArrayToArray(const VARIANT* value, void* slots, size_t capacity);

// A new text describing the value for trace lines, also stored in `*text`;
// the caller frees it with free. Null for the types that have no text form.
WCHAR* VariantToText(const VARIANT* value, WCHAR** text);
