#include "floor_parse.h"

#include <cstring>

namespace bench {
namespace {

void touch(Touched* t, const xmlChar* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) t->sum += bytes[i];
}
void touch_text(Touched* t, const xmlChar* text) { touch(t, text, std::strlen(reinterpret_cast<const char*>(text))); }

void floor_start(void* p, const xmlChar* name, const xmlChar** attributes) {
    auto* t = static_cast<Touched*>(p);
    touch_text(t, name);
    for (int i = 0; attributes && attributes[i]; i += 2) {
        touch_text(t, attributes[i]);
        if (attributes[i + 1]) touch_text(t, attributes[i + 1]);
    }
}
void floor_end(void* p, const xmlChar* name) { touch_text(static_cast<Touched*>(p), name); }
void floor_text(void* p, const xmlChar* text, int n) { touch(static_cast<Touched*>(p), text, static_cast<size_t>(n)); }

}  // namespace

xmlSAXHandler* floor_handler() {
    static xmlSAXHandler handler = [] {
        xmlSAXHandler h{};
        h.startElement = floor_start;
        h.endElement = floor_end;
        h.characters = floor_text;
        return h;
    }();
    return &handler;
}

}  // namespace bench
