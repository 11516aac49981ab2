// Stand-in for the platform's internet library: the handle-shaped HTTP functions the program
// reaches by name through its dynamic-library command table, carried out by libcurl.
//
// A session handle (InternetOpenA) holds the agent string and the proxy choice; a connection
// handle (InternetConnectA) holds a host and port and an already connected socket; a request
// handle (HttpOpenRequestA) holds the verb, path and flags, and once sent (HttpSendRequestA) the
// transfer. The body is read in pieces of the caller's size (InternetReadFile) and the final
// response's header block can be queried (HttpQueryInfoA). Handles are numbers that are never
// reused; every call checks its handle and fails on a closed or wrong one. BOOL results are 1 for
// success and 0 for failure.
//
// Closing a handle cancels what another thread is doing with it: InternetCloseHandle on a request
// makes an HttpSendRequestA or InternetReadFile blocked on it return failure at once, and on a
// session makes an InternetConnectA still connecting for it fail (a name lookup under way is
// waited for).
//
// No text of the caller's can start a header line of its own. Agent, referrer and accept types
// are cut at the first control byte (TAB aside). The header block is split into lines at "\r\n"
// only; a line that still holds a lone CR or LF, a NUL, DEL or any other control byte but TAB is
// not sent at all, rather than cut.
//
// Every request is bounded: connection set-up, slow or silent transfers, total time, redirects
// and body size all have limits (Limits below), so a dead or misbehaving server cannot hold a
// caller for long.
#pragma once

#include <cstdint>

#define FF_INET_API extern "C" __attribute__((visibility("default")))

namespace inet {

using Handle = void*;

// InternetOpenA open types.
inline constexpr uint32_t kOpenTypePreconfig = 0;
inline constexpr uint32_t kOpenTypeDirect = 1;
inline constexpr uint32_t kOpenTypeProxy = 3;
inline constexpr uint32_t kOpenTypePreconfigNoAutoProxy = 4;

// InternetConnectA service.
inline constexpr uint32_t kServiceHttp = 3;

// HttpOpenRequestA flags.
inline constexpr uint32_t kFlagReload = 0x80000000;
inline constexpr uint32_t kFlagNeedFile = 0x00000010;
inline constexpr uint32_t kFlagNoCookies = 0x00080000;
inline constexpr uint32_t kFlagNoAutoRedirect = 0x00200000;
inline constexpr uint32_t kFlagSecure = 0x00800000;
inline constexpr uint32_t kFlagIgnoreRedirectToHttps = 0x00004000;
inline constexpr uint32_t kFlagIgnoreRedirectToHttp = 0x00008000;

// HttpQueryInfoA level: the status line and header lines of the final response, each ending
// "\r\n".
inline constexpr uint32_t kQueryRawHeadersCrlf = 22;
// HttpQueryInfoA level: the final response's Content-Length, asked for as a number (with
// kQueryFlagNumber) into 4 bytes.
inline constexpr uint32_t kQueryContentLength = 5;
inline constexpr uint32_t kQueryFlagNumber = 0x20000000;

// The functions' shapes. The send function has one export and two declarations, one per kind
// of body the caller passes.
using InternetOpenFn = Handle(const char* agent, uint32_t open_type, const char* proxy,
                              const char* proxy_bypass, uint32_t flags);
using InternetConnectFn = Handle(Handle session, const char* host, int32_t port, const char* user,
                                 const char* password, uint32_t service, uint32_t flags,
                                 uintptr_t context);
using HttpOpenRequestFn = Handle(Handle connection, const char* verb, const char* object,
                                 const char* version, const char* referrer,
                                 const char* const* accept_types, uint32_t flags,
                                 uintptr_t context);
using HttpSendRequestTextFn = int32_t(Handle request, const char* headers, uint32_t headers_length,
                                      const char* body, uint32_t body_length);
using HttpSendRequestBytesFn = int32_t(Handle request, const char* headers, uint32_t headers_length,
                                       const uint8_t* body, uint32_t body_length);
using InternetReadFileFn = int32_t(Handle request, void* buffer, uint32_t to_read,
                                   uint32_t* bytes_read);
using HttpQueryInfoFn = int32_t(Handle request, uint32_t level, void* buffer, uint32_t* length,
                                uint32_t* index);
using InternetCloseHandleFn = int32_t(Handle handle);

// The library's own limits; a request takes the values current when it is sent.
struct Limits {
  // Name lookup aside, the time to connect (and for https to finish the handshake).
  uint32_t connect_timeout_ms = 15'000;
  // A transfer slower than stall_bytes_per_second on average over stall_seconds has stalled and
  // ends as a failed read: a server trickling bytes cannot hold the caller to the total time.
  uint32_t stall_seconds = 30;
  uint32_t stall_bytes_per_second = 1024;
  // The whole transfer, redirects included.
  uint32_t total_seconds = 120;
  uint32_t max_redirects = 10;
  // Body bytes past this end the transfer as a failed read: the reader gets the bytes up to the
  // cap, then failure (never the end of a whole body). Pages and posters are far below it.
  uint64_t max_body_bytes = uint64_t{16} << 20;
  // When set, the certificate authorities trusted for https (a PEM file) instead of the
  // system's. Copied when the limits are set.
  const char* ca_file = nullptr;
};

// Sees every call of the functions above as one line of text: the function name and its
// arguments, handles left out, texts quoted with "\r" and "\n" spelled out.
using CallObserver = void (*)(void* context, const char* call);

}  // namespace inet

FF_INET_API inet::Handle InternetOpenA(const char* agent, uint32_t open_type, const char* proxy,
                                       const char* proxy_bypass, uint32_t flags);
FF_INET_API inet::Handle InternetConnectA(inet::Handle session, const char* host, int32_t port,
                                          const char* user, const char* password, uint32_t service,
                                          uint32_t flags, uintptr_t context);
FF_INET_API inet::Handle HttpOpenRequestA(inet::Handle connection, const char* verb,
                                          const char* object, const char* version,
                                          const char* referrer, const char* const* accept_types,
                                          uint32_t flags, uintptr_t context);
// headers_length bytes of headers exactly; 0xFFFFFFFF reads them up to their terminator.
FF_INET_API int32_t HttpSendRequestA(inet::Handle request, const char* headers,
                                     uint32_t headers_length, const void* body,
                                     uint32_t body_length);
FF_INET_API int32_t InternetReadFile(inet::Handle request, void* buffer, uint32_t to_read,
                                     uint32_t* bytes_read);
// For kQueryRawHeadersCrlf: copies the header block and a terminator into the buffer when both
// fit in *length bytes, setting *length to the block's length; otherwise fails, setting *length
// to the bytes needed. For kQueryContentLength | kQueryFlagNumber: writes the length the final
// response declares as a uint32_t and sets *length to 4; fails when it declares none (or one past
// 32 bits) and, setting *length to 4, when the buffer is shorter. The body that arrives may still
// be shorter (a transfer cut off) or end at the library's cap.
FF_INET_API int32_t HttpQueryInfoA(inet::Handle request, uint32_t level, void* buffer,
                                   uint32_t* length, uint32_t* index);
FF_INET_API int32_t InternetCloseHandle(inet::Handle handle);

// Seams for tests and benchmarks; the program itself never calls them. The ca_file that
// ffinet_get_limits hands out stays valid until the next ffinet_set_limits.
FF_INET_API void ffinet_get_limits(inet::Limits* limits);
FF_INET_API void ffinet_set_limits(const inet::Limits* limits);
FF_INET_API void ffinet_set_call_observer(inet::CallObserver observer, void* context);
