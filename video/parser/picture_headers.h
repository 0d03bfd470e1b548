#pragma once

// Picture and GOB layer of the baseline H.263 stream (QCIF or CIF, no optional modes).

#include <cstdint>

#include "video/parser/video_decoder.h"

namespace clipnote::h263 {

// Reads a picture header at the reader's position. Returns kParseOk (also for the
// end-of-sequence code, which sets `endOfSequence`), kNoPictureStartCode, kNotH263Header,
// kUnsupportedMode or kUnsupportedFormat.
int32_t ParsePictureHeader();

// ParsePictureHeader up to and including the first PEI bit: the extra insertion bytes a PEI
// of 1 announces are left unread, so the reader moves at most 51 bits.
int32_t ParsePictureHeaderFields();

// Reads the header of a GOB after the first, if one starts here. Sets `gquant` and
// `gobHeaderPresent`. Returns kParseOk or kBadGobStartCode.
int32_t ParseGobHeader();

// After a successful picture header: quant = gquant = pquant, gobIndex = 0.
void BeginPictureSyntax();

}  // namespace clipnote::h263
