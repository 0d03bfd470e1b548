// Damaged messages through the WebAssembly build as the page drives it: the message
// reader, every picture and the whole speech, for a message executable cut short at
// many lengths and with single bits flipped. A trap (out-of-bounds access, abort)
// throws and fails the run; a reader's refusal must come with a reason.
//   NODE_PATH=/usr/share/nodejs node web/tests/node_hostile_test.js MODULE.js MESSAGE.exe
const fs = require("fs");
const path = require("path");

const [modulePath, messagePath] = process.argv.slice(2);

require(path.resolve(modulePath))().then((m) => {
  const name = m._cn_alloc(16);
  m.HEAPU8.set(Buffer.from("message.exe\0"), name);
  let refused = 0;
  let played = 0;
  const play = (bytes) => {
    const pointer = m._cn_alloc(bytes.length);
    m.HEAPU8.set(bytes, pointer);
    if (m._cn_read_message(pointer, bytes.length, name) < 0) {
      if (m.UTF8ToString(m._cn_reason()).length === 0) throw new Error("refused without a reason");
      ++refused;
    } else {
      const clip = (offset, size) => (size >= 0 ? bytes.subarray(offset, offset + size) : null);
      const video = clip(m._cn_video_offset(), m._cn_video_size());
      const speech = clip(m._cn_speech_offset(), m._cn_speech_size());
      const prefix = m._cn_speech_has_prefix();
      if (video && video.length) {
        const v = m._cn_alloc(video.length);
        m.HEAPU8.set(video, v);
        m._cn_video_open(v, video.length);
        m._cn_free(v);
        for (let i = 0; i < 1000 && m._cn_video_decode() === 0 && !m._cn_video_end_of_sequence(); ++i) m._cn_video_rgba(i & 1);
      }
      if (speech && speech.length) {
        const s = m._cn_alloc(speech.length);
        m.HEAPU8.set(speech, s);
        m._cn_speech_decode(s, speech.length, prefix);
        m._cn_free(s);
      }
      ++played;
    }
    m._cn_free(pointer);
  };
  const message = fs.readFileSync(messagePath);
  for (let length = 0; length < message.length; length += 1 + Math.floor(length / 64)) play(message.subarray(0, length));
  let seed = 12345;
  const random = () => (seed = (seed * 1103515245 + 12345) >>> 0) / 2 ** 32;
  for (let i = 0; i < 40; ++i) {
    const bytes = Buffer.from(message);
    const bit = Math.floor(random() * bytes.length * 8);
    bytes[bit >> 3] ^= 1 << (bit & 7);
    play(bytes);
  }
  console.log(`ok: ${played} damaged messages played, ${refused} refused with a reason`);
});
