#include "video/encoder/video_encoder.h"

#include <algorithm>
#include <cstring>

#include "video/encoder/encoder_kernels.h"
#include "video/encoder/mode_decision.h"
#include "video/encoder/motion_estimation.h"
#include "video/encoder/picture_headers.h"
#include "video/parser/bit_reader.h"
#include "video/parser/motion_vectors.h"
#include "video/recon/inverse_transform.h"
#include "video/recon/picture_decoder.h"
#include "video/recon/reference_grids.h"

namespace clipnote::h263 {

namespace {

constexpr int32_t kMaxMacroblocks = kMaxMbColumns * kMaxMbRows;
// The most bits a macroblock can take: COD, the longest MCBPC and CBPY, DQUANT, two MVDs,
// and six blocks of INTRADC and 64 escapes.
constexpr int32_t kMostMacroblockBits = 1 + 9 + 6 + 2 + 2 * 13 + 6 * (8 + 64 * 22);
constexpr size_t kMostPictureBytes =
    (size_t{kMaxMacroblocks} * kMostMacroblockBits + kMaxMbRows * 40 + 64) / 8 + 16;
static_assert(kMostPictureBytes <= kMostVideoPictureBytes);

// Forced intra refresh comes a little before the period ends, and macroblocks start at
// different points of it so that the refresh spreads over the pictures.
constexpr int32_t kRefreshAt = kIntraRefreshPeriod - 2;
// The fast setting chooses intra by itself less often, so other decoders drift further from
// ours between refreshes: it refreshes sooner.
constexpr int32_t kFastRefreshAt = kIntraRefreshPeriod * 3 / 4;

// The fast setting leaves inter blocks uncoded below this many eighths of the dead zone's SAD,
// and takes a macroblock as not coded without a search below this many eighths of it.
constexpr int32_t kFastSkipEighths = 20;
constexpr int32_t kFastStillEighths = 9;

// Sum of absolute differences of a luma macroblock from its own mean.
int32_t LumaDeviation(const uint8_t* luma, int32_t width, int32_t row, int32_t column) {
  const uint8_t* at = luma + 16 * row * width + 16 * column;
  int32_t sum = 0;
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 16; ++x) sum += at[y * width + x];
  }
  uint8_t flat[256];
  std::memset(flat, (sum + 128) >> 8, sizeof flat);
  return EncoderKernelTable().sad16x16(at, width, flat, 16);
}

int32_t FormatOf(int32_t width, int32_t height) {
  if (width == 176 && height == 144) return kSourceFormatQcif;
  if (width == 352 && height == 288) return kSourceFormatCif;
  return 0;
}

}  // namespace

VideoEncoder::VideoEncoder()
    : current_(kCurrentPictureBytes),
      previous_(kPreviousPictureBytes),
      interpolated_(kInterpolatedReferenceBytes),
      bitBuffer_(kBitBufferBytes),
      pictureBits_(kMostPictureBytes),
      prediction_(kCurrentPictureBytes),
      sinceIntra_(kMaxMacroblocks),
      lastVectors_(2 * kMaxMacroblocks) {}

int32_t VideoEncoder::Start(const VideoEncoderSettings& settings) {
  started_ = false;
  const int32_t format = FormatOf(settings.width, settings.height);
  if (format == 0 || settings.quantiser < 1 || settings.quantiser > 31 || settings.bitsPerSecond < 0 ||
      (settings.speed != EncoderSpeed::kThorough && settings.speed != EncoderSpeed::kFast)) {
    return kEncoderBadSettings;
  }
  settings_ = settings;
  for (std::vector<uint8_t>* b : {&current_, &previous_, &interpolated_, &bitBuffer_, &prediction_}) {
    std::fill(b->begin(), b->end(), 0);
  }
  InitVideoDecoder(current_.data(), previous_.data(), interpolated_.data(), bitBuffer_.data(),
                   kVideoWindowSize, kMemorySource, nullptr, 0);
  // What the format probe would learn from the first header.
  videoDecoder.width = settings.width;
  videoDecoder.height = settings.height;
  videoDecoder.sourceFormat = static_cast<uint8_t>(format);
  ComputeIdctWeightsInto(idctWeights_);
  const int32_t macroblocks = (settings.width / 16) * (settings.height / 16);
  for (int32_t n = 0; n < macroblocks; ++n) {
    sinceIntra_[n] = static_cast<int16_t>((n * 37) % (kIntraRefreshPeriod / 2));
  }
  std::fill(lastVectors_.begin(), lastVectors_.end(), int8_t{0});
  pictures_ = 0;
  lastTick_ = 0;
  pictureSize_ = 0;
  quant_ = settings.quantiser;
  excessBits_ = 0;
  interComplexity_ = 0;
  started_ = true;
  return kEncoderOk;
}

