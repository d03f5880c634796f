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

// The share of two hands' landmark boxes they have in common (intersection over union).
function overlap(a, b) {
  const box = (points) => {
    const xs = points.map((p) => p.x);
    const ys = points.map((p) => p.y);
    return [Math.min(...xs), Math.min(...ys), Math.max(...xs), Math.max(...ys)];
  };
  const [a0, a1, a2, a3] = box(a);
  const [b0, b1, b2, b3] = box(b);
  const common = Math.max(0, Math.min(a2, b2) - Math.max(a0, b0)) * Math.max(0, Math.min(a3, b3) - Math.max(a1, b1));
  const all = (a2 - a0) * (a3 - a1) + (b2 - b0) * (b3 - b1) - common;
  return all > 0 ? common / all : 0;
}

export function frameMessage(results, time, width, height, mirrored) {
  const image = results.multiHandLandmarks || [];
  const world = results.multiHandWorldLandmarks || [];
  const labels = results.multiHandedness || [];
  const found = [];
  for (let i = 0; i < image.length; ++i) {
    if (!world[i] || image[i].length !== LANDMARKS || world[i].length !== LANDMARKS) continue;
    found.push({i, score: labels[i] ? labels[i].score : 0});
  }
  // Now and then one hand is reported twice (a fresh detection beside the tracked hand, as after
  // a jump): hands whose boxes mostly overlap are one, and the more certain one is kept.
  const kept = [];
  for (const hand of [...found].sort((a, b) => b.score - a.score)) {
    if (kept.length < 2 && kept.every((k) => overlap(image[k.i], image[hand.i]) < 0.5)) kept.push(hand);
  }
  const hands = kept.sort((a, b) => a.i - b.i).map(({i, score}) => {
    const raw = labels[i] ? labels[i].label : 'Right';
    return {
      handedness: mirrored ? (raw === 'Left' ? 'Right' : 'Left') : raw,
      score: round(score),
      image: points(image[i], mirrored ? (x) => 1 - x : null),
      world: points(world[i], mirrored ? (x) => -x : null),
    };
  });
  return {type: 'frame', time, width, height, mirrored, hands};
}
