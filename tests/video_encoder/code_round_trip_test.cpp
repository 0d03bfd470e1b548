// Every code word of every table the encoder writes, written and read back by the parser.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "video/encoder/bit_writer.h"
#include "video/encoder/macroblock_syntax.h"
#include "video/encoder/picture_headers.h"
#include "video/encoder/quantise.h"
#include "video/encoder/vlc_codes.h"
#include "video/parser/bit_reader.h"
#include "video/parser/macroblock_syntax.h"
#include "video/parser/motion_vectors.h"
#include "video/parser/picture_headers.h"
#include "video/parser/vlc_tables.h"
#include "video/recon/dequantise.h"
#include "video/recon/picture_decoder.h"

namespace clipnote::h263 {
namespace {

struct Written {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(4096);
  std::vector<uint8_t> window = std::vector<uint8_t>(kBitBufferBytes);
  BitWriter writer;
  Written() { writer.Reset(bytes.data(), bytes.size()); }
  // Hands what was written to the parser's reader.
  void Read() {
    BuildVlcTables();
    SetBitSource(kMemorySource, kVideoWindowSize, bytes.data(),
                 static_cast<int64_t>(writer.Bytes()), window.data());
  }
};

struct TableCase {
  const char* name;
  int32_t outcomes;
  std::function<const VlcCode&(int32_t)> code;
  std::function<int32_t()> decode;
};

TEST(CodeRoundTrip, EveryCodeOfEveryTableReadsBack) {
  const VlcCodes& c = EncoderCodes();
  const TableCase tables[] = {
      {"MCBPC intra", 9, [&](int32_t i) -> const VlcCode& { return c.mcbpcIntra[i]; }, DecodeMcbpcIntra},
      {"MCBPC inter", 21, [&](int32_t i) -> const VlcCode& { return c.mcbpcInter[i]; }, DecodeMcbpcInter},
      {"CBPY", 16, [&](int32_t i) -> const VlcCode& { return c.cbpy[i]; }, DecodeCbpy},
      {"MVD", 64, [&](int32_t i) -> const VlcCode& { return c.mvd[i]; }, DecodeMvd},
  };
  for (const TableCase& table : tables) {
    Written w;
    for (int32_t i = 0; i < table.outcomes; ++i) {
      ASSERT_NE(table.code(i).length, 0) << table.name << " " << i;
      WriteCode(w.writer, table.code(i));
    }
    w.Read();
    for (int32_t i = 0; i < table.outcomes; ++i) EXPECT_EQ(table.decode(), i) << table.name;
    EXPECT_EQ(BitsConsumed(), w.writer.BitCount()) << table.name;
  }
}

TEST(CodeRoundTrip, EveryTcoefEventAndEscapeReadsBack) {
  struct Event {
    int32_t last, run, level;
  };
  std::vector<Event> events;
  for (int32_t last = 0; last <= 1; ++last) {
    for (int32_t run = 0; run < 64; ++run) {
      for (int32_t level : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 27, 127}) {
        events.push_back({last, run, level});
        events.push_back({last, run, -level});
      }
    }
  }
  Written w;
  w.bytes.resize(events.size() * 3 + 16);
  w.writer.Reset(w.bytes.data(), w.bytes.size());
  int64_t bits = 0;
  for (const Event& e : events) {
    WriteTcoef(w.writer, e.last, e.run, e.level);
    bits += TcoefBits(e.last, e.run, e.level);
  }
  EXPECT_EQ(bits, w.writer.BitCount());
  w.Read();
  int32_t tableCodes = 0;
  for (const Event& e : events) {
    int8_t level = 0;
    uint8_t run = 0;
    int32_t last = 0;
    ASSERT_EQ(DecodeTcoef(&level, &run, &last), 0);
    EXPECT_EQ(last, e.last);
    EXPECT_EQ(run, e.run);
    EXPECT_EQ(level, e.level);
    tableCodes += TcoefBits(e.last, e.run, e.level) != kTcoefEscapeBits;
  }
  // Every code of the table (the 102 besides ESCAPE), with both signs, was among them.
  EXPECT_EQ(tableCodes, 2 * 102);
}

// Whole blocks as the block writer codes them, and as their bit count says, against the
// same events written one by one, from a start that is not on a byte boundary.
TEST(CodeRoundTrip, BlockEventsMatchTheEventsOneByOne) {
  struct BlockCase {
    const char* name;
    int32_t first;       // 0 inter, 1 after INTRADC
    int32_t density;     // in 64ths: how many positions hold a level
    int32_t largest;     // levels are 1..largest in magnitude
  };
  constexpr BlockCase kCases[] = {
      {"one level", 0, 1, 3},     {"sparse", 0, 6, 5},        {"dense, small", 0, 48, 2},
      {"every position", 0, 64, 12}, {"escapes", 0, 20, 127}, {"intra, dense", 1, 40, 30},
      {"intra, empty", 1, 0, 1},
  };
  uint32_t state = 2024;
  const auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 8; };
  for (const BlockCase& c : kCases) {
    for (int trial = 0; trial < 50; ++trial) {
      int8_t levels[64] = {};
      levels[0] = 77;  // an intra block's DC code, not an event
      for (int32_t i = c.first; i < 64; ++i) {
        if (static_cast<int32_t>(next() % 64) >= c.density) continue;
        const int32_t magnitude = 1 + static_cast<int32_t>(next() % c.largest);
        levels[i] = static_cast<int8_t>(next() % 2 ? -magnitude : magnitude);
      }
      if (c.name == kCases[0].name) levels[63] = -1;
      Written block, events;
      block.writer.Put(5, 3);
      events.writer.Put(5, 3);
      WriteBlockEvents(block.writer, levels, c.first);
      int32_t run = 0, lastAt = -1;
      for (int32_t i = c.first; i < 64; ++i) lastAt = levels[i] != 0 ? i : lastAt;
      for (int32_t i = c.first; i < 64; ++i) {
        if (levels[i] == 0) {
          ++run;
          continue;
        }
        WriteTcoef(events.writer, i == lastAt, run, levels[i]);
        run = 0;
      }
      ASSERT_EQ(block.writer.BitCount(), events.writer.BitCount()) << c.name << " " << trial;
      EXPECT_EQ(BlockEventBits(levels, c.first), events.writer.BitCount() - 3) << c.name;
      for (size_t i = 0; i < events.writer.Bytes(); ++i) {
        ASSERT_EQ(block.bytes[i], events.bytes[i]) << c.name << " " << trial << " byte " << i;
      }
    }
  }
}

