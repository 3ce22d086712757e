#pragma once
// The TLS layer: OpenSSL loaded by name at the first TLS connection. Its
// libraries lock themselves, so no locking callbacks are registered.
#include <cstdint>

struct ssl_st;
struct ssl_ctx_st;
struct ssl_method_st;

constexpr int SSL_ERROR_WANT_READ_CODE = 2;
constexpr int SSL_ERROR_WANT_WRITE_CODE = 3;

// The entry points the client calls; the others are bound only so that an
// incomplete library is refused as a whole.
struct ssl_util_api {
    int (*OPENSSL_init_ssl)(uint64_t options, const void* settings);
    const ssl_method_st* (*TLS_client_method)();
    int (*SSL_get_error)(const ssl_st* ssl, int result);
    ssl_ctx_st* (*SSL_CTX_new)(const ssl_method_st* method);
    void (*SSL_CTX_free)(ssl_ctx_st* context);
    ssl_st* (*SSL_new)(ssl_ctx_st* context);
    int (*SSL_connect)(ssl_st* ssl);
    int (*SSL_write)(ssl_st* ssl, const void* bytes, int length);
    int (*SSL_read)(ssl_st* ssl, void* buffer, int size);
    int (*SSL_set_fd)(ssl_st* ssl, int fd);
    void (*SSL_free)(ssl_st* ssl);
    void (*RAND_seed)(const void* bytes, int length);
    int (*RAND_status)();
    int (*RAND_load_file)(const char* file, long maxBytes);
};

// Initialises the layer once per process (concurrent first callers wait for
// the first); the bound entry points, or NULL when the libraries did not load
// or a name did not bind.
const ssl_util_api* ssl_util_init();
