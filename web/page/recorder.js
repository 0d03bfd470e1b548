// The recorder: the camera's picture shown live as the message will have it, Record/Stop with
// the elapsed time and the length limit, the microphone's level, or a video file instead; the
// message made in a worker (recorder_worker.js) on the authoring library, previewed in the
// player's own playback, then saved as an executable or as a page. Nothing leaves the page.
import { playerPageBase64, recorderLogoBase64, templateBase64 } from "./recorder_assets.js";
import { base64Bytes } from "./message_files.js";
import { createWorker, keepSources, moduleFactory } from "./module_loading.js";
import { Playback } from "./playback.js";
import { PlayerWindow } from "./player_window.js";
import { SpeechPreparation } from "./speech_preparation.js";
import { VideoSource } from "./video_source.js";

// Tests put hooks here before the page loads: createAudioContext, manualPump (the preview's),
// longestSeconds (a shorter limit for the page's own stop).
const hooks = globalThis.clipnoteTestHooks || {};
const gridSeconds = 1 / 30;
// The page hands the library pictures at most twice the message's size; the library
// letterboxes them from there.
const largestCapture = [352, 288];

const $ = (id) => document.getElementById(id);
const MESSAGE_BEGIN = "/*clipnote-message-begin*/";

function clock(seconds) {
  const s = Math.floor(seconds);
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, "0")}`;
}

function bytesBase64(bytes) {
  let text = "";
  for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode(...bytes.subarray(i, i + 8192));
  return btoa(text);
}

function download(bytes, name, type) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([bytes], { type }));
  link.download = name;
  document.body.appendChild(link);
  link.click();
  link.remove();
}

// The player's self-contained page carrying the new message's clips instead of its own.
export function messagePage(playerPage, video, voice) {
  const files = [];
  if (video.length) files.push(`{ name: "message.263", base64: "${bytesBase64(video)}" }`);
  if (voice.length) files.push(`{ name: "message.723", base64: "${bytesBase64(voice)}" }`);
  const begin = playerPage.indexOf(MESSAGE_BEGIN) + MESSAGE_BEGIN.length;
  const end = playerPage.indexOf("];", begin) + 2;
  return `${playerPage.slice(0, begin)}const builtInFiles = [${files.join(", ")}];${playerPage.slice(end)}`;
}

// Size of a picture of width x height brought inside the largest capture, keeping its shape.
function captureSize(width, height) {
  const scale = Math.min(1, largestCapture[0] / width, largestCapture[1] / height);
  return [Math.max(2, Math.round(width * scale)), Math.max(2, Math.round(height * scale))];
}

class Recorder {
  constructor(module) {
    this.module = module;
    this.worker = createWorker("recorder_worker.js", "clipnote-recorder-worker-source");
    this.worker.onmessage = (event) => this.onWorker(event.data);
    this.worker.onerror = (event) => this.refuse(`The encoder stopped: ${event.message || "unknown error"}`);
    this.template = base64Bytes(templateBase64);
    this.longestSeconds = hooks.longestSeconds || module._cn_rec_longest_seconds();
    this.stream = null;
    this.recording = false;
    this.recorded = false;  // the worker holds a recording
    this.making = false;
    this.made = null;
    this.capture = document.createElement("canvas");
    this.live = $("live").getContext("2d");
    this.camera = $("camera");
    this.audioContext = null;
    this.analyser = null;
    this.timer = 0;
    this.figures = {};

    const view = new PlayerWindow(document);
    view.setLogo(URL.createObjectURL(new Blob([base64Bytes(recorderLogoBase64)], { type: "image/bmp" })));
    this.playback = new Playback({
      view,
      video: new VideoSource(module),
      speech: new SpeechPreparation(() => createWorker("speech_worker.js", "clipnote-worker-source")),
      createAudioContext: hooks.createAudioContext || (() => new AudioContext()),
      manualPump: !!hooks.manualPump,
    });
    view.playButton.addEventListener("click", () => this.playback.onPlayButton());
    view.sizeButton.addEventListener("click", () => this.playback.onSizeButton());

    $("record-button").addEventListener("click", () => (this.recording ? this.stop() : this.record()));
    $("budget").addEventListener("change", () => { if (this.recorded && !this.recording) this.make(); });
    $("save-exe").addEventListener("click", () => download(this.made.exe, "message.exe", "application/octet-stream"));
    $("save-html").addEventListener("click", () => this.savePage());
    const input = $("video-file");
    input.addEventListener("change", () => { if (input.files.length) this.openFile(input.files[0]); input.value = ""; });
    document.addEventListener("dragover", (event) => event.preventDefault());
    document.addEventListener("drop", (event) => {
      event.preventDefault();
      if (event.dataTransfer.files.length && !this.recording && !this.making) this.openFile(event.dataTransfer.files[0]);
    });
    setInterval(() => this.tick(), 1000 * gridSeconds);
  }

  notice(text, ways = []) {
    $("recorder-notice").textContent = text;
    const wayOn = $("way-on");
    wayOn.replaceChildren();
    for (const [label, action] of ways) {
      const button = document.createElement("button");
      button.textContent = label;
      button.addEventListener("click", action);
      wayOn.appendChild(button);
    }
    wayOn.hidden = ways.length === 0;
  }

  refuse(reason) {
    this.making = false;
    $("progress").hidden = true;
    this.setIdle();
    this.notice(reason, this.recorded ? [["Make it again", () => this.make()]] : []);
  }

  setIdle() {
    const button = $("record-button");
    button.textContent = "Record";
    button.disabled = !this.stream || this.making;
    $("video-file").disabled = this.making;
    $("budget").disabled = this.making;
  }

  // The camera and the microphone, or what of them there is: each gets its notice.
  async openDevices() {
    this.notice("Asking for the camera and the microphone ...");
    const media = navigator.mediaDevices;
    if (!media || !media.getUserMedia) {
      this.notice("This browser gives the page no camera or microphone here. Choose a video file instead.");
      return;
    }
    const attempt = async (constraints) => {
      try {
        return { stream: await media.getUserMedia(constraints) };
      } catch (error) {
        return { refused: error.name === "NotAllowedError" || error.name === "SecurityError", error };
      }
    };
    // The sound as the microphone gives it: the authoring library sets the level, and
    // nothing plays while recording, so there is no echo to cancel.
    const audio = { echoCancellation: false, noiseSuppression: false, autoGainControl: false };
    let got = await attempt({ video: true, audio });
    let note = "";
    if (!got.stream) {
      const sound = await attempt({ audio });
      const pictures = await attempt({ video: true });
      if (sound.stream) {
        got = sound;
        note = `${pictures.refused ? "The camera was refused" : "No camera was found"}: the message will have speech only.` +
          (pictures.refused ? " Allow the camera for this page in the browser's settings and try again to add pictures." : "");
      } else if (pictures.stream) {
        got = pictures;
        note = `${sound.refused ? "The microphone was refused" : "No microphone was found"}: the message will have pictures only.` +
          (sound.refused ? " Allow the microphone for this page in the browser's settings and try again to add sound." : "");
      } else {
        const refused = sound.refused || pictures.refused;
        this.notice(refused
          ? "The camera and the microphone were refused. Allow them for this page in the browser's settings and try again, or choose a video file."
          : "No camera or microphone was found. Connect one and try again, or choose a video file.",
        [["Try again", () => this.openDevices()]]);
        return;
      }
    }
    this.useStream(got.stream);
    this.notice(note, note ? [["Try again", () => this.openDevices()]] : []);
  }

  useStream(stream) {
    if (this.stream) for (const track of this.stream.getTracks()) track.stop();
    // The previous devices' sound path goes, or its silence would be recorded beside the new sound.
    if (this.processor) {
      this.processor.onaudioprocess = null;
      this.processor.disconnect();
      this.soundSource.disconnect();
      this.processor = this.analyser = null;
    }
    this.camera.srcObject = null;
    this.stream = stream;
    this.hasPictures = stream.getVideoTracks().length > 0;
    this.hasSound = stream.getAudioTracks().length > 0;
    if (this.hasPictures) {
      this.camera.srcObject = stream;
      this.camera.play().catch(() => {});
    }
    if (this.hasSound) {
      this.audioContext = this.audioContext || new AudioContext();
      const source = this.audioContext.createMediaStreamSource(stream);
      this.analyser = this.audioContext.createAnalyser();
      this.analyser.fftSize = 1024;
      source.connect(this.analyser);
      // The samples reach the worker through a processor; its output is silenced.
      const processor = this.audioContext.createScriptProcessor(4096, 1, 1);
      const mute = this.audioContext.createGain();
      mute.gain.value = 0;
      source.connect(processor);
      processor.connect(mute);
      mute.connect(this.audioContext.destination);
      processor.onaudioprocess = (event) => {
        if (!this.recording) return;
        const input = event.inputBuffer.getChannelData(0);
        const samples = new Int16Array(input.length);
        for (let i = 0; i < input.length; ++i) samples[i] = Math.max(-32768, Math.min(32767, Math.round(input[i] * 32768)));
        this.worker.postMessage({ type: "sound", samples }, [samples.buffer]);
      };
      this.processor = processor;
      this.soundSource = source;
    }
    this.setIdle();
  }

  // The 30 Hz tick: the live picture, the level, and while recording a picture for the worker.
  tick() {
    const video = this.camera;
    const showing = this.hasPictures && video.videoWidth > 0;
    if (showing) this.drawLetterboxed(this.live, video, video.videoWidth, video.videoHeight);
    if (this.analyser) {
      const data = new Float32Array(this.analyser.fftSize);
      this.analyser.getFloatTimeDomainData(data);
      let peak = 0;
      for (const v of data) peak = Math.max(peak, Math.abs(v));
      const db = 20 * Math.log10(Math.max(peak, 1e-5));
      $("level").style.width = `${Math.max(0, Math.min(100, (db + 60) * 100 / 60))}%`;
    }
    if (!this.recording) return;
    const seconds = (performance.now() - this.started) / 1000;
    $("elapsed").textContent = `${clock(seconds)} / ${clock(this.longestSeconds)}`;
    if (seconds >= this.longestSeconds) {
      this.stop();
      this.notice(`The recording reached the limit of ${clock(this.longestSeconds)} and was stopped; ` +
        "what was recorded makes the message.");
      return;
    }
    if (showing) this.sendPicture(video, video.videoWidth, video.videoHeight, seconds);
  }

  drawLetterboxed(context, source, width, height) {
    const box = this.module._cn_rec_letterbox(width, height) >> 2;
    const [x, y, w, h] = this.module.HEAP32.subarray(box, box + 4);
    context.fillStyle = "black";
    context.fillRect(0, 0, 176, 144);
    if (w > 0 && h > 0) context.drawImage(source, x, y, w, h);
  }

  sendPicture(source, width, height, seconds) {
    const [w, h] = captureSize(width, height);
    if (this.capture.width !== w || this.capture.height !== h) {
      this.capture.width = w;
      this.capture.height = h;
      this.captureContext = this.capture.getContext("2d", { willReadFrequently: true });
    }
    this.captureContext.drawImage(source, 0, 0, w, h);
    const rgba = this.captureContext.getImageData(0, 0, w, h).data.buffer;
    this.worker.postMessage({ type: "picture", width: w, height: h, seconds, rgba }, [rgba]);
  }

  record() {
    if (!this.stream || this.making) return;
    if (this.audioContext) this.audioContext.resume();
    this.worker.postMessage({ type: "reset", soundRate: this.hasSound ? this.audioContext.sampleRate : 0 });
    this.recorded = true;
    this.made = null;
    this.recording = true;
    this.started = performance.now();
    this.notice("");
    $("record-button").textContent = "Stop";
    $("video-file").disabled = true;
    $("save-exe").disabled = true;
    $("save-html").disabled = true;
  }

  stop() {
    if (!this.recording) return;
    this.recording = false;
    this.stoppedAt = performance.now();
    this.make();
  }

  make() {
    this.making = true;
    this.makeStarted = performance.now();
    this.figures.progressReports = 0;
    this.setIdle();
    $("save-exe").disabled = true;
    $("save-html").disabled = true;
    $("progress").hidden = false;
    $("progress").value = 0;
    this.notice("Making the message ...");
    // "Best quality" is no budget at the finest quantiser the authoring library takes.
    const budget = Number($("budget").value);
    this.worker.postMessage({ type: "make", budget, quantiser: budget > 0 ? 0 : 2, template: this.template });
  }

  onWorker(data) {
    if (data.type === "progress") {
      this.figures.progressReports = (this.figures.progressReports || 0) + 1;
      $("progress").value = data.fraction;
      if ($("recorder-notice").textContent.startsWith("Making")) this.notice(`Making the message: ${data.stage} ...`);
    } else if (data.type === "limit") {
      if (this.recording) {
        this.stop();
        this.notice(`The recording reached the limit of ${clock(this.longestSeconds)} and was stopped; ` +
          "what was recorded makes the message.");
      }
    } else if (data.type === "refused") {
      this.refuse(data.reason);
    } else if (data.type === "made") {
      this.making = false;
      this.made = data;
      $("progress").value = 1;
      $("progress").hidden = true;
      this.setIdle();
      const s = data.summary;
      $("summary").textContent = `${s.seconds.toFixed(1)} s, ${s.pictures} pictures, ` +
        `${(data.exe.length / 1000).toFixed(0)} KB` + (data.voice.length ? `, speech at ${s.rate} kbit/s` : "");
      if ($("recorder-notice").textContent.startsWith("Making")) this.notice("");
      $("preview").hidden = false;
      this.playback.load({ video: data.video.length ? data.video : null, speech: data.voice.length ? data.voice : null,
        speechHasPrefix: true });
      $("save-exe").disabled = false;
      $("save-html").disabled = false;
      this.figures.stopToSave = this.stoppedAt ? (performance.now() - this.stoppedAt) / 1000 : null;
      this.figures.makeSeconds = (performance.now() - this.makeStarted) / 1000;
    }
  }

  savePage() {
    const page = new TextDecoder().decode(base64Bytes(playerPageBase64));
    download(messagePage(page, this.made.video, this.made.voice), "message.html", "text/html");
  }

  // A chosen or dropped file: its pictures on the tick grid through a video element, its sound
  // at 8 kHz through an offline audio context; each is optional, not both.
  async openFile(file) {
    if (this.recording || this.making) return;
    this.notice(`Reading ${file.name} ...`);
    this.making = true;
    this.setIdle();
    $("progress").hidden = false;
    $("progress").value = 0;
    $("record-button").disabled = true;
    const url = URL.createObjectURL(file);
    const video = document.createElement("video");
    video.muted = true;
    video.preload = "auto";
    const loaded = new Promise((resolve) => {
      video.onloadeddata = () => resolve(video.videoWidth > 0);
      video.onerror = () => resolve(false);
    });
    video.src = url;
    const hasPictures = await loaded;
    let sound = null;
    try {
      const context = new OfflineAudioContext(1, 8000, 8000);
      const buffer = await context.decodeAudioData(await file.arrayBuffer());
      sound = new Float32Array(buffer.length);
      for (let c = 0; c < buffer.numberOfChannels; ++c) {
        const channel = buffer.getChannelData(c);
        for (let i = 0; i < sound.length; ++i) sound[i] += channel[i] / buffer.numberOfChannels;
      }
    } catch (error) {
      sound = null;
    }
    if (!hasPictures && !sound) {
      URL.revokeObjectURL(url);
      $("progress").hidden = true;
      this.making = false;
      this.setIdle();
      this.notice(`${file.name}: this browser cannot decode the file. Choose another video file, or record one.`);
      return;
    }
    let duration = hasPictures && Number.isFinite(video.duration) ? video.duration : (sound ? sound.length / 8000 : 0);
    const notes = [];
    if (duration > this.longestSeconds) {
      notes.push(`${file.name} is ${clock(duration)} long: the message takes its first ${clock(this.longestSeconds)}.`);
      duration = this.longestSeconds;
    }
    if (!hasPictures) notes.push(`${file.name} has no pictures: the message will have speech only.`);
    if (!sound) notes.push(`${file.name} has no sound this browser can decode: the message will have pictures only.`);

    this.worker.postMessage({ type: "reset", soundRate: sound ? 8000 : 0 });
    this.recorded = true;
    if (sound) {
      const count = Math.min(sound.length, Math.round(duration * 8000) || sound.length);
      for (let i = 0; i < count; i += 8000) {
        const part = sound.subarray(i, Math.min(count, i + 8000));
        const samples = new Int16Array(part.length);
        for (let j = 0; j < part.length; ++j) samples[j] = Math.max(-32768, Math.min(32767, Math.round(part[j] * 32768)));
        this.worker.postMessage({ type: "sound", samples }, [samples.buffer]);
      }
    }
    if (hasPictures) {
      const ticks = Math.max(1, Math.floor(duration / gridSeconds + 1e-6));
      for (let k = 0; k < ticks; ++k) {
        await new Promise((resolve) => {
          video.onseeked = resolve;
          video.currentTime = k * gridSeconds + 1e-4;
        });
        this.sendPicture(video, video.videoWidth, video.videoHeight, k * gridSeconds);
        if (k % 10 === 0) {
          $("progress").value = k / ticks;
          this.drawLetterboxed(this.live, video, video.videoWidth, video.videoHeight);
        }
      }
    }
    URL.revokeObjectURL(url);
    this.stoppedAt = 0;
    this.make();
    this.notice(notes.join(" "));
  }
}

async function main() {
  await keepSources([["clipnote_wasm.js", "clipnote-module-source"], ["speech_worker.js", "clipnote-worker-source"],
    ["recorder_worker.js", "clipnote-recorder-worker-source"]]);
  const module = await (await moduleFactory())();
  const recorder = new Recorder(module);
  globalThis.clipnoteRecorder = recorder;
  globalThis.clipnotePage = { playback: recorder.playback, module };
  document.body.dataset.ready = "true";
  await recorder.openDevices();
  document.body.dataset.devices = "asked";
}

main().catch((error) => {
  $("recorder-notice").textContent = `The recorder could not start: ${error}`;
});
