// The bake the page shows, as the generator wrote it into bake-data.js:
// window.BAKE = {name, glb: "<base64 of a .glb>", table: {fps, frames, seconds, columns}}.

export function readBake(source) {
  if (!source || typeof source !== 'object')
    throw new Error('no bake data: bake-data.js did not set window.BAKE');
  if (typeof source.glb !== 'string' || source.glb.length === 0)
    throw new Error('the bake data holds no glTF (window.BAKE.glb)');
  const table = source.table || {};
  return {
    name: String(source.name || 'bake'),
    glb: base64ToArrayBuffer(source.glb),
    table: {
      fps: Number(table.fps) > 0 ? Number(table.fps) : 0,
      frames: Array.isArray(table.frames) ? table.frames : [],
      seconds: Array.isArray(table.seconds) ? table.seconds : [],
      columns: numericColumns(table.columns || {}),
    },
  };
}

export function base64ToArrayBuffer(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes.buffer;
}

// Only columns of numbers can be plotted (a string plug gives a column of text).
function numericColumns(columns) {
  const out = {};
  for (const [name, values] of Object.entries(columns)) {
    if (Array.isArray(values) && values.length > 0 && values.every((v) => typeof v === 'number'))
      out[name] = values;
  }
  return out;
}
