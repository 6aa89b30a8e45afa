/* A minimal iconv for mingw-w64 builds of libcdio; see iconv.h for what it
 * converts. Every charset here is stateless, so a conversion descriptor is
 * just the pair of charsets, and text is converted one character at a time:
 * decoded to a Unicode code point, then encoded. */
#include "iconv.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

enum charset { UTF_8, UCS_2BE, UTF_16BE, ISO_8859_1, ASCII, SHIFT_JIS, UNKNOWN };

struct converter {
  enum charset from;
  enum charset to;
};

/* Names are compared ignoring case, '-' and '_': "utf8" is "UTF-8". */
static enum charset charset_named(const char *name) {
  static const struct {
    const char *name;
    enum charset charset;
  } names[] = {
      {"UTF8", UTF_8},          {"UCS2BE", UCS_2BE}, {"UTF16BE", UTF_16BE},
      {"ISO88591", ISO_8859_1}, {"LATIN1", ISO_8859_1}, {"ASCII", ASCII},
      {"USASCII", ASCII},       {"SHIFTJIS", SHIFT_JIS}, {"SJIS", SHIFT_JIS},
  };
  char key[16];
  size_t length = 0;
  for (; *name != '\0'; ++name) {
    if (*name == '-' || *name == '_') continue;
    if (length + 1 == sizeof key) return UNKNOWN;
    key[length++] = (*name >= 'a' && *name <= 'z') ? (char)(*name - 'a' + 'A') : *name;
  }
  key[length] = '\0';
  for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
    if (strcmp(key, names[i].name) == 0) return names[i].charset;
  return UNKNOWN;
}

static int is_surrogate(unsigned long c) { return c >= 0xD800 && c <= 0xDFFF; }

/* Reads one character from in (left > 0 bytes). Returns the number of bytes
 * it takes, or -EILSEQ (invalid) or -EINVAL (cut off by the end of in). */
static int decode(enum charset charset, const unsigned char *in, size_t left,
                  unsigned long *c) {
  switch (charset) {
    case UTF_8: {
      int length;
      unsigned long least;
      if (in[0] < 0x80) {
        *c = in[0];
        return 1;
      } else if (in[0] < 0xC2) {
        return -EILSEQ;  /* a continuation byte, or an overlong 2-byte form */
      } else if (in[0] < 0xE0) {
        length = 2, least = 0x80, *c = in[0] & 0x1F;
      } else if (in[0] < 0xF0) {
        length = 3, least = 0x800, *c = in[0] & 0x0F;
      } else if (in[0] < 0xF5) {
        length = 4, least = 0x10000, *c = in[0] & 0x07;
      } else {
        return -EILSEQ;
      }
      for (int i = 1; i < length; ++i) {
        if ((size_t)i == left) return -EINVAL;
        if ((in[i] & 0xC0) != 0x80) return -EILSEQ;
        *c = (*c << 6) | (in[i] & 0x3F);
      }
      if (*c < least || *c > 0x10FFFF || is_surrogate(*c)) return -EILSEQ;
      return length;
    }
    case UCS_2BE:
    case UTF_16BE: {
      if (left < 2) return -EINVAL;
      *c = (unsigned long)in[0] << 8 | in[1];
      if (!is_surrogate(*c)) return 2;
      if (charset == UCS_2BE || *c >= 0xDC00) return -EILSEQ;
      if (left < 4) return -EINVAL;
      unsigned long low = (unsigned long)in[2] << 8 | in[3];
      if (low < 0xDC00 || low > 0xDFFF) return -EILSEQ;
      *c = 0x10000 + ((*c - 0xD800) << 10) + (low - 0xDC00);
      return 4;
    }
    case ISO_8859_1:
      *c = in[0];
      return 1;
    case ASCII:
      *c = in[0];
      return in[0] < 0x80 ? 1 : -EILSEQ;
    case SHIFT_JIS: {
      int length = IsDBCSLeadByteEx(932, in[0]) ? 2 : 1;
      WCHAR wide[2];
      if ((size_t)length > left) return -EINVAL;
      if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, (LPCCH)in, length, wide, 2) != 1)
        return -EILSEQ;
      *c = wide[0];
      return length;
    }
    default:
      return -EILSEQ;
  }
}

