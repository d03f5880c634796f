// The frame message the page streams to the host, made from one MediaPipe result.
//
// MediaPipe runs on the raw camera frames and labels each hand as if the frame were mirrored. The
// message describes the image as it is shown: when the page mirrors, x becomes 1 - x (world: -x)
// and the label is swapped, so the label always names the hand whose geometry the message holds.

// Wrist, then thumb, index, middle, ring and little finger from base to tip.
export const LANDMARKS = 21;
export const BONES = [
  [0, 1], [1, 2], [2, 3], [3, 4],
  [0, 5], [5, 6], [6, 7], [7, 8],
  [5, 9], [9, 10], [10, 11], [11, 12],
  [9, 13], [13, 14], [14, 15], [15, 16],
  [13, 17], [0, 17], [17, 18], [18, 19], [19, 20],
];

// Six decimals: a micrometre in the world landmarks, a millionth of the image; keeps a two-hand
// message near 3 kB.
const round = (v) => Math.round(v * 1e6) / 1e6;

function points(list, flip) {
  return list.map((p) => [round(flip ? flip(p.x) : p.x), round(p.y), round(p.z)]);
}

export function frameMessage(results, time, width, height, mirrored) {
  const hands = [];
  const image = results.multiHandLandmarks || [];
  const world = results.multiHandWorldLandmarks || [];
  const labels = results.multiHandedness || [];
  for (let i = 0; i < image.length && hands.length < 2; ++i) {
    if (!world[i] || image[i].length !== LANDMARKS || world[i].length !== LANDMARKS) continue;
    const raw = labels[i] ? labels[i].label : 'Right';
    const label = mirrored ? (raw === 'Left' ? 'Right' : 'Left') : raw;
    hands.push({
      handedness: label,
      score: round(labels[i] ? labels[i].score : 0),
      image: points(image[i], mirrored ? (x) => 1 - x : null),
      world: points(world[i], mirrored ? (x) => -x : null),
    });
  }
  return {type: 'frame', time, width, height, mirrored, hands};
}
