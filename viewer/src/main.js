// The bake viewer: the baked glTF in an orbitable 3D view with its animation on a timeline, and
// the sampled table's columns plotted one at a time. Everything comes from window.BAKE (set by
// bake-data.js), so the page works from the file system and from any static server alike.
import * as THREE from 'three';
import {GLTFLoader} from 'three/examples/jsm/loaders/GLTFLoader.js';
import {OrbitControls} from 'three/examples/jsm/controls/OrbitControls.js';
import {readBake} from './data.js';
import {Plot, nearestIndex, formatNumber} from './plot.js';

const HAND_NAMES = /palm|tip|thumb|index|middle|ring|pinky|finger|hand|joint|bone|marker/i;
const HAND_COLORS = [0xff9f43, 0xffd166, 0xffc078, 0xf7b267, 0xffe29a, 0xffb38a];
const MORPH_COLOR = 0x4ecdc4;
const OTHER_COLORS = [0x6c8cff, 0xc084fc, 0xf472b6, 0xa3e635, 0x38bdf8];

const $ = (id) => document.getElementById(id);

// What tests (and the curious) reach from outside: window.viewer.
const viewer = {
  ready: false,
  error: null,
  name: '',
  duration: 0,
  fps: 0,
  frameCount: 0,
  playing: false,
  columns: [],
  column: '',
  time: () => state.time,
  frameIndex: () => state.index,
  // The frame the plot's cursor marks, as an index into the baked frames.
  plotCursorIndex: () => (plot ? plot.cursorIndex() : -1),
  setTime,
  play,
  pause,
  selectColumn,
  // Per mesh with morph targets: its name, how many targets, and which one is switched on
  // (influence above one half; -1 for none, i.e. the mesh's own first shape).
  morphState,
};
window.viewer = viewer;

const state = {
  time: 0,
  index: 0,
  keyTimes: [],
  frames: [],
  table: null,
  mixer: null,
  action: null,
  root: null,
  lastTick: 0,
  needsRender: true,
};

let renderer, scene, camera, controls, plot;

function fail(error) {
  const text = error && error.message ? error.message : String(error);
  viewer.error = text;
  const message = $('message');
  message.textContent = `Could not show the bake: ${text}`;
  message.hidden = false;
  console.error(`viewer: ${text}`);
}

function start() {
  let bake;
  try {
    bake = readBake(window.BAKE);
  } catch (error) {
    fail(error);
    return;
  }
  viewer.name = bake.name;
  state.table = bake.table;
  document.title = `${bake.name} · bake viewer`;
  $('title').textContent = bake.name;

  try {
    setUpScene();
  } catch (error) {
    fail(error);
    return;
  }
  setUpPanel();

  new GLTFLoader().parse(bake.glb, '', (gltf) => {
    try {
      show(gltf);
    } catch (error) {
      fail(error);
    }
  }, (error) => fail(error));
}

function setUpScene() {
  const canvas = $('scene');
  renderer = new THREE.WebGLRenderer({canvas, antialias: true, preserveDrawingBuffer: true});
  renderer.setPixelRatio(Math.min(window.devicePixelRatio || 1, 2));
  scene = new THREE.Scene();
  scene.background = new THREE.Color(0x1b1e24);
  camera = new THREE.PerspectiveCamera(40, 1, 0.01, 1000);
  camera.position.set(6, 5, 12);
  controls = new OrbitControls(camera, canvas);
  controls.addEventListener('change', () => (state.needsRender = true));

  scene.add(new THREE.HemisphereLight(0xe6eeff, 0x302a26, 1.6));
  const sun = new THREE.DirectionalLight(0xffffff, 2.2);
  sun.position.set(5, 12, 8);
  scene.add(sun);
  scene.add(sun.target);
  state.sun = sun;

  new ResizeObserver(resize).observe($('view'));
  resize();
}

function resize() {
  const view = $('view');
  const width = Math.max(1, view.clientWidth), height = Math.max(1, view.clientHeight);
  renderer.setSize(width, height, false);
  camera.aspect = width / height;
  camera.updateProjectionMatrix();
  state.needsRender = true;
  if (plot) plot.draw();
}