/* Writes character c to out (room for 4 bytes). Returns the number of bytes
 * written, or -EILSEQ where the charset has no such character. */
static int encode(enum charset charset, unsigned long c, unsigned char *out) {
  switch (charset) {
    case UTF_8:
      if (c < 0x80) {
        out[0] = (unsigned char)c;
        return 1;
      } else if (c < 0x800) {
        out[0] = (unsigned char)(0xC0 | c >> 6);
        out[1] = (unsigned char)(0x80 | (c & 0x3F));
        return 2;
      } else if (c < 0x10000) {
        out[0] = (unsigned char)(0xE0 | c >> 12);
        out[1] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        out[2] = (unsigned char)(0x80 | (c & 0x3F));
        return 3;
      }
      out[0] = (unsigned char)(0xF0 | c >> 18);
      out[1] = (unsigned char)(0x80 | (c >> 12 & 0x3F));
      out[2] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
      out[3] = (unsigned char)(0x80 | (c & 0x3F));
      return 4;
    case UCS_2BE:
    case UTF_16BE:
      if (c < 0x10000) {
        out[0] = (unsigned char)(c >> 8);
        out[1] = (unsigned char)c;
        return 2;
      }
      if (charset == UCS_2BE) return -EILSEQ;
      c -= 0x10000;
      out[0] = (unsigned char)(0xD8 | c >> 18);
      out[1] = (unsigned char)(c >> 10);
      out[2] = (unsigned char)(0xDC | (c >> 8 & 0x03));
      out[3] = (unsigned char)c;
      return 4;
    case ISO_8859_1:
    case ASCII:
      if (c > (charset == ASCII ? 0x7Fu : 0xFFu)) return -EILSEQ;
      out[0] = (unsigned char)c;
      return 1;
    default:
      return -EILSEQ;
  }
}

iconv_t iconv_open(const char *tocode, const char *fromcode) {
  enum charset to = charset_named(tocode), from = charset_named(fromcode);
  /* Shift_JIS is only read. */
  if (to == UNKNOWN || to == SHIFT_JIS || from == UNKNOWN) {
    errno = EINVAL;
    return (iconv_t)-1;
  }
  struct converter *converter = malloc(sizeof *converter);
  if (converter == NULL) {
    errno = ENOMEM;
    return (iconv_t)-1;
  }
  converter->from = from;
  converter->to = to;
  return converter;
}

size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf,
             size_t *outbytesleft) {
  const struct converter *converter = cd;
  if (cd == NULL || cd == (iconv_t)-1) {
    errno = EBADF;
    return (size_t)-1;
  }
  /* A call without input resets the shift state; these charsets have none. */
  if (inbuf == NULL || *inbuf == NULL) return 0;
  while (*inbytesleft > 0) {
    unsigned long c;
    unsigned char bytes[4];
    int used = decode(converter->from, (const unsigned char *)*inbuf, *inbytesleft, &c);
    if (used < 0) {
      errno = -used;
      return (size_t)-1;
    }
    int made = encode(converter->to, c, bytes);
    if (made < 0) {
      errno = -made;
      return (size_t)-1;
    }
    if ((size_t)made > *outbytesleft) {
      errno = E2BIG;
      return (size_t)-1;
    }
    memcpy(*outbuf, bytes, (size_t)made);
    *outbuf += made;
    *outbytesleft -= (size_t)made;
    *inbuf += used;
    *inbytesleft -= (size_t)used;
  }
  return 0;
}

int iconv_close(iconv_t cd) {
  if (cd == NULL || cd == (iconv_t)-1) {
    errno = EBADF;
    return -1;
  }
  free(cd);
  return 0;
}
