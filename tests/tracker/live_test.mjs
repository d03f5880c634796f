// A live performance end to end: rova listens (device -listen -port 0), records a take and plays
// live; the tracker page, in headless Chromium with the fake camera playing a real hand video,
// streams its landmarks to it, and the scene's poses come back to the page's pose view. Checks
// that the cube the palm drives follows the hand the page tracked, that the page's stop button
// ends the play with the take complete, and that the take bakes like any replay.
//
// The cube follows the hand: the take's frames are the page's (their palm moves with the hand in
// the image), and every pose that came back puts the cube at the palm of one of them, in order.
//
// usage: node live_test.mjs --rova PATH --page DIR --video MP4 [--chromium PATH] [--poses N]
//                           [--frames N] [--keep]
import {spawn, spawnSync} from 'node:child_process';
import {mkdtempSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';
import {check, failures} from '../support/checks.mjs';
import {openTracker} from '../../tracker/tools/browser.mjs';

const SCALE = 0.01;  // scene units per device millimetre (the kivoTransform's scale)

function options(argv) {
  const out = {rova: '', page: '', video: '', chromium: '/usr/bin/chromium', poses: 60, frames: 40, keep: false};
  for (let i = 0; i < argv.length; ++i) {
    const a = argv[i];
    if (a === '--rova') out.rova = resolve(argv[++i]);
    else if (a === '--page') out.page = resolve(argv[++i]);
    else if (a === '--video') out.video = resolve(argv[++i]);
    else if (a === '--chromium') out.chromium = argv[++i];
    else if (a === '--poses') out.poses = Number(argv[++i]);
    else if (a === '--frames') out.frames = Number(argv[++i]);
    else if (a === '--keep') out.keep = true;
    else throw new Error(`unknown argument ${a}`);
  }
  if (!out.rova || !out.page || !out.video)
    throw new Error('usage: live_test.mjs --rova PATH --page DIR --video MP4 [--chromium PATH] [--poses N] [--frames N] [--keep]');
  return out;
}

// The video as an MJPEG file for Chromium's fake camera, which loops it.
function cameraFile(video, work) {
  const out = join(work, 'camera.mjpeg');
  const run = spawnSync('ffmpeg', ['-loglevel', 'error', '-y', '-i', video, '-vf', 'format=yuv420p',
                                   '-q:v', '2', '-f', 'mjpeg', out], {encoding: 'utf8'});
  if (run.error || run.status !== 0) throw new Error(`ffmpeg failed: ${run.error || run.stderr}`);
  return out;
}

// rova running a script, its output kept; `until(text)` resolves once the output holds it.
function startRova(program, script) {
  const child = spawn(program, [script], {stdio: ['ignore', 'pipe', 'pipe']});
  const run = {child, out: '', waiters: [], exit: null};
  const feed = (chunk) => {
    run.out += chunk;
    run.waiters = run.waiters.filter((w) => !(run.out.includes(w.text) && (w.resolve(run.out), true)));
  };
  child.stdout.setEncoding('utf8').on('data', feed);
  child.stderr.setEncoding('utf8').on('data', feed);
  run.ended = new Promise((done) => child.on('exit', (code, signal) => {
    run.exit = {code, signal};
    for (const w of run.waiters) w.reject(new Error(`rova ended (${code ?? signal}) before saying "${w.text}":\n${run.out}`));
    done(run.exit);
  }));
  run.until = (text) => new Promise((resolveWait, reject) => {
    if (run.out.includes(text)) resolveWait(run.out);
    else if (run.exit) reject(new Error(`rova ended before saying "${text}":\n${run.out}`));
    else run.waiters.push({text, resolve: resolveWait, reject});
  });
  return run;
}

// Pearson's correlation of two equally long series.
function correlation(a, b) {
  const mean = (v) => v.reduce((s, x) => s + x, 0) / v.length;
  const ma = mean(a), mb = mean(b);
  let ab = 0, aa = 0, bb = 0;
  for (let i = 0; i < a.length; ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) ** 2;
    bb += (b[i] - mb) ** 2;
  }
  return ab / Math.sqrt(aa * bb);
}

// In the page: the palm's place in each frame sent with a hand (as shown: the mean of the wrist
// and the four finger bases, image units) and the palm cube's place in each poses message.
function installRecorder() {
  const log = {frames: [], poses: []};
  window.testLog = log;
  window.kivoTracker.onFrame = (canvas, message) => {
    if (!message.hands.length) return;
    const base = [0, 5, 9, 13, 17].map((k) => message.hands[0].image[k]);
    log.frames.push({time: message.time, x: base.reduce((s, p) => s + p[0], 0) / 5,
                     y: base.reduce((s, p) => s + p[1], 0) / 5});
  };
  const view = window.kivoPoseView;
  const handle = view.handleMessage.bind(view);
  view.handleMessage = (msg) => {
    handle(msg);
    if (msg.type !== 'poses') return;
    const palm = msg.objects.find((o) => o.name === 'palm');
    if (palm && Array.isArray(palm.matrix))
      log.poses.push({time: msg.time, at: palm.matrix.slice(12, 15)});
  };
}

