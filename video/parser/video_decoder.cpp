#include "video/parser/video_decoder.h"

VideoDecoder videoDecoder;
