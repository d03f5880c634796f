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
const BONE_COLOR = 0x7cf0a0;
const JOINT_COLOR = 0xf4fff6;

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
  // Per skin: its name and its joints as drawn now ({name, parent (index or -1), position}).
  skeletons,
  // World position of a node of the glTF by name, or null.
  positionOf,
  // What the legend over the 3D view says, line by line.
  legend: [],
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
  skeletons: [],  // {name, joints: [Object3D], parents: [index], lines, dots}
  lengthUnit: '',
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
  const extras = (gltf.parser.json.asset && gltf.parser.json.asset.extras) || {};
  state.lengthUnit = typeof extras.lengthUnit === 'string' ? extras.lengthUnit : '';
  setUpSkeletons(gltf);

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

  const cell = frameTheScene();
  showLegend(cell);
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
    // A skinned mesh's box is its bind pose's: its joints say where it is.
    for (const skeleton of state.skeletons) {
      for (const joint of skeleton.joints) {
        const p = joint.getWorldPosition(new THREE.Vector3());
        box.expandByPoint(p);
        points.push(p);
      }
    }
  }
  if (box.isEmpty()) box.set(new THREE.Vector3(-1, -1, -1), new THREE.Vector3(1, 1, 1));
  box.expandByPoint(new THREE.Vector3(0, 0, 0));  // keep the ground's origin in view
  points.push(new THREE.Vector3(0, 0, 0));
  const center = box.getCenter(new THREE.Vector3());
  const size = box.getSize(new THREE.Vector3());
  const radius = Math.max(size.length() / 2, 0.5);

  const extent = Math.max(Math.abs(box.min.x), Math.abs(box.max.x), Math.abs(box.min.z),
                          Math.abs(box.max.z), 1e-6);
  // Cells of a power of ten, a few across what the bake covers (1 unit for a scene 5 to 50 wide).
  const cell = 10 ** Math.floor(Math.log10(extent / 2));
  const cells = 2 * Math.ceil((extent * 1.5) / cell);
  const grid = new THREE.GridHelper(cells * cell, cells, 0x59606c, 0x31363f);
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
  return cell;
}

// A length as the bake's unit names it: metres in m, cm or mm; scene units as they are.
function lengthText(value) {
  if (state.lengthUnit === 'metre') {
    if (value >= 1) return `${formatNumber(value)} m`;
    if (value >= 0.01) return `${formatNumber(value * 100)} cm`;
    return `${formatNumber(value * 1000)} mm`;
  }
  const unit = state.lengthUnit === 'scene unit' ? 'scene unit' : 'unit';
  return `${formatNumber(value)} ${unit}${value === 1 ? '' : 's'}`;
}

// Every skin's joints, drawn over the meshes: a dot per joint, a line from each to its parent.
function setUpSkeletons(gltf) {
  const json = gltf.parser.json;
  const skins = json.skins || [];
  if (skins.length === 0) return;
  const byIndex = new Map();
  gltf.scene.traverse((object) => {
    const association = gltf.parser.associations.get(object);
    if (association && association.nodes !== undefined) byIndex.set(association.nodes, object);
  });
  for (let s = 0; s < skins.length; ++s) {
    const indices = skins[s].joints || [];
    const joints = indices.map((i) => byIndex.get(i)).filter((o) => o);
    if (joints.length !== indices.length || joints.length === 0) continue;
    const parents = joints.map((joint) => joints.indexOf(joint.parent));
    const pairs = parents.filter((p) => p >= 0).length;
    const lines = new THREE.LineSegments(
        new THREE.BufferGeometry().setAttribute(
            'position', new THREE.BufferAttribute(new Float32Array(pairs * 6), 3)),
        new THREE.LineBasicMaterial({color: BONE_COLOR, depthTest: false, transparent: true}));
    const dots = new THREE.Points(
        new THREE.BufferGeometry().setAttribute(
            'position', new THREE.BufferAttribute(new Float32Array(joints.length * 3), 3)),
        new THREE.PointsMaterial({color: JOINT_COLOR, size: 7, sizeAttenuation: false,
                                  depthTest: false, transparent: true}));
    for (const overlay of [lines, dots]) {
      overlay.renderOrder = 10;
      overlay.frustumCulled = false;
      overlay.userData.overlay = true;
      scene.add(overlay);
    }
    state.skeletons.push({name: skins[s].name || `skin ${s}`, joints, parents, lines, dots});
  }
  // The hand's mesh is drawn see-through so that its bones show inside it.
  gltf.scene.traverse((object) => {
    if (!object.isSkinnedMesh) return;
    object.frustumCulled = false;
    object.material.transparent = true;
    object.material.opacity = 0.55;
    object.material.depthWrite = false;
  });
}

function updateSkeletons() {
  if (state.skeletons.length === 0) return;
  state.root.updateMatrixWorld(true);
  const p = new THREE.Vector3();
  for (const skeleton of state.skeletons) {
    const lines = skeleton.lines.geometry.attributes.position;
    const dots = skeleton.dots.geometry.attributes.position;
    let k = 0;
    skeleton.joints.forEach((joint, i) => {
      joint.getWorldPosition(p);
      dots.setXYZ(i, p.x, p.y, p.z);
      const parent = skeleton.parents[i];
      if (parent < 0) return;
      lines.setXYZ(k++, p.x, p.y, p.z);
      skeleton.joints[parent].getWorldPosition(p);
      lines.setXYZ(k++, p.x, p.y, p.z);
    });
    lines.needsUpdate = true;
    dots.needsUpdate = true;
  }
}

function skeletons() {
  return state.skeletons.map((skeleton) => ({
    name: skeleton.name,
    joints: skeleton.joints.map((joint, i) => ({
      name: joint.name,
      parent: skeleton.parents[i],
      position: joint.getWorldPosition(new THREE.Vector3()).toArray(),
    })),
  }));
}

function positionOf(name) {
  if (!state.root) return null;
  state.root.updateMatrixWorld(true);
  const object = state.root.getObjectByName(name);
  return object ? object.getWorldPosition(new THREE.Vector3()).toArray() : null;
}

// What the view shows, over its corner: the grid's cell, the unit, and each skeleton.
function showLegend(cell) {
  const lines = [`grid: 1 cell = ${lengthText(cell)}`];
  if (state.lengthUnit === 'metre') lines.push('lengths in metres');
  else if (state.lengthUnit === 'scene unit') lines.push('lengths in scene units (raw bake)');
  for (const skeleton of state.skeletons) {
    lines.push(`${skeleton.name}: skeleton of ${skeleton.joints.length} joints ` +
               '(dots: joints, lines: bones)');
  }
  viewer.legend = lines;
  $('legend').replaceChildren(...lines.map((line) => {
    const row = document.createElement('div');
    row.textContent = line;
    return row;
  }));
  $('legend').hidden = false;
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
  const skins = state.skeletons.length;
  if (skins > 0) parts.push(`${skins} skeleton${skins === 1 ? '' : 's'}`);
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
  updateSkeletons();
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
