// Pictures of any size and rate to QCIF 4:2:0 on the 30 Hz tick grid.
//
// The geometry is the one make-message has always used, so pictures stay where people
// saw them: the picture is scaled to the largest size inside 176x144 with its stored
// width:height ratio (each side rounded to the nearest pixel), centred on even offsets so
// the chroma planes line up with luma; then each side goes down to even (at least 2).
// The bars are black (Y 16, Cb/Cr 128).
// Each source picture falls on the tick nearest its time; a tick with no picture of its
// own shows the latest one before it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace clipnote::authoring {

inline constexpr int kQcifWidth = 176;
inline constexpr int kQcifHeight = 144;
inline constexpr int kTicksPerSecond = 30;

// A 4:2:0 picture of any size: planes with their strides; chroma is (w+1)/2 x (h+1)/2.
struct SourcePicture {
  int width = 0;
  int height = 0;
  std::span<const uint8_t> y, cb, cr;
  int yStride = 0, cbStride = 0, crStride = 0;
};

// A QCIF picture as the video encoder takes it.
struct QcifPicture {
  std::vector<uint8_t> y = std::vector<uint8_t>(kQcifWidth * kQcifHeight, 16);
  std::vector<uint8_t> cb = std::vector<uint8_t>(kQcifWidth * kQcifHeight / 4, 128);
  std::vector<uint8_t> cr = std::vector<uint8_t>(kQcifWidth * kQcifHeight / 4, 128);
};

// Where the picture goes inside QCIF.
struct LetterboxGeometry {
  int x = 0, y = 0, width = 0, height = 0;
};

// Geometry for a source of width x height; zero-sized for an empty source.
LetterboxGeometry LetterboxFor(int width, int height);

// Scales the source into its box with an anti-aliased separable filter (a triangle
// as wide as the scale step, so shrinking averages and enlarging interpolates).
// Returns false (and leaves out untouched) for a source whose planes are too small.
bool Letterbox(const SourcePicture& source, QcifPicture& out);

// The tick a picture at `seconds` falls on (nearest, never negative).
int TickOf(double seconds);

// Turns a stream of letterboxed pictures with their times into one per tick, from 0 to
// the latest tick seen: a tick that no picture fell on holds the one before it, and of
// pictures falling on the same tick the last one counts.
class TickGrid {
 public:
  void Add(double seconds, QcifPicture picture);
  // One picture per tick, 0..last; empty before the first Add.
  const std::vector<QcifPicture>& Frames() const { return frames_; }

 private:
  std::vector<QcifPicture> frames_;
};

}  // namespace clipnote::authoring
