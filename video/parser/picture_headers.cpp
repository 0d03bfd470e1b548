#include "video/parser/picture_headers.h"

#include "video/parser/bit_reader.h"

namespace clipnote::h263 {

namespace {

VideoDecoder& d = videoDecoder;

constexpr int32_t kFormatQcif = 2;
constexpr int32_t kFormatCif = 3;

// H.263 forbids a quantiser of 0; taking it as 1 keeps the dequantiser away from 0.
uint8_t ReadQuantiser() {
  const uint8_t q = ReadBits(5);
  return q == 0 ? 1 : q;
}

// The header's fields; `complete` tells whether they were all read, PEI included.
int32_t ReadPictureHeaderFields(bool& complete) {
  complete = false;
  const uint8_t a = ReadBits(8);
  const uint8_t b = ReadBits(8);
  const uint8_t c = ReadBits(6);
  if (!(a == 0 && b == 0 && c == 0x20)) {
    // Only the last six bits identify the end-of-sequence code.
    if (c == 0x3F) {
      d.endOfSequence = 1;
      return kParseOk;
    }
    return kNoPictureStartCode;
  }
  d.temporalReference = ReadBits(8);
  ReadBit();  // PTYPE bit 1, always 1 in H.263; not checked
  if (ReadBit() != 0) return kNotH263Header;
  d.splitScreen = ReadBit();
  d.documentCamera = ReadBit();
  d.freezeRelease = ReadBit();
  if (d.splitScreen || d.documentCamera || d.freezeRelease) return kUnsupportedMode;
  d.sourceFormat = ReadBits(3);
  if (d.sourceFormat != kFormatQcif && d.sourceFormat != kFormatCif) return kUnsupportedFormat;
  d.pictureCodingType = ReadBit();
  d.unrestrictedMv = ReadBit();
  d.syntaxArithmetic = ReadBit();
  d.advancedPrediction = ReadBit();
  d.pbFrames = ReadBit();
  d.pquant = ReadQuantiser();
  d.cpm = ReadBit();
  if (d.unrestrictedMv || d.syntaxArithmetic || d.advancedPrediction || d.pbFrames || d.cpm) {
    return kUnsupportedMode;
  }
  d.pei = ReadBit();
  complete = true;
  return kParseOk;
}

}  // namespace

int32_t ParsePictureHeaderFields() {
  bool complete;
  return ReadPictureHeaderFields(complete);
}

int32_t ParsePictureHeader() {
  bool complete;
  const int32_t code = ReadPictureHeaderFields(complete);
  if (!complete) return code;
  // Extra insertion information: each PEI of 1 is followed by a spare byte and another PEI.
  // The loop ends at the latest at the end of the clip, where the reader delivers zeros.
  for (uint8_t more = d.pei; more != 0; more = ReadBit()) ReadBits(8);
  return kParseOk;
}

int32_t ParseGobHeader() {
  const int32_t a = PeekBits(0, 8);
  const int32_t b = PeekBits(8, 8);
  const int32_t c = PeekBits(16, 8);
  if (!(a == 0 && b == 0 && c != 0)) {
    d.gquant = d.quant;
    d.gobHeaderPresent = 0;
    return kParseOk;
  }
  // A third byte below 0x80 means stuffing zeros precede a byte-aligned start code.
  if (c < 0x80) AlignToByte();
  const uint8_t z0 = ReadBits(8);
  const uint8_t z1 = ReadBits(8);
  const uint8_t one = ReadBit();
  d.gobHeaderPresent = (z0 == 0 && z1 == 0 && one == 1);
  if (!d.gobHeaderPresent) return kBadGobStartCode;
  ReadBits(5);  // GN: GOBs arrive in order, one per macroblock row
  if (d.cpm) d.gsbi = ReadBits(2);
  d.gfid = ReadBits(2);
  d.gquant = ReadQuantiser();
  return kParseOk;
}

void BeginPictureSyntax() {
  d.quant = d.pquant;
  d.gquant = d.pquant;
  d.gobIndex = 0;
}

}  // namespace clipnote::h263
