#include <korvex/elem.h>
#include <korvex/http.h>
#include <korvex/reply.h>
#include <korvex/results.h>
#include <korvex/status.h>

#include <adt/pool.h>
#include <adt/str.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include "chunked.h"
#include "elem_block.h"

namespace {

// Parser messages beyond this are dropped: a hostile reply could otherwise
// grow the reason without bound.
constexpr size_t kErrorTextLimit = 16 * 1024;

// What an element and an attribute table cost beyond their texts: records,
// heap block headers and the table's buckets.
constexpr size_t kElementCharge = 96;
// Room for a short text kept in each element's block from the start: most
// reply elements hold a short value, which then needs no second allocation.
constexpr size_t kTextRoom = 40;
constexpr size_t kAttributeTableCharge = 1024;
constexpr size_t kAttributeCharge = 128;
constexpr size_t kFirstTextCapacity = 64;
constexpr size_t kEmbeddedTextMax = 1024;
constexpr const char* kTooLarge = "XML reply is too large!";
constexpr const char* kTooDeep = "XML is too deeply nested!";
constexpr const char* kSubsetTooLarge = "XML document type is too large!";

xml_context_rec* context_of(void* p) { return static_cast<xml_context_rec*>(p); }

void set_error(xml_context_rec* c, const char* text) {
    pool_free(nullptr, c->errorText, ADT_HERE);
    c->errorText = pool_strdup(nullptr, text, ADT_HERE);
}

// Ends the parse where it stands: libxml2 reports nothing more and no more
// of the reply is read.
void halt(xml_context_rec* c, const char* text) {
    set_error(c, text);
    c->halted = 1;
    if (c->parser) xmlStopParser(static_cast<xmlParserCtxtPtr>(c->parser));
}

// Takes n from the reply's budget; false once it has run out.
bool charge(xml_context_rec* c, size_t n) {
    if (!c->tooLarge && n <= c->budget) {
        c->budget -= n;
        return true;
    }
    c->tooLarge = 1;
    c->halted = 1;
    if (c->parser) xmlStopParser(static_cast<xmlParserCtxtPtr>(c->parser));
    return false;
}

void refund(xml_context_rec* c, size_t n) { c->budget += n; }

// Counts n received bytes against the read limit; false once it is passed.
bool receive(xml_context_rec* c, size_t n) {
    if (n <= c->readLimit) {
        c->readLimit -= n;
        return true;
    }
    charge(c, c->budget + 1);
    return false;
}

size_t element_cost(const unsigned char* name, const unsigned char** attributes) {
    size_t cost = kElementCharge + kTextRoom + std::strlen(reinterpret_cast<const char*>(name));
    if (attributes && attributes[0]) cost += kAttributeTableCharge;
    for (int i = 0; attributes && attributes[i]; i += 2) {
        cost += kAttributeCharge + std::strlen(reinterpret_cast<const char*>(attributes[i]));
        if (attributes[i + 1]) cost += std::strlen(reinterpret_cast<const char*>(attributes[i + 1]));
    }
    return cost;
}

// Where the parser stands in the reply, in bytes from its start.
long parser_position(xmlParserCtxtPtr p) {
    if (!p || !p->input) return 0;
    return static_cast<long>(p->input->consumed) + static_cast<long>(p->input->cur - p->input->base);
}

// The document type opens: its internal subset, if any, starts here.
void xml_internal_subset(void* p, const xmlChar*, const xmlChar*, const xmlChar*) {
    xml_context_rec* c = context_of(p);
    c->subsetStart = parser_position(static_cast<xmlParserCtxtPtr>(c->parser));
}

// The document type is complete; libxml2 announces the external subset here,
// which is never loaded.
void xml_subset_end(void* p, const xmlChar*, const xmlChar*, const xmlChar*) {
    xml_context_rec* c = context_of(p);
    if (c->subsetStart < 0) return;
    const long length = parser_position(static_cast<xmlParserCtxtPtr>(c->parser)) - c->subsetStart;
    c->subsetStart = -1;
    if (length > static_cast<long>(XML_INTERNAL_SUBSET_MAX)) halt(c, kSubsetTooLarge);
}

// Only the element, character-data and message events are handled, and the
// two that bound the document type: no entity, DTD or external-subset handler
// exists, so a reply's document type and its declared entities load and
// expand nothing.
xmlSAXHandler make_handler() {
    xmlSAXHandler h{};
    h.internalSubset = xml_internal_subset;
    h.externalSubset = xml_subset_end;
    h.startElement = xml_start_element;
    h.endElement = xml_end_element;
    h.characters = xml_characters;
    h.warning = xml_error;
    h.error = xml_error;
    h.fatalError = xml_error;
    return h;
}

xmlSAXHandler* handler() {
    static xmlSAXHandler h = make_handler();
    return &h;
}

void echo(const xml_context_rec* c, const char* bytes, size_t n) {
    if (c->debug && n > 0) std::fwrite(bytes, 1, n, stderr);
}

// libxml2 gives every new input a buffer of twice its default size, 8 KB:
// too large for the allocator's per-thread cache, so each reply paid a search
// of the heap for it. Nearly every reply is well under 1 KB and the buffer
// grows for the others. The default is libxml2's per-thread setting, so it
// is changed only while this parser takes its input and then put back.
class small_input_buffer {
public:
    small_input_buffer() : saved_(xmlDefaultBufferSize) { xmlDefaultBufferSize = kSize; }
    ~small_input_buffer() { xmlDefaultBufferSize = saved_; }
    small_input_buffer(const small_input_buffer&) = delete;
    small_input_buffer& operator=(const small_input_buffer&) = delete;

private:
    static constexpr int kSize = 500;
    int saved_;
};

// A libxml2 push parser kept by each thread between its replies: making one
// (its dictionary, name and node tables, attribute arrays) costs as much as
// parsing a short reply, and a discovery parses thousands of them. It is kept
// only after a reply that parsed cleanly and left the dictionary small, so a
// broken or hostile reply never shapes the parse of the next one.
class thread_parser {
public:
    thread_parser() = default;
    ~thread_parser() { discard(); }
    thread_parser(const thread_parser&) = delete;
    thread_parser& operator=(const thread_parser&) = delete;

