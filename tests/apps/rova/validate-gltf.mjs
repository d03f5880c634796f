// Checks glTF files (.glb, or .gltf with the files its URIs name) with the Khronos validator from
// viewer/node_modules (scripts/viewer-modules installs it). Prints every error and warning; exits 1
// when a file has an error, 2 when the validator cannot be loaded.
// Usage: node validate-gltf.mjs FILE...
import {readFileSync} from 'node:fs';
import {createRequire} from 'node:module';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..', '..');
let validator;
try {
  validator = createRequire(join(root, 'viewer', 'package.json'))('gltf-validator');
} catch (error) {
  console.error(`validate-gltf: cannot load gltf-validator from ${join(root, 'viewer', 'node_modules')} ` +
                `(run scripts/viewer-modules): ${error.message}`);
  process.exit(2);
}

let failed = false;
for (const file of process.argv.slice(2)) {
  const base = pathToFileURL(resolve(file));
  // URIs resolve against the document as any reader resolves them: '#' starts a fragment, and
  // percent-escapes are decoded.
  const report = await validator.validateBytes(new Uint8Array(readFileSync(file)), {
    uri: file,
    maxIssues: 0,
    writeTimestamp: false,
    externalResourceFunction: async (uri) =>
      new Uint8Array(readFileSync(fileURLToPath(new URL(uri, base)))),
  });
  const issues = report.issues;
  console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings`);
  for (const m of issues.messages)
    if (m.severity <= 1)
      console.log(`  ${m.severity === 0 ? 'error' : 'warning'} ${m.code} at ${m.pointer || '-'}: ${m.message}`);
  failed ||= issues.numErrors > 0;
}
process.exit(failed ? 1 : 0);
