/* A minimal iconv for mingw-w64 builds of libcdio.
 *
 * mingw-w64 has no iconv, and libcdio's configure refuses to run without one.
 * libcdio converts only to UTF-8, from UCS-2BE (Joliet names and volume ids),
 * ISO-8859-1 (CD-Text of .cue and .toc files), ASCII and SHIFT_JIS (binary
 * CD-Text). This library does those, and UTF-8 back to UCS-2BE, UTF-16BE,
 * ISO-8859-1 and ASCII for libcdio's cdio_charset_from_utf8(); any other
 * pair is refused by iconv_open() with EINVAL.
 *
 * Behaviour follows glibc: invalid input gives EILSEQ, a character cut off
 * at the end of the input EINVAL, a full output buffer E2BIG; *inbuf and
 * *outbuf are left after the last character converted. UCS-2BE refuses
 * surrogates, as glibc's does; UTF-16BE takes surrogate pairs. SHIFT_JIS is
 * decoded by Windows (code page 932), which maps 0x5C and 0x7E to ASCII.
 */
#ifndef TVRCGCV_WINDOWS_DEPS_ICONV_H
#define TVRCGCV_WINDOWS_DEPS_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void *iconv_t;

iconv_t iconv_open(const char *tocode, const char *fromcode);
size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf,
             size_t *outbytesleft);
int iconv_close(iconv_t cd);

#ifdef __cplusplus
}
#endif

#endif
