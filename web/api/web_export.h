#pragma once

// Marks a function the page calls: kept and exported by emscripten, plain in a native build.
#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#define CLIPNOTE_WEB_EXPORT EMSCRIPTEN_KEEPALIVE
#else
#define CLIPNOTE_WEB_EXPORT
#endif
