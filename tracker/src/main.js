// The tracker page: finds hands in a camera (or a video file) with MediaPipe Hands on the CPU and
// streams one frame message per tracked frame to the host over a WebSocket. Host messages come back
// on the same connection: welcome, status (frames per second, latency), refusals, and the scene's
// poses for the pose view.
//
// URL parameters: video=URL (a video file instead of the camera), mirror=0|1 (default: on for a
// camera, off for a video), model=lite|full (default full), ws=URL (where to stream; default
// ws://<this host>/stream), offline=1 (no streaming and, without video=, no camera: a tool steps
// through frames with kivoTracker.track; a video's frames are kept in kivoTracker.frames).
//
// window.kivoTracker is what tools and tests reach: ready (a promise), track(image, timeMs) for
// stepping through a video frame by frame, frames (what an offline video collected), onFrame
// (called with the grabbed canvas and the message of each frame), trackMs (tracking times).
import {BONES, frameMessage} from './message.js';
import {createPoseView} from './poses.js';

const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);

const MODELS = {lite: 0, full: 1};
const RETRY_MS = 2000;
const MAX_BUFFERED = 1 << 20;  // bytes waiting on the socket before frames are dropped, not queued
const KEEP = 1000;  // tracking times and offline frames kept

const videoUrl = params.get('video');
const offline = params.get('offline') === '1';
const modelName = params.get('model') || 'full';
const mirrorParam = params.get('mirror');
// The longest side, in pixels, of the image handed to the tracker (0: as captured). Without a GPU
// the tracker's image conversion costs time in proportion to the pixels, while its models look
// at 192-224 px crops: a smaller image tracks faster at little loss for a hand that fills a
// good part of the picture.
const trackSize = Math.max(0, Math.round(Number(params.get('size')) || 0));

const tracker = {
  ready: null,
  error: null,
  model: modelName,
  mirrored: mirrorParam === null ? !videoUrl : mirrorParam === '1',
  offline,
  frames: [],
  trackMs: [],
  onFrame: null,
  track: trackStill,
  state: () => ({...state}),
};
window.kivoTracker = tracker;

const state = {
  connection: '',
  hands: 0,
  fps: 0,
  latencyMs: null,
  hostFps: null,
  refused: 0,
  refusedReason: '',
  maxMessageBytes: 0,
  sent: 0,
  dropped: 0,
};

const view = $('view');
const viewContext = view.getContext('2d');
const grab = document.createElement('canvas');
const grabContext = grab.getContext('2d', {willReadFrequently: true});
const video = $('video');
// Its stop button ends the host's live play (`play -live`), as Ctrl-C at the host would.
const poseView = createPoseView($('poses'), {
  onStop: () => socket && socket.readyState === WebSocket.OPEN && socket.send('{"type":"stop"}'),
});

function showMessage(text) {
  const box = $('message');
  box.textContent = text || '';
  box.hidden = !text;
}

function fail(text) {
  tracker.error = text;
  showMessage(text);
  console.error(`tracker: ${text}`);
}

// ---- MediaPipe ------------------------------------------------------------------------------

let hands = null;
let results = null;

async function loadModel() {
  if (!(modelName in MODELS)) throw new Error(`unknown model "${modelName}" (lite or full)`);
  if (typeof window.Hands !== 'function') throw new Error('mediapipe/hands.js did not load');
  // The assets lie beside the page; nothing is fetched from elsewhere.
  hands = new window.Hands({locateFile: (file) => `mediapipe/${file}`});
  hands.setOptions({
    maxNumHands: 2,
    modelComplexity: MODELS[modelName],
    minDetectionConfidence: 0.5,
    minTrackingConfidence: 0.5,
    selfieMode: false,
    // The CPU path (XNNPACK) is fast where WebGL would fall back to software rendering.
    useCpuInference: true,
  });
  hands.onResults((r) => {
    results = r;
  });
  await hands.initialize();
  $('model').textContent = `${modelName} model`;
}

// Tracks one grabbed image: the message for it, drawn on the view and handed on.
async function trackGrabbed(time, width, height) {
  const start = performance.now();
  results = null;
  await hands.send({image: grab});
  const ms = performance.now() - start;
  tracker.trackMs.push(ms);
  if (tracker.trackMs.length > KEEP) tracker.trackMs.splice(0, tracker.trackMs.length - KEEP);
  const message = frameMessage(results || {}, time, width, height, tracker.mirrored);
  draw(message);
  updateStats(message, ms);
  if (tracker.onFrame) tracker.onFrame(grab, message);
  return message;
}

function grabFrom(source, width, height) {
  const scale = trackSize > 0 ? Math.min(1, trackSize / Math.max(width, height)) : 1;
  const w = Math.max(1, Math.round(width * scale)), h = Math.max(1, Math.round(height * scale));
  if (grab.width !== w || grab.height !== h) {
    grab.width = w;
    grab.height = h;
  }
  grabContext.drawImage(source, 0, 0, w, h);
}

// ---- drawing ---------------------------------------------------------------------------------

const HAND_COLORS = {Left: '#5fb3f9', Right: '#ffb454'};