    // The parser for a reply whose first piece this is, or null.
    xmlParserCtxtPtr start(xml_context_rec* c, const char* bytes, size_t n) {
        const int size = static_cast<int>(n);
        const small_input_buffer smallInput;
        if (parser_ && xmlCtxtResetPush(parser_, bytes, size, nullptr, nullptr) != 0) discard();
        if (!parser_) parser_ = xmlCreatePushParserCtxt(handler(), c, bytes, size, nullptr);
        if (!parser_) return nullptr;
        parser_->userData = c;
        // Predefined entities and character references arrive replaced in
        // attribute values too. No other entity can be found: without an
        // entity handler nothing declared in a reply is ever looked up.
        xmlCtxtUseOptions(parser_, XML_PARSE_NOENT | XML_PARSE_NONET);
        return parser_;
    }
    // The reply is done: keep the parser for the next one, or free it.
    void finish(bool clean) {
        // libxml2 records the declarations of a reply's internal subset in a
        // document of its own even in event mode; nothing reads it.
        if (parser_->myDoc) xmlFreeDoc(parser_->myDoc);
        parser_->myDoc = nullptr;
        parser_->userData = nullptr;
        if (!clean || !parser_->dict || xmlDictGetUsage(parser_->dict) > kKeptDictionaryMax) discard();
    }

private:
    // The names of the appliance's vocabulary take a few kilobytes.
    static constexpr size_t kKeptDictionaryMax = 64 * 1024;

    void discard() {
        if (parser_) xmlFreeParserCtxt(parser_);
        parser_ = nullptr;
    }

