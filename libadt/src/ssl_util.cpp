#include <adt/log.h>
#include <adt/zthread.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <platform/library.h>
#include <unistd.h>

#include "isaac.h"
#include "ssl_util.h"

namespace {

constexpr const char* kLibraries[2] = {"ssleay32.dll", "libeay32.dll"};

// Every entry point, library by library, in binding order: OpenSSL 3's names
// where the old ones are gone (OPENSSL_init_ssl for the library-init and
// error-string calls, TLS_*_method for the old generic methods, the digest
// context's new/free for its init/cleanup).
#define SSL_ENTRY_POINTS(X)                                                                            \
    X(0, OPENSSL_init_ssl) X(0, TLS_server_method) X(0, TLS_client_method) X(0, SSL_get_error)          \
    X(0, SSL_CTX_set_verify) X(0, SSL_CTX_load_verify_locations) X(0, SSL_CTX_new) X(0, SSL_CTX_free)   \
    X(0, SSL_CTX_use_PrivateKey) X(0, SSL_CTX_use_certificate) X(0, SSL_new) X(0, SSL_connect)          \
    X(0, SSL_set_connect_state) X(0, SSL_write) X(0, SSL_read) X(0, SSL_set_fd) X(0, SSL_accept)        \
    X(0, SSL_shutdown) X(0, SSL_free) X(0, SSL_CIPHER_get_name) X(0, SSL_get_current_cipher)            \
    X(0, SSL_set_bio) X(1, ERR_get_error) X(1, ERR_reason_error_string) X(1, ERR_error_string_n)        \
    X(1, RAND_seed) X(1, RAND_status) X(1, RAND_load_file) X(1, BN_free) X(1, BN_new)                   \
    X(1, BN_pseudo_rand) X(1, BN_to_ASN1_INTEGER) X(1, BIO_s_mem) X(1, BIO_new) X(1, BIO_free)          \
    X(1, BIO_read) X(1, BIO_write) X(1, BIO_new_socket) X(1, BIO_new_fp) X(1, RSA_generate_key)        \
    X(1, RSA_free) X(1, RSA_print_fp) X(1, RSA_print) X(1, EVP_PKEY_new) X(1, EVP_PKEY_free)            \
    X(1, EVP_get_digestbyname) X(1, EVP_md5) X(1, EVP_sha1) X(1, EVP_PKEY_assign) X(1, EVP_MD_CTX_new)  \
    X(1, EVP_MD_CTX_free) X(1, EVP_DigestInit_ex) X(1, EVP_DigestUpdate) X(1, EVP_DigestFinal_ex)       \
    X(1, X509_new) X(1, X509_free) X(1, X509_sign) X(1, X509_set_issuer_name)                           \
    X(1, X509_NAME_add_entry_by_txt) X(1, X509_get_subject_name) X(1, X509_set_pubkey)                  \
    X(1, X509_gmtime_adj) X(1, X509_get_serialNumber) X(1, X509_set_version) X(1, X509_set_subject_name) \
    X(1, X509_check_private_key) X(1, X509_print_fp) X(1, X509_print) X(1, X509_REQ_new)                \
    X(1, X509_REQ_free) X(1, X509_REQ_get_pubkey) X(1, X509_REQ_set_pubkey) X(1, ASN1_INTEGER_set)      \
    X(1, PEM_read_bio_X509) X(1, PEM_read_bio_X509_REQ) X(1, PEM_read_bio_PrivateKey)                   \
    X(1, PEM_write_bio_X509) X(1, PEM_write_bio_X509_REQ) X(1, PEM_write_bio_PrivateKey)

enum EntryIndex {
#define SSL_ENTRY_INDEX(lib, name) k_##name,
    SSL_ENTRY_POINTS(SSL_ENTRY_INDEX)
#undef SSL_ENTRY_INDEX
        kEntryCount
};

struct EntryName {
    int library;
    const char* name;
};

constexpr EntryName kEntries[kEntryCount] = {
#define SSL_ENTRY_NAME(lib, name) {lib, #name},
    SSL_ENTRY_POINTS(SSL_ENTRY_NAME)
#undef SSL_ENTRY_NAME
};

constexpr uint64_t OPENSSL_INIT_LOAD_CRYPTO_STRINGS = 0x00000002ULL;
constexpr uint64_t OPENSSL_INIT_LOAD_SSL_STRINGS = 0x00200000ULL;
constexpr const char* kSeedFiles[] = {"/etc/hosts", "/etc/group", "/etc/resolv.conf"};
constexpr int kSeedBytes = 256;
// OpenSSL 3 seeds itself; the bound keeps a generator that never reports
// enough entropy from holding the first TLS connection for ever.
constexpr int kMaxSeedRounds = 64;

zthread_once_rec g_gate;
ssl_util_api g_api;
const ssl_util_api* g_ready = nullptr;

template <typename Fn>
void take(Fn& slot, FARPROC proc) {
    slot = reinterpret_cast<Fn>(proc);
}

bool bind_all(FARPROC (&procs)[kEntryCount]) {
    HMODULE libraries[2] = {LoadLibraryA(kLibraries[0]), LoadLibraryA(kLibraries[1])};
    if (!libraries[0] || !libraries[1]) {
        log_write(nullptr, LOG_LEVEL_ERROR, "Failed to load SSL shared libraries\n");
        return false;
    }
    for (int i = 0; i < kEntryCount; ++i) {
        procs[i] = GetProcAddress(libraries[kEntries[i].library], kEntries[i].name);
        if (!procs[i]) {
            log_write(nullptr, LOG_LEVEL_ERROR, "Failed to map %s()\n", kEntries[i].name);
            return false;
        }
    }
    return true;
}

void seed_random(const ssl_util_api& api) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    api.RAND_seed(&now, sizeof now);
    const int32_t pid = static_cast<int32_t>(::getpid());
    api.RAND_seed(&pid, sizeof pid);
    for (const char* file : kSeedFiles) api.RAND_load_file(file, -1);
    isaac_rec isaac;
    isaac_seed(&isaac, static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    unsigned char bytes[kSeedBytes];
    for (int round = 0; round < kMaxSeedRounds && api.RAND_status() != 1; ++round) {
        isaac_bytes(&isaac, bytes, sizeof bytes);
        api.RAND_seed(bytes, sizeof bytes);
    }
}

void initialise() {
    FARPROC procs[kEntryCount] = {};
    if (!bind_all(procs)) return;
    take(g_api.OPENSSL_init_ssl, procs[k_OPENSSL_init_ssl]);
    take(g_api.TLS_client_method, procs[k_TLS_client_method]);
    take(g_api.SSL_get_error, procs[k_SSL_get_error]);
    take(g_api.SSL_CTX_new, procs[k_SSL_CTX_new]);
    take(g_api.SSL_CTX_free, procs[k_SSL_CTX_free]);
    take(g_api.SSL_new, procs[k_SSL_new]);
    take(g_api.SSL_connect, procs[k_SSL_connect]);
    take(g_api.SSL_write, procs[k_SSL_write]);
    take(g_api.SSL_read, procs[k_SSL_read]);
    take(g_api.SSL_set_fd, procs[k_SSL_set_fd]);
    take(g_api.SSL_free, procs[k_SSL_free]);
    take(g_api.RAND_seed, procs[k_RAND_seed]);
    take(g_api.RAND_status, procs[k_RAND_status]);
    take(g_api.RAND_load_file, procs[k_RAND_load_file]);
    g_api.OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    seed_random(g_api);
    g_ready = &g_api;
}

}  // namespace

const ssl_util_api* ssl_util_init() {
    zthread_once(&g_gate, initialise);
    return g_ready;
}
