// Builds the tracker page into OUTDIR: index.html, tracker.js (the page code, bundled) and
// mediapipe/ (the hand tracker's script, WebAssembly and models, copied from the npm package so
// that nothing is fetched from elsewhere).
//
// usage: node build.mjs OUTDIR   (after npm ci in tracker/)
import {build} from 'esbuild';
import {copyFileSync, mkdirSync, readdirSync} from 'node:fs';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const tracker = resolve(here, '..');
if (process.argv.length !== 3) {
  process.stderr.write('usage: node build.mjs OUTDIR\n');
  process.exit(2);
}
const out = resolve(process.argv[2]);
const assets = join(tracker, 'node_modules', '@mediapipe', 'hands');

mkdirSync(join(out, 'mediapipe'), {recursive: true});
await build({
  entryPoints: [join(tracker, 'src', 'main.js')],
  bundle: true,
  format: 'iife',
  target: 'es2020',
  minify: true,
  logLevel: 'warning',
  outfile: join(out, 'tracker.js'),
});
copyFileSync(join(tracker, 'src', 'index.html'), join(out, 'index.html'));
for (const file of readdirSync(assets)) {
  if (/\.(js|wasm|data|binarypb|tflite)$/.test(file)) copyFileSync(join(assets, file), join(out, 'mediapipe', file));
}
