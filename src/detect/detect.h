// Encoding detection: byte order mark, XML declaration, then scoring of the
// first 2048 bytes against seven candidates.
#ifndef ZRKVT16_DETECT_H
#define ZRKVT16_DETECT_H

#include <cstdint>

#include "zrkvt16.h"

namespace zk {

void chkBom(CconvChkRecord* rec);
int chkXmlDecl(CconvChkRecord* rec);
int chkFindEncodingKeyword(CconvChkRecord* rec, int width);
int chkCopyEncodingValue(CconvChkRecord* rec, int width, int offset);
int chkScore(CconvChkRecord* rec);
void chkNewline(CconvChkRecord* rec, int width);

int scoreIso2022jp(const CconvChkRecord* rec);
int scoreUtf8(const CconvChkRecord* rec, std::uint32_t* multiCount, std::uint32_t* latinCount);
int scoreEucjpFix(const CconvChkRecord* rec);
int scoreUtf16(const CconvChkRecord* rec, int* beScore, int* leScore);
int scoreUcs4(const CconvChkRecord* rec, int* beScore, int* leScore);
int scoreEucjp(const CconvChkRecord* rec);
int scoreSjis(const CconvChkRecord* rec, std::uint32_t* dblCount, std::uint32_t* highCount);

bool isUcs2Assigned(std::uint8_t hi, std::uint8_t lo);
bool isSjisCode(std::uint32_t pair);

}  // namespace zk

#endif
