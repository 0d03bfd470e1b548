// Our H.263 encoder in the WebAssembly module, under node: QCIF pictures of a textured
// scene panning with noise, one every 2 ticks (15 pictures a second), at a quantiser; prints
// pictures per second, the multiple of real time at 15 pictures a second, and the bytes.
//
//   nice -n 19 node bench/encoders/video_wasm_speed.js build/web/site/clipnote_wasm.js [PICTURES] [Q] [OUT] [thorough|fast]
//
// With OUT it also writes OUT.263 (the stream) and OUT.y4m (the pictures, at 15000/1001 Hz),
// so `clipnote-encode video OUT.y4m native.263 --quantiser Q --speed S` can be compared byte for byte.

const fs = require("fs");
const path = require("path");

const modulePath = process.argv[2] || "build/web/site/clipnote_wasm.js";
const count = Number(process.argv[3] || 300);
const quantiser = Number(process.argv[4] || 8);
const out = process.argv[5];
const speed = process.argv[6] || "thorough";
if (speed !== "thorough" && speed !== "fast") throw new Error(`speed ${speed}: thorough or fast`);
const W = 176, H = 144, BYTES = W * H * 3 / 2;

function picture(i, out) {
  let state = (i * 2654435761) >>> 0;
  for (let y = 0; y < H; ++y) {
    for (let x = 0; x < W; ++x) {
      const gx = x + i, gy = y + (i >> 1);
      state = (state * 1664525 + 1013904223) >>> 0;
      const v = 60 + ((gx * 3 + gy * 2) % 97) + (((gx >> 4) + (gy / 12 | 0)) % 3) * 20 + ((state >>> 24) & 7);
      out[y * W + x] = v > 255 ? 255 : v;
    }
  }
  for (let k = W * H; k < BYTES; ++k) out[k] = 128 + ((k + i) % 23);
}

require(path.resolve(modulePath))().then((m) => {
  if (m._cn_encode_video_start(W, H, quantiser, 0, 0, speed === "fast" ? 1 : 0) !== 0) throw new Error("start refused");
  const pictures = [];
  for (let i = 0; i < count; ++i) {
    const p = new Uint8Array(BYTES);
    picture(i, p);
    pictures.push(p);
  }
  const buffer = m._cn_encode_video_picture_buffer();
  let bytes = 0;
  const stream = [];
  const start = process.hrtime.bigint();
  for (let i = 0; i < count; ++i) {
    m.HEAPU8.set(pictures[i], buffer);
    const code = m._cn_encode_video_picture(2 * i);
    if (code !== 0) throw new Error(`picture ${i}: code ${code}`);
    const size = m._cn_encode_video_output_bytes();
    bytes += size;
    if (out) stream.push(m.HEAPU8.slice(m._cn_encode_video_output(), m._cn_encode_video_output() + size));
  }
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  const rate = count / seconds;
  if (out) {
    fs.writeFileSync(out + ".263", Buffer.concat(stream));
    const header = Buffer.from(`YUV4MPEG2 W${W} H${H} F15000:1001 Ip A1:1 C420jpeg\n`);
    fs.writeFileSync(out + ".y4m", Buffer.concat([header, ...pictures.flatMap((p) => [Buffer.from("FRAME\n"), p])]));
  }
  console.log(`${count} pictures, quantiser ${quantiser}, ${speed}, ${bytes} bytes: ${rate.toFixed(0)} pictures/s, ` +
              `${(rate / 15).toFixed(1)} x real time at 15 pictures/s`);
});
