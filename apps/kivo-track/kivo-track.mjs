// kivo-track: a video file into a Kivo recording. ffmpeg decodes every frame (in order, with its
// presentation time); the tracker page, headless, tracks each one in turn, however long that
// takes; the page's frame messages are kept as JSON lines and kivo-convert --frames turns them
// into the recording. Frames are tracked one after another from the same start, so the same
// video gives the same recording.
import {spawn, spawnSync} from 'node:child_process';
import {createWriteStream, existsSync, mkdtempSync, rmSync, statSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';
import {openTracker} from '../../tracker/tools/browser.mjs';

const USAGE = `usage: kivo-track VIDEO -o OUT.kivo [--model lite|full] [--mirror] [-s camera.KEY=VALUE]...
                  [--frames FRAMES.jsonl] [--chromium PATH] [--ffmpeg PATH]
  Tracks the hands in every frame of VIDEO with the tracker page in headless Chromium and writes
  them as a recording with the video's timing.
  -o OUT.kivo        the recording to write
  --model lite|full  the hand landmark model (default full: slower, steadier)
  --mirror           the video is shown mirrored (as a selfie camera would show it)
  -s camera.KEY=VAL  a camera model setting for the conversion (camera.fov, camera.hand_size, ...)
  --frames FILE      also keep the page's frame messages (JSON lines) in FILE
  --chromium PATH    the browser (default $KIVO_CHROMIUM or /usr/bin/chromium)
  --ffmpeg PATH      the decoder (default ffmpeg; ffprobe is looked for beside it)`;

function die(message, code = 1) {
  process.stderr.write(`kivo-track: ${message}\n`);
  process.exit(code);
}

function options(argv) {
  const out = {video: '', output: '', model: 'full', mirror: false, settings: [], frames: '',
               chromium: process.env.KIVO_CHROMIUM || '/usr/bin/chromium', ffmpeg: 'ffmpeg', page: '',
               convert: ''};
  const value = (i, name) => {
    if (i >= argv.length) die(`${name} needs a value\n${USAGE}`, 2);
    return argv[i];
  };
  for (let i = 0; i < argv.length; ++i) {
    const a = argv[i];
    if (a === '-o' || a === '--output') out.output = resolve(value(++i, a));
    else if (a === '--model') out.model = value(++i, a);
    else if (a === '--mirror') out.mirror = true;
    else if (a === '-s' || a === '--set') out.settings.push(value(++i, a));
    else if (a === '--frames') out.frames = resolve(value(++i, a));
    else if (a === '--chromium') out.chromium = value(++i, a);
    else if (a === '--ffmpeg') out.ffmpeg = value(++i, a);
    else if (a === '--page') out.page = resolve(value(++i, a));
    else if (a === '--convert') out.convert = value(++i, a);
    else if (a === '-h' || a === '--help') {
      process.stdout.write(`${USAGE}\n`);
      process.exit(0);
    } else if (a.startsWith('-')) die(`unknown option ${a}\n${USAGE}`, 2);
    else if (!out.video) out.video = resolve(a);
    else die(`one video at a time (got ${out.video} and ${a})`, 2);
  }
  if (!out.video || !out.output) die(USAGE, 2);
  if (out.model !== 'lite' && out.model !== 'full') die(`--model must be lite or full, not "${out.model}"`, 2);
  for (const s of out.settings)
    if (!/^camera\.[a-z_]+=./.test(s)) die(`-s ${s}: expected camera.KEY=VALUE`, 2);
  if (!out.page || !out.convert) die('run through bin/kivo-track, which names the page and kivo-convert', 2);
  return out;
}

const opt = options(process.argv.slice(2));

// ---- the video ---------------------------------------------------------------------------------

if (!existsSync(opt.video) || !statSync(opt.video).isFile()) die(`no such video file: ${opt.video}`);
const ffprobe = opt.ffmpeg.includes('/') ? opt.ffmpeg.replace(/ffmpeg([^/]*)$/, 'ffprobe$1') : 'ffprobe';
for (const tool of [opt.ffmpeg, ffprobe]) {
  const run = spawnSync(tool, ['-version'], {encoding: 'utf8'});
  if (run.error) die(`${tool} not found (Debian: apt-get install ffmpeg)`);
}

// What the container says; the frame count only sizes the progress bar.
function probe(video) {
  const run = spawnSync(ffprobe, ['-v', 'error', '-select_streams', 'v:0', '-show_entries',
                                  'stream=width,height,nb_frames,avg_frame_rate,duration', '-of', 'json', video],
                        {encoding: 'utf8'});
  let stream;
  try {
    stream = JSON.parse(run.stdout).streams[0];
  } catch {
    stream = undefined;
  }
  if (run.status !== 0 || !stream)
    die(`${video}: not a video ffmpeg can decode${run.stderr.trim() ? ` (${run.stderr.trim().split('\n').pop()})` : ' (no video stream)'}`);
  let frames = Number(stream.nb_frames) || 0;
  if (!frames) {
    const [num, den] = String(stream.avg_frame_rate || '0/1').split('/').map(Number);
    frames = Math.round((Number(stream.duration) || 0) * (den ? num / den : 0));
  }
  return {width: stream.width, height: stream.height, frames};
}

const info = probe(opt.video);

// Frames as JPEG images from ffmpeg's stdout, with their presentation times from showinfo on its
// stderr; pulled one at a time so that a long video never sits in memory.
class Decoder {
  constructor(video) {
    this.images = [];
    this.times = [];
    this.waiting = null;
    this.ended = false;
    this.errorLines = [];
    this.buffer = Buffer.alloc(0);
    this.child = spawn(opt.ffmpeg, ['-hide_banner', '-nostdin', '-loglevel', 'info', '-i', video, '-map', '0:v:0',
                                    '-fps_mode', 'passthrough', '-vf', 'showinfo', '-f', 'image2pipe',
                                    '-c:v', 'mjpeg', '-q:v', '2', '-'],
                       {stdio: ['ignore', 'pipe', 'pipe']});
    this.child.stdout.on('data', (chunk) => this.onImages(chunk));
    let text = '';
    this.child.stderr.on('data', (chunk) => {
      text += chunk.toString('latin1');
      const lines = text.split('\n');
      text = lines.pop();
      for (const line of lines) this.onLog(line);
    });
    this.child.on('close', (code) => {
      if (text) this.onLog(text);
      this.exitCode = code;
      this.ended = true;
      this.wake();
    });
    this.child.on('error', (error) => {
      this.errorLines.push(error.message);
      this.ended = true;
      this.wake();
    });
  }

  onLog(line) {
    const shown = /\bn:\s*(\d+)\s+pts:\s*(-?\d+)\s+pts_time:(-?[0-9.eE+-]+)/.exec(line);
    if (shown && line.includes('showinfo')) {
      this.times.push(Number(shown[3]) * 1000);
      this.wake();
    } else if (/error|invalid|no such/i.test(line)) {
      this.errorLines.push(line.trim());
    }
  }

  // JPEG images from ffmpeg are byte-stuffed: FFD9 marks only the end of an image.
  onImages(chunk) {
    this.buffer = this.buffer.length ? Buffer.concat([this.buffer, chunk]) : chunk;
    for (;;) {
      const end = this.buffer.indexOf(Buffer.from([0xff, 0xd9]), 2);
      if (end < 0) break;
      this.images.push(this.buffer.subarray(0, end + 2));
      this.buffer = this.buffer.subarray(end + 2);
    }
    if (this.images.length > 8) this.child.stdout.pause();
    this.wake();
  }

  wake() {
    if (this.waiting) {
      const resolveWait = this.waiting;
      this.waiting = null;
      resolveWait();
    }
  }

  // The next frame {image, timeMs}, or null at the end of the video.
  async next() {
    for (;;) {
      if (this.images.length && this.times.length) {
        if (this.images.length < 3) this.child.stdout.resume();
        return {image: this.images.shift(), timeMs: this.times.shift()};
      }
      if (this.ended) return null;
      await new Promise((resolveWait) => {
        this.waiting = resolveWait;
      });
    }
  }

  failure() {
    if (this.exitCode === 0) return '';
    return this.errorLines.slice(-3).join('; ') || `ffmpeg exited with ${this.exitCode}`;
  }
}

// ---- progress -----------------------------------------------------------------------------------

const started = Date.now();
let lastPlain = 0;

function progress(done, total, final = false) {
  const seconds = (Date.now() - started) / 1000;
  const rate = done / Math.max(seconds, 1e-3);
  if (process.stderr.isTTY) {
    const width = 30;
    const share = total ? Math.min(1, done / total) : 0;
    const filled = Math.round(share * width);
    const left = total && rate > 0 ? Math.max(0, (total - done) / rate) : 0;
    const eta = total ? ` ETA ${Math.floor(left / 60)}:${String(Math.round(left % 60)).padStart(2, '0')}` : '';
    process.stderr.write(`\r[${'#'.repeat(filled)}${'.'.repeat(width - filled)}] ${done}/${total || '?'} frames ` +
                         `${rate.toFixed(1)} frames/s${final ? '' : eta}  ${final ? '\n' : ''}`);
  } else if (final || Date.now() - lastPlain >= 5000 || (total && done === total)) {
    lastPlain = Date.now();
    process.stderr.write(`kivo-track: ${done}/${total || '?'} frames (${rate.toFixed(1)} frames/s)\n`);
  }
}

// ---- tracking -----------------------------------------------------------------------------------

const work = mkdtempSync(join(tmpdir(), 'kivo-track-'));
const framesPath = opt.frames || join(work, 'frames.jsonl');
let current = null;
let tracker;
try {
  tracker = await openTracker({
    pageDir: opt.page,
    chromiumPath: opt.chromium,
    query: `offline=1&model=${opt.model}&mirror=${opt.mirror ? 1 : 0}`,
    files: {'/frame.jpg': () => current},
  });
} catch (error) {
  rmSync(work, {recursive: true, force: true});
  die(error.message);
}

const out = createWriteStream(framesPath);
const decoder = new Decoder(opt.video);
let count = 0;
let withHands = 0;
let first = null;
let last = -Infinity;
let nudged = 0;
let failed = '';
try {
  for (;;) {
    const frame = await decoder.next();
    if (!frame) break;
    if (first === null) first = frame.timeMs;
    // Presentation times from 0; a repeated one (a broken file) is moved just past the last.
    let time = Math.round((frame.timeMs - first) * 1000) / 1000;
    if (!(time > last)) {
      time = last + 0.001;
      ++nudged;
    }
    last = time;
    current = frame.image;
    // A fresh URL each frame: the page must not reuse a cached image.
    const message = await tracker.page.evaluate(([url, t]) => window.kivoTracker.track(url, t),
                                                [`/frame.jpg?${count}`, time]);
    if (message.hands.length) ++withHands;
    if (!out.write(`${JSON.stringify(message)}\n`)) await new Promise((r) => out.once('drain', r));
    ++count;
    progress(count, Math.max(info.frames, count));
  }
  failed = decoder.failure();
} catch (error) {
  failed = error.message;
  decoder.child.kill();
} finally {
  await tracker.browser.close();
  await new Promise((r) => out.end(r));
}
if (count) progress(count, count, true);
if (!failed && count === 0) failed = 'no frames decoded';
if (failed) {
  rmSync(work, {recursive: true, force: true});
  die(`${opt.video}: ${failed}`);
}

const convert = spawnSync(opt.convert, ['--frames', framesPath, '-o', opt.output,
                                        ...opt.settings.flatMap((s) => ['-s', s])],
                          {encoding: 'utf8'});
rmSync(work, {recursive: true, force: true});
if (convert.error || convert.status !== 0)
  die(`kivo-convert failed: ${convert.error ? convert.error.message : (convert.stderr || convert.stdout).trim()}`);
const seconds = ((Date.now() - started) / 1000).toFixed(1);
process.stdout.write(`${opt.output}: ${count} frames (${withHands} with hands) from ${opt.video} in ${seconds} s` +
                     `${nudged ? `; ${nudged} repeated frame times moved 1 us on` : ''}\n`);
