// The WebAssembly decoders give what the native ones give, byte for byte: every
// picture of each clip against `clipnote-decode video`, and the speech against
// `clipnote-decode audio`; its writer of message executables gives what
// `clipnote-decode pack` writes; its speech encoder gives the VOICE clip that
// `clipnote-encode speech` writes from the same samples, fed in pieces of any length.
//   NODE_PATH=/usr/share/nodejs node web/tests/node_identity_test.js MODULE.js CLIPNOTE-DECODE CLIPNOTE-ENCODE
const { execFileSync } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");

const [modulePath, decodePath, encodePath] = process.argv.slice(2);
const root = path.resolve(__dirname, "..", "..");
const videoClips = [
  "resources/message.263",
  "tests/video_parser/clips/cif_three_pictures.263",
  "tests/video_parser/clips/qcif_gob_headers.263",
  "tests/video_parser/clips/qcif_intra_inter.263",
  "tests/video_recon/data/small_cif.263",
  "tests/video_recon/data/small_qcif.263",
  "fuzz/video_recon/corpus/video_decoder_fuzz/qcif_truncated.263",
];
const speechClips = ["resources/message.723", "tests/audio/data/hello_63.723"];
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "clipnote-wasm-"));

function native(command, clip, out) {
  try {
    execFileSync(decodePath, [command, path.join(root, clip), out, "--force"], { stdio: "ignore" });
  } catch (error) {
    if (error.status !== 1) throw error;  // 1: decoding stopped part-way, what decoded is written
  }
  return fs.readFileSync(out);
}

function copyIn(m, bytes) {
  const pointer = m._cn_alloc(bytes.length);
  m.HEAPU8.set(bytes, pointer);
  return pointer;
}