function show(gltf) {
  const root = gltf.scene;
  state.root = root;
  scene.add(root);
  dressMeshes(gltf);

  const clip = gltf.animations.find((a) => a.name === 'bake') || gltf.animations[0];
  if (clip) {
    state.mixer = new THREE.AnimationMixer(root);
    state.action = state.mixer.clipAction(clip);
    state.action.play();
    viewer.duration = clip.duration;
    // Every channel of a bake has a key at every baked frame: the first track's times are the frames.
    state.keyTimes = clip.tracks.length > 0 ? Array.from(clip.tracks[0].times) : [0];
  } else {
    state.keyTimes = [0];
  }
  const table = state.table;
  viewer.frameCount = state.keyTimes.length;
  viewer.fps = table.fps ||
      (state.keyTimes.length > 1 ? (state.keyTimes.length - 1) / viewer.duration : 24);
  // Scene frame numbers come from the table when it matches the glTF frame for frame.
  state.frames = table.frames.length === state.keyTimes.length
      ? table.frames
      : state.keyTimes.map((t, i) => i);

  frameTheScene();
  setUpTimeline();
  setUpPlot();

  seek(0);
  renderNow();
  // The labels, the slider and the plot's cursor start where the scene does.
  updatePanel();
  $('summary').textContent = summaryText(gltf);
  requestAnimationFrame((now) => {
    state.lastTick = now;
    renderNow();
    viewer.ready = true;
    document.body.dataset.ready = 'true';
    requestAnimationFrame(tick);
  });
}

// A bake carries no materials: give each mesh a lit colour (hand markers warm, changing meshes
// teal with faceted shading, so their morphed shape reads, and the rest cool).
function dressMeshes(gltf) {
  const json = gltf.parser.json;
  let hand = 0, other = 0;
  const meshes = [];
  gltf.scene.traverse((object) => object.isMesh && meshes.push(object));
  for (const object of meshes) {
    const geometry = object.geometry;
    const association = gltf.parser.associations.get(object);
    const primitive = association && association.meshes !== undefined && json.meshes
        ? (json.meshes[association.meshes].primitives || [])[association.primitives || 0]
        : undefined;
    const hasMorphs = !!(geometry.morphAttributes.position && geometry.morphAttributes.position.length);
    if (!geometry.attributes.normal) geometry.computeVertexNormals();
    if (primitive && primitive.material !== undefined) continue;  // the file's own material
    const nameOf = object.name || (object.parent && object.parent.name) || '';
    let color;
    if (hasMorphs) color = MORPH_COLOR;
    else if (HAND_NAMES.test(nameOf)) color = HAND_COLORS[hand++ % HAND_COLORS.length];
    else color = OTHER_COLORS[other++ % OTHER_COLORS.length];
    object.material = new THREE.MeshStandardMaterial({
      color,
      roughness: 0.55,
      metalness: 0.05,
      flatShading: hasMorphs,
      side: THREE.DoubleSide,
      polygonOffset: hasMorphs,
      polygonOffsetFactor: 1,
      polygonOffsetUnits: 1,
    });
    if (hasMorphs) {
      // Its edges drawn over it, through the same morph targets and influences.
      const edges = new THREE.Mesh(geometry, new THREE.MeshBasicMaterial({
        color: 0x0b3b38, wireframe: true, transparent: true, opacity: 0.45}));
      edges.name = `${object.name}.edges`;
      edges.morphTargetInfluences = object.morphTargetInfluences;
      edges.morphTargetDictionary = object.morphTargetDictionary;
      edges.raycast = () => {};
      edges.userData.overlay = true;
      object.add(edges);
    }
  }
}

