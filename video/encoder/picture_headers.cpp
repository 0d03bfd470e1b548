#include "video/encoder/picture_headers.h"

namespace clipnote::h263 {

void WritePictureHeader(BitWriter& writer, uint8_t temporalReference, int32_t sourceFormat,
                        bool inter, uint8_t pquant) {
  writer.AlignWithZeros();
  writer.Put(0, 16);
  writer.Put(0b100000, 6);  // the 22-bit start code
  writer.Put(temporalReference, 8);
  writer.Put(0b10, 2);   // PTYPE: always 1, then 0 for H.263
  writer.Put(0, 3);      // split screen, document camera, freeze release
  writer.Put(static_cast<uint32_t>(sourceFormat) & 7, 3);
  writer.Put(inter ? 1 : 0, 1);
  writer.Put(0, 4);      // unrestricted vectors, arithmetic coding, advanced prediction, PB
  writer.Put(pquant & 31u, 5);
  writer.Put(0, 1);      // CPM
  writer.Put(0, 1);      // PEI
}

void WriteGobHeader(BitWriter& writer, int32_t gobNumber, uint8_t gfid, uint8_t gquant) {
  writer.AlignWithZeros();
  writer.Put(1, 17);  // GBSC: sixteen zeros and a one
  writer.Put(static_cast<uint32_t>(gobNumber) & 31, 5);
  writer.Put(gfid & 3u, 2);
  writer.Put(gquant & 31u, 5);
}

}  // namespace clipnote::h263
