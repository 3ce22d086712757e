#pragma once
// The two transports beside HTTP: the administration library (style 1) and
// the daemon protocol (style 3).

struct kx_elem_rec;
struct kx_server_rec;
struct http_conn_rec;

constexpr int KX_RPC_PREFIX_MAX = 14;
constexpr int KX_QSM_LINE_MAX = 128;

kx_elem_rec* kx_invoke_rpc(kx_server_rec* server, kx_elem_rec* request);
// One exchange through the bound entry: the reply, or the synthetic failure
// reply, as a new UTF-8 text that the caller frees; NULL when no entry is bound
// or a buffer cannot be allocated.
char* kx_rpc_call(const char* host, const char* document);

kx_elem_rec* kx_invoke_qsm(kx_server_rec* server, kx_elem_rec* request);
// 0, or a negative code (-2 unresolvable host, minus the socket error).
int kx_qsm_socket_open(const char* host, int resolveNames, int port, int timeoutSeconds, http_conn_rec** connection);
// Writes the header block and the payload and reads the reply header: 200,
// another status of the daemon, or one of the client's codes 556 to 565.
int kx_qsm_send_request(http_conn_rec* connection, const char* user, const char* password, const char* document,
                        int length, long* replyLength);
int kx_qsm_read_reply(http_conn_rec* connection, long* replyLength);
void kx_qsm_socket_close(http_conn_rec* connection);
