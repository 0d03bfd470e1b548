#pragma once

// Entry points of the H.263 picture decoder, the driver above the parser: it
// decodes one picture per call, macroblock by macroblock, into caller-owned
// buffers, and keeps all state in the process-wide `videoDecoder` record.
//
// Typical use (as the player does it):
//   InitVideoDecoder(current, previous, reference, bitBuffer,
//                    kVideoWindowSize, kMemorySource, clip, clipSize);
//   ProbePictureFormat();             // sets width and height
//   while (DecodePicture() == 0 && !videoDecoder.endOfSequence) {
//     ... show videoDecoder.currentPicture (1.5 x width x height bytes) ...
//   }

#include <cstdint>

#include "video/parser/video_decoder.h"

namespace clipnote::h263 {

// Buffer sizes the caller must provide (enough for CIF, the largest format).
// The decoder never touches bytes beyond these, whatever the stream says.
inline constexpr int32_t kCurrentPictureBytes = 152064;         // 1.5 x 352 x 288
inline constexpr int32_t kPreviousPictureBytes = 304128;
inline constexpr int32_t kInterpolatedReferenceBytes = 1824768;  // >= 12 x 352 x 288
inline constexpr int32_t kBitBufferBytes = 16384;
inline constexpr int32_t kVideoWindowSize = kBitBufferBytes / 2;

// Sets the decoder up on a clip. The four buffers must hold at least the sizes
// above and should start zeroed (the first INTER picture of a clip that starts
// without an INTRA picture predicts from them). Memory source (sourceMode ==
// kMemorySource): `source` is the first byte of the clip and `sourceLength` its
// size; nothing past it is read. Any other mode: `source` points to a
// BitFileSource and `sourceLength` is unused. Assumes CIF until probed.
void InitVideoDecoder(uint8_t* currentPicture, uint8_t* previousPicture,
                      uint8_t* interpolatedReference, uint8_t* bitBuffer, int32_t windowSize,
                      int32_t sourceMode, const void* source, int64_t sourceLength);

// Reads the first picture header to learn the picture size (width, height),
// then leaves the reader exactly where InitVideoDecoder left it, so the first
// DecodePicture reads the header again (extra insertion bytes included, however
// many). A file source cannot be read again: for it this holds with windows of
// 10 bytes or more, which hold the header's fixed fields. Returns the header's
// code (0 when it is a valid QCIF or CIF baseline header).
int32_t ProbePictureFormat();

// Decodes the next picture into currentPicture and rebuilds the reference.
// Returns 0 for a decoded picture, or for the end of the sequence (then
// videoDecoder.endOfSequence is set and nothing was decoded); 4 when the last
// header read had an unsupported source format; otherwise the picture-header
// code, with the three picture buffers unchanged. A macroblock syntax error
// still returns 0: the failing macroblock and the rest of the picture keep the
// previous picture's samples, videoDecoder.mbError is set, and
// videoDecoder.failedMbIndex tells which macroblock failed.
//
// Contract: from InitVideoDecoder on, nothing outside the decoder writes
// currentPicture, previousPicture or interpolatedReference (reading them is
// fine). After each picture the decoder copies into previousPicture, and
// rebuilds the reference around, only the macroblocks that changed; that equals
// copying the whole picture and rebuilding the whole reference only while the
// buffers hold what the decoder left in them. A caller that has to write them
// starts again with InitVideoDecoder.
int32_t DecodePicture();

// Step of DecodePicture, on the Y, U and V planes of currentPicture (the macroblocks are
// macroblock_reconstruction.h's).
void DecodeGob(uint8_t* y, uint8_t* u, uint8_t* v);

}  // namespace clipnote::h263