require(path.resolve(modulePath))().then((m) => {
  let failures = 0;
  const fail = (text) => { console.log(`FAIL ${text}`); ++failures; };
  for (const clip of videoClips) {
    const reference = native("video", clip, path.join(scratch, "clip.yuv"));
    const bytes = fs.readFileSync(path.join(root, clip));
    const pointer = copyIn(m, bytes);
    m._cn_video_open(pointer, bytes.length);
    m._cn_free(pointer);
    const size = (m._cn_video_width() * m._cn_video_height() * 3) / 2;
    let pictures = 0;
    let differing = -1;
    while (m._cn_video_decode() === 0 && !m._cn_video_end_of_sequence()) {
      const picture = m.HEAPU8.subarray(m._cn_video_planes(), m._cn_video_planes() + size);
      if (differing < 0 && Buffer.compare(Buffer.from(picture), reference.subarray(pictures * size, (pictures + 1) * size)) !== 0) differing = pictures;
      ++pictures;
    }
    if (pictures * size !== reference.length) fail(`${clip}: ${pictures} pictures, native ${reference.length / size}`);
    else if (differing >= 0) fail(`${clip}: picture ${differing} differs`);
    else console.log(`ok ${clip}: ${pictures} pictures`);
  }
  for (const clip of speechClips) {
    const reference = native("audio", clip, path.join(scratch, "clip.wav")).subarray(44);
    const bytes = fs.readFileSync(path.join(root, clip));
    const pointer = copyIn(m, bytes);
    const samples = m._cn_speech_decode(pointer, bytes.length, 1);
    m._cn_free(pointer);
    const pcm = Buffer.from(m.HEAPU8.subarray(m._cn_speech_pcm(), m._cn_speech_pcm() + 2 * Math.max(samples, 0)));
    if (Buffer.compare(pcm, reference) !== 0) fail(`${clip}: ${samples} samples differ from the native ${reference.length / 2}`);
    else console.log(`ok ${clip}: ${samples} samples`);
  }
  const site = path.dirname(path.resolve(modulePath));
  const playerTemplate = fs.readFileSync(path.join(site, "clipnote_template.exe"));
  const packs = [
    ["resources/message.263", "resources/message.723"],
    ["resources/message.723"],
    ["resources/message.263", "--logo", "resources/logo.bmp", "--sound", "resources/startup_chime.wav"],
  ];
  const noSpeech = Buffer.from([0xe0, 0x01, 0, 0]);
  for (const args of packs) {
    const out = path.join(scratch, "packed.exe");
    execFileSync(decodePath, ["pack", ...args.map((a) => (a.startsWith("--") ? a : path.join(root, a))), out, "--force"],
                 { stdio: "ignore" });
    const file = (suffix) => { const f = args.find((a) => a.endsWith(suffix)); return f ? fs.readFileSync(path.join(root, f)) : null; };
    const parts = [playerTemplate, file(".263") || Buffer.alloc(0), file(".723") || noSpeech, file(".bmp"), file(".wav")];
    const pointers = parts.map((p) => (p ? copyIn(m, p) : 0));
    const started = process.hrtime.bigint();
    const size = m._cn_write_message(pointers[0], parts[0].length, pointers[1], parts[1].length, pointers[2],
                                     parts[2].length, pointers[3], parts[3] ? parts[3].length : -1, pointers[4],
                                     parts[4] ? parts[4].length : -1);
    const milliseconds = Number(process.hrtime.bigint() - started) / 1e6;
    pointers.forEach((p) => p && m._cn_free(p));
    const exe = size < 0 ? null : Buffer.from(m.HEAPU8.subarray(m._cn_written(), m._cn_written() + size));
    if (exe === null) fail(`pack ${args.join(" ")}: ${m.UTF8ToString(m._cn_reason())}`);
    else if (Buffer.compare(exe, fs.readFileSync(out)) !== 0) fail(`pack ${args.join(" ")}: differs from clipnote-decode pack`);
    else console.log(`ok pack ${args.join(" ")}: ${size} bytes in ${milliseconds.toFixed(1)} ms`);
  }
  // The speech encoder: decoded speech (and a piece shorter than a frame, and nothing) coded
  // at both rates with and without silence compression, fed in uneven pieces.
  const encodeInputs = [
    ["resources/message.723", null], ["tests/audio/data/hello_63.723", null],
    ["tests/audio/data/hello_63.723", 300], ["tests/audio/data/hello_63.723", 44], ["tests/audio/data/hello_63.723", 0],
  ];
  const encodeSettings = [[63, 1, ["--rate", "6.3"]], [53, 1, ["--rate", "5.3"]], [63, 0, ["--no-silence"]],
                          [53, 0, ["--rate", "5.3", "--no-silence"]]];
  const pieces = [1, 7, 240, 479, 1000, 8000, 3];
  for (const [clip, keep] of encodeInputs) {
    const wav = path.join(scratch, "speech.wav");
    const decoded = native("audio", clip, wav);
    const samples = new Int16Array(decoded.buffer.slice(decoded.byteOffset + 44, decoded.byteOffset + decoded.length));
    const input = keep === null ? samples : samples.subarray(0, keep);
    if (keep !== null) {  // the same samples as a WAV for the native command
      const header = Buffer.from(decoded.subarray(0, 44));
      header.writeUInt32LE(36 + 2 * keep, 4);
      header.writeUInt32LE(2 * keep, 40);
      fs.writeFileSync(wav, Buffer.concat([header, Buffer.from(input.buffer, input.byteOffset, 2 * keep)]));
    }
    for (const [rate, silence, options] of encodeSettings) {
      const out = path.join(scratch, "speech.723");
      execFileSync(encodePath, ["speech", wav, out, ...options, "--force"], { stdio: "ignore" });
      const started = process.cpuUsage();  // CPU time: the machine is shared
      m._cn_encode_speech_start(rate, silence);
      for (let at = 0, i = 0; at < input.length; ++i) {
        const n = Math.min(pieces[i % pieces.length], input.length - at);
        m.HEAP16.set(input.subarray(at, at + n), m._cn_encode_speech_buffer() / 2);
        if (m._cn_encode_speech_feed(n) !== 0) fail(`${clip}: a piece of ${n} samples refused`);
        at += n;
      }
      const size = m._cn_encode_speech_finish();
      const used = process.cpuUsage(started);
      const seconds = (used.user + used.system) / 1e6;
      const coded = Buffer.from(m.HEAPU8.subarray(m._cn_encode_speech_output(), m._cn_encode_speech_output() + Math.max(size, 0)));
      const what = `encode ${clip}${keep === null ? "" : ` (${keep} samples)`} ${options.join(" ")}`;
      if (size !== m._cn_encode_speech_output_bytes()) fail(`${what}: finish said ${size} bytes, output ${m._cn_encode_speech_output_bytes()}`);
      else if (Buffer.compare(coded, fs.readFileSync(out)) !== 0) fail(`${what}: ${size} bytes differ from clipnote-encode speech`);
      else console.log(`ok ${what}: ${size} bytes${input.length >= 8000 ? `, ${(input.length / 8000 / seconds).toFixed(0)}x real time (CPU)` : ""}`);
    }
  }
  if (m._cn_encode_speech_start(64, 1) !== 1) fail("a rate of 6.4 kbit/s was not refused");
  if (m._cn_encode_speech_feed(m._cn_encode_speech_buffer_samples() + 1) !== 1) fail("a piece larger than the buffer was not refused");

  const refused = m._cn_write_message(0, 0, 0, 0, 0, 0, 0, -1, 0, -1);
  if (refused !== -1 || m.UTF8ToString(m._cn_reason()).length === 0) fail("an empty template was not refused with a reason");
  fs.rmSync(scratch, { recursive: true });
  process.exit(failures === 0 ? 0 : 1);
});
