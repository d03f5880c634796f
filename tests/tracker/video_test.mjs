// kivo-track on video files, each part its own test:
//   errors     a missing video, a file that is no video, no ffmpeg and no Chromium: clear refusals
//   reference  the first seconds of the real hand video into a recording that rova replays into a
//              kivoTransform; its fingertips follow the reference landmarks of the same frames
//   gestures   videos made here from a still of a hand moved left to right and around a circle:
//              the recogniser finds a swipe to the right and a circle; the same video tracked
//              twice gives the same recording
//   one-hand   one hand jumping across the frame between frames (as a fast hand does at a low
//              frame rate) is tracked as one hand in every frame, never as two
//
// usage: node video_test.mjs PART --bin DIR --videos DIR [--keep]
//   --bin     the build's bin folder (kivo-track, rova, kivo-evaluate)
//   --videos  data/videos
import {spawnSync} from 'node:child_process';
import {existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';
import {check, failures} from '../support/checks.mjs';

const REFERENCE_SECONDS = 4;  // of the real hand video (25 frames per second)
const MIN_CORRELATION = 0.9;  // of each fingertip's path with the reference, per image axis
const MIN_TRAVEL = 25;  // pixels (standard deviation) a fingertip moves along an axis that counts

function options(argv) {
  const out = {part: argv[0], bin: '', videos: '', keep: false};
  for (let i = 1; i < argv.length; ++i) {
    const a = argv[i];
    if (a === '--bin') out.bin = resolve(argv[++i]);
    else if (a === '--videos') out.videos = resolve(argv[++i]);
    else if (a === '--keep') out.keep = true;
    else throw new Error(`unknown argument ${a}`);
  }
  if (!['errors', 'reference', 'gestures', 'one-hand'].includes(out.part) || !out.bin || !out.videos)
    throw new Error('usage: video_test.mjs errors|reference|gestures|one-hand --bin DIR --videos DIR [--keep]');
  return out;
}

const opt = options(process.argv.slice(2));
const work = mkdtempSync(join(tmpdir(), `tracker-${opt.part}-`));
const program = (name) => join(opt.bin, name);

function run(name, args, env = {}) {
  const started = Date.now();
  const result = spawnSync(program(name), args, {encoding: 'utf8', cwd: work, env: {...process.env, ...env}});
  console.log(`${name} ${args.join(' ')}: exit ${result.status} in ${((Date.now() - started) / 1000).toFixed(1)} s`);
  return result;
}

function ffmpeg(args) {
  const result = spawnSync('ffmpeg', ['-loglevel', 'error', '-y', ...args], {encoding: 'utf8', cwd: work});
  if (result.error || result.status !== 0) throw new Error(`ffmpeg ${args.join(' ')} failed: ${result.error || result.stderr}`);
}

function track(video, output, extra = []) {
  const result = run('kivo-track', [video, '-o', output, '--model', 'lite', ...extra]);
  const ok = check(result.status === 0 && existsSync(output), `kivo-track ${video} failed:\n${result.stdout}${result.stderr}`);
  if (ok) console.log(`  ${result.stdout.trim()}`);
  return ok;
}

function pearson(a, b) {
  const n = a.length;
  const ma = a.reduce((s, v) => s + v, 0) / n;
  const mb = b.reduce((s, v) => s + v, 0) / n;
  let sab = 0, saa = 0, sbb = 0;
  for (let i = 0; i < n; ++i) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) ** 2;
    sbb += (b[i] - mb) ** 2;
  }
  return sab / Math.sqrt(saa * sbb);
}

// ---- errors -------------------------------------------------------------------------------------

