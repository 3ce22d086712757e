#include <korvex/elem.h>
#include <korvex/http.h>
#include <korvex/server.h>

#include <adt/hash.h>
#include <adt/pool.h>
#include <adt/stab.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "text_buffer.h"

namespace {

class Writer {
public:
    Writer(kx_output_fn output, void* context) : output_(output), context_(context) {}
    bool put(const char* text, size_t n) { return n == 0 || output_(text, n, context_) != 0; }
    bool put(const char* text) { return put(text, std::strlen(text)); }
    bool blanks(int n) {
        static constexpr char kBlanks[] = "                                ";
        for (; n > 0; n -= static_cast<int>(sizeof kBlanks - 1))
            if (!put(kBlanks, std::min<size_t>(static_cast<size_t>(n), sizeof kBlanks - 1))) return false;
        return true;
    }
    // Runs of plain bytes go out in one piece; each special byte as its entity.
    bool escaped(const char* text) {
        const char* run = text;
        for (const char* p = text;; ++p) {
            const char* entity = entity_of(*p);
            if (!entity && *p) continue;
            if (!put(run, static_cast<size_t>(p - run))) return false;
            if (!*p) return true;
            if (!put(entity)) return false;
            run = p + 1;
        }
    }

private:
    static const char* entity_of(char c) {
        switch (c) {
            case '"': return "&quot;";
            case '&': return "&amp;";
            case '\'': return "&apos;";
            case '<': return "&lt;";
            case '>': return "&gt;";
            default: return nullptr;
        }
    }

    kx_output_fn output_;
    void* context_;
};

bool write_element(Writer& w, kx_elem_rec* e, int indent, const char* prefix, int escape) {
    const bool indented = indent >= 0;
    if (indent > 0 && !w.blanks(indent)) return false;
    if (!w.put("<") || !w.put(prefix) || !w.put(e->name)) return false;
    if (e->attributes) {
        hash_cursor cursor{};
        for (const char* n = stab_first(e->attributes, &cursor); n; n = stab_next(e->attributes, &cursor))
            if (!w.put(" ") || !w.put(prefix) || !w.put(n) || !w.put("=\"") || !w.put(stab_get(e->attributes, n)) ||
                !w.put("\""))
                return false;
    }
    if (e->text || e->firstChild) {
        if (!w.put(">")) return false;
        if (e->text && !(escape ? w.escaped(e->text) : w.put(e->text))) return false;
        const bool childrenOnly = e->firstChild && !e->text;
        if (indented && childrenOnly && !w.put("\n")) return false;
        for (kx_elem_rec* c = e->firstChild; c; c = c->next)
            if (!write_element(w, c, indented ? indent + 8 : -1, prefix, escape)) return false;
        if (indented && childrenOnly && indent > 0 && !w.blanks(indent)) return false;
        if (!w.put("</") || !w.put(prefix) || !w.put(e->name) || !w.put(">")) return false;
    } else if (!w.put("/>")) {
        return false;
    }
    return !indented || w.put("\n");
}

int append_to_buffer(const char* text, size_t n, void* context) {
    return static_cast<text_buffer*>(context)->append(text, n);
}

constexpr const char* kSystemIds[] = {"file:/etc/korvex_filer.dtd", "file:/etc/korvex.dtd",
                                      "file:/etc/korvex_agent.dtd", "file:/etc/korvex_vesk.dtd"};

}  // namespace

const char* kx_dtd_system_id(int dtdKind) {
    return dtdKind >= 0 && dtdKind < static_cast<int>(std::size(kSystemIds)) ? kSystemIds[dtdKind] : kSystemIds[0];
}

int kx_elem_serialize(kx_elem_rec* element, int indent, const char* prefix, kx_output_fn output, void* context,
                      int escape) {
    if (!element || !output) {
        errno = EINVAL;
        return 0;
    }
    Writer w(output, context);
    return write_element(w, element, indent, prefix ? prefix : "", escape) ? 1 : 0;
}

char* kx_request_document(kx_server_rec* server, kx_elem_rec* request, const char* systemId, int prefixLimit,
                          kx_elem_rec** temporaryRoot, kx_document_failure* failure) {
    *temporaryRoot = nullptr;
    kx_document_failure ignored;
    if (!failure) failure = &ignored;
    *failure = KX_DOC_SERIALISE;
    // Every name is written as prefix ":" name when the handle has a prefix.
    char prefix[KX_PREFIX_MAX + 2] = "";
    if (server->prefix && *server->prefix)
        std::snprintf(prefix, sizeof prefix, "%.*s:", prefixLimit, server->prefix);

    kx_elem_rec* root = request;
    if (std::strcmp(request->name, "korvex") != 0) {
        if (!(root = kx_elem_create("korvex"))) return nullptr;
        kx_child_append(root, request);
        *temporaryRoot = root;
    }
    char version[32];
    std::snprintf(version, sizeof version, "%d.%d", server->majorVersion, server->minorVersion);
    if (!kx_elem_put_attr(root, "xmlns", KX_NAMESPACE_URI) || !kx_elem_put_attr(root, "version", version)) {
        errno = ENOMEM;
        return nullptr;
    }
    // The prolog goes first and the root is serialised right after it: one buffer, no copy.
    static constexpr char kDeclaration[] = "<?xml version='1.0' encoding='utf-8' ?>\n<!DOCTYPE korvex SYSTEM '";
    text_buffer document;
    if (!document.append(kDeclaration, sizeof kDeclaration - 1) || !document.append(systemId, std::strlen(systemId)) ||
        !document.append("'>\n", 3)) {
        *failure = KX_DOC_BUFFER;
        document.clear();
        errno = ENOMEM;
        return nullptr;
    }
    if (!kx_elem_serialize(root, -1, prefix, append_to_buffer, &document, 1)) {
        document.clear();
        errno = ENOMEM;
        return nullptr;
    }
    *failure = KX_DOC_OK;
    return document.release();
}

void kx_request_unwrap(kx_elem_rec* temporaryRoot, kx_elem_rec* request) {
    if (!temporaryRoot) return;
    kx_elem_unlink_child(temporaryRoot, request);
    kx_elem_destroy(temporaryRoot);
}
