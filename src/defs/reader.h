// The definition-file reader: reads one whole XML-like file into code points,
// removes processing instructions and "--" comments, and answers searches
// over the flat text. It is not a tree parser.
#ifndef ZRKVT16_READER_H
#define ZRKVT16_READER_H

#include <cstddef>
#include <cstdint>

namespace zk {

struct CodeTable;

enum TextEncoding : std::uint32_t {
  kTextUtf16 = 1,
  kTextUtf8 = 2,  // recognised only: opening fails
  kTextUcs4 = 3,
  kTextUcs2 = 4,
  kTextShiftJis = 5  // recognised only: opening fails
};

struct DefDoc {
  // Code points after decoding and preprocessing. The same block goes on
  // with one byte per code point (its low 8 bits, 0 when above 0xFF), in
  // which the reader's plain scans run.
  std::uint32_t* text;
  std::int32_t byteLen;    // 4 per code point
  std::uint32_t cursor;    // byte offset at which searches begin
  std::uint32_t encoding;  // TextEncoding of the file
  std::uint32_t bigEndian;
  std::int32_t* tagPos;    // code-point indices of every "<" and every "/" before ">"
  std::int32_t tagCount;
};

// Limits of the format.
constexpr int kMaxKeyLen = 127;
constexpr int kMaxNumberLen = 15;
constexpr int kFieldSize = 260;

// Opens directory + lower-cased base name and extension of `name`.
int defOpen(const char* name, std::uint32_t defaultEncoding, std::uint32_t defaultBigEndian,
            DefDoc* doc);
// As defOpen, for a file that is opened once (a rule file): what is read is
// not kept for later opens.
int defOpenOnce(const char* name, std::uint32_t defaultEncoding, std::uint32_t defaultBigEndian,
                DefDoc* doc);
// Between these two calls (the loading pass, under the table lock) every
// file opened with defOpen is read once: opening it again gives what was
// read, which stays until defCacheEnd.
void defCacheBegin();
void defCacheEnd();
void defClose(DefDoc* doc);
// Offsets are byte offsets into doc->text (multiples of 4).
int defFindKey(const DefDoc* doc, const char* key, std::uint32_t* end);
int defFindElement(DefDoc* doc, const char* name, std::uint32_t* start, std::uint32_t* end);
// `out` holds kFieldSize bytes. Both return 0, leaving `out` empty, when the
// value has more than 259 characters: such a value is refused, not cut.
int defQuotedValue(const DefDoc* doc, std::uint32_t offset, char* out);
int defDomainValue(const DefDoc* doc, std::uint32_t start, std::uint32_t end, char* out);
std::uint16_t defBytenumValue(const DefDoc* doc, std::uint32_t start, std::uint32_t end);
// Indices here are code-point indices.
int defHexNumber(const std::uint32_t* cps, std::uint32_t first, std::uint32_t limit,
                 std::uint32_t* next, std::uint32_t* value);
// Heap strings (free with std::free), or null.
char* defEntityRef(const DefDoc* doc, std::uint32_t start, std::uint32_t end);
char* defEntityFile(DefDoc* doc, const char* entity);
// `refer` may be null (the declaring document is also the referring one);
// either table may be null.
int defBindTable(DefDoc* declaring, const DefDoc* refer, std::uint32_t start, std::uint32_t end,
                 CodeTable* t1, CodeTable* t2);
// Each output holds 260 bytes; a part that does not fit is cut.
void splitPath(const char* path, char* drive, char* dir, char* base, char* ext);
// The same split as offsets, for paths of any length: the drive ends at
// parts[0], the directory at parts[1], the base name at parts[2]; the
// extension runs to the end.
void splitPathParts(const char* path, std::size_t parts[3]);
// The text of [start, end) as bytes, in a kFieldSize buffer; 0 (and an empty
// string) when it has more than 259 characters.
int defElementText(const DefDoc* doc, std::uint32_t start, std::uint32_t end, char* out);
// The first quoted value after `offset`, read as hexadecimal after spaces
// and tabs up to the first other character; 0 when there is no pair of
// quotes. Numbers are kept modulo 2^32 whatever their length.
int defQuotedHex(const DefDoc* doc, std::uint32_t offset, std::uint32_t* value);

}  // namespace zk

#endif
