// The page: the player window playing the built-in message, and a message chosen or
// dropped by the person in front of it. Nothing leaves the page.
import { builtInFiles, logoBase64 } from "./default_message.js";
import { base64Bytes, readMessage } from "./message_files.js";
import { createWorker, moduleFactory } from "./module_loading.js";
import { Playback } from "./playback.js";
import { PlayerWindow } from "./player_window.js";
import { SpeechPreparation } from "./speech_preparation.js";
import { VideoSource } from "./video_source.js";

// Tests put hooks here before the page loads: createAudioContext, manualPump.
const testHooks = globalThis.clipnoteTestHooks || {};

async function main() {
  const view = new PlayerWindow(document);
  view.setLogo(URL.createObjectURL(new Blob([base64Bytes(logoBase64)], { type: "image/bmp" })));
  view.showCreated();
  const module = await (await moduleFactory())();
  const playback = new Playback({
    view,
    video: new VideoSource(module),
    speech: new SpeechPreparation(() => createWorker("speech_worker.js", "clipnote-worker-source")),
    createAudioContext: testHooks.createAudioContext || (() => new AudioContext()),
    manualPump: !!testHooks.manualPump,
  });
  view.playButton.addEventListener("click", () => playback.onPlayButton());
  view.sizeButton.addEventListener("click", () => playback.onSizeButton());

  // Files given by the person: a message that cannot be read leaves the current one playing.
  async function openFiles(fileList) {
    const files = [];
    for (const file of fileList) files.push({ name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) });
    if (files.length === 0) return;
    const message = readMessage(module, files);
    if (message.reason) {
      view.showNotice(message.reason);
      return;
    }
    view.showNotice(`Playing ${files.map((f) => f.name).join(" and ")}`);
    playback.load(message);
  }
  const input = document.getElementById("file-input");
  input.addEventListener("change", () => openFiles(input.files));
  document.addEventListener("dragover", (event) => {
    event.preventDefault();
    document.body.classList.add("dragging");
  });
  document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
  document.addEventListener("drop", (event) => {
    event.preventDefault();
    document.body.classList.remove("dragging");
    openFiles(event.dataTransfer.files);
  });

  globalThis.clipnotePage = { playback, view, openFiles, module };
  const builtIn = readMessage(module, builtInFiles.map((f) => ({ name: f.name, bytes: base64Bytes(f.base64) })));
  if (builtIn.reason) view.showNotice(builtIn.reason);
  else playback.load(builtIn);
  document.body.dataset.ready = "true";
}

main().catch((error) => {
  document.getElementById("notice").textContent = `The player could not start: ${error}`;
});