// Fits the camera, the grid and the light to everything the animation ever covers.
function frameTheScene() {
  const box = new THREE.Box3();
  const points = [];  // the corners of every mesh's box at every sampled time
  const meshBox = new THREE.Box3();
  const samples = Math.min(24, state.keyTimes.length);
  for (let k = 0; k < samples; ++k) {
    const i = samples > 1 ? Math.round((k * (state.keyTimes.length - 1)) / (samples - 1)) : 0;
    seek(state.keyTimes[i]);
    state.root.updateMatrixWorld(true);
    state.root.traverse((object) => {
      if (!object.isMesh || object.userData.overlay) return;
      meshBox.makeEmpty().expandByObject(object, false);
      if (meshBox.isEmpty()) return;
      box.union(meshBox);
      for (let c = 0; c < 8; ++c) {
        points.push(new THREE.Vector3(c & 1 ? meshBox.max.x : meshBox.min.x,
                                      c & 2 ? meshBox.max.y : meshBox.min.y,
                                      c & 4 ? meshBox.max.z : meshBox.min.z));
      }
    });
  }
  if (box.isEmpty()) box.set(new THREE.Vector3(-1, -1, -1), new THREE.Vector3(1, 1, 1));
  box.expandByPoint(new THREE.Vector3(0, 0, 0));  // keep the ground's origin in view
  points.push(new THREE.Vector3(0, 0, 0));
  const center = box.getCenter(new THREE.Vector3());
  const size = box.getSize(new THREE.Vector3());
  const radius = Math.max(size.length() / 2, 0.5);

  const extent = Math.max(Math.abs(box.min.x), Math.abs(box.max.x), Math.abs(box.min.z),
                          Math.abs(box.max.z), 1);
  const cells = 2 * Math.ceil(extent * 1.5);
  const grid = new THREE.GridHelper(cells, cells, 0x59606c, 0x31363f);
  scene.add(grid);

  // Back off along a three-quarter view until every one of those points is inside the picture.
  const direction = new THREE.Vector3(0.6, 0.3, 1).normalize();
  const up = new THREE.Vector3(0, 1, 0);
  const right = new THREE.Vector3().crossVectors(up, direction).normalize();
  const upInView = new THREE.Vector3().crossVectors(direction, right);
  const tanV = Math.tan(THREE.MathUtils.degToRad(camera.fov) / 2), tanH = tanV * camera.aspect;
  let distance = radius * 0.5;
  for (const point of points) {
    const p = point.sub(center);
    const toward = p.dot(direction);
    distance = Math.max(distance, toward + Math.abs(p.dot(upInView)) / tanV,
                        toward + Math.abs(p.dot(right)) / tanH);
  }
  distance *= 1.08;
  camera.position.copy(center).addScaledVector(direction, distance);
  camera.near = Math.max(distance / 1000, 0.001);
  camera.far = distance * 20;
  camera.updateProjectionMatrix();
  controls.target.copy(center);
  controls.update();
  state.sun.position.copy(center).add(new THREE.Vector3(radius, radius * 2, radius * 1.5));
  state.sun.target.position.copy(center);
}

function summaryText(gltf) {
  let meshes = 0, morphs = 0;
  gltf.scene.traverse((o) => {
    if (!o.isMesh || o.userData.overlay) return;
    meshes += 1;
    const targets = o.geometry.morphAttributes.position;
    if (targets) morphs += targets.length;
  });
  const parts = [`${viewer.frameCount} frames at ${formatNumber(viewer.fps)} fps`,
                 `${meshes} mesh${meshes === 1 ? '' : 'es'}`];
  if (morphs > 0) parts.push(`${morphs} morph target${morphs === 1 ? '' : 's'}`);
  parts.push(`${viewer.columns.length} plotted column${viewer.columns.length === 1 ? '' : 's'}`);
  return parts.join(' · ');
}

function setUpPanel() {
  $('play').addEventListener('click', () => (viewer.playing ? pause() : play()));
  $('timeline').addEventListener('input', (event) => {
    const index = Number(event.target.value);
    setTime(state.keyTimes[index] || 0);
  });
  $('column').addEventListener('change', (event) => selectColumn(event.target.value));
  window.addEventListener('keydown', (event) => {
    if (!viewer.ready || event.target.tagName === 'SELECT') return;
    if (event.key === ' ') {
      event.preventDefault();
      viewer.playing ? pause() : play();
    } else if (event.key === 'ArrowRight' || event.key === 'ArrowLeft') {
      if (event.target.tagName === 'INPUT') return;  // the range input steps by itself
      event.preventDefault();
      const step = event.key === 'ArrowRight' ? 1 : -1;
      const index = Math.min(state.keyTimes.length - 1, Math.max(0, state.index + step));
      setTime(state.keyTimes[index]);
    }
  });
}