    xmlParserCtxtPtr parser_ = nullptr;
};

// A thread's kept parser and feed buffer, lent to one reply at a time.
struct thread_reply_state {
    thread_parser parser;
    char* feed = nullptr;
    bool busy = false;      // the parser is lent out
    bool busyFeed = false;  // the feed buffer is lent out
    ~thread_reply_state() { pool_free(nullptr, feed, ADT_HERE); }
};

thread_local thread_reply_state t_reply;

// The push parser of one reply, made with the first piece of the body: the
// thread's own when it is free, one of the reply's own otherwise.
class push_parser {
public:
    // libxml2 reports input conversion failures through its per-thread
    // generic handler, which writes to standard error: during the parse they
    // are the reply's messages like any other.
    explicit push_parser(xml_context_rec* c)
        : context_(c), previousHandler_(xmlGenericError), previousContext_(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(c, xml_error);
    }
    ~push_parser() {
        finish();
        xmlSetGenericErrorFunc(previousContext_, previousHandler_);
    }
    push_parser(const push_parser&) = delete;
    push_parser& operator=(const push_parser&) = delete;

    // false when the parser cannot be made.
    bool feed(const char* bytes, size_t n) {
        if (n == 0 || context_->halted) return true;
        if (!parser_) {
            if (!t_reply.busy) {
                t_reply.busy = true;
                owner_ = &t_reply.parser;
            } else {
                owner_ = &own_;
            }
            parser_ = owner_->start(context_, bytes, n);
            if (!parser_) return false;
            context_->parser = parser_;
        } else {
            xmlParseChunk(parser_, bytes, static_cast<int>(n), 0);
        }
        check_subset();
        return true;
    }
    void finish() {
        if (parser_) {
            xmlParseChunk(parser_, nullptr, 0, 1);
            owner_->finish(!context_->errorText && !context_->halted);
            parser_ = nullptr;
            context_->parser = nullptr;
        }
        if (owner_ == &t_reply.parser) t_reply.busy = false;
        owner_ = nullptr;
        // The reply was cut off: the parser's complaints about its end say nothing more.
        if (context_->tooLarge) set_error(context_, kTooLarge);
    }

private:
    // A document type still open after what was fed counts all that libxml2
    // holds of it: its start tag waits for a ">", its subset for the "]>".
    void check_subset() {
        if (context_->halted || !parser_->input) return;
        const xmlParserInputPtr in = parser_->input;
        const auto held = static_cast<size_t>(in->end - in->cur);
        if (held <= XML_INTERNAL_SUBSET_MAX) return;
        const bool beforeRoot = context_->depth < 0 && !context_->stack[0].element;
        const bool doctype = std::memcmp(in->cur, "<!DOCTYPE", 9) == 0;
        if (parser_->instate == XML_PARSER_DTD || (beforeRoot && doctype)) halt(context_, kSubsetTooLarge);
    }

    xml_context_rec* context_;
    thread_parser own_;
    thread_parser* owner_ = nullptr;
    xmlParserCtxtPtr parser_ = nullptr;
    xmlGenericErrorFunc previousHandler_;
    void* previousContext_;
};

// Collects the bytes read from a connection into pieces of XML_FEED_PIECE:
// in the thread's kept buffer when it is free.
class feed_buffer {
public:
    feed_buffer() {
        if (!t_reply.feed) t_reply.feed = static_cast<char*>(pool_malloc(nullptr, XML_FEED_PIECE, ADT_HERE));
        if (t_reply.feed && !t_reply.busyFeed) {
            t_reply.busyFeed = true;
            data_ = t_reply.feed;
        } else {
            data_ = own_ = static_cast<char*>(pool_malloc(nullptr, XML_FEED_PIECE, ADT_HERE));
        }
    }
    ~feed_buffer() {
        if (own_) pool_free(nullptr, own_, ADT_HERE);
        else if (data_) t_reply.busyFeed = false;
    }
    feed_buffer(const feed_buffer&) = delete;
    feed_buffer& operator=(const feed_buffer&) = delete;

