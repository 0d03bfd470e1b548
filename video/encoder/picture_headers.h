#pragma once

// Picture and GOB headers of the baseline pictures the decoder reads: QCIF or CIF, no
// optional mode, no extra insertion information.

#include <cstdint>

#include "video/encoder/bit_writer.h"

namespace clipnote::h263 {

inline constexpr int32_t kSourceFormatQcif = 2;
inline constexpr int32_t kSourceFormatCif = 3;

// Byte-aligned picture start code, TR, PTYPE, PQUANT, CPM 0 and PEI 0.
void WritePictureHeader(BitWriter& writer, uint8_t temporalReference, int32_t sourceFormat,
                        bool inter, uint8_t pquant);
// Zero bits up to a byte boundary, then the GOB start code, GN, GFID and GQUANT.
void WriteGobHeader(BitWriter& writer, int32_t gobNumber, uint8_t gfid, uint8_t gquant);

}  // namespace clipnote::h263