function draw(message) {
  const {width, height, mirrored} = message;
  if (view.width !== width || view.height !== height) {
    view.width = width;
    view.height = height;
  }
  viewContext.save();
  if (mirrored) {
    viewContext.translate(width, 0);
    viewContext.scale(-1, 1);
  }
  viewContext.drawImage(grab, 0, 0, width, height);
  viewContext.restore();
  // The message is the image as shown, so its landmarks are drawn as they are.
  const line = Math.max(2, width / 320);
  for (const hand of message.hands) {
    const colour = HAND_COLORS[hand.handedness];
    const at = hand.image.map(([x, y]) => [x * width, y * height]);
    viewContext.strokeStyle = colour;
    viewContext.lineWidth = line;
    viewContext.beginPath();
    for (const [a, b] of BONES) {
      viewContext.moveTo(at[a][0], at[a][1]);
      viewContext.lineTo(at[b][0], at[b][1]);
    }
    viewContext.stroke();
    viewContext.fillStyle = '#ffffff';
    for (const [x, y] of at) {
      viewContext.beginPath();
      viewContext.arc(x, y, line * 1.6, 0, 2 * Math.PI);
      viewContext.fill();
    }
    viewContext.fillStyle = colour;
    viewContext.font = `${Math.round(line * 8)}px sans-serif`;
    viewContext.fillText(`${hand.handedness} ${hand.score.toFixed(2)}`, at[0][0] + line * 4, at[0][1] + line * 8);
  }
}

// ---- numbers on the page ---------------------------------------------------------------------

const recent = [];  // performance.now() of the frames tracked in the last second

function updateStats(message, ms) {
  const now = performance.now();
  recent.push(now);
  while (recent.length && recent[0] < now - 1000) recent.shift();
  state.fps = recent.length > 1 ? ((recent.length - 1) * 1000) / (now - recent[0]) : 0;
  state.hands = message.hands.length;
  $('hands').textContent = String(state.hands);
  $('fps').textContent = state.fps.toFixed(1);
  $('track-ms').textContent = ms.toFixed(0);
}

function setConnection(text, kind) {
  state.connection = text;
  const element = $('connection');
  element.textContent = text;
  element.className = kind || 'muted';
}

function showRefused() {
  $('refused').textContent = String(state.refused);
  $('refused').className = state.refused ? 'bad' : '';
  $('refused-reason').textContent = state.refusedReason ? `(last: ${state.refusedReason})` : '';
}

// ---- the host connection ---------------------------------------------------------------------

let socket = null;

function streamUrl() {
  if (params.get('ws')) return params.get('ws');
  if (location.protocol !== 'http:' && location.protocol !== 'https:') return '';
  return `${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/stream`;
}

function connect() {
  const url = streamUrl();
  if (!url) {
    setConnection('no host: open the page from rova (device -listen) or give ?ws=URL', 'bad');
    return;
  }
  let closing = '';
  try {
    socket = new WebSocket(url);
  } catch (error) {
    setConnection(`cannot connect to ${url}: ${error.message}`, 'bad');
    return;
  }
  setConnection(`connecting to ${url}…`);
  socket.onopen = () => {
    setConnection('connected', 'good');
    socket.send(JSON.stringify({type: 'hello', client: 'kivo-tracker', version: 1}));
  };
  socket.onmessage = (event) => {
    const reason = hostMessage(event.data);
    if (reason) closing = reason;
  };
  socket.onclose = (event) => {
    socket = null;
    state.latencyMs = null;
    $('latency').textContent = '–';
    const why = closing || event.reason;
    setConnection(`closed${why ? `: ${why}` : ''}; retrying`, 'bad');
    setTimeout(connect, RETRY_MS);
  };
}

// Returns the reason the host gave when it refused the whole connection.
function hostMessage(text) {
  let msg;
  try {
    msg = JSON.parse(text);
  } catch {
    console.warn('tracker: the host sent something that is not JSON');
    return '';
  }
  switch (msg.type) {
    case 'welcome':
      state.maxMessageBytes = Number(msg.maxMessageBytes) || 0;
      break;
    case 'refused':
      state.refused = Number.isFinite(msg.refused) ? msg.refused : state.refused + 1;
      state.refusedReason = String(msg.reason || '');
      showRefused();
      return state.refusedReason;
    case 'status':
      if (Number.isFinite(msg.latencyMs)) {
        state.latencyMs = msg.latencyMs;
        $('latency').textContent = `${msg.latencyMs.toFixed(1)} ms`;
      }
      if (Number.isFinite(msg.fps)) state.hostFps = msg.fps;
      if (Number.isFinite(msg.refused) && msg.refused !== state.refused) {
        state.refused = msg.refused;
        showRefused();
      }
      break;
    case 'scene':
    case 'poses':
      poseView.handleMessage(msg);
      break;
    default:
      break;
  }
  return '';
}