// Trimming by rate and distortion: what it reports is what the levels left cost (their
// events' bits, their error as the decoder dequantises them), and at its own cost it never
// does worse than the levels it was given, each moved towards zero by at most one.
TEST(CodeRoundTrip, TrimmingReportsWhatItLeavesAndNeverCostsMore) {
  struct TrimCase {
    const char* name;
    int32_t first;   // 1: an intra block's AC levels
    int32_t quant;
    int32_t spread;  // coefficients uniform in -spread..spread, mostly near zero
  };
  constexpr TrimCase kCases[] = {
      {"isolated ones", 0, 8, 40}, {"odd quantiser", 0, 5, 60},  {"dense", 0, 2, 200},
      {"escapes", 0, 1, 600},      {"intra AC", 1, 12, 160},      {"coarse", 0, 31, 400},
  };
  const auto rebuilt = [](int32_t level, int32_t quant) {
    const int32_t m = level < 0 ? -level : level;
    const int32_t r = m == 0 ? 0 : quant * (2 * m + 1) - (quant % 2 == 0 ? 1 : 0);
    return level < 0 ? -r : r;
  };
  const auto error = [&](const int16_t* coefficients, const int8_t* levels, int32_t quant,
                         int32_t first) {
    int64_t sum = 0;
    for (int32_t i = first; i < 64; ++i) {
      const int64_t d = coefficients[zigzagToRaster[i]] - rebuilt(levels[i], quant);
      sum += d * d;
    }
    return sum;
  };
  uint32_t state = 77;
  const auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 8; };
  for (const TrimCase& c : kCases) {
    const int64_t lambda16 = int64_t{136} * c.quant * c.quant / 10;
    int32_t lowered = 0;
    for (int trial = 0; trial < 200; ++trial) {
      int16_t coefficients[64];
      for (int16_t& f : coefficients) {
        const int32_t span = next() % 4 == 0 ? c.spread : c.spread / 8;
        f = static_cast<int16_t>(static_cast<int32_t>(next() % (2 * span + 1)) - span);
      }
      int8_t given[64], levels[64];
      if (c.first == 1) {
        QuantiseIntra(given, coefficients, c.quant);
      } else {
        QuantiseInter(given, coefficients, c.quant);
      }
      std::copy(given, given + 64, levels);
      const TrimmedLevels t = TrimLevels(levels, coefficients, c.quant, c.first, lambda16);
      int32_t count = 0;
      for (int32_t i = c.first; i < 64; ++i) {
        count += levels[i] != 0;
        const int32_t step = std::abs(int32_t{given[i]}) - std::abs(int32_t{levels[i]});
        ASSERT_TRUE(step == 0 || step == 1) << c.name << " " << trial << " at " << i;
        ASSERT_TRUE(levels[i] == 0 || (levels[i] < 0) == (given[i] < 0)) << c.name << " " << i;
        lowered += step;
      }
      if (c.first == 1) {
        ASSERT_EQ(levels[0], given[0]) << c.name;  // the DC code
      }
      ASSERT_EQ(t.count, count) << c.name << " " << trial;
      ASSERT_EQ(t.bits, BlockEventBits(levels, c.first)) << c.name << " " << trial;
      int8_t none[64] = {};
      const int64_t untouched = error(coefficients, none, c.quant, c.first);
      ASSERT_EQ(t.errorChange, error(coefficients, levels, c.quant, c.first) - untouched)
          << c.name << " " << trial;
      const int64_t before = 16 * error(coefficients, given, c.quant, c.first) +
                             lambda16 * BlockEventBits(given, c.first);
      const int64_t after = 16 * (untouched + t.errorChange) + lambda16 * t.bits;
      ASSERT_LE(after, before) << c.name << " " << trial;
    }
    EXPECT_GT(lowered, 0) << c.name << ": nothing was worth trimming";
  }
}

