// Decode speed of the WebAssembly build under node, in the units clipnote-decode bench
// reports, best of N runs:
//   NODE_PATH=/usr/share/nodejs node web/tools/bench_wasm.js MODULE.js video|audio FILE [N]
const fs = require("fs");
const path = require("path");

const [modulePath, kind, file, repeatText] = process.argv.slice(2);
const repeat = Number(repeatText || 5);

require(path.resolve(modulePath))().then((m) => {
  const bytes = fs.readFileSync(file);
  const pointer = m._cn_alloc(bytes.length);
  m.HEAPU8.set(bytes, pointer);
  let best = Infinity;
  let units = 0;
  for (let run = 0; run < repeat; ++run) {
    const begin = process.hrtime.bigint();
    if (kind === "video") {
      m._cn_video_open(pointer, bytes.length);
      units = 0;
      while (m._cn_video_decode() === 0 && !m._cn_video_end_of_sequence()) ++units;
    } else {
      units = m._cn_speech_decode(pointer, bytes.length, file.endsWith(".723") ? 1 : 0);
    }
    best = Math.min(best, Number(process.hrtime.bigint() - begin) / 1e9);
  }
  console.log(`units=${units} seconds=${best.toFixed(9)} per_second=${(units / best).toFixed(1)}`);
});