function setUpTimeline() {
  const timeline = $('timeline');
  timeline.min = '0';
  timeline.max = String(Math.max(0, state.keyTimes.length - 1));
  timeline.step = '1';
  timeline.value = '0';
  timeline.disabled = state.keyTimes.length < 2;
  $('play').disabled = !(viewer.duration > 0);
}

function setUpPlot() {
  plot = new Plot($('plot'));
  const select = $('column');
  const names = Object.keys(state.table.columns);
  viewer.columns = names;
  select.replaceChildren(...names.map((name) => {
    const option = document.createElement('option');
    option.value = name;
    option.textContent = name;
    return option;
  }));
  select.disabled = names.length === 0;
  $('plot').addEventListener('pointerdown', (event) => {
    const rect = event.target.getBoundingClientRect();
    setTime(plot.timeAt(event.clientX - rect.left));
  });
  new ResizeObserver(() => plot.draw()).observe($('plot'));
  // Start on the first column that moves, the most telling one.
  const moving = names.find((name) => {
    const v = state.table.columns[name];
    return v.some((x) => x !== v[0]);
  });
  if (names.length > 0) selectColumn(moving || names[0]);
  else plot.setSeries('', [], []);
}

function selectColumn(name) {
  const values = state.table.columns[name];
  if (!values) throw new Error(`no column ${name}`);
  viewer.column = name;
  $('column').value = name;
  // Plotted against the glTF's time: the table's rows are the same frames.
  const times = values.map((v, i) => (i < state.keyTimes.length
      ? state.keyTimes[i]
      : (state.table.seconds[i] ?? i / viewer.fps) - (state.table.seconds[0] ?? 0)));
  plot.time = state.time;
  plot.setSeries(name, times, values);
}

// Poses the scene at a time (no rendering).
function seek(time) {
  const t = Math.min(Math.max(Number(time) || 0, 0), viewer.duration);
  state.time = t;
  state.index = Math.max(0, nearestIndex(state.keyTimes, t));
  if (state.action) {
    state.action.time = t;
    state.mixer.update(0);
  }
  state.needsRender = true;
}

function renderNow() {
  renderer.render(scene, camera);
  state.needsRender = false;
}

function updatePanel() {
  $('timeline').value = String(state.index);
  const frame = state.frames[state.index];
  $('frame').textContent = `frame ${frame ?? '–'}`;
  $('seconds').textContent = `${state.time.toFixed(3)} s`;
  $('count').textContent = `${state.index + 1} / ${state.keyTimes.length}`;
  if (plot) plot.setTime(state.time);
}

// Seeks to a time in seconds from the first baked frame, pauses and renders before returning.
function setTime(seconds) {
  if (!state.root) throw new Error('the bake is not loaded yet');
  pause();
  seek(seconds);
  renderNow();
  updatePanel();
  return state.time;
}

function play() {
  if (!(viewer.duration > 0)) return;
  if (state.time >= viewer.duration) seek(0);
  viewer.playing = true;
  $('play').textContent = 'Pause';
  $('play').classList.add('playing');
}

function pause() {
  viewer.playing = false;
  $('play').textContent = 'Play';
  $('play').classList.remove('playing');
}

function tick(now) {
  requestAnimationFrame(tick);
  const dt = Math.min(0.25, Math.max(0, (now - state.lastTick) / 1000));
  state.lastTick = now;
  if (viewer.playing) {
    let t = state.time + dt;
    if (t > viewer.duration) t = 0;  // loop
    seek(t);
    updatePanel();
  }
  if (state.needsRender) renderNow();
}

function morphState() {
  const out = [];
  if (!state.root) return out;
  state.root.traverse((object) => {
    if (!object.isMesh || object.userData.overlay || !object.morphTargetInfluences ||
        object.morphTargetInfluences.length === 0)
      return;
    const influences = object.morphTargetInfluences;
    let active = -1;
    for (let i = 0; i < influences.length; ++i)
      if (influences[i] > 0.5 && (active < 0 || influences[i] > influences[active])) active = i;
    out.push({name: object.name, targets: influences.length, active});
  });
  return out;
}

try {
  start();
} catch (error) {
  fail(error);
}