function errors() {
  const out = join(work, 'out.kivo');
  const refused = (what, result, pattern) => {
    check(result.status !== 0 && pattern.test(result.stderr) && !existsSync(out),
          `${what}: expected a refusal matching ${pattern}, got exit ${result.status}:\n${result.stderr}`);
    const text = result.stderr.trim();
    if (text) console.log(`  ${text.split('\n')[0]}`);
  };
  refused('a missing video', run('kivo-track', [join(work, 'missing.mp4'), '-o', out]), /no such video file: .*missing\.mp4/);
  writeFileSync(join(work, 'notes.mp4'), 'these are notes, not a video\n');
  refused('a file that is no video', run('kivo-track', [join(work, 'notes.mp4'), '-o', out]),
          /notes\.mp4: not a video ffmpeg can decode/);
  const video = join(opt.videos, 'asl_hand.25fps.mp4');
  refused('no ffmpeg', run('kivo-track', [video, '-o', out, '--ffmpeg', join(work, 'no-ffmpeg')]), /not found \(Debian: apt-get install ffmpeg\)/);
  refused('no Chromium', run('kivo-track', [video, '-o', out, '--chromium', join(work, 'no-chromium')]), /no Chromium at .*no-chromium/);
  refused('an unknown model', run('kivo-track', [video, '-o', out, '--model', 'huge']), /--model must be lite or full/);
}

// ---- reference ----------------------------------------------------------------------------------

// Per frame of a lockstep replay: whether hand 0 is tracked and its five fingertips' positions.
function replayTips(recording, frames) {
  const lines = ['plugin -load kivo_rova', 'create kivoTransform -name hand', 'set hand.live on',
                 `device -replay "${recording}"`];
  for (let f = 0; f < frames; ++f) {
    lines.push('play -frames 1', 'get hand.outputPalm0Enabled');
    for (let k = 0; k < 5; ++k) lines.push(`get hand.outputPointable0_${k}`);
  }
  writeFileSync(join(work, 'replay.rova'), `${lines.join('\n')}\n`);
  const result = run('rova', ['replay.rova']);
  if (!check(result.status === 0, `rova replay failed:\n${result.stderr}`)) return [];
  const out = result.stdout.split('\n').filter((l) => /^(true|false|-?[0-9])/.test(l));
  const tips = [];
  for (let f = 0; f < frames; ++f) {
    const [enabled, ...matrices] = out.slice(f * 6, f * 6 + 6);
    tips.push(enabled === 'true' ? matrices.map((m) => m.split(' ').map(Number).slice(12, 15)) : null);
  }
  return tips;
}

function reference() {
  const frames = REFERENCE_SECONDS * 25;
  const clip = join(work, 'asl-start.mp4');
  ffmpeg(['-i', join(opt.videos, 'asl_hand.25fps.mp4'), '-t', String(REFERENCE_SECONDS), '-c:v', 'libx264', '-crf', '16',
          '-pix_fmt', 'yuv420p', clip]);
  const recording = join(work, 'asl-start.kivo');
  if (!track(clip, recording)) return;
  const landmarks = JSON.parse(readFileSync(join(opt.videos, 'asl_hand.full.json'), 'utf8')).slice(0, frames);
  const tips = replayTips(recording, frames);
  const tracked = tips.filter(Boolean).length;
  check(tracked >= 0.95 * frames, `the replayed hand is tracked in ${tracked} of ${frames} frames`);
  // The video is not mirrored: image x to the right is device x; image y down is device y down.
  // Along an axis on which a fingertip hardly moves (the thumb's y in these frames: 12 pixels),
  // the correlation measures noise, so only axes along which the reference moves count.
  const used = tips.map((t, f) => (t ? f : -1)).filter((f) => f >= 0);
  const std = (values) => Math.sqrt(values.reduce((s, v) => s + v * v, 0) / values.length - (values.reduce((s, v) => s + v, 0) / values.length) ** 2);
  let axes = 0;
  for (let k = 0; k < 5; ++k) {
    const tip = 4 * k + 4;
    for (const [axis, name, sign] of [[0, 'x', 1], [1, 'y', -1]]) {
      const path = used.map((f) => sign * landmarks[f][tip][axis]);
      const r = pearson(used.map((f) => tips[f][k][axis]), path);
      const moves = std(path) >= MIN_TRAVEL;
      console.log(`fingertip ${k} ${name}: reference moves ${std(path).toFixed(1)} px (sd), correlation ${r.toFixed(3)}` +
                  `${moves ? '' : ' (not counted)'}`);
      if (!moves) continue;
      ++axes;
      check(r >= MIN_CORRELATION, `fingertip ${k} does not follow the reference along ${name} (correlation ${r.toFixed(3)})`);
    }
  }
  check(axes >= 8, `only ${axes} fingertip axes move enough to compare`);
}

