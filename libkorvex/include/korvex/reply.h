#pragma once
// Reply parsing: the reply document is turned into elements while it arrives,
// through the event interface of libxml2's push parser, and the caller gets
// the `results` element alone. A reply is untrusted: no external entity or
// DTD is ever loaded and no declared entity is expanded.
#include <cstddef>

struct kx_elem_rec;
struct http_conn_rec;

constexpr int XML_STACK_SIZE = 20;  // nesting limit, the root counting as the first level
constexpr int XML_READ_PIECE = 1024;
// The parser is fed in pieces of this size wherever that much has arrived:
// libxml2 rescans an unfinished construct on every piece it is fed.
constexpr int XML_FEED_PIECE = 64 * 1024;
// A document type whose internal subset is longer fails the reply at once:
// nothing in a reply needs one, and libxml2 rescans an unfinished subset.
constexpr size_t XML_INTERNAL_SUBSET_MAX = 4096;
// What one reply may take of the heap: every element, attribute and text the
// parse keeps is charged to it, and no more bytes than this are read. A reply
// that would take more fails ("XML reply is too large!") and is read no
// further, so a broken or hostile appliance that never stops sending cannot
// exhaust the memory of the service. Far above the largest list an appliance
// sends.
constexpr size_t XML_REPLY_BUDGET = size_t{64} << 20;

struct xml_stack_entry {
    kx_elem_rec* element;
    kx_elem_rec* previous;  // the sibling before it, whose link follows the element when it moves
    // The parent's character data, set aside while this element is open.
    char* savedText;
    size_t savedLength;
    size_t savedCapacity;
};

struct xml_context_rec {
    char* errorText;  // absent while the reply is sound
    // Character data of the innermost open element; it becomes that element's
    // text when the element ends, so each text is held once.
    char* text;
    size_t textLength;
    size_t textCapacity;
    // A buffer left by an element whose short text was copied, for the next one.
    char* spare;
    size_t spareCapacity;
    xml_stack_entry* stack;
    int stackSize;
    int depth;        // innermost open element; -1 before the root opens
    int ignored;      // open levels that were not pushed (too deep or not built)
    int debug;        // echo the reply bytes to standard error ("XMLDEBUG")
    size_t budget;    // what the kept tree may still take; XML_REPLY_BUDGET at creation
    size_t readLimit; // bytes that may still be read; XML_REPLY_BUDGET at creation
    int tooLarge;     // the budget ran out: nothing more is read or built
    int halted;       // the parse was stopped: nothing more is read or parsed
    void* parser;     // the libxml2 parser while one is running
    long subsetStart; // where the document type's internal subset begins; -1 when none is open
};

xml_context_rec* xml_create();
void xml_destroy(xml_context_rec* context);

// Reads the body from the connection and parses it: up to contentLength bytes
// (plus the rest of the last read), or to the end of the stream when it is
// negative. A length of 0 reads nothing.
void xml_parse_stream(http_conn_rec* connection, xml_context_rec* context, long contentLength);
// The same for a body sent with "Transfer-Encoding: chunked": de-chunked
// before it reaches the parser, read up to the last chunk.
void xml_parse_stream_chunked(http_conn_rec* connection, xml_context_rec* context);
// 1 (also for an empty text), 0 when the parser cannot be made.
int xml_parse_string(const char* text, xml_context_rec* context);

// The parser's event handlers; the context is the parser's user data.
void xml_start_element(void* context, const unsigned char* name, const unsigned char** attributes);
void xml_end_element(void* context, const unsigned char* name);
void xml_characters(void* context, const unsigned char* text, int length);
void xml_error(void* context, const char* message, ...) __attribute__((format(printf, 2, 3)));

// Takes the root out of the context: the `results` element, the whole root
// when it holds more than `results`, or a failed `results` element.
kx_elem_rec* kx_reply_unwrap(xml_context_rec* context);
// The failed `results` element of a reply whose context holds an error text.
kx_elem_rec* kx_reply_parse_error(xml_context_rec* context);
// The outcome of a parsed reply: the parse failure when there is one, else
// the unwrapped reply.
kx_elem_rec* kx_reply_outcome(xml_context_rec* context);
