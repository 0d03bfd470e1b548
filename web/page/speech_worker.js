// Decodes one speech clip with the WebAssembly module and hands back its samples.
/* global ClipnoteModule, importScripts */
if (typeof ClipnoteModule === "undefined") importScripts("clipnote_wasm.js");
const ready = ClipnoteModule();

onmessage = async (event) => {
  const m = await ready;
  const { clip, hasPrefix } = event.data;
  const pointer = m._cn_alloc(clip.length);
  m.HEAPU8.set(clip, pointer);
  const samples = m._cn_speech_decode(pointer, clip.length, hasPrefix ? 1 : 0);
  m._cn_free(pointer);
  if (samples < 0) {
    postMessage({ reason: m.UTF8ToString(m._cn_reason()) });
    return;
  }
  const pcm = new Int16Array(m.HEAPU8.buffer, m._cn_speech_pcm(), samples).slice();
  postMessage({ pcm }, [pcm.buffer]);
};
