// The player window on the page: controls placed by the layout table, the picture
// canvas, the buttons' labels and states, the "Click to play" prompt and notices.
import { layout, pictureOrigin } from "./control_layout.js";

function place(element, [x, y, width, height]) {
  element.style.left = `${x}px`;
  element.style.top = `${y}px`;
  element.style.width = `${width}px`;
  element.style.height = `${height}px`;
}

export class PlayerWindow {
  constructor(doc) {
    this.doc = doc;
    this.maker = doc.getElementById("maker-text");
    this.frame = doc.getElementById("video-frame");
    this.wait = doc.getElementById("wait-text");
    this.canvas = doc.getElementById("picture");
    this.playButton = doc.getElementById("play-button");
    this.sizeButton = doc.getElementById("size-button");
    this.logoStrip = doc.getElementById("logo-strip");
    this.clickToPlay = doc.getElementById("click-to-play");
    this.notice = doc.getElementById("notice");
    this.context2d = this.canvas.getContext("2d");
    place(this.playButton, layout.playButton);
    place(this.sizeButton, layout.sizeButton);
    place(this.logoStrip, layout.logo);
  }

  setLogo(url) { this.doc.getElementById("logo").src = url; }

  // As the window is created: maker's text, frame and waiting text parked, no picture.
  showCreated() {
    place(this.maker, layout.makerCreated);
    place(this.frame, layout.frameParked);
    place(this.wait, layout.waitParked);
    this.canvas.hidden = true;
    this.setButtons(false, false);
    this.hideClickToPlay();
  }

  // What the next paint of an idle window shows: the maker's text back, frame and waiting text parked.
  showIdle() {
    place(this.maker, layout.makerIdle);
    place(this.frame, layout.frameParked);
    place(this.wait, layout.waitParked);
    this.canvas.hidden = true;
    this.hideClickToPlay();
  }

  // After the size switch until the next playback's first picture.
  showSizeSwitch(doubled) {
    this.sizeButton.textContent = doubled ? "QCIF" : "CIF";
    place(this.frame, layout.frameParked);
    place(this.maker, layout.makerAway);
    place(this.wait, layout.waitShown);
    this.canvas.hidden = true;
  }

  // The start of a presentation: the controls of that size, then the canvas for the picture.
  showPresentation(doubled) {
    if (!doubled) {
      place(this.maker, layout.makerAway);
      place(this.frame, layout.frameAroundPicture);
    }
    place(this.wait, layout.waitParked);
    const [x, y] = pictureOrigin(doubled);
    const width = doubled ? 352 : 176;
    const height = doubled ? 288 : 144;
    this.canvas.width = width;
    this.canvas.height = height;
    place(this.canvas, [x, y, width, height]);
    this.canvas.hidden = false;
  }

  drawPicture(rgba, width, height) {
    this.context2d.putImageData(new ImageData(rgba, width, height), 0, 0);
  }

  setButtons(playEnabled, sizeEnabled, playLabel) {
    this.playButton.disabled = !playEnabled;
    this.sizeButton.disabled = !sizeEnabled;
    if (playLabel) this.playButton.textContent = playLabel;
  }

  // The prompt over the first picture when sound may only start after a gesture.
  // Resolves on the click.
  askForClick() {
    const [x, y] = this.canvas.hidden ? [0, 0] : [this.canvas.offsetLeft, this.canvas.offsetTop];
    const width = this.canvas.hidden ? 354 : this.canvas.width;
    const height = this.canvas.hidden ? 288 : this.canvas.height;
    place(this.clickToPlay, [x, y, width, height]);
    this.clickToPlay.hidden = false;
    return new Promise((resolve) => {
      this.clickToPlay.onclick = () => {
        this.hideClickToPlay();
        resolve();
      };
    });
  }

  hideClickToPlay() {
    this.clickToPlay.hidden = true;
    this.clickToPlay.onclick = null;
  }

  showNotice(text) { this.notice.textContent = text; }
}
