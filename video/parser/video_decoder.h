#pragma once

// The single H.263 decoder record. The parser (bit reader, headers, VLC decoders, macroblock
// syntax) and the reconstruction (picture stores, driver, transform, prediction) share it; there
// is exactly one instance, `videoDecoder`, in static storage. Nothing here is reentrant.

#include <cstdint>

namespace clipnote::h263 {

// File source: reads up to `count` bytes from `handle` into `dest` and returns how many it
// delivered (0 at the end of the data or on an error).
using BitSourceReadFn = int32_t (*)(void* handle, uint8_t* dest, int32_t count);

struct BitFileSource {
  void* handle;
  BitSourceReadFn read;
};

// `sourceMode` value of the memory source; any other value selects the file source.
inline constexpr int32_t kMemorySource = 3;

// Result codes of the parser operations.
inline constexpr int32_t kParseOk = 0;
inline constexpr int32_t kNoPictureStartCode = 1;
inline constexpr int32_t kNotH263Header = 2;
inline constexpr int32_t kUnsupportedMode = 3;
inline constexpr int32_t kUnsupportedFormat = 4;
inline constexpr int32_t kBadGobStartCode = 6;
inline constexpr int32_t kBadMcbpc = 7;
inline constexpr int32_t kBadCbpy = 9;

// Macroblock types, numbered as in H.263.
inline constexpr uint8_t kMbInter = 0;
inline constexpr uint8_t kMbInterQ = 1;
inline constexpr uint8_t kMbInter4V = 2;
inline constexpr uint8_t kMbIntra = 3;
inline constexpr uint8_t kMbIntraQ = 4;

// Largest picture geometry the decoder handles (CIF), in macroblocks.
inline constexpr int32_t kMaxMbColumns = 22;
inline constexpr int32_t kMaxMbRows = 18;

inline constexpr int32_t kTcoefSymbols = 103;  // 102 codes and ESCAPE
inline constexpr int32_t kTcoefEscape = 102;
inline constexpr int32_t kTcoefTreeSize = 4096;

// Code tables filled by BuildVlcTables.
inline constexpr int32_t kMcbpcLookupBits = 9;  // the longest MCBPC code
inline constexpr int32_t kCbpyLookupBits = 6;
inline constexpr int32_t kMvdLookupBits = 13;

struct VlcTables {
  uint16_t mcbpcIntraCodes[9];
  uint16_t mcbpcInterCodes[21];
  uint8_t cbpyCodes[16];
  // What the stepwise searches (and the MVD decoder) make of every lookahead of their
  // longest code: the outcome in the low byte (as int8, -1 for no code), the bits they
  // read in the high byte.
  uint16_t mcbpcIntraLookup[1 << kMcbpcLookupBits];
  uint16_t mcbpcInterLookup[1 << kMcbpcLookupBits];
  uint16_t cbpyLookup[1 << kCbpyLookupBits];
  uint16_t mvdLookup[1 << kMvdLookupBits];
  int16_t tcoefTree[kTcoefTreeSize];
  // The outcome of the tree walk for every 12-bit lookahead: symbol | code bits << 8, or
  // -1 when no code matches (the walk then gives up after 13 bits).
  int16_t tcoefLookup[kTcoefTreeSize];
  uint8_t tcoefLast[kTcoefSymbols];
  uint8_t tcoefRun[kTcoefSymbols];
  uint8_t tcoefLevel[kTcoefSymbols];
  int32_t tcoefLength[kTcoefSymbols];
  // tcoefLookup with the symbol's fields in one word, for reading whole blocks: 0 when no
  // code matches, else code bits | LAST << 4 | ESCAPE << 5 | RUN << 8 | |LEVEL| << 16.
  uint32_t tcoefEvents[kTcoefTreeSize];
};

struct VideoDecoder {
  // --- Bit reader --------------------------------------------------------------------------
  const uint8_t* windowStart;    // first byte of the current window
  const uint8_t* windowSlot[2];  // file source: the two halves of the bit buffer
  int32_t currentSlot;           // 0 or 1: the slot windowStart came from
  int32_t bitPos;                // next unread bit, counted from the first bit of windowStart
  int32_t bitInByte;             // bitPos mod 8 (0 = most significant bit)
  int32_t bytePos;               // bitPos / 8
  int32_t windowSize;            // bytes per window
  int32_t refillAt;              // windowSize - 3: the window advances when bytePos gets here
  int32_t sourceMode;            // kMemorySource or a file source
  const uint8_t* source;         // memory source: first byte of the clip
  BitFileSource fileSource;      // file source: handle and read primitive
  int64_t streamOffset;          // source offset of the first byte past the current window
  int64_t sourceLength;          // memory source: bytes in the clip; nothing past it is read
  uint8_t* bitBuffer;            // caller's buffer of 2 x windowSize bytes

  // --- Picture header ----------------------------------------------------------------------
  uint8_t temporalReference;
  uint8_t splitScreen;
  uint8_t documentCamera;
  uint8_t freezeRelease;
  uint8_t sourceFormat;
  uint8_t pictureCodingType;  // 0 INTRA, 1 INTER
  uint8_t unrestrictedMv;
  uint8_t syntaxArithmetic;
  uint8_t advancedPrediction;
  uint8_t pbFrames;
  uint8_t pquant;
  uint8_t cpm;
  uint8_t pei;
  int32_t endOfSequence;

  // --- GOB layer ---------------------------------------------------------------------------
  uint8_t gsbi;
  uint8_t gfid;
  uint8_t gquant;
  int32_t gobHeaderPresent;
  int32_t mvPredictionMode;  // 3: GOB without header (rows above usable); otherwise 1

  // --- Macroblock layer --------------------------------------------------------------------
  uint8_t cod;
  uint8_t mbType;       // kMbInter .. kMbIntraQ
  uint8_t cbpc;         // bit 1 Cb, bit 0 Cr
  uint8_t cbpy;         // bit 3 first luma block .. bit 0 fourth
  uint8_t dquantIndex;  // 2-bit DQUANT code as read
  uint8_t mvdCodeX;     // MVD table index, 32 = no difference
  uint8_t mvdCodeY;
  int8_t mvX;  // half samples
  int8_t mvY;
  // Vectors of the current picture: element column * kMaxMbRows + row, [0] = x, [1] = y.
  int8_t mvStore[kMaxMbColumns * kMaxMbRows][2];

  // --- Variable-length code tables ---------------------------------------------------------
  VlcTables vlc;

  // --- Picture stores, dimensions and driver state (reconstruction) ------------------------
  uint8_t* currentPicture;
  uint8_t* previousPicture;
  uint8_t* interpolatedReference;
  int32_t width;
  int32_t height;
  int32_t gobsPerPicture;
  int32_t mbsPerGob;
  uint8_t gobIndex;
  uint16_t mbIndex;
  int32_t mbError;
  int32_t failedMbIndex;  // macroblock whose syntax failed (set with mbError), else -1
  uint8_t quant;
  int32_t idctWeights[6];
  // Macroblocks (raster order) of the picture being decoded whose samples may now differ
  // from the previous picture's; the reference grids are rebuilt only around them.
  // referenceInSync is 0 until the grids have been built whole from previousPicture
  // since InitVideoDecoder.
  uint8_t changedMbs[kMaxMbColumns * kMaxMbRows];
  uint8_t referenceInSync;
};

extern VideoDecoder videoDecoder;

}  // namespace clipnote::h263
