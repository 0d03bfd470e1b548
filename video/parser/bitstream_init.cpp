#include "video/parser/bitstream_init.h"

#include "video/parser/vlc_tables.h"

namespace clipnote::h263 {

void InitBitstream(int32_t sourceFormat, uint8_t* bitBuffer, uint8_t* previousPicture,
                   uint8_t* interpolatedReference) {
  VideoDecoder& d = videoDecoder;
  d.windowStart = bitBuffer;
  d.bitPos = 0;
  d.bitInByte = 0;
  d.bytePos = 0;

  d.sourceFormat = static_cast<uint8_t>(sourceFormat);
  d.splitScreen = 0;
  d.documentCamera = 0;
  d.freezeRelease = 0;
  d.pictureCodingType = 0;
  d.unrestrictedMv = 0;
  d.syntaxArithmetic = 0;
  d.advancedPrediction = 0;
  d.pbFrames = 0;
  d.cpm = 0;
  d.pei = 0;

  d.currentPicture = nullptr;
  d.previousPicture = previousPicture;
  d.interpolatedReference = interpolatedReference;

  switch (sourceFormat) {
    case 1: d.width = 128; d.height = 96; break;
    case 2: d.width = 176; d.height = 144; break;
    case 3: d.width = 352; d.height = 288; break;
    case 4: d.width = 704; d.height = 576; break;
    default: break;
  }

  BuildVlcTables();
  d.endOfSequence = 0;
}

}  // namespace clipnote::h263
