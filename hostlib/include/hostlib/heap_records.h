#pragma once
// Results of the administration library: record lists and raw-read blocks
// allocated on the process heap by that library, freed here after use.
#include <platform/kvxadmin.h>

// Frees every present text of the records, then the array; leaves the list empty.
void free_heap_record_list(kvx_record_list* list);
// Frees the data block and clears its pointer.
void free_heap_buffer(kvx_buffer* buffer);
