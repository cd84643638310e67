/* zkhost: what host programs add on top of libzrkvt16.
 *
 * The library is lenient by design: its Unicode decoders take ill-formed
 * input (bad continuation bytes, overlong forms, surrogates, values above
 * U+10FFFF, FE and FF bytes, lone UTF-16 surrogates) and pass it on as
 * values, and its detector names a buffer from its first 2048 bytes. Hosts
 * (kvtconv, the Python binding) use this component to check Unicode input
 * before it reaches cconvConvert and to confirm a detected encoding against
 * the whole input. It is built into kvtconv and as libzrkvt16host.so, which
 * exports only the functions below and uses libzrkvt16 through its public
 * interface.
 *
 * Everything is plain C for ctypes: structures the caller allocates,
 * integer results, no callbacks. Offsets are byte offsets in the whole
 * stream fed to a validator, counted from its first byte (a byte order mark
 * included).
 */
#ifndef ZKHOST_H
#define ZKHOST_H

#include <stddef.h>
#include <stdint.h>

#include "zrkvt16.h"

#if defined(ZKHOST_BUILDING) && defined(_WIN32)
#define ZKH_API __declspec(dllexport)
#elif defined(ZKHOST_BUILDING)
#define ZKH_API __attribute__((visibility("default")))
#else
#define ZKH_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Unicode validation ------------------------------------------------
 *
 * A validator reads a stream of UTF-8, UTF-16, UCS-2 or UCS-4 in chunks of
 * any size and reports each ill-formed sequence with its stream offset and
 * length. The lengths follow the Unicode standard's "maximal subpart"
 * practice, as Python's utf-8, utf-16 and utf-32 decoders do, so replacing
 * each reported sequence with one U+FFFD gives exactly what Python's
 * errors="replace" gives:
 *
 *   UTF-8: a byte that begins no sequence (80-BF alone, C0, C1, F5-FF) is
 *     one sequence of 1 byte; a lead byte followed by fewer continuation
 *     bytes than it needs (or by a second byte that would make an overlong
 *     form, a surrogate or a value above U+10FFFF: E0 80-9F, ED A0-BF,
 *     F0 80-8F, F4 90-BF) is one sequence made of the lead byte and the
 *     continuation bytes that did fit; the byte that broke it starts anew.
 *   UTF-16: a high surrogate not followed by a low one is 2 bytes, the unit
 *     after it is read anew; a low surrogate alone is 2 bytes. At the end
 *     of input an odd byte, or a high surrogate with at most one byte after
 *     it, is one truncated sequence up to the end.
 *   UCS-2: every surrogate unit is 2 bytes; an odd byte at the end, 1 byte.
 *   UCS-4: a unit above 10FFFF or in D800-DFFF is 4 bytes; 1 to 3 bytes
 *     left at the end are one truncated sequence.
 */

enum {
  ZKH_UTF8 = 1,
  ZKH_UTF16 = 2,
  ZKH_UCS2 = 3,
  ZKH_UCS4 = 4
};

/* What is wrong with an ill-formed sequence (ZkhIssue.kind). */
enum {
  ZKH_BAD_BYTE = 1,     /* UTF-8: a byte that begins no sequence */
  ZKH_BAD_SEQUENCE = 2, /* UTF-8: a lead byte not followed by what it needs */
  ZKH_SURROGATE = 3,    /* a lone or reversed surrogate, or a surrogate value */
  ZKH_OUT_OF_RANGE = 4, /* UCS-4: a value above U+10FFFF */
  ZKH_TRUNCATED = 5     /* the input ends inside a character */
};

typedef struct ZkhIssue {
  uint64_t offset;         /* stream offset of its first byte */
  uint32_t length;         /* 1 to 4 bytes, replaced by one U+FFFD */
  uint32_t kind;           /* ZKH_BAD_BYTE ... ZKH_TRUNCATED */
  unsigned char bytes[4];  /* its bytes (they may lie in an earlier chunk) */
} ZkhIssue;                /* 24 bytes */

/* Caller-allocated; zkhValidatorInit fills it. The first six fields may be
 * read; none may be written. */
typedef struct ZkhValidator {
  uint32_t form;           /* ZKH_UTF8 ... ZKH_UCS4 */
  uint32_t bigEndian;      /* units of 2 or 4 bytes: most significant first */
  uint32_t detectBom;      /* still looking for a byte order mark */
  uint32_t pendingLen;     /* bytes of an unfinished character held */
  uint64_t offset;         /* stream offset of the next byte to be fed */
  uint64_t complete;       /* stream offset just past the last complete
                              character, mark or reported sequence */
  unsigned char pending[4];
  uint32_t reserved[3];
} ZkhValidator;            /* 48 bytes */

