// Tracking time of the tracker page in headless Chromium (CPU inference), lite model against full
// in the same run, and frames per second through Chromium's fake camera with each model.
//
// The frames are a 640x480 cut around the hand of data/videos/asl_hand.25fps.mp4 (a webcam's
// size). Stepped: each frame tracked in turn through kivoTracker.track; the figure is the page's
// own time in MediaPipe per frame (the first WARMUP frames left out). Fake camera: the same cut
// as a Y4M camera at 25 frames per second, the page streaming to a WebSocket that takes the
// messages; frames tracked per second over SECONDS after a warm-up. Then the lite model again
// with the image handed to the tracker at SIZE px on its longest side (the page's ?size=).
//
// usage: node tracker_bench.mjs --page DIR [--video MP4] [--chromium PATH] [--frames N]
//                               [--seconds S] [--size PX] [--json OUT]
import {spawnSync} from 'node:child_process';
import {mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';
import {ORIGIN, openTracker} from '../../tracker/tools/browser.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const WARMUP = 5;

const opt = {page: '', video: resolve(here, '../../data/videos/asl_hand.25fps.mp4'), chromium: '/usr/bin/chromium',
             frames: 60, seconds: 10, size: 320, json: ''};
for (let i = 2; i < process.argv.length; ++i) {
  const a = process.argv[i];
  if (a === '--page') opt.page = resolve(process.argv[++i]);
  else if (a === '--video') opt.video = resolve(process.argv[++i]);
  else if (a === '--chromium') opt.chromium = process.argv[++i];
  else if (a === '--frames') opt.frames = Number(process.argv[++i]);
  else if (a === '--seconds') opt.seconds = Number(process.argv[++i]);
  else if (a === '--size') opt.size = Number(process.argv[++i]);
  else if (a === '--json') opt.json = resolve(process.argv[++i]);
  else {
    console.error('usage: tracker_bench.mjs --page DIR [--video MP4] [--chromium PATH] [--frames N] [--seconds S] [--size PX] [--json OUT]');
    process.exit(2);
  }
}
if (!opt.page) {
  console.error('tracker_bench: --page DIR (the built tracker page, build/release/tracker) is needed');
  process.exit(2);
}

const work = mkdtempSync(join(tmpdir(), 'tracker-bench-'));
const CUT = 'crop=620:465:0:300,scale=640:480';
function ffmpeg(args) {
  const run = spawnSync('ffmpeg', ['-loglevel', 'error', '-y', ...args], {encoding: 'utf8'});
  if (run.error || run.status !== 0) throw new Error(`ffmpeg failed: ${run.error || run.stderr}`);
}
ffmpeg(['-i', opt.video, '-vf', CUT, '-frames:v', String(opt.frames), '-q:v', '2', join(work, 'f%04d.jpg')]);
ffmpeg(['-i', opt.video, '-vf', `${CUT},format=yuv420p`, '-frames:v', String(opt.frames), join(work, 'camera.y4m')]);
const stills = readdirSync(work).filter((f) => f.endsWith('.jpg')).sort();

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[s.length >> 1] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

async function stepped(model, size = 0) {
  const files = {};
  stills.forEach((f, i) => {
    files[`/still/${i}.jpg`] = readFileSync(join(work, f));
  });
  const {browser, page} = await openTracker({pageDir: opt.page, chromiumPath: opt.chromium,
                                             query: `offline=1&model=${model}&size=${size}`, files});
  try {
    let found = 0;
    for (let i = 0; i < stills.length; ++i) {
      const message = await page.evaluate(([url, t]) => window.kivoTracker.track(url, t), [`/still/${i}.jpg`, i * 40]);
      if (message.hands.length) ++found;
    }
    const times = (await page.evaluate(() => window.kivoTracker.trackMs)).slice(WARMUP);
    return {median: median(times), mean: times.reduce((a, b) => a + b, 0) / times.length, frames: times.length, found};
  } finally {
    await browser.close();
  }
}

async function camera(model, size = 0) {
  const {browser, page} = await openTracker({
    pageDir: opt.page, chromiumPath: opt.chromium, query: `model=${model}&size=${size}`,
    args: ['--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream',
           `--use-file-for-fake-video-capture=${join(work, 'camera.y4m')}`],
    beforeLoad: (p) => p.routeWebSocket(`${ORIGIN.replace('http', 'ws')}/stream`, (ws) => {
      ws.onMessage(() => {});
      ws.send(JSON.stringify({type: 'welcome', version: 1, maxMessageBytes: 65536}));
    }),
  });
  try {
    await page.evaluate(() => {
      window.benchCount = 0;
      window.kivoTracker.onFrame = () => ++window.benchCount;
    });
    await page.waitForFunction((n) => window.benchCount >= n, WARMUP, {timeout: 120000});
    const from = await page.evaluate(() => [window.benchCount, performance.now()]);
    await page.waitForTimeout(opt.seconds * 1000);
    const to = await page.evaluate(() => [window.benchCount, performance.now()]);
    return ((to[0] - from[0]) * 1000) / (to[1] - from[1]);
  } finally {
    await browser.close();
  }
}

const figures = {};
try {
  for (const model of ['lite', 'full']) {
    const s = await stepped(model);
    figures[`${model}_ms`] = s.median;
    console.log(`tracking time per frame, ${model} model: median ${s.median.toFixed(1)} ms, mean ${s.mean.toFixed(1)} ms ` +
                `(${s.frames} frames of 640x480, a hand found in ${s.found} of ${stills.length})`);
  }
  figures.full_to_lite = figures.full_ms / figures.lite_ms;
  console.log(`tracking time ratio full/lite: ${figures.full_to_lite.toFixed(2)} (baseline: the lite model, this run)`);
  for (const model of ['lite', 'full']) {
    figures[`${model}_camera_fps`] = await camera(model);
    console.log(`fake camera (640x480, 25 frames/s), ${model} model: ${figures[`${model}_camera_fps`].toFixed(1)} frames/s tracked`);
  }
  if (opt.size > 0) {
    const s = await stepped('lite', opt.size);
    figures.lite_small_ms = s.median;
    figures.lite_small_camera_fps = await camera('lite', opt.size);
    console.log(`tracking time per frame, lite model tracked at ${opt.size} px: median ${s.median.toFixed(1)} ms ` +
                `(${(s.median / figures.lite_ms).toFixed(2)} of 640x480's, a hand found in ${s.found} of ${stills.length}); ` +
                `fake camera: ${figures.lite_small_camera_fps.toFixed(1)} frames/s tracked`);
  }
  if (opt.json) writeFileSync(opt.json, JSON.stringify(figures, null, 1));
} finally {
  rmSync(work, {recursive: true, force: true});
}
