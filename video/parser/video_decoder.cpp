#include "video/parser/video_decoder.h"

namespace clipnote::h263 {

VideoDecoder videoDecoder;

}  // namespace clipnote::h263
