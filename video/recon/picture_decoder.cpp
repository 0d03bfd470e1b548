#include "video/recon/picture_decoder.h"

#include <cstring>

#include "video/parser/bit_reader.h"
#include "video/parser/bitstream_init.h"
#include "video/parser/macroblock_syntax.h"
#include "video/parser/motion_vectors.h"
#include "video/parser/picture_headers.h"
#include "video/recon/inverse_transform.h"
#include "video/recon/macroblock_reconstruction.h"
#include "video/recon/reference_grids.h"

namespace clipnote::h263 {

namespace {

constexpr uint8_t kQcif = 2;
constexpr uint8_t kCif = 3;

// Copies the macroblocks marked in changedMbs from the current to the previous picture.
void CopyChangedMacroblocks(const uint8_t* changedMbs) {
  const VideoDecoder& d = videoDecoder;
  const int w = d.width, h = d.height, columns = w / 16, rows = h / 16;
  uint8_t* const u = d.previousPicture + w * h;
  uint8_t* const v = u + (w / 2) * (h / 2);
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      if (changedMbs[row * columns + column] == 0) continue;
      const int chroma = 8 * row * (w / 2) + 8 * column;
      uint8_t* const blocks[6] = {d.previousPicture + 16 * row * w + 16 * column, nullptr, nullptr,
                                  nullptr, u + chroma, v + chroma};
      CopyMacroblock(blocks, d.currentPicture, row, column);
    }
  }
}

}  // namespace

void InitVideoDecoder(uint8_t* currentPicture, uint8_t* previousPicture,
                      uint8_t* interpolatedReference, uint8_t* bitBuffer, int32_t windowSize,
                      int32_t sourceMode, const void* source, int64_t sourceLength) {
  InitBitstream(kCif, bitBuffer, previousPicture, interpolatedReference);
  videoDecoder.currentPicture = currentPicture;
  videoDecoder.mbError = 0;
  videoDecoder.failedMbIndex = -1;
  videoDecoder.referenceInSync = 0;
  SetBitSource(sourceMode, windowSize, source, sourceLength, bitBuffer);
}

int32_t ProbePictureFormat() {
  // The size is known before any extra insertion bytes, which may run on for longer than a
  // window: they are left unread, so the window stays where a fresh start puts it.
  const int32_t code = ParsePictureHeaderFields();
  if (videoDecoder.sourceFormat == kQcif) {
    videoDecoder.width = 176;
    videoDecoder.height = 144;
  } else if (videoDecoder.sourceFormat == kCif) {
    videoDecoder.width = 352;
    videoDecoder.height = 288;
  }
  RestartSource();
  videoDecoder.mbError = 0;
  videoDecoder.failedMbIndex = -1;
  videoDecoder.referenceInSync = 0;  // the sizes may have changed
  return code;
}

int32_t DecodePicture() {
  VideoDecoder& d = videoDecoder;
  // The GOB counts follow the last header read; the plane sizes stay those of
  // the probe. Should a stream change format, the fetches and stores below
  // still stay inside their buffers.
  if (d.sourceFormat == kQcif) {
    d.mbsPerGob = 11;
    d.gobsPerPicture = 9;
  } else if (d.sourceFormat == kCif) {
    d.mbsPerGob = 22;
    d.gobsPerPicture = 18;
  } else {
    return kUnsupportedFormat;
  }
  uint8_t* y = d.currentPicture;
  uint8_t* u = y + d.width * d.height;
  uint8_t* v = u + (d.width / 2) * (d.height / 2);

  const int32_t code = ParsePictureHeader();
  if (d.endOfSequence != 0) return kParseOk;
  if (code != kParseOk) return code;

  ClearMvStore();
  BeginPictureSyntax();
  ComputeIdctWeights();
  for (d.gobIndex = 0; d.gobIndex < d.gobsPerPicture; ++d.gobIndex) DecodeGob(y, u, v);
  AlignToByte();

  // After a macroblock error the macroblocks not reached hold whatever the picture
  // buffer held: the picture is copied and the grids are built whole.
  if (d.mbError != 0) d.referenceInSync = 0;
  if (d.referenceInSync != 0) {
    // Every other macroblock holds what it held in the previous picture, from which
    // the grids were built.
    CopyChangedMacroblocks(d.changedMbs);
    UpdateReferenceAround(d.changedMbs);
  } else {
    std::memcpy(d.previousPicture, d.currentPicture,
                static_cast<size_t>(d.width * d.height * 3 / 2));
    BuildLumaReference();
    BuildChromaReference(0);
    BuildChromaReference(1);
    d.referenceInSync = 1;
  }
  std::memset(d.changedMbs, 0, sizeof d.changedMbs);
  return kParseOk;
}

void DecodeGob(uint8_t* y, uint8_t* u, uint8_t* v) {
  VideoDecoder& d = videoDecoder;
  if (d.gobIndex == 0) {
    d.gobHeaderPresent = 0;
    d.mvPredictionMode = 1;
  } else {
    ParseGobHeader();  // a malformed GOB header is not fatal: macroblocks follow
    d.mvPredictionMode = d.gobHeaderPresent != 0 ? 1 : 3;
  }
  d.quant = d.gquant;
  ResetMacroblockState();
  d.mvX = 0;
  d.mvY = 0;
  const int32_t end = (d.gobIndex + 1) * d.mbsPerGob;
  for (d.mbIndex = static_cast<uint16_t>(d.gobIndex * d.mbsPerGob);
       d.mbIndex < end && d.mbError == 0; ++d.mbIndex) {
    DecodeMacroblock(y, u, v, d.mbIndex);
    if (d.mbError != 0) d.failedMbIndex = d.mbIndex;
  }
}

}  // namespace clipnote::h263