    bool valid() const { return data_ != nullptr; }
    char* space() { return data_ + used_; }
    size_t room() const { return XML_FEED_PIECE - used_; }
    void filled(size_t n) { used_ += n; }
    char* data() { return data_; }
    size_t used() const { return used_; }
    void clear() { used_ = 0; }

private:
    char* data_ = nullptr;
    char* own_ = nullptr;
    size_t used_ = 0;
};

// Reads once into the buffer: the byte count, 0 at the end of the stream or
// when the reply may be read no further.
size_t read_some(http_conn_rec* connection, xml_context_rec* c, feed_buffer& buffer) {
    const int n = http_conn_read(connection, buffer.space(), static_cast<int>(buffer.room()));
    if (n <= 0 || !receive(c, static_cast<size_t>(n))) return 0;
    echo(c, buffer.space(), static_cast<size_t>(n));
    return static_cast<size_t>(n);
}

// Makes room for n more bytes of character data; the growth is charged.
bool reserve_text(xml_context_rec* c, size_t n) {
    const size_t needed = c->textLength + n + 1;
    if (needed <= c->textCapacity) return true;
    // Doubling, but near the end of the budget only to what is left of it.
    const size_t doubled = std::max(c->textCapacity * 2, kFirstTextCapacity);
    const size_t capacity = std::max(needed, std::min(doubled, c->textCapacity + c->budget));
    if (!charge(c, capacity - c->textCapacity)) return false;
    char* grown = static_cast<char*>(pool_realloc(nullptr, c->text, capacity, ADT_HERE));
    if (!grown) {
        refund(c, capacity - c->textCapacity);
        set_error(c, "Unable to allocate memory for elements!");
        return false;
    }
    c->text = grown;
    c->textCapacity = capacity;
    return true;
}

// Keeps the innermost buffer for the next element, or frees it.
void keep_spare(xml_context_rec* c) {
    if (!c->spare) {
        c->spare = c->text;
        c->spareCapacity = c->textCapacity;
    } else {
        pool_free(nullptr, c->text, ADT_HERE);
        refund(c, c->textCapacity);
    }
    c->text = nullptr;
    c->textLength = c->textCapacity = 0;
}

// Turns the links to an element that moved: its parent's, or its sibling's.
void relink(xml_context_rec* c, xml_stack_entry& entry, kx_elem_rec* moved) {
    entry.element = moved;
    if (c->depth == 0) return;
    kx_elem_rec* parent = c->stack[c->depth - 1].element;
    parent->lastChild = moved;
    if (entry.previous) entry.previous->next = moved;
    else parent->firstChild = moved;
}

// The innermost element's character data becomes its text. A short text is
// copied into the element's own block and the buffer kept for the next
// element; a long one is handed over, trimmed to size, so it is held once.
void hand_text_to(xml_context_rec* c, xml_stack_entry& entry) {
    if (c->textLength == 0) return keep_spare(c);
    kx_elem_rec* element = entry.element;
    if (c->textLength <= kEmbeddedTextMax) {
        if (kx_elem_rec* moved = kx_elem_embed_text(element, kTextRoom, c->text, c->textLength)) {
            relink(c, entry, moved);
            return keep_spare(c);
        }
    }
    const size_t size = c->textLength + 1;
    char* text = static_cast<char*>(pool_realloc(nullptr, c->text, size, ADT_HERE));
    if (!text) text = c->text;  // shrinking in place failed: keep the larger block
    else refund(c, c->textCapacity - size);
    if (!kx_elem_text_in_block(element)) pool_free(nullptr, element->text, ADT_HERE);
    element->text = text;
    c->text = nullptr;
    c->textLength = c->textCapacity = 0;
}

}  // namespace

xml_context_rec* xml_create() {
    auto* c = static_cast<xml_context_rec*>(pool_calloc(nullptr, sizeof(xml_context_rec), ADT_HERE));
    if (!c) return nullptr;
    c->stack = static_cast<xml_stack_entry*>(pool_calloc(nullptr, XML_STACK_SIZE * sizeof(xml_stack_entry), ADT_HERE));
    if (!c->stack) {
        pool_free(nullptr, c, ADT_HERE);
        return nullptr;
    }
    c->stackSize = XML_STACK_SIZE;
    c->depth = -1;
    c->budget = XML_REPLY_BUDGET;
    c->readLimit = XML_REPLY_BUDGET;
    c->subsetStart = -1;
    return c;
}

