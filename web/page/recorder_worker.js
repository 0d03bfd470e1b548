// Makes the message of a recording with the WebAssembly module: pictures and sound are fed
// while recording, then "make" runs the authoring pipeline, reporting its progress.
// The recording stays here, so another size budget makes the message again from it.
/* global ClipnoteModule, importScripts */
if (typeof ClipnoteModule === "undefined") importScripts("clipnote_wasm.js");
const ready = ClipnoteModule();

function copyOut(m, pointer, size) {
  return new Uint8Array(m.HEAPU8.buffer, pointer, size).slice();
}

// The pipeline's stages in order, as it reports them; the bar runs over all of them.
const stages = ["reading", "coding the speech", "coding the pictures", "fitting the size", "checking", "writing"];

function make(m, { budget, quantiser, template }) {
  let lastReport = 0;
  m.onMakeProgress = (stage, fraction) => {
    const now = performance.now();
    if (now - lastReport < 50) return;
    lastReport = now;
    postMessage({ type: "progress", stage: stages[stage] || "", fraction: (stage + Math.min(1, fraction)) / stages.length });
  };
  const templatePointer = m._cn_alloc(template.length);
  m.HEAPU8.set(template, templatePointer);
  const size = m._cn_rec_make(templatePointer, template.length, budget, quantiser);
  m._cn_free(templatePointer);
  if (size < 0) return postMessage({ type: "refused", reason: m.UTF8ToString(m._cn_rec_reason()) });
  const exe = copyOut(m, m._cn_rec_exe(), size);
  const video = copyOut(m, m._cn_rec_video(), m._cn_rec_video_size());
  // A message without sound carries an empty VOICE clip: the preview and the page get none.
  const voice = m._cn_rec_speech_frames() > 0 ? copyOut(m, m._cn_rec_voice(), m._cn_rec_voice_size()) : new Uint8Array(0);
  postMessage({
    type: "made", exe, video, voice,
    summary: {
      seconds: m._cn_rec_message_seconds(), pictures: m._cn_rec_pictures(), quantiser: m._cn_rec_quantiser(),
      speechFrames: m._cn_rec_speech_frames(), silentFrames: m._cn_rec_silent_frames(),
      rate: m._cn_rec_speech_rate53() ? "5.3" : "6.3",
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
