#include <korvex/http.h>

#include <adt/pool.h>

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

constexpr const char kHttp[] = "http://";
constexpr const char kHttps[] = "https://";

bool starts_with_nocase(const char* text, const char* prefix) {
    return ::strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

int http_url_scheme(const char* url) {
    if (!url) return 0;
    if (starts_with_nocase(url, kHttp)) return 1;
    if (starts_with_nocase(url, kHttps)) return 2;
    return 0;
}

int http_url_parse(const char* url, http_url_rec* parsed) {
    if (!url || !parsed) return -22;
    *parsed = http_url_rec{};
    parsed->port = 80;
    const int scheme = http_url_scheme(url);
    if (scheme == 0) return -22;
    if (!(parsed->copy = pool_strdup(nullptr, url, ADT_HERE))) return -12;
    char* rest = parsed->copy + (scheme == 1 ? sizeof kHttp : sizeof kHttps) - 1;
    if (scheme == 2) {
        parsed->tls = 1;
        parsed->port = 443;
    }
    char* hostPart = rest;
    if (char* at = std::strchr(rest, '@')) {
        *at = '\0';
        parsed->user = rest;
        if (char* colon = std::strchr(rest, ':')) {
            *colon = '\0';
            parsed->password = colon + 1;
        }
        hostPart = at + 1;
    }
    parsed->host = hostPart;
    if (char* slash = std::strchr(hostPart, '/')) {
        *slash = '\0';
        parsed->path = slash + 1;
    }
    if (char* colon = std::strchr(hostPart, ':')) {
        *colon = '\0';
        parsed->port = std::atoi(colon + 1);
    }
    if (!parsed->path) parsed->path = parsed->copy + std::strlen(parsed->copy);  // the empty text
    return 0;
}

void http_url_free(http_url_rec* parsed) {
    if (!parsed) return;
    pool_free(nullptr, parsed->copy, ADT_HERE);
    *parsed = http_url_rec{};
}