function publish(message) {
  if (offline) {
    tracker.frames.push(message);
    if (tracker.frames.length > 100 * KEEP) tracker.frames.shift();
    return;
  }
  if (!socket || socket.readyState !== WebSocket.OPEN) return;
  const text = JSON.stringify(message);
  // A slow host gets fewer frames rather than older ones.
  if (socket.bufferedAmount > MAX_BUFFERED || (state.maxMessageBytes && text.length > state.maxMessageBytes)) {
    ++state.dropped;
    return;
  }
  socket.send(text);
  ++state.sent;
}

// ---- sources ---------------------------------------------------------------------------------

let lastTime = 0;

// Capture time on the wall clock, strictly increasing.
function captureTime() {
  const time = performance.timeOrigin + performance.now();
  lastTime = time > lastTime ? time : lastTime + 0.001;
  return lastTime;
}

let cameraGeneration = 0;

async function listCameras(currentId) {
  const select = $('camera-select');
  const devices = (await navigator.mediaDevices.enumerateDevices()).filter((d) => d.kind === 'videoinput');
  select.replaceChildren(...devices.map((d, i) => {
    const option = document.createElement('option');
    option.value = d.deviceId;
    option.textContent = d.label || `camera ${i + 1}`;
    option.selected = d.deviceId === currentId;
    return option;
  }));
  select.disabled = devices.length < 2;
}

async function startCamera(deviceId) {
  const generation = ++cameraGeneration;
  if (video.srcObject) for (const track of video.srcObject.getTracks()) track.stop();
  let stream;
  try {
    stream = await navigator.mediaDevices.getUserMedia({
      video: deviceId ? {deviceId: {exact: deviceId}} : true,
      audio: false,
    });
  } catch (error) {
    fail(`no camera: ${error.message || error.name}`);
    return;
  }
  showMessage('');
  const [track] = stream.getVideoTracks();
  video.srcObject = stream;
  await listCameras(track.getSettings().deviceId);
  if (typeof window.MediaStreamTrackProcessor === 'function') {
    // Frames straight from the track, also while the page is in the background; frames that
    // arrive while one is tracked are dropped, as a camera that runs ahead would.
    const reader = new window.MediaStreamTrackProcessor({track, maxBufferSize: 1}).readable.getReader();
    while (generation === cameraGeneration) {
      const {value: frame, done} = await reader.read();
      if (done) break;
      try {
        const time = captureTime();
        const {displayWidth: width, displayHeight: height} = frame;
        grabFrom(frame, width, height);
        frame.close();
        publish(await trackGrabbed(time, width, height));
      } catch (error) {
        frame.close();
        fail(`tracking failed: ${error.message}`);
        return;
      }
    }
    reader.cancel().catch(() => {});
  } else {
    await video.play();
    await playLoop(() => generation === cameraGeneration);
  }
}

function nextVideoFrame() {
  return new Promise((resolve) => video.requestVideoFrameCallback(() => resolve()));
}

async function playLoop(running) {
  while (running()) {
    await nextVideoFrame();
    if (!video.videoWidth || !video.videoHeight) continue;
    const time = captureTime();
    grabFrom(video, video.videoWidth, video.videoHeight);
    publish(await trackGrabbed(time, video.videoWidth, video.videoHeight));
  }
}

async function startVideo(url) {
  const select = $('camera-select');
  const option = document.createElement('option');
  option.textContent = `video ${url.split('/').pop()}`;
  select.replaceChildren(option);
  video.src = url;
  video.loop = true;
  video.muted = true;
  try {
    await video.play();
  } catch (error) {
    fail(`cannot play ${url}: ${error.message}`);
    return;
  }
  showMessage('');
  await playLoop(() => true);
}

// One still image at a given time (a video stepped frame by frame): the image as an element,
// canvas, bitmap or URL; times in ms must increase strictly.
let lastStillTime = -Infinity;

async function trackStill(image, timeMs) {
  await tracker.ready;
  if (tracker.error) throw new Error(tracker.error);
  if (!(timeMs > lastStillTime)) throw new Error(`frame time ${timeMs} ms does not follow ${lastStillTime} ms`);
  let source = image;
  if (typeof image === 'string') {
    source = new Image();
    source.src = image;
    await source.decode();
  }
  const width = source.naturalWidth || source.videoWidth || source.width;
  const height = source.naturalHeight || source.videoHeight || source.height;
  lastStillTime = timeMs;
  grabFrom(source, width, height);
  return trackGrabbed(timeMs, width, height);
}

// ---- start -----------------------------------------------------------------------------------

const mirror = $('mirror');
mirror.checked = tracker.mirrored;
mirror.addEventListener('change', () => {
  tracker.mirrored = mirror.checked;
});
$('camera-select').addEventListener('change', (event) => startCamera(event.target.value));

tracker.ready = loadModel().catch((error) => fail(`the hand tracker did not start: ${error.message}`));

if (offline) setConnection('offline (not streaming)');
else connect();

tracker.ready.then(() => {
  if (tracker.error) return;
  if (offline && !videoUrl) {
    showMessage('');  // stepped by a tool through kivoTracker.track
    return;
  }
  showMessage('waiting for the camera…');
  if (videoUrl) startVideo(videoUrl);
  else startCamera('');
});
