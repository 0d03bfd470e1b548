// The speech decoded ahead in a worker, so the page never waits on it.
export class SpeechPreparation {
  constructor(createWorker) {
    this.createWorker = createWorker;
    this.worker = null;
  }

  // Resolves to { pcm: Int16Array } or { reason }. A new clip abandons the previous work.
  prepare(clip, hasPrefix) {
    if (this.worker) this.worker.terminate();
    const worker = this.createWorker();
    this.worker = worker;
    return new Promise((resolve) => {
      worker.onmessage = (event) => resolve(event.data);
      worker.onerror = (event) => resolve({ reason: event.message || "the speech decoder failed" });
      worker.postMessage({ clip, hasPrefix });
    });
  }
}
