// The bake viewer end to end: rova bakes a replayed hand (with a mesh the hand dents, so the glTF
// carries morph targets) to .glb and to .gltf + .bin, gltf-validator checks both, scripts/make-viewer
// builds a page from each, and headless Chromium opens one from the file system and the other
// through a static server started here. Each page must load with no console or page error and
// fetch nothing from elsewhere, show a picture that is not blank and changes along the timeline,
// switch the dented mesh's morph targets, label the timeline with the baked frames, plot the
// column chosen in its drop-down, and draw the skeleton of the hand baked as a skin (-skin) with
// its joints on the tracked fingertips, saying in a legend what it shows.
//
// usage: node viewer_test.mjs --rova PATH [--chromium PATH] [--screenshot PNG] [--keep]
//   --screenshot PNG  also writes a picture of the whole page (the one in docs/viewer.png)
//   --keep            keeps the work folder (it is kept anyway when a check fails)
import {spawnSync} from 'node:child_process';
import {createServer} from 'node:http';
import {mkdtempSync, readFileSync, rmSync, writeFileSync, existsSync} from 'node:fs';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {dirname, extname, join, normalize, resolve, sep} from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';
import {decodePng, pictureStats, differingShare, countNear} from './png.mjs';
import {check, failures} from '../support/checks.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, '..', '..');
const viewerDir = join(root, 'viewer');

const FRAMES = 60;
const RECORDING = join(root, 'data', 'recordings', 'real', 'asl-fingerspelling.kivo');
const OBJECTS = ['palm', 'tip0', 'tip1', 'tip2', 'tip3', 'tip4', 'box', 'sheet'];
const PLUG = 'hand.outputPalm0Enabled';
const PLOTTED = 'palm.translation[1]';
const CURVE_RGB = [0x5f, 0xb3, 0xf9];  // the plot's curve colour (viewer/src/plot.js)
const BONE_RGB = [0x7c, 0xf0, 0xa0];   // the skeleton's lines (viewer/src/main.js)
const FINGERS = ['thumb', 'index', 'middle', 'ring', 'pinky'];

function options(argv) {
  const out = {rova: '', chromium: '/usr/bin/chromium', screenshot: '', keep: false};
  for (let i = 0; i < argv.length; ++i) {
    const a = argv[i];
    if (a === '--rova') out.rova = resolve(argv[++i]);
    else if (a === '--chromium') out.chromium = argv[++i];
    else if (a === '--screenshot') out.screenshot = resolve(argv[++i]);
    else if (a === '--keep') out.keep = true;
    else throw new Error(`unknown argument ${a}`);
  }
  if (!out.rova) throw new Error('usage: viewer_test.mjs --rova PATH [--chromium PATH] [--screenshot PNG] [--keep]');
  return out;
}

function note(message) {
  console.log(message);
}
const seconds = (t0) => ((Date.now() - t0) / 1000).toFixed(2);

// A hand replayed onto marker spheres, a cube, and a plane dented by the fingertips and the palm
// (a deformer), so its shape changes from frame to frame.
function sceneScript(output, table) {
  const lines = [
    'plugin -load kivo_rova',
    'create kivoTransform -name hand',
    'set hand.live on',
    'sphere -name palm -radius 0.8 -segments 16',
    'connect hand.outputPalm0 palm.inputMatrix',
  ];
  for (let k = 0; k < 5; ++k) {
    lines.push(`sphere -name tip${k} -radius 0.3 -segments 10`,
               `connect hand.outputPointable0_${k} tip${k}.inputMatrix`);
  }
  lines.push(
      'cube -name box -size 2',
      'move -a 0 1 0 box',
      'plane -name sheet -size 8 -divisions 32',
      'move -a 0 9.5 0 sheet',
      'deformer kivoDeformer sheet -name dent',
      'set dent.radius 2.5',
      'connect hand.outputPointable0_1 dent.inputPoint0',
      'connect hand.outputPointable0_1Enabled dent.inputPoint0Enabled',
      'connect hand.outputPointable0_2 dent.inputPoint1',
      'connect hand.outputPointable0_2Enabled dent.inputPoint1Enabled',
      'connect hand.outputPalm0 dent.inputPoint2',
      'connect hand.outputPalm0Enabled dent.inputPoint2Enabled',
      `device -replay "${RECORDING}"`,
      `bake -frames ${FRAMES} -start 1 -replay -skin hand -output ${output}` +
          (table ? ` -table ${table}` : '') + ` ${OBJECTS.join(' ')} ${PLUG}`);
  return lines.join('\n') + '\n';
}

