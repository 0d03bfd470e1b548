// The recorder's module under node: a synthetic recording (moving pictures of another size,
// sound at 48 kHz with a pause) made into a message the reader takes back, within each size
// budget or refused with what it needs; the length limit on pictures and on sound.
//   NODE_PATH=/usr/share/nodejs node web/tests/node_recorder_test.js MODULE.js TEMPLATE.exe
const assert = require("assert");
const fs = require("fs");
const path = require("path");

const [modulePath, templatePath] = process.argv.slice(2);
const template = fs.readFileSync(templatePath);

function record(m, { seconds, width = 320, height = 240, soundRate = 48000, pictures = true }) {
  m._cn_rec_reset(soundRate);
  if (pictures) {
    for (let k = 0; k < seconds * 30; ++k) {
      const pointer = m._cn_rec_picture_buffer(width, height);
      const rgba = m.HEAPU8.subarray(pointer, pointer + width * height * 4);
      for (let y = 0; y < height; ++y) {
        for (let x = 0; x < width; ++x) {
          const i = (y * width + x) * 4;
          const v = ((x + 3 * k) >> 4) + (y >> 4) & 1 ? 200 : 40;
          rgba[i] = v; rgba[i + 1] = (x * 255) / width; rgba[i + 2] = 255 - v; rgba[i + 3] = 255;
        }
      }
      assert.strictEqual(m._cn_rec_add_picture(width, height, k / 30), 0);
    }
  }
  if (soundRate > 0) {
    // A tone that comes and goes: one second on, one second off.
    const count = seconds * soundRate;
    const pointer = m._cn_rec_sound_buffer(count) >> 1;
    for (let i = 0; i < count; ++i) {
      const on = Math.floor(i / soundRate) % 2 === 0;
      m.HEAP16[pointer + i] = on ? Math.round(8000 * Math.sin(i * 2 * Math.PI * 440 / soundRate) * (1 + Math.sin(i / 900))) : 0;
    }
    assert.strictEqual(m._cn_rec_add_sound(count), 0);
  }
}

function make(m, budget) {
  const pointer = m._cn_alloc(template.length);
  m.HEAPU8.set(template, pointer);
  const size = m._cn_rec_make(pointer, template.length, budget, 8);
  m._cn_free(pointer);
  if (size < 0) return { reason: m.UTF8ToString(m._cn_rec_reason()) };
  return { exe: m.HEAPU8.slice(m._cn_rec_exe(), m._cn_rec_exe() + m._cn_rec_exe_size()) };
}

// MessageKind of the executable as the reader sees it, with its clips' sizes.
function readBack(m, exe) {
  const pointer = m._cn_alloc(exe.length);
  m.HEAPU8.set(exe, pointer);
  const name = m._cn_alloc(12);
  m.HEAPU8.set(Buffer.from("message.exe\0"), name);
  const kind = m._cn_read_message(pointer, exe.length, name);
  m._cn_free(pointer);
  m._cn_free(name);
  return { kind, video: m._cn_video_size(), speech: m._cn_speech_size() };
}

require(path.resolve(modulePath))().then((m) => {
  // Where a picture goes: 4:3 fills the height, 16:9 gets bars above and below.
  const box = (w, h) => Array.from(m.HEAP32.subarray(m._cn_rec_letterbox(w, h) >> 2, (m._cn_rec_letterbox(w, h) >> 2) + 4));
  assert.deepStrictEqual(box(176, 144), [0, 0, 176, 144]);
  assert.deepStrictEqual(box(1280, 720), [0, 22, 176, 98]);

  // Without a budget, and within 1 MB: the reader takes both back, the pause sent as silence.
  for (const budget of [0, 1000000]) {
    record(m, { seconds: 4 });
    const made = make(m, budget);
    assert.ok(made.exe, `budget ${budget}: ${made.reason}`);
    if (budget) assert.ok(made.exe.length <= budget, `${made.exe.length} bytes over a budget of ${budget}`);
    const read = readBack(m, made.exe);
    assert.ok(read.kind >= 0 && read.video > 1000 && read.speech > 100, JSON.stringify(read));
    assert.ok(m._cn_rec_silent_frames() > 0.3 * m._cn_rec_speech_frames(), "the pause was not sent as silence");
  }

  // Pictures only, sound only.
  record(m, { seconds: 2, soundRate: 0 });
  let made = make(m, 0);
  assert.ok(made.exe && readBack(m, made.exe).video > 0, made.reason);
  assert.strictEqual(m._cn_rec_speech_frames(), 0);
  record(m, { seconds: 2, pictures: false });
  made = make(m, 0);
  assert.ok(made.exe && m._cn_rec_video_size() === 0 && readBack(m, made.exe).speech > 0, made.reason);

  // A budget nothing fits: refused with the size needed.
  record(m, { seconds: 4 });
  made = make(m, template.length + 2000);
  assert.ok(!made.exe && /needs/.test(made.reason), made.reason);

  // Nothing recorded.
  m._cn_rec_reset(0);
  assert.ok(make(m, 0).reason);

  // The limit: a picture at 300 s and sound beyond it are not kept.
  m._cn_rec_reset(8000);
  m._cn_rec_picture_buffer(16, 16);
  assert.strictEqual(m._cn_rec_add_picture(16, 16, 299.9), 0);
  assert.strictEqual(m._cn_rec_add_picture(16, 16, 300), 1);
  m._cn_rec_sound_buffer(8000);
  for (let s = 0; s < 299; ++s) assert.strictEqual(m._cn_rec_add_sound(8000), 0);
  assert.strictEqual(m._cn_rec_add_sound(8000), 0);
  assert.strictEqual(m._cn_rec_add_sound(1), 1);
  assert.strictEqual(m._cn_rec_seconds(), 300);
  assert.strictEqual(m._cn_rec_past_limit(), 1);
  console.log("recorder module: ok");
}).catch((error) => {
  console.error(error);
  process.exit(1);
});
