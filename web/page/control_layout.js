// Where each control of the player window sits in each state, in client pixels:
// as in the native window, unwanted controls are moved outside the client area
// (x >= 380) rather than hidden.
export const clientWidth = 354;
export const clientHeight = 317;

export const layout = {
  playButton: [0, 289, 44, 28],
  sizeButton: [45, 289, 44, 28],
  logo: [90, 289, 260, 28],
  frameParked: [380, 57, 190, 158],
  frameAroundPicture: [80, 58, 190, 158],
  makerCreated: [58, 34, 238, 218],
  makerIdle: [56, 34, 238, 218],
  makerAway: [456, 34, 238, 218],
  waitParked: [398, 120, 154, 28],
  waitShown: [98, 120, 154, 28],
};

// The picture's corner: 20 pixels above the centre at native size, the client origin doubled.
export function pictureOrigin(doubled) {
  return doubled ? [0, 0] : [Math.trunc(clientWidth / 2) - 88, Math.trunc(clientHeight / 2) - 92];
}