void xml_destroy(xml_context_rec* c) {
    if (!c) return;
    if (c->stack) {
        // Open levels above the root belong to the root's tree.
        for (int d = 1; d <= c->depth && d < c->stackSize; ++d) c->stack[d].element = nullptr;
        for (int d = 0; d < c->stackSize; ++d) {
            kx_elem_destroy(c->stack[d].element);
            pool_free(nullptr, c->stack[d].savedText, ADT_HERE);
        }
    }
    pool_free(nullptr, c->text, ADT_HERE);
    pool_free(nullptr, c->spare, ADT_HERE);
    pool_free(nullptr, c->errorText, ADT_HERE);
    pool_free(nullptr, c->stack, ADT_HERE);
    pool_free(nullptr, c, ADT_HERE);
}

void xml_start_element(void* p, const unsigned char* name, const unsigned char** attributes) {
    xml_context_rec* c = context_of(p);
    if (c->ignored > 0 || c->halted || !charge(c, element_cost(name, attributes))) {
        ++c->ignored;
        return;
    }
    kx_elem_rec* e = kx_elem_create_with_room(reinterpret_cast<const char*>(name), kTextRoom);
    if (!e) {
        set_error(c, "Unable to allocate memory for elements!");
        ++c->ignored;
        return;
    }
    kx_elem_rec* previous = nullptr;
    if (c->depth >= 0) {
        previous = c->stack[c->depth].element->lastChild;
        kx_child_append(c->stack[c->depth].element, e);
    } else if (c->stack[0].element) {  // a second root: the parser reports it, nothing is kept
        kx_elem_destroy(e);
        ++c->ignored;
        return;
    }
    if (c->depth + 1 >= c->stackSize) {
        // Nothing deeper is parsed or read: libxml2 would go on holding state
        // for every further level.
        halt(c, kTooDeep);
        ++c->ignored;
        return;
    }
    xml_stack_entry& entry = c->stack[++c->depth];
    entry.element = e;
    entry.previous = previous;
    entry.savedText = c->text;
    entry.savedLength = c->textLength;
    entry.savedCapacity = c->textCapacity;
    c->text = c->spare;
    c->textLength = 0;
    c->textCapacity = c->spareCapacity;
    c->spare = nullptr;
    c->spareCapacity = 0;
    for (int i = 0; attributes && attributes[i]; i += 2) {
        const auto* value = reinterpret_cast<const char*>(attributes[i + 1]);
        kx_elem_put_attr(e, reinterpret_cast<const char*>(attributes[i]), value ? value : "");
    }
}

void xml_end_element(void* p, const unsigned char*) {
    xml_context_rec* c = context_of(p);
    if (c->ignored > 0) {
        --c->ignored;
        return;
    }
    if (c->depth < 0) return;
    xml_stack_entry& entry = c->stack[c->depth];
    hand_text_to(c, entry);
    c->text = entry.savedText;
    c->textLength = entry.savedLength;
    c->textCapacity = entry.savedCapacity;
    entry.savedText = nullptr;
    entry.savedLength = entry.savedCapacity = 0;
    if (c->depth > 0) entry.element = nullptr;
    --c->depth;
}

void xml_characters(void* p, const unsigned char* text, int length) {
    xml_context_rec* c = context_of(p);
    if (c->ignored > 0 || c->halted || length <= 0) return;
    const size_t n = static_cast<size_t>(length);
    if (!reserve_text(c, n)) return;
    std::memcpy(c->text + c->textLength, text, n);
    c->textLength += n;
    c->text[c->textLength] = '\0';
}

void xml_error(void* p, const char* message, ...) {
    xml_context_rec* c = context_of(p);
    const size_t used = c->errorText ? std::strlen(c->errorText) : 0;
    if (used >= kErrorTextLimit) return;
    va_list ap;
    va_start(ap, message);
    char* piece = string_vprintf(message, ap);
    va_end(ap);
    if (!piece) return;
    const size_t n = std::min(std::strlen(piece), kErrorTextLimit - used);
    size_t capacity = c->errorText ? used + 1 : 0;
    if (string_reserve(&c->errorText, &capacity, used + n)) {
        std::memcpy(c->errorText + used, piece, n);
        c->errorText[used + n] = '\0';
    }
    pool_free(nullptr, piece, ADT_HERE);
}

