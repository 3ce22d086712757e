#pragma once
// The client's own error numbers and the table of status texts shared by the
// HTTP and daemon transports.
#include <cstddef>

constexpr int KX_ERR_PARSE = 13001;         // request not built, reply not parsed or bypassed
constexpr int KX_ERR_AUTH = 13002;          // status 401 or 407, unknown authentication style
constexpr int KX_ERR_TRANSPORT = 13011;     // every other failed status, reply without root or results
constexpr int KX_ERR_CONNECT = 13055;       // status 554 and 555
constexpr int KX_ERR_REPLY_HEADER = 13057;  // status 559, 560, 561 and 564
constexpr int KX_ERR_BUFFER = 13922;        // status 551, 552 and 553

// The wire names that open a status reason.
enum kx_wire_name { KX_WIRE_NAME_HTTP = 0, KX_WIRE_NAME_QSM = 1 };

// Status codes the daemon transport makes itself.
constexpr int KX_STATUS_DEBUG_BUFFER = 551;
constexpr int KX_STATUS_REPLY_BUFFER = 552;
constexpr int KX_STATUS_REQUEST_BUFFER = 553;
constexpr int KX_STATUS_CONNECT = 554;
constexpr int KX_STATUS_CONNECT_HOSTSEQUIV = 555;
constexpr int KX_STATUS_BAD_LENGTH = 556;
constexpr int KX_STATUS_BAD_STATUS = 557;
constexpr int KX_STATUS_ENCODE = 558;
constexpr int KX_STATUS_HEADER_LINE1 = 559;
constexpr int KX_STATUS_HEADER_LINE2 = 560;
constexpr int KX_STATUS_HEADER_LINE3 = 561;
constexpr int KX_STATUS_WRITE_HEADERS = 562;
constexpr int KX_STATUS_WRITE_PAYLOAD = 563;
constexpr int KX_STATUS_DEBUG_CONSUMED = 564;
constexpr int KX_STATUS_DROPPED = 565;

// Writes the reason of a failed status into buffer: "<wire> - <text>",
// "<wire> - <text> (<detail>)" for a non-zero detail, or
// "<wire> - failed, status code = <code>" for a code the table lacks.
// Returns buffer.
char* kx_status_text(int code, int wireIndex, int detail, char* buffer, size_t size);
// The error number of a failed status.
int kx_status_errno(int code);