const uint8_t* VideoEncoder::Reconstruction() const { return current_.data(); }

int32_t VideoEncoder::EncodePicture(const uint8_t* picture, size_t pictureBytes, int64_t tick) {
  if (!started_) return kEncoderNotStarted;
  const int32_t w = settings_.width;
  const int32_t h = settings_.height;
  if (picture == nullptr || pictureBytes < static_cast<size_t>(w) * h * 3 / 2) {
    return kEncoderBadPicture;
  }
  if (pictures_ > 0 && tick <= lastTick_) tick = lastTick_ + 1;
  const bool inter = pictures_ > 0;
  // Ticks are whatever the caller gives; the span a picture stands for is held to one second
  // so that a far jump cannot overflow the rate's arithmetic.
  const int64_t span = inter ? std::min<int64_t>(tick - lastTick_, 30) : 1;
  pictureTarget_ = 0;
  quant_ = inter ? NextQuantiser(span) : settings_.quantiser;
  mbQuant_ = quant_;
  wantQuant_ = quant_;
  quantSum_ = 0;
  source_ = picture;
  VideoDecoder& d = videoDecoder;
  const uint8_t quant = static_cast<uint8_t>(quant_);
  writer_.Reset(pictureBits_.data(), pictureBits_.size());
  WritePictureHeader(writer_, static_cast<uint8_t>(tick & 255), FormatOf(w, h), inter, quant);
  // The vector prediction runs on the decoder's own store and rules.
  ClearMvStore();
  d.mbsPerGob = w / 16;
  const int32_t gobs = h / 16;
  int64_t segmentStart = 0;
  for (int32_t gob = 0; gob < gobs; ++gob) {
    bool header = false;
    if (gob > 0) {
      header = settings_.gobHeaders ||
               (settings_.gobPayloadBytes > 0 &&
                writer_.BitCount() - segmentStart > int64_t{8} * settings_.gobPayloadBytes);
    }
    if (header) {
      // A GOB header sets the quantiser at no cost.
      segmentStart = writer_.BitCount();
      mbQuant_ = wantQuant_;
      WriteGobHeader(writer_, gob, inter ? 1 : 0, static_cast<uint8_t>(mbQuant_));
    }
    d.mvPredictionMode = (gob == 0 || header) ? 1 : 3;
    for (int32_t column = 0; column < w / 16; ++column) EncodeMacroblock(gob, column, inter);
    if (pictureTarget_ > 0) wantQuant_ = RowQuantiser(gob + 1, gobs, writer_.BitCount());
  }
  writer_.AlignWithZeros();
  if (writer_.Overflowed()) return kEncoderSelfCheck;
  pictureSize_ = writer_.Bytes();
  AccountBits(span, 8 * static_cast<int64_t>(pictureSize_), inter);
  ++pictures_;
  lastTick_ = tick;
  // The reconstruction: the decoder decodes the picture just written into its stores.
  SetBitSource(kMemorySource, kVideoWindowSize, pictureBits_.data(),
               static_cast<int64_t>(pictureSize_), bitBuffer_.data());
  const int32_t code = DecodePicture();
  if (code != kParseOk || d.mbError != 0 || d.endOfSequence != 0) return kEncoderSelfCheck;
  return kEncoderOk;
}