void xml_parse_stream(http_conn_rec* connection, xml_context_rec* c, long contentLength) {
    // A reply that announces no body has none: reading would wait on a
    // connection the server may keep open.
    if (contentLength == 0) return;
    feed_buffer buffer;
    if (!buffer.valid()) {
        set_error(c, "Unable to allocate memory for elements!");
        return;
    }
    push_parser parser(c);
    long total = 0;
    for (bool more = true; more && !c->halted;) {
        // Gather a whole piece where the reply has that much left.
        while (buffer.room() > 0 && (contentLength < 0 || total < contentLength)) {
            const size_t n = read_some(connection, c, buffer);
            if (n == 0) {
                more = false;
                break;
            }
            buffer.filled(n);
            total += static_cast<long>(n);
        }
        if (contentLength >= 0 && total >= contentLength) more = false;
        if (!parser.feed(buffer.data(), buffer.used())) return;
        buffer.clear();
    }
}

void xml_parse_stream_chunked(http_conn_rec* connection, xml_context_rec* c) {
    feed_buffer buffer;
    if (!buffer.valid()) {
        set_error(c, "Unable to allocate memory for elements!");
        return;
    }
    push_parser parser(c);
    chunk_decoder decoder;
    for (bool more = true; more && !c->halted;) {
        while (buffer.room() > 0 && !decoder.finished()) {
            const size_t n = read_some(connection, c, buffer);
            if (n == 0) {
                more = false;
                break;
            }
            // The framing is taken out in place: only data stays in the buffer.
            buffer.filled(decoder.decode(buffer.space(), n));
        }
        if (decoder.finished()) more = false;
        if (!parser.feed(buffer.data(), buffer.used())) return;
        buffer.clear();
    }
    if (decoder.state() == chunk_decoder::State::Bad) set_error(c, "Invalid chunked transfer encoding");
}

int xml_parse_string(const char* text, xml_context_rec* c) {
    if (!text) return 1;
    push_parser parser(c);
    for (size_t left = std::strlen(text); left > 0 && !c->halted;) {
        const size_t n = std::min<size_t>(left, XML_FEED_PIECE);
        if (!receive(c, n)) break;
        if (!parser.feed(text, n)) return 0;
        text += n;
        left -= n;
    }
    return 1;
}

kx_elem_rec* kx_reply_parse_error(xml_context_rec* c) {
    char* reason = string_printf("Parsing error in results: %s", c->errorText ? c->errorText : "Unknown");
    kx_elem_rec* results = kx_results_make("failed", reason ? reason : "Memory allocation failure", KX_ERR_PARSE);
    pool_free(nullptr, reason, ADT_HERE);
    return results;
}

kx_elem_rec* kx_reply_unwrap(xml_context_rec* c) {
    if (!c->stack) return kx_results_make("failed", "No elements in response", KX_ERR_TRANSPORT);
    kx_elem_rec* root = c->stack[0].element;
    c->stack[0].element = nullptr;
    // Levels still open belong to the root's tree, which leaves the context.
    for (int d = 1; d <= c->depth && d < c->stackSize; ++d) c->stack[d].element = nullptr;
    const char* problem = nullptr;
    kx_elem_rec* results = nullptr;
    if (!root || std::strcmp(root->name, "korvex") != 0) problem = "No korvex element in response";
    else if (!(results = kx_elem_find_child(root, "results"))) problem = "No results element in response";
    if (problem) {
        kx_elem_destroy(root);
        return kx_results_make("failed", problem, KX_ERR_TRANSPORT);
    }
    if (root->firstChild != results || results->next) return root;
    kx_elem_unlink_child(root, results);
    kx_elem_destroy(root);
    return results;
}

kx_elem_rec* kx_reply_outcome(xml_context_rec* c) {
    return c->errorText ? kx_reply_parse_error(c) : kx_reply_unwrap(c);
}