/* Starts a stream. With detectBom, UTF-16 and UCS-2 (FF FE, FE FF) and
 * UCS-4 (FF FE 00 00, 00 00 FE FF) take their byte order from a mark at the
 * start, as the library's decoders do; the mark itself is well-formed.
 * Returns 0, or -1 for a null validator or an unknown form. */
ZKH_API int zkhValidatorInit(ZkhValidator* v, uint32_t form, uint32_t bigEndian,
                             uint32_t detectBom);

/* Reads data[0..len) after everything fed before. Returns 0 when all of it
 * was read without completing an ill-formed sequence (*used = len; an
 * unfinished character at the end is held for the next call). Returns 1 at
 * the first ill-formed sequence, stored in *issue: *used is the number of
 * bytes of data read up to the end of that sequence (0 when it consisted of
 * held bytes only); feed data + *used next. Returns -1 for null arguments
 * (data may be null when len is 0). */
ZKH_API int zkhValidate(ZkhValidator* v, const unsigned char* data, size_t len, size_t* used,
                        ZkhIssue* issue);

/* The end of the stream: returns 1 with a ZKH_TRUNCATED issue when an
 * unfinished character is held (and drops it), 0 when none is, -1 for null
 * arguments. */
ZKH_API int zkhValidateEnd(ZkhValidator* v, ZkhIssue* issue);

/* U+FFFD in the validator's form and current byte order: writes 3 (UTF-8),
 * 2 (UTF-16, UCS-2) or 4 (UCS-4) bytes to out and returns that count; 0 for
 * a null argument. */
ZKH_API size_t zkhReplacement(const ZkhValidator* v, unsigned char out[4]);

/* Length of the longest prefix of data made of complete, well-formed UTF-8
 * characters, found with the vector kernel. With multiByte not null, sets
 * *multiByte to 1 when that prefix holds a sequence of 2 to 4 bytes. */
ZKH_API size_t zkhUtf8Prefix(const unsigned char* data, size_t len, int* multiByte);

/* ---- Confirming a detected encoding -------------------------------------
 *
 * cconvChkEncode looks at the first 2048 bytes. A host that has more of the
 * input (the whole of it, or its first megabyte) confirms the answer:
 *   1. input that is well-formed UTF-8 and holds at least one multi-byte
 *      sequence is UTF-8 (legacy Japanese text is almost never that by
 *      accident);
 *   2. otherwise an answer taken from a byte order mark stands, and so does
 *      one that decodes cleanly (tried through the library's own decoders;
 *      Unicode forms through the validator above);
 *   3. otherwise the first of ISO-2022-JP, UTF-8, EUC-JP and WINDOWS31J that
 *      decodes cleanly is taken.
 * When nothing decodes cleanly the detector's answer stands. */

enum {
  ZKH_KEPT = 0,        /* the detector's answer stands */
  ZKH_WAS_UTF8 = 1,    /* rule 1 changed it to UTF-8 */
  ZKH_DECODED = 2      /* rule 3 changed it to the first clean candidate */
};

typedef struct ZkhConfirmation {
  char encodingName[CCONV_TEXT_SIZE]; /* the confirmed name, NUL-terminated */
  uint32_t bigEndian;                 /* its byte order (the detector's,
                                         1 for byte-oriented names) */
  uint32_t corrected;                 /* 1 when it differs from the detector's */
  uint32_t reason;                    /* ZKH_KEPT, ZKH_WAS_UTF8, ZKH_DECODED */
} ZkhConfirmation;                    /* 272 bytes */

/* chk: the detector's record after cconvChkEncode (its inBuf is not read);
 * data[0..len): the input, whole when `whole` is not 0, else a prefix of it
 * (a character cut at its end is then not held against a candidate).
 * Returns 1 when out names an encoding, 0 when it is "unknown", -1 for null
 * arguments. Uses the library, so its charset directory must be usable. */
ZKH_API int zkhConfirmEncoding(const CconvChkRecord* chk, const unsigned char* data, size_t len,
                               int whole, ZkhConfirmation* out);

/* ---- ISO-2022-JP escape sequences ---------------------------------------
 *
 * The library reports an escape sequence it does not know as
 * CCONV_NEED_INPUT at its ESC, like a truncated one. Given the bytes from
 * that ESC on: returns the length of the sequence when it is none of ESC ( B,
 * ESC ( J, ESC $ @, ESC $ B, ESC $ ( Q, ESC $ ( P (up to and including the
 * first byte that no known sequence has there); 0 when the bytes are the
 * start of a known one (more input is needed); -1 when data does not start
 * with ESC. */
ZKH_API int zkhUnknownEscape(const unsigned char* data, size_t len);

#ifdef __cplusplus
}
#endif

#endif /* ZKHOST_H */
