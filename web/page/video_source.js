// The video decoder of the WebAssembly module, one clip at a time.
export class VideoSource {
  constructor(module) { this.module = module; }

  // Restarts decoding at the clip's first byte; returns the first header's code.
  open(clip) {
    const m = this.module;
    const pointer = m._cn_alloc(clip.length);
    m.HEAPU8.set(clip, pointer);
    const code = m._cn_video_open(pointer, clip.length);
    m._cn_free(pointer);
    return code;
  }

  decode() { return this.module._cn_video_decode(); }
  get temporalReference() { return this.module._cn_video_temporal_reference(); }
  get endOfSequence() { return this.module._cn_video_end_of_sequence() !== 0; }

  // The current picture as the player shows it, RGBA.
  rgba(doubled) {
    const m = this.module;
    const pointer = m._cn_video_rgba(doubled ? 1 : 0);
    const bytes = doubled ? 352 * 288 * 4 : 176 * 144 * 4;
    return new Uint8ClampedArray(m.HEAPU8.buffer, pointer, bytes).slice();
  }
}