const opt = options(process.argv.slice(2));
const work = mkdtempSync(join(tmpdir(), 'tracker-live-'));
const take = join(work, 'take.kivo');
const camera = cameraFile(opt.video, work);
const script = join(work, 'live.rova');
writeFileSync(script, [
  'plugin -load kivo_rova',
  `create kivoTransform -name hand; set hand.live on; set hand.sc ${SCALE}`,
  'cube -name palm -size 0.4; connect hand.outputPalm0 palm.inputMatrix',
  `device -listen -port 0 -root "${opt.page}"`,
  `device -record "${take}"`,
  'time -fps 30',
  'play -live -seconds 300',
  'print("performed\\n")',
  '',
].join('\n'));

const rova = startRova(opt.rova, script);
let browser = null;
let recorded = {frames: [], poses: []};
try {
  // Standard output and error come through pipes of their own: either may come first.
  await rova.until('play: live at 30 fps\n');
  const live = await rova.until('listening on ');
  const port = /listening on http:\/\/127\.0\.0\.1:(\d+)\//.exec(live);
  if (!port) throw new Error(`rova did not say where it listens:\n${live}`);
  const opened = await openTracker({
    url: `http://127.0.0.1:${port[1]}/`,
    query: 'model=lite',
    chromiumPath: opt.chromium,
    args: ['--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream',
           `--use-file-for-fake-video-capture=${camera}`, '--use-angle=swiftshader',
           '--enable-unsafe-swiftshader'],
  });
  browser = opened.browser;
  const page = opened.page;
  await page.evaluate(installRecorder);

  // Poses come back while the hand is tracked.
  const deadline = Date.now() + 150000;
  let log = {frames: [], poses: []};
  while (Date.now() < deadline) {
    log = await page.evaluate(() => window.testLog);
    if (log.poses.length >= opt.poses && log.frames.length >= opt.frames) break;
    await page.waitForTimeout(250);
  }
  const view = await page.evaluate(() => window.kivoPoseView.state());
  console.log(`${log.frames.length} frames with a hand sent, ${log.poses.length} poses back; ` +
              `pose view: ${JSON.stringify({...view, objects: view.objects.map((o) => ({...o, matrix: undefined}))})}`);
  check(log.poses.length >= opt.poses, `only ${log.poses.length} poses came back in time`);
  const shown = view.objects.find((o) => o.name === 'palm');
  check(shown && shown.vertices === 8 && shown.visible, 'the pose view does not show the palm cube');
  check(view.drawing, 'the pose view could not draw');
  check(log.poses.every((p, i) => i === 0 || p.time > log.poses[i - 1].time), 'the poses\' scene times do not increase');
  recorded = log;

  // The page's stop button ends the play; the take is complete.
  await page.locator('#poses button', {hasText: 'stop'}).click();
  await rova.until('performed\n');
  const exit = await rova.ended;
  check(exit.code === 0, `rova ended with ${exit.code ?? exit.signal}:\n${rova.out}`);
  check(/played \d+ ticks live in [0-9.]+ s \(\d+ late\), stop requested/.test(rova.out), `no summary of a stop request:\n${rova.out}`);
  check(opened.problems.length === 0, `the page reported errors:\n${opened.problems.join('\n')}`);
} catch (error) {
  check(false, error.stack || String(error));
} finally {
  if (browser) await browser.close();
  if (!rova.exit) rova.child.kill('SIGKILL');
}

// The time of each frame of the take, in milliseconds.
function timesOf(frames) {
  return frames.map((line) => Number(/^frame \d+ t=(\d+)/.exec(line)[1]) / 1000);
}

// Where the page's logged frames begin among the take's frames with a hand. The recorder is
// installed once the page is open, and a page that tracks slowly (a busy machine) may have sent
// frames before it: those are in the take only. The frames are matched by the spacing of their
// capture times, which the take keeps as the page sent them.
function firstLogged(log, takeTimes) {
  const spacing = (times, k, i) => times[k + i] - times[k];
  for (let k = 0; k < takeTimes.length; ++k) {
    const n = Math.min(log.frames.length, takeTimes.length - k);
    if (n < opt.frames) break;
    let matches = true;
    for (let i = 1; i < n && matches; ++i) {
      matches = Math.abs(spacing(takeTimes, k, i) - (log.frames[i].time - log.frames[0].time)) < 1;
    }
    if (matches) return k;
  }
  return -1;
}

// The palm of each frame of the take, in device millimetres (null without a hand).
function palmsOf(frames) {
  return frames.map((line) => {
    const palm = /hand \d+ palm=(-?[0-9.e+-]+),(-?[0-9.e+-]+),(-?[0-9.e+-]+)/.exec(line);
    return palm ? [1, 2, 3].map((c) => Number(palm[c])) : null;
  });
}

