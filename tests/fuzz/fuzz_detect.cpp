// Encoding detection over any bytes and any range. The first four bytes
// choose inLen (up to the rest of the input) and inPos (from a little before
// 0 to a little past inLen); the range is copied into a block of exactly
// inLen bytes, so that a read past it is caught. The call must put the range
// back and answer with a terminated name: "unknown" exactly when it
// returns 0.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_common.h"
#include "zrkvt16.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zkfuzz::setUpDir();  // an empty charset directory: loading is cheap
  if (size < 4) return 0;
  const std::uint32_t lenSel = static_cast<std::uint32_t>(data[0] | data[1] << 8);
  const std::uint32_t posSel = static_cast<std::uint32_t>(data[2] | data[3] << 8);
  data += 4;
  size -= 4;
  const std::int32_t len = lenSel == 0xFFFF ? static_cast<std::int32_t>(size)
                                            : static_cast<std::int32_t>(lenSel % (size + 1));
  const std::int32_t pos =
      static_cast<std::int32_t>(posSel % static_cast<std::uint32_t>(len + 5)) - 2;

  std::unique_ptr<unsigned char[]> block(new unsigned char[len > 0 ? len : 1]);
  if (len > 0) std::memcpy(block.get(), data, static_cast<std::size_t>(len));
  CconvChkRecord rec;
  std::memset(&rec, 0xEE, sizeof rec);
  rec.inBuf = len > 0 ? block.get() : nullptr;
  rec.inPos = pos;
  rec.inLen = len;
  const int r = cconvChkEncode(&rec);
  if (rec.inPos != pos || rec.inLen != len) abort();
  if (std::memchr(rec.encodingName, 0, sizeof rec.encodingName) == nullptr) abort();
  const bool unknown = std::strcmp(rec.encodingName, "unknown") == 0;
  if (r != 0 && r != 1) abort();
  if (r == 0 && (!unknown || rec.encodingClass != 0)) abort();
  if (r == 1 && rec.encodingClass == 0) abort();
  if (rec.newlineKind > 5 || rec.bigEndian > 1 || rec.hasBom > 1 || rec.xmlDeclared > 1) abort();
  return 0;
}
