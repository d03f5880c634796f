// Reads the PNG screenshots the browser writes (8-bit RGB or RGBA, not interlaced) into pixels,
// and the few picture measures the viewer test asserts on.
import {inflateSync} from 'node:zlib';

export function decodePng(buffer) {
  const signature = [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a];
  if (signature.some((b, i) => buffer[i] !== b)) throw new Error('not a PNG');
  let offset = 8, width = 0, height = 0, channels = 0;
  const idat = [];
  while (offset < buffer.length) {
    const length = buffer.readUInt32BE(offset);
    const type = buffer.toString('latin1', offset + 4, offset + 8);
    const data = buffer.subarray(offset + 8, offset + 8 + length);
    offset += 12 + length;
    if (type === 'IHDR') {
      width = data.readUInt32BE(0);
      height = data.readUInt32BE(4);
      const depth = data[8], colorType = data[9], interlace = data[12];
      if (depth !== 8 || interlace !== 0 || (colorType !== 2 && colorType !== 6))
        throw new Error(`unsupported PNG (depth ${depth}, colour type ${colorType}, interlace ${interlace})`);
      channels = colorType === 6 ? 4 : 3;
    } else if (type === 'IDAT') {
      idat.push(data);
    } else if (type === 'IEND') {
      break;
    }
  }
  const raw = inflateSync(Buffer.concat(idat));
  const stride = width * channels;
  const out = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    const row = y * stride;
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? out[row + x - channels] : 0;
      const b = y > 0 ? out[row - stride + x] : 0;
      const c = x >= channels && y > 0 ? out[row - stride + x - channels] : 0;
      let value = line[x];
      switch (filter) {
        case 0: break;
        case 1: value += a; break;
        case 2: value += b; break;
        case 3: value += (a + b) >> 1; break;
        case 4: {
          const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
          value += pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
        default: throw new Error(`bad PNG filter ${filter}`);
      }
      out[row + x] = value & 0xff;
    }
  }
  return {width, height, channels, data: out};
}

function pixel(image, i) {
  const o = i * image.channels;
  return [image.data[o], image.data[o + 1], image.data[o + 2]];
}

// How many distinct colours (to 5 bits a channel), the spread of the luminance, and the share of
// pixels that are not the most common colour (the background).
export function pictureStats(image) {
  const counts = new Map();
  const n = image.width * image.height;
  let sum = 0, sum2 = 0;
  for (let i = 0; i < n; ++i) {
    const [r, g, b] = pixel(image, i);
    const key = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    counts.set(key, (counts.get(key) || 0) + 1);
    const l = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    sum += l;
    sum2 += l * l;
  }
  const mean = sum / n;
  const mostCommon = Math.max(...counts.values());
  return {
    pixels: n,
    distinctColors: counts.size,
    luminanceStdDev: Math.sqrt(Math.max(0, sum2 / n - mean * mean)),
    notBackground: (n - mostCommon) / n,
  };
}

// The share of pixels whose colour differs by more than `threshold` in some channel.
export function differingShare(a, b, threshold = 24) {
  if (a.width !== b.width || a.height !== b.height) return 1;
  const n = a.width * a.height;
  let differing = 0;
  for (let i = 0; i < n; ++i) {
    const p = pixel(a, i), q = pixel(b, i);
    if (Math.abs(p[0] - q[0]) > threshold || Math.abs(p[1] - q[1]) > threshold ||
        Math.abs(p[2] - q[2]) > threshold)
      ++differing;
  }
  return differing / n;
}

// How many pixels lie within `tolerance` of an RGB colour.
export function countNear(image, [r, g, b], tolerance = 40) {
  const n = image.width * image.height;
  let count = 0;
  for (let i = 0; i < n; ++i) {
    const p = pixel(image, i);
    if (Math.abs(p[0] - r) + Math.abs(p[1] - g) + Math.abs(p[2] - b) <= tolerance) ++count;
  }
  return count;
}