// ---- gestures -----------------------------------------------------------------------------------

// A still of one open hand (cut from hands.jpg) over white, 640x480 at 30 frames per second; it
// rests, moves along x(t), y(t) (ffmpeg expressions), and rests again.
function handVideo(name, seconds, x, y) {
  const out = join(work, `${name}.mp4`);
  ffmpeg(['-f', 'lavfi', '-i', `color=white:s=640x480:r=30:d=${seconds}`, '-loop', '1', '-r', '30',
          '-i', join(opt.videos, 'hands.jpg'), '-filter_complex',
          `[1:v]crop=300:382:40:0,scale=220:-2[h];[0:v][h]overlay=x='${x}':y='${y}':shortest=1,format=yuv420p`,
          '-c:v', 'libx264', '-crf', '18', out]);
  return out;
}

function gestures() {
  // Left to right across most of the frame in 0.8 s, after and before 0.4 s at rest.
  const swipe = handVideo('swipe', 1.6, 'if(lt(t,0.4),20,if(lt(t,1.2),20+(t-0.4)/0.8*380,400))', '100');
  // One and a quarter turns of radius 100 pixels in 2 s.
  const turn = '2*PI*1.25*clip((t-0.4)/2,0,1)';
  const circle = handVideo('circle', 2.7, `210+100*cos(${turn})`, `100+100*sin(${turn})`);
  const takes = join(work, 'takes');
  mkdirSync(takes);
  const swipeRecording = join(takes, 'swipe-right.kivo');
  if (!track(swipe, swipeRecording) || !track(circle, join(takes, 'circle.kivo'))) return;

  const again = join(work, 'swipe-again.kivo');
  if (track(swipe, again))
    check(readFileSync(again).equals(readFileSync(swipeRecording)), 'the same video tracked twice gives different recordings');

  const result = run('kivo-evaluate', ['-t', '--directions', takes]);
  console.log(result.stdout.split('\n').slice(0, 2).join('\n'));
  if (!check(result.status === 0, `kivo-evaluate failed:\n${result.stderr}`)) return;
  const line = (name) => result.stdout.split('\n').find((l) => l.includes(`${name}.kivo:`)) || '';
  const swipeLine = line('swipe-right');
  check(/-> swipe swipe \d+ \/ right(\s|$)/.test(swipeLine), `no lone swipe to the right: "${swipeLine}"`);
  const circleLine = line('circle');
  check(/-> circle circle \d+/.test(circleLine), `no lone circle: "${circleLine}"`);
}

// ---- one hand ------------------------------------------------------------------------------------

function oneHand() {
  // 10 frames per second, the hand 55 pixels further right each frame, back to the left every 8.
  const video = join(work, 'jumps.mp4');
  ffmpeg(['-f', 'lavfi', '-i', 'color=white:s=640x480:r=10:d=3', '-loop', '1', '-r', '10',
          '-i', join(opt.videos, 'hands.jpg'), '-filter_complex',
          "[1:v]crop=300:382:40:0,scale=220:-2[h];[0:v][h]overlay=x='20+mod(n,8)*55':y=100:shortest=1,format=yuv420p",
          '-c:v', 'libx264', '-crf', '18', video]);
  const frames = join(work, 'jumps.jsonl');
  if (!track(video, join(work, 'jumps.kivo'), ['--frames', frames])) return;
  const counts = readFileSync(frames, 'utf8').trim().split('\n').map((l) => JSON.parse(l).hands.length);
  console.log(`hands per frame: ${counts.join(' ')}`);
  check(counts.length === 30, `${counts.length} frames tracked, expected 30`);
  check(counts.every((n) => n <= 1), 'one hand is reported as two');
  check(counts.filter((n) => n === 1).length >= 25, 'the hand is lost in more than 5 of 30 frames');
}

try {
  ({errors, reference, gestures, 'one-hand': oneHand})[opt.part]();
} catch (error) {
  check(false, error.stack || String(error));
}
if (!opt.keep && failures.length === 0) rmSync(work, {recursive: true, force: true});
else console.log(`work folder kept: ${work}`);
console.log(failures.length ? `${failures.length} check(s) failed` : 'all checks passed');
process.exit(failures.length ? 1 : 0);
