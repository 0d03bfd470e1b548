// The playback clocks, in seconds. The speech clock is the audio context's, read at
// what is being heard now rather than at what was handed to the audio system, so the
// pictures are paced against the sound that reaches the ear. Messages without speech
// use the page's own clock.

// Time from now until the speech starts, so that it is scheduled, not started late.
const startLead = 0.1;

export class SpeechClock {
  // context: an AudioContext (or a stand-in with the same members, for tests).
  constructor(context) {
    this.context = context;
    this.source = null;
  }

  // The context time being heard at this moment.
  heard() {
    const c = this.context;
    if (typeof c.getOutputTimestamp === "function") {
      const stamp = c.getOutputTimestamp();
      if (stamp && stamp.contextTime > 0 && stamp.performanceTime > 0) {
        return stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
      }
    }
    return c.currentTime - (c.outputLatency || 0) - (c.baseLatency || 0);
  }

  // True once sound can play; false when the browser waits for a gesture first.
  async canPlay() {
    if (this.context.state === "running") return true;
    try {
      await Promise.race([this.context.resume(), new Promise((resolve) => setTimeout(resolve, 300))]);
    } catch (error) {
      // Refused: the caller asks for a click.
    }
    return this.context.state === "running";
  }

  // Resumes from a click (the gesture browsers want).
  resumeFromGesture() { return this.context.resume(); }

  // Schedules the speech (16-bit samples at 8 kHz) and returns the context time it starts at.
  startSpeech(pcm) {
    const c = this.context;
    const buffer = c.createBuffer(1, Math.max(pcm.length, 1), 8000);
    const channel = buffer.getChannelData(0);
    for (let i = 0; i < pcm.length; ++i) channel[i] = pcm[i] / 32768;
    const source = c.createBufferSource();
    source.buffer = buffer;
    source.connect(c.destination);
    const start = c.currentTime + startLead;
    source.start(start);
    this.source = source;
    return start;
  }

  // Cuts the speech at once.
  stopSpeech() {
    if (this.source) {
      try { this.source.stop(); } catch (error) { /* never started */ }
      this.source.disconnect();
      this.source = null;
    }
  }
}

// The clock of a message without speech.
export class PageClock {
  heard() { return performance.now() / 1000; }
  async canPlay() { return true; }
  resumeFromGesture() { return Promise.resolve(); }
  startSpeech() { return this.heard(); }
  stopSpeech() {}
}
