// Playback as the player runs it: the speech decoded ahead, picture 0 shown when the
// speech is heard to start, each later picture drawn when the heard clock reaches its
// temporal-reference time, late pictures decoded but not drawn, Stop, replay and the
// size switch while idle. Everything runs on the page's thread from short timer
// callbacks ("pumps"); a test may drive the pumps itself.
import { PageClock, SpeechClock } from "./audio_clock.js";

const tickSeconds = 1 / 30;  // one temporal-reference unit: a 30 Hz picture clock
// A picture whose time passed by more than this when it was decoded is dropped: the
// timers that wake the page are a few milliseconds coarse.
const lateSlack = 0.02;
// The longest sleep between pumps, so a change in the reported latency is followed.
const longestSleep = 0.1;

export class Playback {
  // view: PlayerWindow; video: VideoSource; speech: SpeechPreparation;
  // createAudioContext: () => AudioContext; manualPump: a test calls pump() itself.
  constructor({ view, video, speech, createAudioContext, manualPump = false }) {
    Object.assign(this, { view, video, speech, createAudioContext, manualPump });
    this.doubled = false;
    this.playing = false;
    this.generation = 0;
    this.message = null;
    this.drawLog = [];
    this.lastPcm = null;
    this.audioContext = null;
    this.clock = null;
    this.run = null;
    this.timer = 0;
  }

  get hasVideo() { return !!(this.message && this.message.video && this.message.video.length); }
  get hasSpeech() { return !!(this.message && this.message.speech && this.message.speech.length); }

  // A new message: the window as created, its speech prepared, its first playback started.
  load(message) {
    this.halt();
    this.message = message;
    this.doubled = false;
    this.view.showCreated();
    this.view.sizeButton.textContent = "CIF";
    this.prepared = this.hasSpeech ? this.speech.prepare(message.speech, message.speechHasPrefix) : Promise.resolve(null);
    return this.start();
  }

  onPlayButton() {
    if (this.playing) this.stop();
    else this.start();
  }

  onSizeButton() {
    if (this.playing || !this.hasVideo) return;
    this.doubled = !this.doubled;
    this.view.showSizeSwitch(this.doubled);
    this.start();
  }

  async start() {
    const generation = ++this.generation;
    this.playing = true;
    this.drawLog = [];
    this.view.setButtons(false, false);
    if (!this.hasVideo && !this.hasSpeech) {
      this.view.showNotice("This clip contains no information!");
      this.playing = false;
      return;
    }
    const prepared = await this.prepared;
    if (generation !== this.generation) return;
    if (prepared && prepared.reason) this.view.showNotice(`The speech cannot be played: ${prepared.reason}`);
    const pcm = prepared && prepared.pcm && prepared.pcm.length ? prepared.pcm : null;
    this.lastPcm = prepared ? prepared.pcm || null : null;
    this.clock = pcm ? new SpeechClock(this.ensureAudioContext()) : new PageClock();

    const run = { generation, start: 0, end: 0, ticks: 0, previous: 0, result: 0, picture: 0, pending: null, started: false };
    if (this.hasVideo) {
      this.video.open(this.message.video);
      run.result = this.video.decode();
      run.previous = this.video.temporalReference;
    }
    if (!(await this.clock.canPlay())) {
      // Sound waits for a gesture: the first picture stays up with the prompt, and
      // nothing moves until the click.
      if (this.hasVideo) this.showCurrentPicture();
      await this.view.askForClick();
      if (generation !== this.generation) return;
      await this.clock.resumeFromGesture();
    }
    if (generation !== this.generation) return;
    run.start = this.clock.startSpeech(pcm);
    run.end = run.start + (pcm ? pcm.length / 8000 : 0);
    this.run = run;
    this.pump();
  }

  // Draws what is due at the heard time and sleeps until the next picture's time.
  pump() {
    const run = this.run;
    clearTimeout(this.timer);
    if (!run || run.generation !== this.generation) return;
    const video = this.video;
    if (!run.started) {
      const now = this.clock.heard();
      if (now < run.start) return this.sleep(run.start - now);
      if (this.hasVideo) this.showCurrentPicture(run.start, now);
      run.started = true;
      this.view.setButtons(true, false, "Stop");
    }
    if (!this.hasVideo) {
      const now = this.clock.heard();
      return now >= run.end ? this.stop() : this.sleep(run.end - now);
    }
    for (;;) {
      if (!run.pending) {
        if (video.endOfSequence || run.result !== 0) return this.stop();  // out of pictures
        run.result = video.decode();
        const reference = video.temporalReference;
        run.ticks += (reference - run.previous + 256) % 256;  // the reference wraps at 256
        run.previous = reference;
        run.pending = { picture: ++run.picture, target: run.start + run.ticks * tickSeconds };
        const now = this.clock.heard();
        if (now > run.pending.target + lateSlack) {
          this.drawLog.push({ picture: run.pending.picture, target: run.pending.target, heard: now, drawn: false });
          run.pending = null;
          continue;
        }
      }
      const now = this.clock.heard();
      if (now < run.pending.target) return this.sleep(run.pending.target - now);
      this.drawPicture(run.pending.picture, run.pending.target, now);
      run.pending = null;
    }
  }

  sleep(seconds) {
    if (this.manualPump) return;
    this.timer = setTimeout(() => this.pump(), Math.max(0, Math.min(seconds, longestSleep)) * 1000);
  }

  showCurrentPicture(target, heard) {
    this.view.showPresentation(this.doubled);
    this.drawPicture(0, target, heard);
  }

  drawPicture(picture, target, heard) {
    const size = this.doubled ? [352, 288] : [176, 144];
    this.view.drawPicture(this.video.rgba(this.doubled), ...size);
    if (target !== undefined) this.drawLog.push({ picture, target, heard, drawn: true });
  }

  // Ends the playback: the sound cut, the window idle with "Play".
  stop() {
    this.halt();
    this.view.showIdle();
    this.view.setButtons(true, this.hasVideo, "Play");
  }

  halt() {
    ++this.generation;
    clearTimeout(this.timer);
    if (this.clock) this.clock.stopSpeech();
    this.view.hideClickToPlay();
    this.playing = false;
    this.run = null;
  }

  ensureAudioContext() {
    if (!this.audioContext) this.audioContext = this.createAudioContext();
    return this.audioContext;
  }
}