TEST(CodeRoundTrip, HeadersAndMacroblocksReadBack) {
  // A picture header, a GOB header and macroblocks of each kind, with DQUANT and vectors
  // that need the partner difference.
  Written w;
  WritePictureHeader(w.writer, 201, kSourceFormatQcif, true, 9);
  CodedMacroblock inter;
  inter.mbType = kMbInterQ;
  inter.dquantIndex = 3;
  inter.cbpy = 0b1010;
  inter.cbpc = 0b01;
  inter.mvdCodeX = MvdCodeFor(-31, 30);
  inter.mvdCodeY = MvdCodeFor(31, -31);
  inter.levels[0][0] = -3;
  inter.levels[0][63] = 127;
  inter.levels[2][5] = 1;
  inter.levels[5][10] = -40;
  WriteMacroblock(w.writer, inter, true);
  CodedMacroblock intra;
  intra.mbType = kMbIntra;
  intra.cbpy = 0b0001;
  for (int k = 0; k < 6; ++k) intra.levels[k][0] = static_cast<int8_t>(k == 2 ? 128 : 20 * k + 1);
  intra.levels[3][1] = 7;
  WriteMacroblock(w.writer, intra, true);
  CodedMacroblock skipped;
  skipped.notCoded = true;
  WriteMacroblock(w.writer, skipped, true);
  WriteGobHeader(w.writer, 5, 1, 17);
  w.writer.AlignWithZeros();
  w.Read();

  VideoDecoder& d = videoDecoder;
  ASSERT_EQ(ParsePictureHeader(), kParseOk);
  EXPECT_EQ(d.temporalReference, 201);
  EXPECT_EQ(d.sourceFormat, 2);
  EXPECT_EQ(d.pictureCodingType, 1);
  EXPECT_EQ(d.pquant, 9);
  d.mbsPerGob = 11;
  ClearMvStore();
  BeginPictureSyntax();
  d.mvPredictionMode = 1;
  int8_t levels[6][64];
  // The first macroblock's vector is predicted from nothing (0); the store is set up so
  // that the prediction is what the writer used.
  d.mbIndex = 1;
  d.mvStore[0 * kMaxMbRows + 0][0] = 30;
  d.mvStore[0 * kMaxMbRows + 0][1] = -31;
  ASSERT_EQ(DecodeMacroblockSyntax(levels[0], levels[4], levels[5]), 0);
  EXPECT_EQ(d.mbType, kMbInterQ);
  EXPECT_EQ(d.dquantIndex, 3);
  EXPECT_EQ(d.cbpy, 0b1010);
  EXPECT_EQ(d.cbpc, 0b01);
  EXPECT_EQ(d.mvX, -31);
  EXPECT_EQ(d.mvY, 31);
  EXPECT_EQ(levels[0][0], -3);
  EXPECT_EQ(levels[0][63], 127);
  EXPECT_EQ(levels[2][5], 1);
  EXPECT_EQ(levels[5][10], -40);
  ASSERT_EQ(DecodeMacroblockSyntax(levels[0], levels[4], levels[5]), 0);
  EXPECT_EQ(d.mbType, kMbIntra);
  EXPECT_EQ(d.cbpy, 0b0001);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(static_cast<uint8_t>(levels[k][0]), k == 2 ? 128 : 20 * k + 1);
  EXPECT_EQ(levels[3][1], 7);
  ASSERT_EQ(DecodeMacroblockSyntax(levels[0], levels[4], levels[5]), 0);
  EXPECT_EQ(d.cod, 1);
  ASSERT_EQ(ParseGobHeader(), kParseOk);
  EXPECT_EQ(d.gobHeaderPresent, 1);
  EXPECT_EQ(d.gfid, 1);
  EXPECT_EQ(d.gquant, 17);
}

