// The speech decoded ahead in a worker, so the page never waits on it.
export class SpeechPreparation {
  constructor(createWorker) {
    this.createWorker = createWorker;
    this.worker = null;
  }

  // Resolves to { pcm: Int16Array } or { reason }. A new clip abandons the previous work.
  // The worker ends once it has answered: its module's memory (the clip, the decoded
  // samples, the decoder) is then the page's no longer.
  prepare(clip, hasPrefix) {
    if (this.worker) this.worker.terminate();
    const worker = this.createWorker();
    this.worker = worker;
    return new Promise((resolve) => {
      const answer = (result) => {
        worker.terminate();
        if (this.worker === worker) this.worker = null;
        resolve(result);
      };
      worker.onmessage = (event) => answer(event.data);
      worker.onerror = (event) => answer({ reason: event.message || "the speech decoder failed" });
      worker.postMessage({ clip, hasPrefix });
    });
  }
}