// A coded macroblock at `quant` while `*inForce` holds: its type carries DQUANT when they
// differ, and the quantiser in force becomes `quant`.
static void SetQuantiserOf(CodedMacroblock& mb, int32_t quant, int32_t* inForce) {
  static constexpr uint8_t kIndexOf[5] = {1, 0, 0, 2, 3};  // delta -2..2 -> DQUANT code
  if (quant == *inForce) return;
  mb.mbType = mb.mbType == kMbIntra ? kMbIntraQ : kMbInterQ;
  mb.dquantIndex = kIndexOf[quant - *inForce + 2];
  *inForce = quant;
}

void VideoEncoder::EncodeMacroblock(int32_t row, int32_t column, bool interPicture) {
  VideoDecoder& d = videoDecoder;
  const int32_t w = settings_.width;
  const int32_t h = settings_.height;
  // The quantiser this macroblock is coded at if it is coded: a step towards the one the rate
  // asks for, sent as DQUANT.
  const int32_t quant = mbQuant_ + std::clamp(wantQuant_ - mbQuant_, -2, 2);
  const int32_t columns = w / 16;
  const int32_t n = row * columns + column;
  d.mbIndex = static_cast<uint16_t>(n);
  const MacroblockPlanes source{source_, source_ + w * h, source_ + w * h + (w / 2) * (h / 2), w};
  CodedMacroblock chosen;
  CodedMacroblock candidate;
  if (!interPicture) {
    CodeIntraMacroblock(source, row, column, quant, idctWeights_, false, chosen,
                        settings_.speed == EncoderSpeed::kFast);
    SetQuantiserOf(chosen, quant, &mbQuant_);
    quantSum_ += mbQuant_;
    WriteMacroblock(writer_, chosen, false);
    sinceIntra_[n] = 0;
    return;
  }
  const int64_t lambda = Lambda16(quant);
  const bool fast = settings_.speed == EncoderSpeed::kFast;
  const bool refreshDue = sinceIntra_[n] >= (fast ? kFastRefreshAt : kRefreshAt);
  const MacroblockPlanes previous{d.previousPicture, d.previousPicture + w * h,
                                  d.previousPicture + w * h + (w / 2) * (h / 2), w};
  const MotionSearch search{source_, d.previousPicture, d.interpolatedReference, w, h, quant,
                            fast};
  const int32_t zeroBlockSad = InterBlockZeroSad(quant);
  // Not coded: the previous picture's macroblock as it stands. When the whole luma
  // macroblock differs from it by about one block's dead zone or less, no vector can pay for
  // itself by much, and the fast setting takes it as it is.
  if (fast && !refreshDue &&
      PredictionSad(search, row, column, MotionVector{}) < kFastStillEighths * zeroBlockSad / 8) {
    quantSum_ += mbQuant_;
    chosen.notCoded = true;
    WriteMacroblock(writer_, chosen, true);
    d.mvStore[column * kMaxMbRows + row][0] = 0;
    d.mvStore[column * kMaxMbRows + row][1] = 0;
    lastVectors_[2 * n] = 0;
    lastVectors_[2 * n + 1] = 0;
    return;
  }
  int64_t bestCost = 16 * MacroblockSquaredError(source, previous, row, column) + lambda * 1;
  chosen.notCoded = true;
  int8_t vectorX = 0;
  int8_t vectorY = 0;

  // Inter: the vector from the predictors and a small search.
  const MotionVector predictor{PredictMvComponent(0, column, row), PredictMvComponent(1, column, row)};
  const auto stored = [&](int32_t c, int32_t r) {
    return MotionVector{d.mvStore[c * kMaxMbRows + r][0], d.mvStore[c * kMaxMbRows + r][1]};
  };
  MotionVector candidates[6];
  int32_t count = 0;
  candidates[count++] = predictor;
  if (column > 0) candidates[count++] = stored(column - 1, row);
  if (row > 0) candidates[count++] = stored(column, row - 1);
  if (row > 0 && column + 1 < columns) candidates[count++] = stored(column + 1, row - 1);
  candidates[count++] = MotionVector{lastVectors_[2 * n], lastVectors_[2 * n + 1]};
  int32_t sad = 0;
  const MotionVector v = SearchMotion(search, row, column, candidates, count, predictor, &sad);
  uint8_t* const p = prediction_.data();
  uint8_t* const pu = p + w * h;
  uint8_t* const pv = pu + (w / 2) * (h / 2);
  uint8_t* luma = p + 16 * row * w + 16 * column;
  uint8_t* const blocks[6] = {luma,
                              luma + 8,
                              luma + 8 * w,
                              luma + 8 * w + 8,
                              pu + 8 * row * (w / 2) + 8 * column,
                              pv + 8 * row * (w / 2) + 8 * column};
  PredictMacroblock(blocks, row, column, v.x, v.y);
  candidate.mvdCodeX = MvdCodeFor(v.x, predictor.x);
  candidate.mvdCodeY = MvdCodeFor(v.y, predictor.y);
  const MacroblockPlanes prediction{p, pu, pv, w};
  // Blocks the motion left well inside the dead zone are not transformed; the fast setting
  // also gives up those that could reach only a level or two.
  const ModeCost interCost =
      CodeInterMacroblock(source, prediction, row, column, quant, idctWeights_, candidate,
                          fast ? kFastSkipEighths * zeroBlockSad / 8 : zeroBlockSad, fast);
  if (interCost.cost < bestCost) {
    bestCost = interCost.cost;
    chosen = candidate;
    vectorX = static_cast<int8_t>(v.x);
    vectorY = static_cast<int8_t>(v.y);
  }
  // Intra: when it pays, and always when the macroblock is due for its refresh. The fast
  // setting tries it only where the luma varies about its own mean less than a quarter more
  // than it differs from the motion's prediction.
  const bool tryIntra = !fast || refreshDue || 4 * LumaDeviation(source_, w, row, column) < 5 * sad;
  if (tryIntra &&
      (CodeIntraMacroblock(source, row, column, quant, idctWeights_, true, candidate, fast).cost < bestCost ||
       refreshDue)) {
    chosen = candidate;
    vectorX = 0;
    vectorY = 0;
  }
  if (!chosen.notCoded) SetQuantiserOf(chosen, quant, &mbQuant_);
  quantSum_ += mbQuant_;
  WriteMacroblock(writer_, chosen, true);
  const bool intra = chosen.mbType == kMbIntra || chosen.mbType == kMbIntraQ;
  if (intra) {
    sinceIntra_[n] = 0;
  } else if (!chosen.notCoded) {
    ++sinceIntra_[n];
  }
  // The store the decoder will hold: the vector of inter macroblocks, zero otherwise.
  const bool hasVector = !chosen.notCoded && !intra;
  d.mvStore[column * kMaxMbRows + row][0] = hasVector ? vectorX : 0;
  d.mvStore[column * kMaxMbRows + row][1] = hasVector ? vectorY : 0;
  lastVectors_[2 * n] = hasVector ? vectorX : 0;
  lastVectors_[2 * n + 1] = hasVector ? vectorY : 0;
}

