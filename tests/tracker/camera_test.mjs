// The tracker page fed by Chromium's fake camera playing a real hand video, streaming to a
// WebSocket host played by this test (Playwright's WebSocket routing: the page's socket ends
// here, no server). Checks that the streamed image landmarks match the reference landmarks of the
// same video frames, that the message describes the image as shown with the mirror on and off,
// and that the page shows what the host tells it (status, refusals, the scene, a refused client).
//
// Frames are matched by their time in the video: each frame carries its index (its presentation
// time at 25 frames per second) as a binary code in a strip added above the picture, read back
// from the very image the page tracked (kivoTracker.onFrame). The strip shifts the picture down
// by STRIP pixels, which the comparison takes off again.
//
// Then a video file in place of the camera (?video=, a still of a hand moving across), tracked at
// a smaller size (?size=: the messages still describe the picture as captured), streamed to the
// socket ?ws= names, and kept in the page with ?offline=1.
//
// usage: node camera_test.mjs --page DIR --video MP4 --reference JSON --hands JPG
//                             [--chromium PATH] [--frames N] [--keep]
import {spawnSync} from 'node:child_process';
import {mkdtempSync, readFileSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';
import {ORIGIN, openTracker} from '../../tracker/tools/browser.mjs';
import {check, failures} from '../support/checks.mjs';

const STRIP = 32;       // pixels of code strip above the picture
const BITS = 9;         // frame index bits, 64 pixels each
const TOLERANCE = 10;   // pixels: mean distance of a frame's 21 landmarks from the reference's
const SHARE = 0.9;      // of the tracked frames within it

function options(argv) {
  const out = {page: '', video: '', reference: '', hands: '', chromium: '/usr/bin/chromium', frames: 40, keep: false};
  for (let i = 0; i < argv.length; ++i) {
    const a = argv[i];
    if (a === '--page') out.page = resolve(argv[++i]);
    else if (a === '--video') out.video = resolve(argv[++i]);
    else if (a === '--reference') out.reference = resolve(argv[++i]);
    else if (a === '--hands') out.hands = resolve(argv[++i]);
    else if (a === '--chromium') out.chromium = argv[++i];
    else if (a === '--frames') out.frames = Number(argv[++i]);
    else if (a === '--keep') out.keep = true;
    else throw new Error(`unknown argument ${a}`);
  }
  if (!out.page || !out.video || !out.reference || !out.hands)
    throw new Error('usage: camera_test.mjs --page DIR --video MP4 --reference JSON --hands JPG [--chromium PATH] [--frames N] [--keep]');
  return out;
}

// The video as an MJPEG fake camera file, each frame's index coded in white blocks above it.
function cameraFile(video, work) {
  const boxes = [];
  for (let k = 0; k < BITS; ++k)
    boxes.push(`drawbox=x=${64 * k}:y=0:w=64:h=${STRIP}:color=white:t=fill:enable='eq(mod(floor(n/${1 << k}),2),1)'`);
  const out = join(work, 'camera.mjpeg');
  const run = spawnSync('ffmpeg', ['-loglevel', 'error', '-y', '-i', video, '-vf',
                                   `format=yuv420p,pad=iw:ih+${STRIP}:0:${STRIP}:black,${boxes.join(',')}`,
                                   '-q:v', '2', '-f', 'mjpeg', out], {encoding: 'utf8'});
  if (run.error || run.status !== 0) throw new Error(`ffmpeg failed: ${run.error || run.stderr}`);
  return out;
}

// Reads the code strip of the canvas the page tracked (runs in the page).
function installCodeReader(bits) {
  window.testCodes = new Map();
  window.kivoTracker.onFrame = (canvas, message) => {
    const pixels = canvas.getContext('2d').getImageData(0, 0, 64 * bits + 32, 32).data;
    const at = (x) => pixels[(16 * (64 * bits + 32) + x) * 4];
    if (at(64 * bits + 16) > 64) return;  // no black after the code: not our strip
    let code = 0;
    for (let k = 0; k < bits; ++k)
      if (at(64 * k + 32) > 128) code |= 1 << k;
    window.testCodes.set(message.time, code);
  };
}

// Mean distance in pixels of a hand's image landmarks from the reference frame's, in the picture
// below the strip; un-mirrored when the message is mirrored.
function distance(hand, message, reference) {
  let sum = 0;
  for (let k = 0; k < 21; ++k) {
    const [x, y] = hand.image[k];
    const px = (message.mirrored ? 1 - x : x) * message.width;
    const py = y * message.height - STRIP;
    sum += Math.hypot(px - reference[k][0], py - reference[k][1]);
  }
  return sum / 21;
}

// Index and little finger knuckles lie the same way round in the image and in the world landmarks.
const sameSide = (hand) => Math.sign(hand.image[5][0] - hand.image[17][0]) === Math.sign(hand.world[5][0] - hand.world[17][0]);

const opt = options(process.argv.slice(2));
const reference = JSON.parse(readFileSync(opt.reference, 'utf8'));
const work = mkdtempSync(join(tmpdir(), 'tracker-camera-'));
const started = Date.now();
const file = cameraFile(opt.video, work);
console.log(`fake camera file ${file} made in ${((Date.now() - started) / 1000).toFixed(1)} s`);

const host = {socket: null, frames: [], hello: null};
const {browser, page, problems} = await openTracker({
  pageDir: opt.page,
  chromiumPath: opt.chromium,
  query: 'model=full',
  args: ['--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream',
         `--use-file-for-fake-video-capture=${file}`],
  beforeLoad: (p) => p.routeWebSocket(`${ORIGIN.replace('http', 'ws')}/stream`, (ws) => {
    host.socket = ws;
    ws.onMessage((text) => {
      const message = JSON.parse(text);
      if (message.type === 'hello') host.hello = message;
      else host.frames.push(message);
    });
    ws.send(JSON.stringify({type: 'welcome', version: 1, maxMessageBytes: 65536}));
  }),
});

try {
  await page.evaluate(installCodeReader, BITS);
  const state = () => page.evaluate(() => window.kivoTracker.state());
  const text = (id) => page.locator(`#${id}`).innerText();

  // Frames tracked with the mirror on (the camera's default), then off.
  const collect = async (count) => {
    const from = host.frames.length;
    const deadline = Date.now() + 120000;
    while (host.frames.length - from < count && Date.now() < deadline) await page.waitForTimeout(200);
    const codes = new Map(await page.evaluate(() => [...window.testCodes]));
    return host.frames.slice(from).map((m) => ({message: m, code: codes.get(m.time)}));
  };
  const mirrored = await collect(opt.frames);
  await page.locator('#mirror').uncheck();
  await collect(2);  // frames in flight while it switched
  const plain = await collect(Math.ceil(opt.frames / 4));

  check(host.hello && host.hello.client === 'kivo-tracker', 'the page did not say hello first');
  check(mirrored.length >= opt.frames, `only ${mirrored.length} mirrored frames streamed in 2 minutes`);
  const all = host.frames;
  check(all.every((m, i) => i === 0 || m.time > all[i - 1].time), 'frame times do not increase strictly');
  const now = Date.now();
  check(all.every((m) => m.time > started && m.time < now), 'frame times are not the wall clock (Unix ms)');
  check(all.every((m) => m.width === 620 && m.height === 1080 + STRIP), `camera image ${all[0].width}x${all[0].height}, expected 620x${1080 + STRIP}`);
  check(mirrored.every((f) => f.message.mirrored === true), 'frames with the mirror on are not marked mirrored');
  check(plain.every((f) => f.message.mirrored === false), 'frames with the mirror off are marked mirrored');

  const judge = (frames, name) => {
    const coded = frames.filter((f) => f.code !== undefined && f.code < reference.length);
    check(coded.length >= 0.9 * frames.length, `${name}: only ${coded.length} of ${frames.length} frames carry a readable code`);
    const near = coded.filter((f) => f.message.hands.length >= 1 && distance(f.message.hands[0], f.message, reference[f.code]) <= TOLERANCE);
    const errors = coded.filter((f) => f.message.hands.length).map((f) => distance(f.message.hands[0], f.message, reference[f.code])).sort((a, b) => a - b);
    console.log(`${name}: ${near.length} of ${coded.length} frames within ${TOLERANCE} px of the reference ` +
                `(median ${errors[errors.length >> 1]?.toFixed(1)} px, worst ${errors[errors.length - 1]?.toFixed(1)} px; ` +
                `video frames ${Math.min(...coded.map((f) => f.code))}..${Math.max(...coded.map((f) => f.code))})`);
    check(near.length >= SHARE * coded.length, `${name}: ${near.length} of ${coded.length} frames within ${TOLERANCE} px, wanted ${SHARE * 100} %`);
    const hands = coded.flatMap((f) => f.message.hands);
    check(hands.every(sameSide), `${name}: image and world landmarks lie the other way round`);
    const labels = new Set(hands.map((h) => h.handedness));
    check(labels.size === 1, `${name}: the one hand is labelled ${[...labels].join(' and ')}`);
    return [...labels][0];
  };
  const labelMirrored = judge(mirrored, 'mirror on');
  const labelPlain = judge(plain, 'mirror off');
  check(labelMirrored !== labelPlain, `the label stays ${labelPlain} when the mirror is switched`);

  // What the page shows of the tracking and of what the host says.
  host.socket.send(JSON.stringify({type: 'status', fps: 9.5, latencyMs: 12.5, refused: 0}));
  host.socket.send(JSON.stringify({type: 'refused', reason: 'hands[0].image: expected 21 landmarks', refused: 1}));
  host.socket.send(JSON.stringify({type: 'scene', objects: [{name: 'cube1', positions: [0, 0, 0, 1, 0, 0, 0, 1, 0], indices: [0, 1, 2]}]}));
  await page.waitForFunction(() => window.kivoTracker.state().refused === 1);
  const shown = await state();
  check(shown.connection === 'connected' && (await text('connection')) === 'connected', `connection shows "${await text('connection')}"`);
  check((await text('hands')) === '1', `hands shows "${await text('hands')}"`);
  check(Number(await text('fps')) > 0, `tracking frames/s shows "${await text('fps')}"`);
  check((await text('latency')) === '12.5 ms', `latency shows "${await text('latency')}"`);
  check((await text('refused')) === '1' && (await text('refused-reason')).includes('expected 21 landmarks'),
        `refusals show "${await text('refused')} ${await text('refused-reason')}"`);
  check((await text('poses')).includes('1 object'), `the pose view shows "${await text('poses')}"`);
  const cameras = await page.locator('#camera-select option').count();
  check(cameras >= 1, 'no camera in the camera list');

  // A host that refuses the client and closes: the page says why and tries again.
  host.socket.send(JSON.stringify({type: 'refused', reason: 'another client is streaming', refused: 1}));
  await host.socket.close({code: 1008, reason: 'busy'});
  await page.waitForFunction(() => window.kivoTracker.state().connection.startsWith('closed'));
  check((await text('connection')).includes('another client is streaming'), `after the refusal the connection shows "${await text('connection')}"`);
  check(problems.length === 0, `the page reported errors:\n${problems.join('\n')}`);
  console.log(`page: ${JSON.stringify(await state())}`);
} finally {
  await browser.close();
}

// A video file instead of the camera (?video=): not mirrored by default, streamed to ?ws=; with
// ?offline=1 kept in the page and not streamed.
{
  const clip = join(work, 'hand.webm');
  const made = spawnSync('ffmpeg', ['-loglevel', 'error', '-y', '-f', 'lavfi', '-i', 'color=white:s=640x480:r=25:d=1',
                                    '-loop', '1', '-r', '25', '-i', opt.hands, '-filter_complex',
                                    "[1:v]crop=300:382:40:0,scale=220:-2[h];[0:v][h]overlay=x='20+t*300':y=100:shortest=1",
                                    '-c:v', 'libvpx', '-b:v', '1M', clip], {encoding: 'utf8'});
  check(made.status === 0, `ffmpeg failed: ${made.stderr}`);
  const files = {'/hand.webm': readFileSync(clip)};
  const streamed = [];
  let streams = 0;
  const routed = (path, into) => (p) => p.routeWebSocket(`${ORIGIN.replace('http', 'ws')}${path}`, (ws) => {
    ++streams;
    ws.onMessage((m) => into.push(JSON.parse(m)));
  });
  let run = await openTracker({pageDir: opt.page, chromiumPath: opt.chromium, files,
                               query: `video=/hand.webm&model=lite&size=320&ws=${ORIGIN.replace('http', 'ws')}/elsewhere`,
                               beforeLoad: routed('/elsewhere', streamed)});
  try {
    const deadline = Date.now() + 60000;
    while (streamed.filter((m) => m.type === 'frame').length < 5 && Date.now() < deadline) await run.page.waitForTimeout(200);
    const frames = streamed.filter((m) => m.type === 'frame');
    check(frames.length >= 5, `video: ${frames.length} frames streamed to ?ws= in a minute`);
    check(frames.every((m) => m.mirrored === false && m.width === 640 && m.height === 480), 'video: frames mirrored or of the wrong size');
    check(frames.filter((m) => m.hands.length === 1).length >= 0.8 * frames.length, 'video: the hand is not found in most frames');
    check(run.problems.length === 0, `video: the page reported errors:\n${run.problems.join('\n')}`);
  } finally {
    await run.browser.close();
  }
  streams = 0;
  run = await openTracker({pageDir: opt.page, chromiumPath: opt.chromium, files, query: 'video=/hand.webm&model=lite&offline=1',
                           beforeLoad: routed('/stream', [])});
  try {
    await run.page.waitForFunction(() => window.kivoTracker.frames.length >= 3, null, {timeout: 60000});
    check(streams === 0, 'offline: the page opened a stream');
    check((await run.page.evaluate(() => window.kivoTracker.state().connection)).startsWith('offline'), 'offline: the page does not say so');
  } finally {
    await run.browser.close();
  }
}

if (!opt.keep && failures.length === 0) rmSync(work, {recursive: true, force: true});
else console.log(`work folder kept: ${work}`);
console.log(failures.length ? `${failures.length} check(s) failed` : 'all checks passed');
process.exit(failures.length ? 1 : 0);
