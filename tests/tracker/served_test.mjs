// The tracker page as a performer uses it: rova listens (device -listen -port 0) and serves the
// page; headless Chromium opens it from rova's address with the fake camera playing the real hand
// video; the page's frames stream into the device, where a kivoTransform sees the hand and
// device -record takes them down.
//
// usage: node served_test.mjs --rova PATH --video MP4 [--chromium PATH] [--keep]
import {spawn, spawnSync} from 'node:child_process';
import {mkdtempSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';
import {check, failures} from '../support/checks.mjs';
import {openTracker} from '../../tracker/tools/browser.mjs';

const FRAMES = 15;  // live frames rova waits for

const opt = {rova: '', video: '', chromium: '/usr/bin/chromium', keep: false};
for (let i = 2; i < process.argv.length; ++i) {
  const a = process.argv[i];
  if (a === '--rova') opt.rova = resolve(process.argv[++i]);
  else if (a === '--video') opt.video = resolve(process.argv[++i]);
  else if (a === '--chromium') opt.chromium = process.argv[++i];
  else if (a === '--keep') opt.keep = true;
  else throw new Error(`unknown argument ${a}`);
}
if (!opt.rova || !opt.video) throw new Error('usage: served_test.mjs --rova PATH --video MP4 [--chromium PATH] [--keep]');

const work = mkdtempSync(join(tmpdir(), 'tracker-served-'));
const camera = join(work, 'camera.mjpeg');
const made = spawnSync('ffmpeg', ['-loglevel', 'error', '-y', '-i', opt.video, '-t', '3', '-vf', 'format=yuv420p', '-q:v', '3',
                                    '-f', 'mjpeg', camera],
                       {encoding: 'utf8'});
if (made.status !== 0) throw new Error(`ffmpeg failed: ${made.stderr}`);

writeFileSync(join(work, 'listen.rova'), [
  'plugin -load kivo_rova',
  'create kivoTransform -name hand',
  'set hand.live on',
  'device -listen -port 0',
  'device -record rec.kivo',
  `device -await ${FRAMES} -timeout 120`,
  'refresh',
  'get hand.outputPalm0Enabled',
  'device -status',
  '',
].join('\n'));
const rova = spawn(opt.rova, ['listen.rova'], {cwd: work});
let out = '';
let err = '';
rova.stderr.on('data', (d) => (err += d));
const exited = new Promise((r) => rova.on('close', r));
const address = await new Promise((resolveAddress) => {
  rova.stdout.on('data', (d) => {
    out += d;
    const found = /listening on (http:\/\/127\.0\.0\.1:\d+\/)/.exec(out);
    if (found) resolveAddress(found[1]);
  });
  rova.on('close', () => resolveAddress(''));
});

let page = null;
if (check(address, `rova did not listen:\n${out}\n${err}`)) {
  console.log(`rova serves ${address}`);
  const opened = await openTracker({
    url: address,
    chromiumPath: opt.chromium,
    query: 'model=lite',
    args: ['--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream',
           `--use-file-for-fake-video-capture=${camera}`],
  });
  page = opened.page;
  try {
    await page.waitForFunction(() => window.kivoTracker.state().sent > 0, null, {timeout: 120000});
    check((await page.locator('#connection').innerText()) === 'connected', 'the page is not connected to rova');
    const found = await page.waitForFunction(() => window.kivoTracker.state().hands === 1, null, {timeout: 60000})
                            .then(() => true, () => false);
    check(found, 'the page does not find the hand');
    const code = await Promise.race([exited, new Promise((r) => setTimeout(() => r('timeout'), 150000))]);
    check(code === 0, `rova exited with ${code}:\n${out}\n${err}`);
    const lines = out.trim().split('\n');
    console.log(lines.slice(-2).join('\n'));
    check(lines.includes('true'), 'the kivoTransform does not see the streamed hand');
    check(/frames received/.test(lines[lines.length - 1]) && /0 refused/.test(lines[lines.length - 1]),
          `rova's status: ${lines[lines.length - 1]}`);
    const take = readFileSync(join(work, 'rec.kivo'), 'utf8');
    check(/; hand \d+ palm=/.test(take), 'the recorded take holds no hand');
    check(opened.problems.length === 0, `the page reported errors:\n${opened.problems.join('\n')}`);
  } finally {
    await opened.browser.close();
  }
}
rova.kill();
if (!opt.keep && failures.length === 0) rmSync(work, {recursive: true, force: true});
else console.log(`work folder kept: ${work}`);
console.log(failures.length ? `${failures.length} check(s) failed` : 'all checks passed');
process.exit(failures.length ? 1 : 0);