// The hand the page tracked, the frames the host took and the cube the page was shown.
function checkFollowing(log, palms, times) {
  // The take's frames with a hand are the page's frames with a hand, in order: their palm moves
  // as the hand does in the image (right as shown is right, down in the image is down).
  const withHand = palms.map((p, i) => i).filter((i) => palms[i]);
  const first = firstLogged(log, withHand.map((i) => times[i]));
  check(first >= 0, 'the capture times of the frames the page sent are not those of the take');
  const tracked = withHand.slice(Math.max(first, 0)).map((i) => palms[i]);
  const n = Math.min(tracked.length, log.frames.length);
  if (first > 0) console.log(`${first} frames with a hand were sent before the page's log began`);
  const cx = correlation(log.frames.slice(0, n).map((f) => f.x), tracked.slice(0, n).map((p) => p[0]));
  const cy = correlation(log.frames.slice(0, n).map((f) => f.y), tracked.slice(0, n).map((p) => p[1]));
  console.log(`${n} frames with a hand: correlation of the palm with the hand in the image x ${cx.toFixed(3)}, y ${cy.toFixed(3)}`);
  check(n >= opt.frames, `only ${n} frames with a hand reached the take`);
  check(cx > 0.8, `the palm's x does not follow the hand's (correlation ${cx.toFixed(3)})`);
  check(cy < -0.8, `the palm's y does not follow the hand's (correlation ${cy.toFixed(3)})`);

  // Every pose that came back puts the cube where the palm of a frame of the take was (the one the
  // tick read), in the take's order, and the cube moved with most of them.
  const near = (a, b) => a.every((v, c) => Math.abs(v - b[c] * SCALE) < 1e-6);
  let at = -1, stray = 0, backwards = 0;
  const seen = new Set();
  for (const pose of log.poses) {
    if (pose.at.every((v) => v === 0)) continue;  // before the first hand: the node's identity
    let k = palms.findIndex((p, i) => i >= Math.max(at, 0) && p && near(pose.at, p));
    if (k < 0) {
      k = palms.findIndex((p) => p && near(pose.at, p));
      if (k < 0) ++stray;
      else ++backwards;
      continue;
    }
    at = k;
    seen.add(k);
  }
  const before = palms.slice(0, at + 1).filter((p) => p).length;
  console.log(`${log.poses.length} poses: the cube at ${seen.size} of the ${before} hand frames up to the last shown`);
  check(stray === 0, `${stray} poses put the cube where no frame of the take had the palm`);
  check(backwards === 0, `${backwards} poses went back to an older frame`);
  check(seen.size >= 0.5 * before, `the cube showed only ${seen.size} of ${before} hand frames`);
}

// The take bakes like any replay: the palm where the take's palm is, frame by frame (the take in
// millimetres, the bake in metres).
if (failures.length === 0) {
  const text = readFileSync(take, 'utf8');
  const frames = text.split('\n').filter((line) => line.startsWith('frame '));
  check(/\nend frames=\d+ events=\d+\n$/.test(text), 'the take is not complete');
  const palms = palmsOf(frames);
  checkFollowing(recorded, palms, timesOf(frames));
  const table = join(work, 'take.csv');
  const bake = spawnSync(opt.rova, ['-c', [
    'plugin -load kivo_rova',
    `create kivoTransform -name hand; set hand.live on; set hand.sc ${SCALE}`,
    'cube -name palm -size 0.4; connect hand.outputPalm0 palm.inputMatrix',
    `device -replay "${take}"`,
    `bake -frames ${frames.length} -start 1 -replay -output "${join(work, 'take.glb')}" -table "${table}" palm hand.outputPalm0Enabled`,
  ].join('\n')], {encoding: 'utf8'});
  check(bake.status === 0, `the take did not bake: ${bake.stderr}`);
  if (bake.status === 0) {
    const rows = readFileSync(table, 'utf8').trim().split('\n').slice(1).map((r) => r.split(',').map(Number));
    let compared = 0, off = 0;
    palms.forEach((palm, i) => {
      if (!palm || !rows[i] || rows[i][rows[i].length - 1] !== 1) return;
      ++compared;
      if (palm.some((v, c) => Math.abs(rows[i][2 + c] - v * 0.001) > 1e-6)) ++off;
    });
    console.log(`take: ${frames.length} frames, ${compared} with a hand compared with the bake`);
    check(compared >= 10, `only ${compared} frames of the take have a hand`);
    check(off === 0, `${off} baked frames put the palm elsewhere than the take`);
  }
}

if (!opt.keep && failures.length === 0) rmSync(work, {recursive: true, force: true});
else console.log(`work folder kept: ${work}`);
console.log(failures.length ? `${failures.length} check(s) failed` : 'all checks passed');
process.exit(failures.length ? 1 : 0);
