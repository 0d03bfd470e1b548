// Makes the message of a recording with the WebAssembly module: pictures and sound are fed
// while recording, then "make" runs the authoring steps and reports progress between them.
// The recording stays here, so another size budget makes the message again from it.
/* global ClipnoteModule, importScripts */
if (typeof ClipnoteModule === "undefined") importScripts("clipnote_wasm.js");
const ready = ClipnoteModule();

function copyOut(m, pointer, size) {
  return new Uint8Array(m.HEAPU8.buffer, pointer, size).slice();
}

function make(m, { budget, template }) {
  const templatePointer = m._cn_alloc(template.length);
  m.HEAPU8.set(template, templatePointer);
  const total = m._cn_rec_make(templatePointer, template.length, budget);
  m._cn_free(templatePointer);
  if (total < 0) return postMessage({ type: "refused", reason: m.UTF8ToString(m._cn_rec_reason()) });
  let lastReport = 0;
  for (;;) {
    const result = m._cn_rec_step();
    if (result < 0) return postMessage({ type: "refused", reason: m.UTF8ToString(m._cn_rec_reason()) });
    if (result === 0) break;
    const now = performance.now();
    if (now - lastReport > 50) {
      lastReport = now;
      postMessage({ type: "progress", done: m._cn_rec_done(), total, pass: m._cn_rec_pass() });
    }
  }
  const exe = copyOut(m, m._cn_rec_exe(), m._cn_rec_exe_size());
  const video = copyOut(m, m._cn_rec_video(), m._cn_rec_video_size());
  const voice = copyOut(m, m._cn_rec_voice(), m._cn_rec_voice_size());
  postMessage({
    type: "made", exe, video, voice,
    summary: {
      seconds: m._cn_rec_seconds(), pictures: m._cn_rec_pictures(), speechFrames: m._cn_rec_speech_frames(),
      silentFrames: m._cn_rec_silent_frames(), rate: m._cn_rec_speech_rate53() ? "5.3" : "6.3",
    },
  }, [exe.buffer, video.buffer, voice.buffer]);
}

const handlers = {
  reset(m, { soundRate }) { m._cn_rec_reset(soundRate); },
  picture(m, { width, height, seconds, rgba }) {
    const pointer = m._cn_rec_picture_buffer(width, height);
    if (!pointer) return;
    m.HEAPU8.set(new Uint8Array(rgba), pointer);
    if (m._cn_rec_add_picture(width, height, seconds) === 1) postMessage({ type: "limit" });
  },
  sound(m, { samples }) {
    if (!samples.length) return;
    const pointer = m._cn_rec_sound_buffer(samples.length);
    new Int16Array(m.HEAPU8.buffer, pointer, samples.length).set(samples);
    if (m._cn_rec_add_sound(samples.length) === 1) postMessage({ type: "limit" });
  },
  make,
};

// Messages are handled in order, each after the module is ready.
let queue = ready;
onmessage = (event) => {
  queue = queue.then((m) => {
    try {
      handlers[event.data.type](m, event.data);
    } catch (error) {
      postMessage({ type: "refused", reason: `The message could not be made: ${error}` });
    }
    return m;
  });
};