// The rate's share of a picture standing for `ticks`.
static int64_t ShareOf(int32_t bitsPerSecond, int64_t ticks) {
  return int64_t{bitsPerSecond} * ticks * 1001 / 30000;
}

int32_t VideoEncoder::NextQuantiser(int64_t ticks) {
  if (settings_.bitsPerSecond <= 0) return settings_.quantiser;
  // The picture's share, less what was written beyond the rate, paid back over about a
  // second of pictures; never below a third of the share, so one large picture (the first,
  // a scene cut) does not starve the next ones.
  const int64_t share = std::max<int64_t>(ShareOf(settings_.bitsPerSecond, ticks), 1);
  const int64_t target = std::max(share - excessBits_ * ticks / 30, share / 3 + 1);
  // Bits fall about as 1 / quantiser: the quantiser that would have given the last inter
  // picture the target, at most halved or doubled a picture so quality changes gently.
  const int64_t wanted = (interComplexity_ + target / 2) / target;
  const int64_t moved = std::clamp<int64_t>(wanted, quant_ / 2, 2 * quant_ + 1);
  pictureTarget_ = target;
  return static_cast<int32_t>(std::clamp<int64_t>(moved, 1, 31));
}

int32_t VideoEncoder::RowQuantiser(int32_t gobsDone, int32_t gobs, int64_t bits) const {
  // The picture's bits if the remaining rows cost what the rows so far did: a quarter over
  // the target coarsens by one, a fifth under it refines by one, within 3 of the picture's
  // quantiser.
  const int64_t projected = bits * gobs / gobsDone;
  int32_t next = mbQuant_;
  if (4 * projected > 5 * pictureTarget_) ++next;
  if (5 * projected < 4 * pictureTarget_) --next;
  return std::clamp(next, std::max(quant_ - 3, 1), std::min(quant_ + 3, 31));
}