function bake(rova, work, script, name) {
  writeFileSync(join(work, name), script);
  const t0 = Date.now();
  const run = spawnSync(rova, [name], {cwd: work, encoding: 'utf8'});
  note(`rova ${name}: exit ${run.status} in ${seconds(t0)} s`);
  const summary = (run.stdout || '').split('\n').find((l) => l.startsWith('baked '));
  if (!check(run.status === 0 && summary,
             `rova ${name} failed: ${run.error || ''}\n${run.stdout}\n${run.stderr}`))
    return false;
  note(`  ${summary}`);
  check(summary.startsWith(`baked ${FRAMES} frames`), `${name}: unexpected summary ${summary}`);
  return true;
}

async function validate(validator, work, file) {
  const bytes = new Uint8Array(readFileSync(join(work, file)));
  const report = await validator.validateBytes(bytes, {
    uri: file,
    maxIssues: 0,
    writeTimestamp: false,
    externalResourceFunction: (uri) =>
      Promise.resolve(new Uint8Array(readFileSync(join(work, decodeURIComponent(uri))))),
  });
  const issues = report.issues;
  note(`gltf-validator ${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
       `${issues.numInfos} infos, ${issues.numHints} hints`);
  for (const m of issues.messages) {
    if (m.severity <= 1)
      note(`  ${m.severity === 0 ? 'error' : 'warning'} ${m.code} at ${m.pointer || '-'}: ${m.message}`);
  }
  check(issues.numErrors === 0, `${file}: gltf-validator reports ${issues.numErrors} errors`);
  check(report.info && report.info.animationCount === 1, `${file}: expected one animation`);
  check(report.info && report.info.hasMorphTargets === true, `${file}: expected morph targets (the dented sheet)`);
  check(report.info && report.info.hasSkins === true, `${file}: expected a skin (the hand)`);
  return report;
}

function makeViewer(gltf, table, out) {
  const t0 = Date.now();
  const run = spawnSync(join(root, 'scripts', 'make-viewer'), [gltf, table, out], {encoding: 'utf8'});
  note(`make-viewer ${gltf.split(sep).pop()}: exit ${run.status} in ${seconds(t0)} s`);
  if (run.stderr.trim()) note(run.stderr.trim().split('\n').map((l) => `  ${l}`).join('\n'));
  check(run.status === 0, `make-viewer failed:\n${run.stdout}\n${run.stderr}`);
  for (const f of ['index.html', 'viewer.js', 'bake-data.js'])
    check(existsSync(join(out, f)), `make-viewer wrote no ${f}`);
  return run.status === 0;
}

const TYPES = {'.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8'};

// A static server for one folder, on a free port of the loopback interface.
function serve(folder) {
  const server = createServer((request, response) => {
    const path = normalize(join(folder, decodeURIComponent(new URL(request.url, 'http://x').pathname)));
    if (request.method !== 'GET' || !path.startsWith(folder + sep) || !existsSync(path)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {'content-type': TYPES[extname(path)] || 'application/octet-stream'});
    response.end(readFileSync(path));
  });
  return new Promise((resolvePromise) =>
      server.listen(0, '127.0.0.1', () => resolvePromise(server)));
}

async function canvasImage(page, selector) {
  return decodePng(await page.locator(selector).screenshot());
}

// Opens a page and checks it; returns the page (still open) when it loaded.
async function checkPage(browser, label, url, table, screenshot) {
  const t0 = Date.now();
  const page = await browser.newPage({viewport: {width: 1200, height: 760}});
  const errors = [], warnings = [], foreign = [];
  const origin = url.startsWith('file:') ? 'file://' : new URL(url).origin + '/';
  page.on('console', (m) => {
    if (m.type() === 'error') errors.push(`console: ${m.text()}`);
    else if (m.type() === 'warning') warnings.push(m.text());
  });
  page.on('pageerror', (e) => errors.push(`page error: ${e.message}`));
  page.on('requestfailed', (r) => errors.push(`request failed: ${r.url()} ${r.failure()?.errorText}`));
  page.on('request', (r) => {
    const u = r.url();
    if (!u.startsWith(origin) && !u.startsWith('data:') && !u.startsWith('blob:')) foreign.push(u);
  });

  await page.goto(url);
  await page.waitForFunction(() => window.viewer && (window.viewer.ready || window.viewer.error),
                             null, {timeout: 60000});
  const status = await page.evaluate(() => ({
    ready: window.viewer.ready, error: window.viewer.error, duration: window.viewer.duration,
    frameCount: window.viewer.frameCount, columns: window.viewer.columns,
  }));
  note(`${label}: loaded in ${seconds(t0)} s (${status.frameCount} frames, ${status.duration.toFixed(3)} s)`);
  if (!check(status.ready && !status.error, `${label}: the page did not load: ${status.error}`)) {
    check(false, `${label}: ${errors.join('\n')}`);
    return page;
  }
  check(status.frameCount === FRAMES, `${label}: ${status.frameCount} frames on the timeline, not ${FRAMES}`);
  check(Math.abs(status.duration - (FRAMES - 1) / table.fps) < 1e-4,
        `${label}: duration ${status.duration}, not ${(FRAMES - 1) / table.fps}`);

  // Freshly opened, the labels, the slider and the plot's cursor are at the first frame, where the
  // scene is.
  const opened = await page.evaluate(() => ({
    frame: document.getElementById('frame').textContent,
    seconds: document.getElementById('seconds').textContent,
    slider: document.getElementById('timeline').value,
    cursor: window.viewer.plotCursorIndex(), index: window.viewer.frameIndex(),
  }));
  check(opened.frame === `frame ${table.frames[0]}`,
        `${label}: opens with the frame label "${opened.frame}", expected "frame ${table.frames[0]}"`);
  check(opened.seconds === '0.000 s', `${label}: opens with the seconds label "${opened.seconds}"`);
  check(opened.slider === '0' && opened.index === 0, `${label}: opens at timeline ${opened.slider}`);
  check(opened.cursor === 0, `${label}: opens with the plot's cursor at frame index ${opened.cursor}`);

  // Not blank: the first frame shows many colours, well spread.
  const first = await canvasImage(page, '#scene');
  const stats = pictureStats(first);
  note(`${label}: first frame ${first.width}x${first.height}, ${stats.distinctColors} colours, ` +
       `luminance deviation ${stats.luminanceStdDev.toFixed(1)}, ${(stats.notBackground * 100).toFixed(1)}% not background`);
  check(stats.distinctColors >= 32, `${label}: the 3D view looks blank (${stats.distinctColors} colours)`);
  check(stats.luminanceStdDev > 4, `${label}: the 3D view looks flat (luminance deviation ${stats.luminanceStdDev})`);
  check(stats.notBackground > 0.01, `${label}: almost nothing drawn over the background`);

  // The timeline moves the scene: two positions give two pictures, and the dented sheet shows
  // a different morph target.
  const later = status.duration * 0.8;
  const atStart = await page.evaluate(() => {
    window.viewer.setTime(0);
    return window.viewer.morphState();
  });
  const start = await canvasImage(page, '#scene');
  const atLater = await page.evaluate((t) => {
    window.viewer.setTime(t);
    return {morph: window.viewer.morphState(), index: window.viewer.frameIndex(),
            frame: document.getElementById('frame').textContent,
            slider: document.getElementById('timeline').value,
            seconds: document.getElementById('seconds').textContent};
  }, later);
  const end = await canvasImage(page, '#scene');
  const share = differingShare(start, end);
  note(`${label}: ${(share * 100).toFixed(2)}% of the view differs between 0 s and ${later.toFixed(3)} s`);
  check(share > 0.002, `${label}: the picture does not change along the timeline`);
  const sheetStart = atStart.find((m) => m.name === 'sheet');
  const sheetLater = atLater.morph.find((m) => m.name === 'sheet');
  check(sheetStart && sheetLater && sheetStart.targets > 1,
        `${label}: the sheet has no morph targets in the page (${JSON.stringify(atLater.morph)})`);
  if (sheetStart && sheetLater) {
    note(`${label}: sheet morph target ${sheetStart.active} at 0 s, ${sheetLater.active} at ${later.toFixed(3)} s of ${sheetLater.targets}`);
    check(sheetStart.active === -1, `${label}: the sheet's first shape should show at 0 s`);
    check(sheetLater.active >= 0 && sheetLater.active !== sheetStart.active,
          `${label}: the sheet's morph target did not switch along the timeline`);
  }
  const expectedIndex = Math.round(later * table.fps);
  check(atLater.index === expectedIndex, `${label}: frame index ${atLater.index}, expected ${expectedIndex}`);
  check(atLater.frame === `frame ${table.frames[expectedIndex]}`,
        `${label}: frame label "${atLater.frame}", expected "frame ${table.frames[expectedIndex]}"`);
  check(atLater.slider === String(expectedIndex), `${label}: timeline at ${atLater.slider}, expected ${expectedIndex}`);
  check(atLater.seconds === `${later.toFixed(3)} s`, `${label}: seconds label "${atLater.seconds}"`);

  // The drop-down offers every numeric column, and the chosen one is plotted.
  const numeric = Object.keys(table.columns).filter((k) => table.columns[k].every((v) => typeof v === 'number'));
  const options = await page.$$eval('#column option', (os) => os.map((o) => o.value));
  check(JSON.stringify(options) === JSON.stringify(numeric),
        `${label}: drop-down offers ${options.length} columns, the table has ${numeric.length}`);
  await page.selectOption('#column', PLOTTED);
  check(await page.evaluate(() => window.viewer.column) === PLOTTED, `${label}: choosing ${PLOTTED} did not plot it`);
  const plot = await canvasImage(page, '#plot');
  const curve = countNear(plot, CURVE_RGB);
  note(`${label}: plot of ${PLOTTED}: ${curve} curve pixels`);
  check(curve > 200, `${label}: no curve drawn for ${PLOTTED}`);

  // The hand's skeleton: its tip joints on the fingertip markers, its palm joint on the palm,
  // at the start and at a later key (between keys the chain turns while the markers slide); its
  // bones drawn; the legend says what the view shows.
  for (const t of [0, expectedIndex / table.fps]) {
    const seen = await page.evaluate(([time, fingers]) => {
      window.viewer.setTime(time);
      const skeletons = window.viewer.skeletons();
      const tips = fingers.map((_, j) => window.viewer.positionOf(`tip${j}`));
      return {skeletons, tips, palm: window.viewer.positionOf('palm')};
    }, [t, FINGERS]);
    if (!check(seen.skeletons.length === 1 && seen.skeletons[0].joints.length === 21,
               `${label}: expected one skeleton of 21 joints, got ${JSON.stringify(seen.skeletons.map((k) => k.joints.length))}`))
      break;
    const joints = new Map(seen.skeletons[0].joints.map((j) => [j.name, j.position]));
    const far = (a, b) => Math.hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
    check(far(joints.get('hand_palm'), seen.palm) < 1e-5, `${label}: the palm joint is off the palm at ${t} s`);
    FINGERS.forEach((finger, j) => {
      const off = far(joints.get(`hand_${finger}_tip`), seen.tips[j]);
      check(off < 1e-5, `${label}: the ${finger} tip joint is ${off} from tip${j} at ${t} s`);
    });
  }
  const bones = countNear(await canvasImage(page, '#scene'), BONE_RGB, 30);
  note(`${label}: ${bones} skeleton pixels`);
  check(bones > 40, `${label}: the skeleton's bones are not drawn (${bones} pixels)`);
  const legend = await page.evaluate(() => window.viewer.legend);
  note(`${label}: legend ${JSON.stringify(legend)}`);
  check(legend.includes('hand: skeleton of 21 joints (dots: joints, lines: bones)') &&
            legend.includes('lengths in metres') && legend.some((l) => l.startsWith('grid: 1 cell = ')),
        `${label}: the legend does not say what the view shows: ${JSON.stringify(legend)}`);
  check(await page.isVisible('#legend'), `${label}: the legend is not shown`);

  if (screenshot) {
    await page.evaluate(() => window.viewer.setTime(window.viewer.duration * 0.5));
    await page.screenshot({path: screenshot});
    note(`${label}: page pictured in ${screenshot}`);
  }

  check(errors.length === 0, `${label}: errors in the page:\n  ${errors.join('\n  ')}`);
  check(foreign.length === 0, `${label}: fetched from elsewhere:\n  ${foreign.join('\n  ')}`);
  if (warnings.length) note(`${label}: ${warnings.length} console warnings, e.g. ${warnings[0]}`);
  note(`${label}: checked in ${seconds(t0)} s`);
  return page;
}

async function main() {
  const opts = options(process.argv.slice(2));
  const t0 = Date.now();
  const require = createRequire(join(viewerDir, 'package.json'));
  const work = mkdtempSync(join(tmpdir(), 'kivo-viewer-'));
  note(`work folder ${work}`);
  let browser, server;
  try {
    if (!bake(opts.rova, work, sceneScript('take.glb', 'take.json'), 'bake-glb.rova')) return;
    if (!bake(opts.rova, work, sceneScript('take.gltf', ''), 'bake-gltf.rova')) return;

    // make-viewer installs viewer/node_modules (npm ci) when needed, so it runs before the
    // validator and the browser driver are loaded from there.
    const filePage = join(work, 'page-glb'), servedPage = join(work, 'page-gltf');
    if (!makeViewer(join(work, 'take.glb'), join(work, 'take.json'), filePage)) return;
    if (!makeViewer(join(work, 'take.gltf'), join(work, 'take.json'), servedPage)) return;

    const validator = require('gltf-validator');
    await validate(validator, work, 'take.glb');
    await validate(validator, work, 'take.gltf');

    const table = JSON.parse(readFileSync(join(work, 'take.json'), 'utf8'));
    const {chromium} = require('playwright-core');
    if (!check(existsSync(opts.chromium), `no Chromium at ${opts.chromium} (Debian: apt-get install chromium)`)) return;
    const launched = Date.now();
    // No sandbox (containers usually forbid it); WebGL on the SwiftShader software renderer.
    browser = await chromium.launch({
      executablePath: opts.chromium,
      args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
    });
    note(`chromium ${browser.version()} started in ${seconds(launched)} s`);

    const page = await checkPage(browser, 'file://', pathToFileURL(join(filePage, 'index.html')).href,
                                 table, opts.screenshot);
    await page.close();

    server = await serve(servedPage);
    const url = `http://127.0.0.1:${server.address().port}/index.html`;
    await (await checkPage(browser, 'http', url, table, '')).close();
  } finally {
    if (browser) await browser.close();
    if (server) server.close();
    note(`viewer test: ${failures.length} failed checks in ${seconds(t0)} s`);
    if (failures.length === 0 && !opts.keep) rmSync(work, {recursive: true, force: true});
    else note(`work folder kept: ${work}`);
  }
}

main().then(() => process.exit(failures.length ? 1 : 0), (error) => {
  console.log(`FAIL: ${error && error.stack ? error.stack : error}`);
  process.exit(1);
});
