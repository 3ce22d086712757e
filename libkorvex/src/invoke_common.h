#pragma once
// Pieces the transports share.
#include <adt/shttpc.h>

struct http_conn_rec;
struct kx_elem_rec;
struct stab_rec;

// "XMLDEBUG" set and not empty. Read on every call and kept by that call
// alone, so concurrent calls share no flag.
bool kx_xmldebug_enabled();
// A connection over a connected socket; NULL (the socket closed) when memory runs out.
http_conn_rec* http_conn_wrap(shttpc_rec* socket);
// Frees the record, not its socket; a thread keeps one for its next connection.
void http_conn_recycle(http_conn_rec* connection);
// The debugging styles: reads the rest of the reply in pieces of up to 32768
// bytes (at most `length` bytes when it is not negative), writing them to
// standard output for style 1. false when the buffer cannot be allocated.
bool kx_consume_reply(http_conn_rec* connection, int debugStyle, long length);
// The HTTP transport's reading of a reply body after status 200: by its
// Content-Length, to the close, or de-chunked, as the headers say; the
// outcome as the transport hands it back.
kx_elem_rec* kx_read_reply(http_conn_rec* connection, stab_rec* headers, bool debug);
// A failed `results` element; no reason when it is NULL.
kx_elem_rec* kx_failed(const char* reason, int errorNumber);
// Windows Sockets, started once for the socket transports and never stopped
// by them; 0 or the start-up error.
int kx_start_sockets();
