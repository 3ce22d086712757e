#include <adt/array.h>
#include <adt/log.h>
#include <adt/pool.h>
#include <adt/str.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex.h>

char* string_ndup(const char* text, size_t n) {
    auto* out = static_cast<char*>(pool_malloc(nullptr, n + 1, ADT_HERE));
    if (!out) return nullptr;
    std::memcpy(out, text, n);
    out[n] = '\0';
    return out;
}

char* string_concat(const char* first, ...) {
    va_list ap;
    size_t total = 0;
    va_start(ap, first);
    for (const char* s = first; s; s = va_arg(ap, const char*)) total += std::strlen(s);
    va_end(ap);
    auto* out = static_cast<char*>(pool_malloc(nullptr, total + 1, ADT_HERE));
    if (!out) return nullptr;
    char* p = out;
    va_start(ap, first);
    for (const char* s = first; s; s = va_arg(ap, const char*)) {
        const size_t n = std::strlen(s);
        std::memcpy(p, s, n);
        p += n;
    }
    va_end(ap);
    *p = '\0';
    return out;
}

char* string_vprintf(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n < 0) return nullptr;
    auto* out = static_cast<char*>(pool_malloc(nullptr, static_cast<size_t>(n) + 1, ADT_HERE));
    if (out) std::vsnprintf(out, static_cast<size_t>(n) + 1, format, args);
    return out;
}

char* string_printf(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    char* out = string_vprintf(format, ap);
    va_end(ap);
    return out;
}

char* string_reserve(char** buffer, size_t* capacity, size_t n) {
    if (*buffer && *capacity > n) return *buffer;
    size_t grown = *buffer && *capacity ? *capacity : 16;
    while (grown <= n) grown *= 2;
    auto* out = static_cast<char*>(pool_realloc(nullptr, *buffer, grown, ADT_HERE));
    if (!out) return nullptr;
    if (!*buffer) out[0] = '\0';
    *buffer = out;
    *capacity = grown;
    return out;
}

char* string_vappendf(char** buffer, size_t* capacity, const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    const size_t used = *buffer ? std::strlen(*buffer) : 0;
    if (n < 0 || !string_reserve(buffer, capacity, used + static_cast<size_t>(n))) {
        pool_free(nullptr, *buffer, ADT_HERE);
        *buffer = nullptr;
        *capacity = 0;
        return nullptr;
    }
    std::vsnprintf(*buffer + used, *capacity - used, format, args);
    return *buffer;
}

char* string_appendf(char** buffer, size_t* capacity, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    char* out = string_vappendf(buffer, capacity, format, ap);
    va_end(ap);
    return out;
}

namespace {

bool push_copy(array_rec* fields, const char* text, size_t n) {
    char* field = string_ndup(text, n);
    if (field && array_push(fields, field) == 0) return true;
    std::free(field);
    return false;
}

}  // namespace

array_rec* string_split(const char* text, const char* pattern, int maxCount) {
    regex_t re;
    if (int rc = regcomp(&re, pattern ? pattern : "([ \t]+)", REG_EXTENDED | REG_ICASE); rc != 0) {
        char message[256];
        regerror(rc, &re, message, sizeof message);
        log_write(nullptr, LOG_LEVEL_ERROR, "regcomp failed: %d: %s\n", rc, message);
        return nullptr;
    }
    array_rec* fields = array_new(std::free);
    bool ok = fields != nullptr;
    const char* rest = text;
    regmatch_t m;
    if (ok && regexec(&re, rest, 1, &m, 0) == 0 && m.rm_so == 0 && m.rm_eo > 0) rest += m.rm_eo;
    while (ok && (maxCount <= 0 || fields->count < maxCount - 1) &&
           regexec(&re, rest, 1, &m, rest == text ? 0 : REG_NOTBOL) == 0 && m.rm_eo > m.rm_so) {
        ok = push_copy(fields, rest, static_cast<size_t>(m.rm_so));
        rest += m.rm_eo;
    }
    if (ok && *rest) ok = push_copy(fields, rest, std::strlen(rest));
    regfree(&re);
    if (!ok) {
        array_release(fields);
        return nullptr;
    }
    return fields;
}
