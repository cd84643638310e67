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
// Writes a name (shorter than the field) into encodingName.
void chkSetName(CconvChkRecord* rec, const char* name);

int scoreIso2022jp(const CconvChkRecord* rec);
int scoreUtf8(const CconvChkRecord* rec, std::uint32_t* multiCount, std::uint32_t* latinCount);
int scoreEucjpFix(const CconvChkRecord* rec);
int scoreUtf16(const CconvChkRecord* rec, int* beScore, int* leScore);
int scoreUcs4(const CconvChkRecord* rec, int* beScore, int* leScore);
int scoreEucjp(const CconvChkRecord* rec);
int scoreSjis(const CconvChkRecord* rec, std::uint32_t* dblCount, std::uint32_t* highCount);

// The seven scores of one window with the counts that refine two of them.
struct ChkScores {
  int fix, euc, u16, u4, sj, u8, jis;
  int u16be, u16le, u4be, u4le;
  std::uint32_t multiCount, latinCount, dblCount, highCount;
};
// Runs every scorer over the window of at most 2048 bytes from inPos.
void chkScoreAll(CconvChkRecord* rec, ChkScores* scores);
// The falling-threshold decision: the winning name, or null. Sets *bigEndian
// for the two Unicode candidates.
const char* chkDecide(const ChkScores& scores, std::uint32_t* bigEndian);

bool isUcs2Assigned(std::uint8_t hi, std::uint8_t lo);
bool isSjisCode(std::uint32_t pair);

}  // namespace zk

#endif
