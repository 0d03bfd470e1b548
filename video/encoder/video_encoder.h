#pragma once

// Our baseline H.263 encoder: QCIF or CIF, I and P pictures, not-coded, inter and intra
// macroblocks chosen by rate and distortion, half-sample vectors, optional GOB headers.
//
// The encoder reconstructs through the decoder itself: after writing a picture it decodes
// that picture's bytes with the decoder's picture driver into the decoder's own stores, which
// are the encoder's references; so the encoder's reference is, byte for byte, what any run of
// our decoder shows for the stream. The decoder's record is process-wide: while an encoder
// runs, nothing else in the process may decode video, and one encoder runs at a time.
//
// Every buffer is allocated once, when the encoder is made; encoding allocates nothing, never
// reads a picture past the size it is given and never writes past an output's capacity.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/encoder/bit_writer.h"

namespace clipnote::h263 {

inline constexpr int32_t kEncoderOk = 0;
inline constexpr int32_t kEncoderBadSettings = 1;   // size not QCIF or CIF, quantiser not 1..31
inline constexpr int32_t kEncoderBadPicture = 2;    // no picture, or fewer bytes than one
inline constexpr int32_t kEncoderOutputFull = 3;    // the clip does not fit the output
inline constexpr int32_t kEncoderSelfCheck = 4;     // the decoder refused a written picture
inline constexpr int32_t kEncoderTooLarge = 5;      // no quantiser meets the size asked for
inline constexpr int32_t kEncoderNotStarted = 6;

// The most bytes one picture can take (CIF, every block at its largest).
inline constexpr size_t kMostVideoPictureBytes = 423000;

// Each macroblock is coded intra at least once in every this many times it is coded.
inline constexpr int32_t kIntraRefreshPeriod = 132;

// How hard the encoder looks for the cheapest coding of each macroblock.
enum class EncoderSpeed : int32_t {
  // Every mode and every vector candidate tried by rate and distortion.
  kThorough = 0,
  // A search that stops early with fewer half-sample positions, block errors reckoned on
  // the coefficients, intra tried only where the macroblock's own variation is near or below
  // what the motion search left, and still macroblocks left not coded without a search.
  kFast = 1,
};

struct VideoEncoderSettings {
  int32_t width = 176;  // 176 x 144 (QCIF) or 352 x 288 (CIF)
  int32_t height = 144;
  int32_t quantiser = 8;  // 1..31: every picture's, or with a bitrate the first picture's
  // Above 0: the quantiser of each picture after the first is chosen to hold this many bits
  // per second of picture time (ticks of 1001/30000 s).
  int32_t bitsPerSecond = 0;
  bool gobHeaders = false;  // a header on every GOB after the first
  // Above 0: a GOB header at the start of the next GOB once this many bytes were written
  // since the picture or the last GOB header began.
  int32_t gobPayloadBytes = 0;
  EncoderSpeed speed = EncoderSpeed::kThorough;
};

class VideoEncoder {
 public:
  VideoEncoder();

  // Starts a new clip. Returns kEncoderOk or kEncoderBadSettings.
  int32_t Start(const VideoEncoderSettings& settings);

  // Encodes one planar 4:2:0 picture (width x height luma, then the two chroma planes) of
  // `pictureBytes` bytes at `tick` (30 Hz ticks; a tick not after the previous one is taken
  // as the next tick). The picture's bytes are then PictureBytes(), its reconstruction
  // Reconstruction().
  int32_t EncodePicture(const uint8_t* picture, size_t pictureBytes, int64_t tick);

  const uint8_t* PictureData() const { return pictureBits_.data(); }
  size_t PictureBytes() const { return pictureSize_; }
  // The decoder's picture for the last picture written (1.5 x width x height bytes).
  const uint8_t* Reconstruction() const;

 private:
  void EncodeMacroblock(int32_t row, int32_t column, bool interPicture);
  // The quantiser for the next picture, `ticks` after the last one.
  int32_t NextQuantiser(int64_t ticks);
  // The quantiser for the rest of the picture once `gobsDone` of `gobs` rows took `bits`.
  int32_t RowQuantiser(int32_t gobsDone, int32_t gobs, int64_t bits) const;
  void AccountBits(int64_t ticks, int64_t bits, bool interPicture);

  VideoEncoderSettings settings_;
  bool started_ = false;
  int32_t pictures_ = 0;
  int64_t lastTick_ = 0;
  size_t pictureSize_ = 0;
  const uint8_t* source_ = nullptr;
  int32_t quant_ = 8;  // the picture's
  // Inside a picture: the quantiser in force, the one the rate asks for (reached by DQUANT,
  // at most 2 a macroblock, or at a GOB header), the picture's bit target (0: none) and the
  // sum of the macroblocks' quantisers.
  int32_t mbQuant_ = 8;
  int32_t wantQuant_ = 8;
  int64_t pictureTarget_ = 0;
  int64_t quantSum_ = 0;
  // Rate control: bits written beyond the rate's share so far (negative: under it), and the
  // last inter picture's bits x quantiser, which the next picture's quantiser is judged by.
  int64_t excessBits_ = 0;
  int64_t interComplexity_ = 0;

  // The decoder's stores, lent to it for the whole clip.
  std::vector<uint8_t> current_;
  std::vector<uint8_t> previous_;
  std::vector<uint8_t> interpolated_;
  std::vector<uint8_t> bitBuffer_;
  // The picture being written, room for the largest one, and the chosen predictions.
  std::vector<uint8_t> pictureBits_;
  std::vector<uint8_t> prediction_;
  // Per macroblock: times coded since it was last coded intra, and the last vector.
  std::vector<int16_t> sinceIntra_;
  std::vector<int8_t> lastVectors_;
  int32_t idctWeights_[6] = {};
  BitWriter writer_;
};

// Input of EncodeVideoClip: `count` pictures of `pictureBytes` bytes each, with their ticks.
struct VideoClipInput {
  const uint8_t* const* pictures = nullptr;
  const int64_t* ticks = nullptr;
  int32_t count = 0;
  size_t pictureBytes = 0;
};

// Called with each picture's reconstruction as the clip is written (of the final pass).
using ReconstructionFn = void (*)(void* context, int32_t index, const uint8_t* picture);

// Encodes a whole clip into `out` (at most `capacity` bytes; *written gets the size). With
// maxBytes above 0 the quantiser is the finest that keeps the clip within maxBytes (found by
// trial encodes), otherwise settings.quantiser; *quantiserUsed, when given, gets it.
int32_t EncodeVideoClip(VideoEncoder& encoder, const VideoEncoderSettings& settings,
                        const VideoClipInput& input, int64_t maxBytes, uint8_t* out,
                        size_t capacity, size_t* written, int32_t* quantiserUsed = nullptr,
                        ReconstructionFn onPicture = nullptr, void* context = nullptr);

}  // namespace clipnote::h263
