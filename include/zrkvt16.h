/*
 * zrkvt16: conversion of Japanese and other East Asian text between
 * encodings, and detection of the encoding of a buffer.
 *
 * The records below cross the library boundary: their layout (field order,
 * types, natural alignment, no packing) is part of the interface and is
 * checked at compile time at the end of this header.
 */
#ifndef ZRKVT16_H
#define ZRKVT16_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(ZRKVT16_BUILDING)
#define ZRKVT16_API __declspec(dllexport)
#else
#define ZRKVT16_API __declspec(dllimport)
#endif
#else
#define ZRKVT16_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes: the record's `status` and the result of the conversion calls. */
enum {
  CCONV_OK = 0,           /* success; from cconvConvert: the input is used up */
  CCONV_ERROR = 1,        /* unknown encoding, record without source or target, ... */
  CCONV_CHAR = 11,        /* one character decoded into the record */
  CCONV_NEED_INPUT = 12,  /* input ends inside a character; inPos at its first byte */
  CCONV_INVALID = 13,     /* the bytes at inPos form no character */
  CCONV_NEXT = 21,        /* character written (or skipped); decode the next one */
  CCONV_OUTPUT_FULL = 22, /* a placed character is pending; make room and call again */
  CCONV_UNMAPPABLE = 23,  /* the target has no code for the character */
  CCONV_TERMINATE = 31    /* asks the target to close its output */
};

/* Size of the fixed text fields (names, paths, language tags). */
#define CCONV_TEXT_SIZE 260

struct RuleDef;
struct RuleFunctionEntry;

typedef struct CconvSrcOptions {
  uint32_t inBigEndian; /* multi-byte units are read most significant byte first */
  uint32_t inDetectBom; /* Unicode sources look for a byte order mark first */
  uint32_t skipInvalid; /* bytes that form no character are skipped */
} CconvSrcOptions;

typedef struct CconvDstOptions {
  uint32_t outBigEndian;        /* multi-byte units are written most significant byte first */
  uint32_t outWriteBom;         /* Unicode targets write a byte order mark first */
  uint32_t substitute;          /* replace unmappable characters */
  uint32_t replacement;         /* low 16 bits: narrow replacement; high 16 bits: wide */
  char lang[CCONV_TEXT_SIZE];   /* default language tag, empty = no tags */
  uint32_t newlineConvert;      /* normalise line ends */
  uint32_t newlineKind;         /* 2 CR, 3 LF, 4 U+2028, 5 U+2029, other CR LF */
  uint32_t ncrMode;             /* UCS-2 output: 0 off, 1 hexadecimal, other decimal */
} CconvDstOptions;

/* A substitute for unmappable characters; all 0 = none found. */
typedef struct CconvSubstitute {
  uint32_t charset;
  uint16_t type;
  uint32_t code;
  uint16_t unit;
} CconvSubstitute;

typedef struct CconvRecord {
  const unsigned char *inBuf;
  int32_t inPos;
  int32_t inLen;
  int32_t inChars;
  unsigned char *outBuf;
  int32_t outPos;
  int32_t outSize;
  int32_t outChars;
  uint32_t status; /* first library field: cconvInitConvert clears from here */
  uint32_t srcId;
  struct RuleDef *srcRule;
  const struct RuleFunctionEntry *destEntry;
  uint32_t inCharset;
  uint16_t inCharsetType;
  uint32_t inDesignation;
  uint32_t inPlane;
  uint32_t dstId;
  struct RuleDef *dstRule;
  const struct RuleFunctionEntry *constEntry;
  uint32_t outCharset;
  uint16_t outCharsetType;
  uint32_t outDesignation;
  uint32_t outPlane;
  uint32_t rawCode;
  uint32_t code;
  uint32_t ucs;
  uint32_t outCode;
  uint16_t outUnit;
  uint16_t outSeqLen;
  uint32_t prevRawCode;
  uint32_t ucs2;
  char lang[CCONV_TEXT_SIZE];
  char langWritten[CCONV_TEXT_SIZE];
  char langCurrent[CCONV_TEXT_SIZE]; /* last field that cconvInitConvert clears */
  CconvSrcOptions srcOptions;
  CconvDstOptions dstOptions;
  CconvSubstitute subNarrow;
  CconvSubstitute subWide;
} CconvRecord;

