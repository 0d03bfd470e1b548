#pragma once

// Which version of each reconstruction kernel the entry points run. Every kernel has a plain
// version, always compiled, and an SSE2 version, compiled wherever the compiler targets SSE2;
// both give the same bits. The entry points take the SSE2 one where it exists, unless the
// build asks for the plain ones everywhere (CLIPNOTE_PLAIN_KERNELS), as targets without SSE2
// run them.
#if defined(__SSE2__) && !defined(CLIPNOTE_PLAIN_KERNELS)
#define CLIPNOTE_VIDEO_SSE2_KERNELS 1
#endif
