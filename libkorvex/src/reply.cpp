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

#include "chunked.h"

namespace {

// Parser messages beyond this are dropped: a hostile reply could otherwise
// grow the reason without bound.
constexpr size_t kErrorTextLimit = 16 * 1024;

// What an element and an attribute table cost beyond their texts: records,
// heap block headers and the table's buckets.
constexpr size_t kElementCharge = 96;
constexpr size_t kAttributeTableCharge = 1024;
constexpr size_t kAttributeCharge = 128;
constexpr const char* kTooLarge = "XML reply is too large!";

xml_context_rec* context_of(void* p) { return static_cast<xml_context_rec*>(p); }

void set_error(xml_context_rec* c, const char* text) {
    pool_free(nullptr, c->errorText, ADT_HERE);
    c->errorText = pool_strdup(nullptr, text, ADT_HERE);
}

// Takes n from the reply's budget; false once it has run out.
bool charge(xml_context_rec* c, size_t n) {
    if (!c->tooLarge && n <= c->budget) {
        c->budget -= n;
        return true;
    }
    c->tooLarge = 1;
    return false;
}

size_t element_cost(const unsigned char* name, const unsigned char** attributes) {
    size_t cost = kElementCharge + std::strlen(reinterpret_cast<const char*>(name));
    if (attributes && attributes[0]) cost += kAttributeTableCharge;
    for (int i = 0; attributes && attributes[i]; i += 2) {
        cost += kAttributeCharge + std::strlen(reinterpret_cast<const char*>(attributes[i]));
        if (attributes[i + 1]) cost += std::strlen(reinterpret_cast<const char*>(attributes[i + 1]));
    }
    return cost;
}

// Only the element, character-data and message events are handled: no entity,
// DTD or external-subset handler exists, so a reply's document type and its
// declared entities load and expand nothing.
xmlSAXHandler make_handler() {
    xmlSAXHandler h{};
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

void echo(const xml_context_rec* c, const char* bytes, int n) {
    if (c->debug && n > 0) std::fwrite(bytes, 1, static_cast<size_t>(n), stderr);
}

// The push parser, made with the first piece of the body.
class push_parser {
public:
    explicit push_parser(xml_context_rec* c) : context_(c) {}
    ~push_parser() { finish(); }
    push_parser(const push_parser&) = delete;
    push_parser& operator=(const push_parser&) = delete;

    // false when the parser cannot be made.
    bool feed(const char* bytes, int n) {
        if (n <= 0) return true;
        if (!parser_) {
            parser_ = xmlCreatePushParserCtxt(handler(), context_, bytes, n, nullptr);
            if (!parser_) return false;
            // Predefined entities and character references arrive replaced in
            // attribute values too. No other entity can be found: without an
            // entity handler nothing declared in a reply is ever looked up.
            xmlCtxtUseOptions(parser_, XML_PARSE_NOENT | XML_PARSE_NONET);
            return true;
        }
        xmlParseChunk(parser_, bytes, n, 0);
        return true;
    }
    void finish() {
        if (parser_) {
            xmlParseChunk(parser_, nullptr, 0, 1);
            // libxml2 records the declarations of a reply's internal subset in a
            // document of its own even in event mode; nothing reads it.
            if (parser_->myDoc) xmlFreeDoc(parser_->myDoc);
            parser_->myDoc = nullptr;
            xmlFreeParserCtxt(parser_);
            parser_ = nullptr;
        }
        // The reply was cut off: the parser's complaints about its end say nothing more.
        if (context_->tooLarge) set_error(context_, kTooLarge);
    }

private:
    xml_context_rec* context_;
    xmlParserCtxtPtr parser_ = nullptr;
};

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
    return c;
}

void xml_destroy(xml_context_rec* c) {
    if (!c) return;
    if (c->stack) {
        // Open levels above the root belong to the root's tree.
        for (int d = 1; d <= c->depth && d < c->stackSize; ++d) c->stack[d].element = nullptr;
        for (int d = 0; d < c->stackSize; ++d) kx_elem_destroy(c->stack[d].element);
    }
    pool_free(nullptr, c->text, ADT_HERE);
    pool_free(nullptr, c->errorText, ADT_HERE);
    pool_free(nullptr, c->stack, ADT_HERE);
    pool_free(nullptr, c, ADT_HERE);
}

void xml_start_element(void* p, const unsigned char* name, const unsigned char** attributes) {
    xml_context_rec* c = context_of(p);
    if (c->ignored > 0 || !charge(c, element_cost(name, attributes))) {
        ++c->ignored;
        return;
    }
    kx_elem_rec* e = kx_elem_create(reinterpret_cast<const char*>(name));
    if (!e) {
        set_error(c, "Unable to allocate memory for elements!");
        ++c->ignored;
        return;
    }
    if (c->depth >= 0) {
        kx_child_append(c->stack[c->depth].element, e);
    } else if (c->stack[0].element) {  // a second root: the parser reports it, nothing is kept
        kx_elem_destroy(e);
        ++c->ignored;
        return;
    }
    if (c->depth + 1 >= c->stackSize) {
        set_error(c, "XML is too deeply nested!");
        ++c->ignored;
        return;
    }
    xml_stack_entry& entry = c->stack[++c->depth];
    entry.element = e;
    entry.textStart = c->textLength;
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
    const size_t length = c->textLength - entry.textStart;
    if (length > 0) {
        char* text = string_ndup(c->text + entry.textStart, length);
        if (!text) set_error(c, "Unable to allocate memory for elements!");
        pool_free(nullptr, entry.element->text, ADT_HERE);
        entry.element->text = text;
        c->textLength = entry.textStart;
        c->text[c->textLength] = '\0';
    }
    if (c->depth > 0) entry.element = nullptr;
    --c->depth;
}

void xml_characters(void* p, const unsigned char* text, int length) {
    xml_context_rec* c = context_of(p);
    if (c->ignored > 0 || length <= 0) return;
    const size_t n = static_cast<size_t>(length);
    if (!string_reserve(&c->text, &c->textCapacity, c->textLength + n)) {
        set_error(c, "Unable to allocate memory for elements!");
        return;
    }
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
    char piece[XML_READ_PIECE];
    push_parser parser(c);
    long total = 0;
    do {
        const int n = http_conn_read(connection, piece, sizeof piece);
        if (n <= 0 || !charge(c, static_cast<size_t>(n))) break;
        echo(c, piece, n);
        total += n;
        if (!parser.feed(piece, n)) return;
    } while (contentLength < 0 || total < contentLength);
}

void xml_parse_stream_chunked(http_conn_rec* connection, xml_context_rec* c) {
    char piece[XML_READ_PIECE];
    push_parser parser(c);
    chunk_decoder decoder;
    while (!decoder.finished()) {
        const int n = http_conn_read(connection, piece, sizeof piece);
        if (n <= 0 || !charge(c, static_cast<size_t>(n))) break;
        echo(c, piece, n);
        const size_t data = decoder.decode(piece, static_cast<size_t>(n));
        if (!parser.feed(piece, static_cast<int>(data))) return;
    }
    if (decoder.state() == chunk_decoder::State::Bad) set_error(c, "Invalid chunked transfer encoding");
}

int xml_parse_string(const char* text, xml_context_rec* c) {
    if (!text) return 1;
    char piece[XML_READ_PIECE + 1];
    push_parser parser(c);
    for (size_t left = std::strlen(text); left > 0;) {
        const size_t n = std::min<size_t>(left, XML_READ_PIECE);
        if (!charge(c, n)) break;
        std::memcpy(piece, text, n);
        piece[n] = '\0';
        if (!parser.feed(piece, static_cast<int>(n))) return 0;
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
