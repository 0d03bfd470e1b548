#pragma once

// Reads the syntax of a whole clip the way the picture driver does, without reconstruction,
// and counts what the clip uses: GOB headers, vectors and the kinds of macroblock. Tests use
// it to check that a clip exercises what they mean to test.

#include <array>
#include <cstdint>
#include <vector>

#include "video/parser/picture_headers.h"
#include "video_parser/parser_test_support.h"

namespace parser_test {

struct ClipSyntax {
  std::vector<int64_t> starts;  // bit offsets of the pictures
  int interPictures = 0;
  int gobHeaders = 0;
  int badGobHeaders = 0;       // a GOB start code whose header did not parse
  int nonZeroVectors = 0;
  int halfSampleVectors = 0;   // a vector with an odd component
  int notCoded = 0;
  int intraInInter = 0;        // intra macroblocks of INTER pictures
  int quantiserChanges = 0;    // macroblocks carrying DQUANT
  int failedPicture = -1;      // where the macroblock syntax failed, if it did
  int failedMacroblock = -1;
};

inline ClipSyntax WalkClipSyntax(const std::vector<uint8_t>& clip, int32_t windowSize = 8192) {
  VideoDecoder& d = videoDecoder;
  std::vector<uint8_t> buffer;
  AttachClip(clip, buffer, windowSize);
  ClipSyntax syntax;
  std::array<int8_t, 384> levels;
  for (int64_t start = 0; ParsePictureHeader() == kParseOk && d.endOfSequence == 0;
       start = BitsConsumed()) {
    syntax.starts.push_back(start);
    const bool inter = d.pictureCodingType == 1;
    syntax.interPictures += inter;
    d.mbsPerGob = d.sourceFormat == 2 ? 11 : 22;
    d.gobsPerPicture = d.sourceFormat == 2 ? 9 : 18;
    ClearMvStore();
    BeginPictureSyntax();
    for (; d.gobIndex < d.gobsPerPicture; ++d.gobIndex) {
      d.gobHeaderPresent = 0;
      if (d.gobIndex > 0 && ParseGobHeader() != kParseOk) ++syntax.badGobHeaders;
      d.mvPredictionMode = d.gobHeaderPresent || d.gobIndex == 0 ? 1 : 3;
      syntax.gobHeaders += d.gobHeaderPresent;
      ResetMacroblockState();
      for (int mb = 0; mb < d.mbsPerGob; ++mb) {
        d.mbIndex = static_cast<uint16_t>(d.gobIndex * d.mbsPerGob + mb);
        if (DecodeMacroblockSyntax(&levels[0], &levels[256], &levels[320]) != 0) {
          syntax.failedPicture = static_cast<int>(syntax.starts.size()) - 1;
          syntax.failedMacroblock = d.mbIndex;
          return syntax;
        }
        if (d.cod != 0) {
          ++syntax.notCoded;
          continue;
        }
        const bool intra = d.mbType == kMbIntra || d.mbType == kMbIntraQ;
        syntax.intraInInter += inter && intra;
        syntax.quantiserChanges += d.mbType == kMbInterQ || d.mbType == kMbIntraQ;
        syntax.nonZeroVectors += d.mvX != 0 || d.mvY != 0;
        syntax.halfSampleVectors += ((d.mvX | d.mvY) & 1) != 0;
      }
    }
    AlignToByte();
  }
  return syntax;
}

}  // namespace parser_test
