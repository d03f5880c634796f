// Writes the page for one bake: OUTDIR/index.html and OUTDIR/bake-data.js (the glTF as base64 and
// the table, as a script, because pages opened from the file system may not fetch local files).
// OUTDIR/viewer.js, the bundled page code, is written by esbuild (scripts/make-viewer).
//
// usage: node generate.mjs GLTF TABLE_JSON OUTDIR
//   GLTF is a .glb, or a .gltf whose buffers are files beside it or data URIs (packed into a .glb).
import {readFileSync, writeFileSync, mkdirSync} from 'node:fs';
import {basename, dirname, extname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));

function die(message) {
  process.stderr.write(`make-viewer: ${message}\n`);
  process.exit(2);
}

const GLB_MAGIC = 0x46546c67, CHUNK_JSON = 0x4e4f534a, CHUNK_BIN = 0x004e4942;

// A .gltf and its buffers as one .glb: the buffers joined into the binary chunk, each bufferView
// moved by its buffer's offset there.
function packGltf(path) {
  let json;
  try {
    json = JSON.parse(readFileSync(path, 'utf8'));
  } catch (error) {
    die(`${path}: not a glTF JSON file (${error.message})`);
  }
  const parts = [];
  const offsets = [];
  let length = 0;
  for (const buffer of json.buffers || []) {
    let bytes;
    const uri = buffer.uri;
    if (uri === undefined) die(`${path}: a buffer without a uri`);
    if (uri.startsWith('data:')) {
      const comma = uri.indexOf(',');
      if (comma < 0 || !uri.slice(0, comma).endsWith(';base64')) die(`${path}: a data URI that is not base64`);
      bytes = Buffer.from(uri.slice(comma + 1), 'base64');
    } else {
      bytes = readFileSync(join(dirname(path), decodeURIComponent(uri)));
    }
    if (bytes.length < buffer.byteLength) die(`${path}: buffer ${uri} is shorter than its byteLength`);
    offsets.push(length);
    parts.push(bytes.subarray(0, buffer.byteLength));
    length += buffer.byteLength;
    const pad = (8 - (length % 8)) % 8;  // keeps every joined buffer's views aligned
    if (pad) {
      parts.push(Buffer.alloc(pad));
      length += pad;
    }
  }
  if (parts.length > 0) {
    for (const view of json.bufferViews || []) {
      view.byteOffset = (view.byteOffset || 0) + offsets[view.buffer];
      view.buffer = 0;
    }
    json.buffers = [{byteLength: length}];
  }
  return makeGlb(json, Buffer.concat(parts));
}

function makeGlb(json, bin) {
  let jsonBytes = Buffer.from(JSON.stringify(json), 'utf8');
  jsonBytes = Buffer.concat([jsonBytes, Buffer.alloc((4 - (jsonBytes.length % 4)) % 4, 0x20)]);
  const binBytes = Buffer.concat([bin, Buffer.alloc((4 - (bin.length % 4)) % 4)]);
  const chunks = [chunk(CHUNK_JSON, jsonBytes)];
  if (binBytes.length > 0) chunks.push(chunk(CHUNK_BIN, binBytes));
  const body = Buffer.concat(chunks);
  const header = Buffer.alloc(12);
  header.writeUInt32LE(GLB_MAGIC, 0);
  header.writeUInt32LE(2, 4);
  header.writeUInt32LE(12 + body.length, 8);
  return Buffer.concat([header, body]);
}

function chunk(type, bytes) {
  const head = Buffer.alloc(8);
  head.writeUInt32LE(bytes.length, 0);
  head.writeUInt32LE(type, 4);
  return Buffer.concat([head, bytes]);
}

function readGlb(path) {
  let bytes;
  try {
    bytes = readFileSync(path);
  } catch (error) {
    die(`cannot read ${path}: ${error.message}`);
  }
  if (extname(path).toLowerCase() === '.gltf') return packGltf(path);
  if (bytes.length < 12 || bytes.readUInt32LE(0) !== GLB_MAGIC)
    die(`${path}: not a binary glTF (.glb); give a .glb or a .gltf`);
  return bytes;
}

function readTable(path) {
  let table;
  try {
    table = JSON.parse(readFileSync(path, 'utf8'));
  } catch (error) {
    die(`${path}: not a JSON table (${error.message}); bake with -table NAME.json`);
  }
  if (!table || typeof table !== 'object' || typeof table.columns !== 'object')
    die(`${path}: not a bake table (no "columns")`);
  return {fps: table.fps, frames: table.frames, seconds: table.seconds, columns: table.columns};
}

function escapeHtml(text) {
  return text.replace(/[&<>"']/g, (c) => ({'&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;'})[c]);
}

function main(argv) {
  if (argv.length !== 3) die('usage: generate.mjs GLTF TABLE_JSON OUTDIR');
  const [gltfPath, tablePath, outDir] = argv.map((p) => resolve(p));
  const glb = readGlb(gltfPath);
  const table = readTable(tablePath);
  const name = basename(gltfPath, extname(gltfPath));
  mkdirSync(outDir, {recursive: true});
  const data = {name, glb: glb.toString('base64'), table};
  writeFileSync(join(outDir, 'bake-data.js'),
                `// ${name}: written by scripts/make-viewer\nwindow.BAKE = ${JSON.stringify(data)};\n`);
  const template = readFileSync(join(here, '..', 'src', 'index.html'), 'utf8');
  writeFileSync(join(outDir, 'index.html'), template.replaceAll('{{TITLE}}', escapeHtml(name)));
}

main(process.argv.slice(2));