void VideoEncoder::AccountBits(int64_t ticks, int64_t bits, bool interPicture) {
  if (settings_.bitsPerSecond <= 0) return;
  excessBits_ += bits - ShareOf(settings_.bitsPerSecond, ticks);
  // A debt or credit of more than two seconds is not worth chasing.
  const int64_t bound = 2 * int64_t{settings_.bitsPerSecond};
  excessBits_ = std::clamp(excessBits_, -bound, bound);
  // Before the first inter picture, a guess from the intra one: inter pictures of the same
  // content take about a third of its bits.
  if (interPicture || interComplexity_ == 0) {
    // The quantiser the macroblocks were coded at on average.
    const int32_t macroblocks = (settings_.width / 16) * (settings_.height / 16);
    const int64_t quant = std::max<int64_t>((quantSum_ + macroblocks / 2) / macroblocks, 1);
    interComplexity_ = std::max<int64_t>(bits * quant / (interPicture ? 1 : 3), 1);
  }
}

int32_t EncodeVideoClip(VideoEncoder& encoder, const VideoEncoderSettings& settings,
                        const VideoClipInput& input, int64_t maxBytes, uint8_t* out,
                        size_t capacity, size_t* written, int32_t* quantiserUsed,
                        ReconstructionFn onPicture, void* context) {
  if (written != nullptr) *written = 0;
  if (input.count < 0 || (input.count > 0 && (input.pictures == nullptr || input.ticks == nullptr))) {
    return kEncoderBadPicture;
  }
  // One pass at a quantiser: the clip's size, or -1 when it does not fit the output.
  const auto pass = [&](int32_t quant, bool final, int64_t* size) -> int32_t {
    VideoEncoderSettings s = settings;
    s.quantiser = quant;
    const int32_t started = encoder.Start(s);
    if (started != kEncoderOk) return started;
    size_t used = 0;
    for (int32_t i = 0; i < input.count; ++i) {
      const int32_t code = encoder.EncodePicture(input.pictures[i], input.pictureBytes, input.ticks[i]);
      if (code != kEncoderOk) return code;
      const size_t bytes = encoder.PictureBytes();
      if (bytes > capacity - used || out == nullptr) {
        *size = -1;
        return kEncoderOutputFull;
      }
      std::memcpy(out + used, encoder.PictureData(), bytes);
      used += bytes;
      if (final && onPicture != nullptr) onPicture(context, i, encoder.Reconstruction());
    }
    *size = static_cast<int64_t>(used);
    return kEncoderOk;
  };
  int32_t quant = settings.quantiser;
  if (maxBytes > 0) {
    // The finest quantiser whose clip fits: sizes fall as the quantiser grows.
    int32_t lo = 1;
    int32_t hi = 31;
    int64_t size = 0;
    int32_t code = pass(hi, false, &size);
    if (code != kEncoderOk && code != kEncoderOutputFull) return code;
    if (code == kEncoderOutputFull || size > maxBytes) return kEncoderTooLarge;
    while (lo < hi) {
      const int32_t mid = (lo + hi) / 2;
      code = pass(mid, false, &size);
      if (code != kEncoderOk && code != kEncoderOutputFull) return code;
      if (code == kEncoderOk && size <= maxBytes) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    quant = hi;
  }
  int64_t size = 0;
  const int32_t code = pass(quant, true, &size);
  if (code != kEncoderOk) return code;
  if (written != nullptr) *written = static_cast<size_t>(size);
  if (quantiserUsed != nullptr) *quantiserUsed = quant;
  return kEncoderOk;
}

}  // namespace clipnote::h263