typedef struct CconvChkRecord {
  const unsigned char *inBuf;
  int32_t inPos;
  int32_t inLen;
  char encodingName[CCONV_TEXT_SIZE];
  uint32_t xmlDeclared;
  uint32_t hasBom;
  uint32_t bigEndian;
  uint32_t newlineKind;   /* 0 none, 1 CR LF, 2 CR, 3 LF, 4 U+2028, 5 U+2029 */
  uint32_t encodingClass; /* 0x1002 UTF-16/UCS-2/UCS-4, 1 other, 0 unknown */
} CconvChkRecord;

/* Reads every rule file of the charset directory, once per process.
   Returns 1 when at least one rule file was accepted, else 0. */
ZRKVT16_API int cconvLoadRule(void);

ZRKVT16_API uint32_t cconvInitConvert(CconvRecord *rec, const CconvDstOptions *opts,
                                      const char *target);
ZRKVT16_API uint32_t cconvTermConvert(CconvRecord *rec);
ZRKVT16_API uint32_t cconvChgCharset(CconvRecord *rec, const CconvSrcOptions *opts,
                                     const char *source);
ZRKVT16_API uint32_t cconvConvert(CconvRecord *rec);

/* Names the likely encoding of [inBuf + inPos, inBuf + inLen).
   Returns 1 when a name was settled, 0 for "unknown". */
ZRKVT16_API int cconvChkEncode(CconvChkRecord *rec);

/* The charset directory: set once, before first use, or defaulted to the
   library's directory followed by "base2/". */
ZRKVT16_API const char *KVT_getCharsetPath(void);
ZRKVT16_API int KVT_setCharsetPath(const char *path);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layout is a promise to host programs: any drift fails the build. */
#if defined(__cplusplus)
#define ZRKVT16_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define ZRKVT16_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
ZRKVT16_STATIC_ASSERT(sizeof(CconvSrcOptions) == 12, "CconvSrcOptions layout");
ZRKVT16_STATIC_ASSERT(sizeof(CconvDstOptions) == 288, "CconvDstOptions layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvDstOptions, lang) == 16, "CconvDstOptions layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvDstOptions, newlineConvert) == 276, "CconvDstOptions layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvDstOptions, ncrMode) == 284, "CconvDstOptions layout");
ZRKVT16_STATIC_ASSERT(sizeof(CconvSubstitute) == 16, "CconvSubstitute layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, inPos) == 8, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, outBuf) == 24, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, status) == 44, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, srcRule) == 56, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, destEntry) == 64, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, inCharset) == 72, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, inCharsetType) == 76, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, inDesignation) == 80, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, dstId) == 88, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, dstRule) == 96, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, constEntry) == 104, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, outCharset) == 112, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, outCharsetType) == 116, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, outDesignation) == 120, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, rawCode) == 128, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, outCode) == 140, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, outUnit) == 144, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, outSeqLen) == 146, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, prevRawCode) == 148, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, ucs2) == 152, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, lang) == 156, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, langWritten) == 416, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, langCurrent) == 676, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, srcOptions) == 936, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, dstOptions) == 948, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, subNarrow) == 1236, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvRecord, subWide) == 1252, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(sizeof(CconvRecord) == 1272, "CconvRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvChkRecord, encodingName) == 16, "CconvChkRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvChkRecord, xmlDeclared) == 276, "CconvChkRecord layout");
ZRKVT16_STATIC_ASSERT(offsetof(CconvChkRecord, encodingClass) == 292, "CconvChkRecord layout");
ZRKVT16_STATIC_ASSERT(sizeof(CconvChkRecord) == 296, "CconvChkRecord layout");
#endif

#endif /* ZRKVT16_H */
