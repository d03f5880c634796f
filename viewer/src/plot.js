// A 2D plot of one sampled column against the bake's time, with a cursor at the current time.

const COLORS = {
  background: '#15181d',
  frame: '#3a404a',
  grid: '#262b33',
  text: '#a9b1bd',
  curve: '#5fb3f9',
  cursor: '#ffb454',
};

export class Plot {
  constructor(canvas) {
    this.canvas = canvas;
    this.context = canvas.getContext('2d');
    this.times = [];
    this.values = [];
    this.label = '';
    this.time = 0;
  }

  // times and values have one entry per baked frame.
  setSeries(label, times, values) {
    this.label = label;
    this.times = times;
    this.values = values;
    this.draw();
  }

  setTime(time) {
    this.time = time;
    this.draw();
  }

  // The sample the cursor marks (-1 with no samples).
  cursorIndex() {
    const [t0, t1] = this.timeRange();
    return nearestIndex(this.times, Math.min(t1, Math.max(t0, this.time)));
  }

  // The time under a horizontal position in CSS pixels, for seeking by clicking the plot.
  timeAt(x) {
    const area = this.area();
    const [t0, t1] = this.timeRange();
    const f = Math.min(1, Math.max(0, (x - area.left) / Math.max(1, area.width)));
    return t0 + f * (t1 - t0);
  }

  area() {
    const width = this.canvas.clientWidth, height = this.canvas.clientHeight;
    const left = 64, right = 14, top = 22, bottom = 24;
    return {left, top, width: Math.max(1, width - left - right), height: Math.max(1, height - top - bottom)};
  }

  timeRange() {
    const n = this.times.length;
    if (n === 0) return [0, 1];
    const t0 = this.times[0], t1 = this.times[n - 1];
    return t1 > t0 ? [t0, t1] : [t0, t0 + 1];
  }

  valueRange() {
    let lo = Infinity, hi = -Infinity;
    for (const v of this.values) {
      if (Number.isFinite(v)) {
        lo = Math.min(lo, v);
        hi = Math.max(hi, v);
      }
    }
    if (!Number.isFinite(lo)) return [0, 1];
    if (hi - lo < 1e-9) {
      const pad = Math.max(Math.abs(lo) * 0.1, 0.5);
      return [lo - pad, hi + pad];
    }
    const pad = (hi - lo) * 0.08;
    return [lo - pad, hi + pad];
  }

  draw() {
    const canvas = this.canvas, ctx = this.context;
    const ratio = window.devicePixelRatio || 1;
    const width = canvas.clientWidth, height = canvas.clientHeight;
    if (width === 0 || height === 0) return;
    if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
      canvas.width = Math.round(width * ratio);
      canvas.height = Math.round(height * ratio);
    }
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    ctx.fillStyle = COLORS.background;
    ctx.fillRect(0, 0, width, height);

    const area = this.area();
    const [t0, t1] = this.timeRange();
    const [v0, v1] = this.valueRange();
    const x = (t) => area.left + ((t - t0) / (t1 - t0)) * area.width;
    const y = (v) => area.top + (1 - (v - v0) / (v1 - v0)) * area.height;

    ctx.font = '11px system-ui, sans-serif';
    ctx.textBaseline = 'middle';
    ctx.lineWidth = 1;
    // Horizontal grid lines with their values.
    for (let k = 0; k <= 4; ++k) {
      const v = v0 + ((v1 - v0) * k) / 4;
      const yy = Math.round(y(v)) + 0.5;
      ctx.strokeStyle = COLORS.grid;
      ctx.beginPath();
      ctx.moveTo(area.left, yy);
      ctx.lineTo(area.left + area.width, yy);
      ctx.stroke();
      ctx.fillStyle = COLORS.text;
      ctx.textAlign = 'right';
      ctx.fillText(formatNumber(v), area.left - 6, yy);
    }
    ctx.strokeStyle = COLORS.frame;
    ctx.strokeRect(area.left + 0.5, area.top + 0.5, area.width, area.height);
    ctx.textAlign = 'left';
    ctx.fillStyle = COLORS.text;
    ctx.fillText(this.label ? this.label : 'no column', area.left, area.top - 11);
    ctx.textAlign = 'center';
    ctx.fillText(`${formatNumber(t0)} s`, area.left, area.top + area.height + 12);
    ctx.fillText(`${formatNumber(t1)} s`, area.left + area.width, area.top + area.height + 12);

    // The curve.
    if (this.values.length > 0) {
      ctx.strokeStyle = COLORS.curve;
      ctx.lineWidth = 1.5;
      ctx.beginPath();
      let started = false;
      for (let i = 0; i < this.values.length; ++i) {
        const v = this.values[i];
        if (!Number.isFinite(v)) {
          started = false;
          continue;
        }
        const px = x(this.times[i]), py = y(v);
        if (started) ctx.lineTo(px, py);
        else ctx.moveTo(px, py);
        started = true;
      }
      ctx.stroke();
    }

    // The cursor, with the value at the nearest sample.
    const tc = Math.min(t1, Math.max(t0, this.time));
    const cx = Math.round(x(tc)) + 0.5;
    ctx.strokeStyle = COLORS.cursor;
    ctx.lineWidth = 1;
    ctx.beginPath();
    ctx.moveTo(cx, area.top);
    ctx.lineTo(cx, area.top + area.height);
    ctx.stroke();
    const index = nearestIndex(this.times, tc);
    if (index >= 0 && Number.isFinite(this.values[index])) {
      const v = this.values[index];
      ctx.fillStyle = COLORS.cursor;
      ctx.beginPath();
      ctx.arc(x(this.times[index]), y(v), 3.5, 0, Math.PI * 2);
      ctx.fill();
      ctx.textAlign = cx > area.left + area.width * 0.7 ? 'right' : 'left';
      ctx.fillText(formatNumber(v), cx + (ctx.textAlign === 'right' ? -6 : 6), area.top + 10);
    }
  }
}

export function nearestIndex(times, t) {
  if (times.length === 0) return -1;
  let lo = 0, hi = times.length - 1;
  while (hi - lo > 1) {
    const mid = (lo + hi) >> 1;
    if (times[mid] <= t) lo = mid;
    else hi = mid;
  }
  return Math.abs(times[hi] - t) < Math.abs(times[lo] - t) ? hi : lo;
}

export function formatNumber(v) {
  if (!Number.isFinite(v)) return String(v);
  const a = Math.abs(v);
  if (a !== 0 && (a >= 1e5 || a < 1e-3)) return v.toExponential(2);
  return String(Number(v.toFixed(a >= 100 ? 1 : 3)));
}