TEST(CodeRoundTrip, IntraDcIsNeverAForbiddenCode) {
  // Each row: an intra block's DC coefficient, the INTRADC the quantiser picks and the byte
  // written for it. The field is never 0 or 128; 128 goes out as 255, which reads back as
  // 128 (8 x 128 + 8 = 1032); the ends clamp to 1 and 254.
  struct Row {
    int dc;
    int code;
    int byte;
  };
  const Row rows[] = {{-32768, 1, 1}, {0, 1, 1},       {15, 1, 1},       {20, 2, 2},
                      {1027, 127, 127}, {1028, 128, 255}, {1032, 128, 255}, {1035, 128, 255},
                      {1036, 129, 129}, {2040, 254, 254}, {32767, 254, 254}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.dc);
    int16_t coefficients[64] = {};
    coefficients[0] = static_cast<int16_t>(row.dc);
    CodedMacroblock mb;
    mb.mbType = kMbIntra;
    QuantiseIntra(mb.levels[0], coefficients, 8);
    EXPECT_EQ(static_cast<uint8_t>(mb.levels[0][0]), row.code);
    for (int k = 1; k < 6; ++k) mb.levels[k][0] = mb.levels[0][0];
    Written w;
    WriteMacroblock(w.writer, mb, false);
    w.writer.AlignWithZeros();
    // MCBPC (1 bit for intra, no coded chroma) and CBPY (4 bits for none): the first
    // INTRADC starts at bit 5.
    const uint32_t bits = (uint32_t{w.bytes[0]} << 8) | w.bytes[1];
    EXPECT_EQ((bits >> 3) & 0xFF, static_cast<uint32_t>(row.byte));
    w.Read();
    int8_t levels[6][64];
    videoDecoder.pictureCodingType = 0;
    ASSERT_EQ(DecodeMacroblockSyntax(levels[0], levels[4], levels[5]), 0);
    EXPECT_EQ(static_cast<uint8_t>(levels[0][0]), row.code);
  }
}

TEST(CodeRoundTrip, WriterNeverPassesItsCapacity) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  uint8_t guard = 0xA5;
  BitWriter writer;
  writer.Reset(bytes, 3);
  writer.Put(0xFFFF, 16);
  writer.Put(0xFF, 8);
  EXPECT_FALSE(writer.Overflowed());
  writer.Put(1, 1);
  EXPECT_TRUE(writer.Overflowed());
  writer.Put(0xFF, 8);
  EXPECT_EQ(bytes[3], 0);
  EXPECT_EQ(guard, 0xA5);
  EXPECT_EQ(writer.BitCount(), 24);
}

}  // namespace
}  // namespace clipnote::h263
