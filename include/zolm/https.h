/*
 * HTTPS transport: the four exports of libhttps.so, through which the starter makes its HTTP(S) requests.
 *
 * Result convention. https_Start, https_Request and https_Stop return 0 on success and set *error to
 * NULL; any other result comes with *error set to a NUL-terminated error text (the transport library's
 * own wording where the failure is the transport's). Every pointer the library hands out (error texts,
 * response headers, response bodies) belongs to the caller, who gives it back with https_Release; the
 * library zeroes the block before freeing it. Texts are NUL-terminated 8-bit (UTF-8) strings; a NULL
 * text argument counts as empty.
 *
 * Calls: https_Start, any number of https_Request, https_Stop. The proxy and the credentials given to
 * https_Start stay in force until https_Stop; a second https_Start replaces them.
 */
#ifndef ZOLM_HTTPS_H
#define ZOLM_HTTPS_H

#include "zolm/abi.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Opens the transport.
 * proxy: "INTERNET_OPEN_TYPE_DIRECT" (no proxy at all), "INTERNET_OPEN_TYPE_PRECONFIG" or empty (the
 * system's proxy settings for each URL), or "host:port" (that HTTP proxy, without credentials in it).
 * username, password: proxy credentials, used when the proxy asks for them (any scheme it offers);
 * empty for none. They are never sent to the server itself.
 * Server certificates are checked against the system store, or the file named by SSL_CERT_FILE when
 * that is set at this call.
 */
typedef int32_t(ZOLM_STDCALL https_Start_fn)(const char *proxy, const char *username, const char *password,
                                             char **error);

/*
 * One request to scheme://host:port/path, scheme "https" when secure is 1 and "http" when it is 0.
 * method: "GET" or "POST". path: starts with "/" (empty means "/"), query included.
 * headers: extra request header lines "Name: value", separated by CR LF; may be empty.
 * body, bodyLength: the request body (POST only); body may be NULL when bodyLength is 0.
 * timeoutMs: the limit for the whole request, connection included; must be greater than 0.
 * On success: *status is the HTTP status code; redirects are returned, not followed. A proxy that
 * wants credentials gives 407 here, for plain HTTP and for an HTTPS tunnel alike; a tunnel the proxy
 * refuses for another reason gives the proxy's code, with the proxy's header lines.
 * *responseHeaders holds the final response's header lines "Name: value" joined by CR LF (no status
 * line); *responseBody holds *responseBodyLength bytes, followed by one NUL byte that the length does
 * not count, and is never NULL. On failure the outputs are 0 and NULL.
 */
typedef int32_t(ZOLM_STDCALL https_Request_fn)(const char *host, int32_t port, int32_t secure, const char *method,
                                               const char *path, const char *headers, const void *body,
                                               uint32_t bodyLength, uint32_t timeoutMs, uint16_t *status,
                                               char **responseHeaders, void **responseBody,
                                               uint32_t *responseBodyLength, char **error);

/* Closes the transport and forgets the proxy credentials. Closing a closed transport succeeds. */
typedef int32_t(ZOLM_STDCALL https_Stop_fn)(char **error);

/*
 * Zeroes and frees a text or body this library returned. NULL is accepted and ignored (result 0);
 * a pointer the library does not know (never handed out, or released already) is left alone and
 * gives a nonzero result.
 */
typedef int32_t(ZOLM_STDCALL https_Release_fn)(void *pointer);

ZOLM_EXPORT https_Start_fn https_Start;
ZOLM_EXPORT https_Request_fn https_Request;
ZOLM_EXPORT https_Stop_fn https_Stop;
ZOLM_EXPORT https_Release_fn https_Release;

#ifdef __cplusplus
}
#endif

#endif
