// The scene as the host poses it, beside the camera view: the meshes of the host's "scene"
// messages drawn at the world matrices of its "poses" messages (one a tick of `play -live`), in an
// orbitable 3D view lit and coloured as the bake viewer draws a bake.
//
// scene: {type, full, objects: [{name, shape, positions, indices}], removed: [shape]}: the meshes
//   that came or changed (every mesh when full), each under its transform's name.
// poses: {type, time, objects: [{name, matrix}]}: world matrices, 16 numbers in the host's
//   row-vector order, which is three.js's column-major order for the same transform.
//
// window.kivoPoseView.state() is what tests read: the meshes shown and where the host put them.
import * as THREE from 'three';
import {OrbitControls} from 'three/examples/jsm/controls/OrbitControls.js';

const HAND_NAMES = /palm|tip|thumb|index|middle|ring|pinky|finger|hand|joint|bone|marker/i;
const HAND_COLORS = [0xff9f43, 0xffd166, 0xffc078, 0xf7b267, 0xffe29a, 0xffb38a];
const OTHER_COLORS = [0x6c8cff, 0xc084fc, 0xf472b6, 0xa3e635, 0x38bdf8];
const CHANGED_COLOR = 0x4ecdc4;  // a mesh whose shape the host changed while performing

// options.onStop: when given, a button that asks the host to stop its live play.
export function createPoseView(container, options = {}) {
  const note = document.createElement('div');
  note.className = 'muted';
  note.style.cssText = 'position:absolute;left:10px;top:8px;pointer-events:none;' +
      'font-variant-numeric:tabular-nums';
  note.textContent = 'no scene';

  const shapes = new Map();  // shape name -> {name (its transform), mesh, changes}
  const matrices = new Map();  // transform name -> its newest world matrix, or null
  const counts = {scenes: 0, poses: 0};
  let time = null;
  let framed = false;
  let needsRender = true;
  let hand = 0, other = 0;

  const view = {renderer: null, scene: null, camera: null, controls: null, root: null, reason: ''};
  try {
    const canvas = document.createElement('canvas');
    canvas.style.cssText = 'position:absolute;inset:0;width:100%;height:100%;display:block';
    container.appendChild(canvas);
    // Asked first, so that a browser without WebGL (headless, no GPU) is told apart quietly.
    const context = canvas.getContext('webgl2', {antialias: true});
    if (!context) throw new Error('no WebGL 2');
    view.renderer = new THREE.WebGLRenderer({canvas, context});
    view.renderer.setPixelRatio(Math.min(window.devicePixelRatio || 1, 2));
    view.scene = new THREE.Scene();
    view.scene.background = new THREE.Color(0x1b1e24);
    view.camera = new THREE.PerspectiveCamera(40, 1, 0.01, 1000);
    view.camera.position.set(6, 5, 12);
    view.controls = new OrbitControls(view.camera, canvas);
    view.controls.addEventListener('change', () => (needsRender = true));
    view.scene.add(new THREE.HemisphereLight(0xe6eeff, 0x302a26, 1.6));
    const sun = new THREE.DirectionalLight(0xffffff, 2.2);
    sun.position.set(5, 12, 8);
    view.scene.add(sun);
    view.scene.add(new THREE.GridHelper(10, 10, 0x59606c, 0x31363f));
    view.root = new THREE.Group();
    view.scene.add(view.root);
    new ResizeObserver(resize).observe(container);
    resize();
    requestAnimationFrame(draw);
  } catch (error) {
    // Without WebGL the view still keeps what the host sent; it says why it draws nothing.
    view.renderer = null;
    view.reason = error.message;
    console.warn(`pose view: cannot draw (${error.message})`);
  }
  container.appendChild(note);

  if (options.onStop) {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = 'stop';
    button.title = 'end the host\'s live play (and the take it records)';
    button.style.cssText = 'position:absolute;right:10px;top:8px';
    button.addEventListener('click', () => options.onStop());
    container.appendChild(button);
  }

  function resize() {
    const width = Math.max(1, container.clientWidth), height = Math.max(1, container.clientHeight);
    view.renderer.setSize(width, height, false);
    view.camera.aspect = width / height;
    view.camera.updateProjectionMatrix();
    needsRender = true;
  }

  function draw() {
    if (needsRender) {
      needsRender = false;
      view.renderer.render(view.scene, view.camera);
    }
    requestAnimationFrame(draw);
  }

  function colorFor(name) {
    return HAND_NAMES.test(name) ? HAND_COLORS[hand++ % HAND_COLORS.length]
                                 : OTHER_COLORS[other++ % OTHER_COLORS.length];
  }

  function geometryOf(object) {
    const geometry = new THREE.BufferGeometry();
    geometry.setAttribute('position', new THREE.Float32BufferAttribute(object.positions, 3));
    geometry.setIndex(Array.from(object.indices || []));
    geometry.computeVertexNormals();
    geometry.computeBoundingSphere();
    return geometry;
  }

  function remove(shape) {
    const entry = shapes.get(shape);
    if (!entry) return;
    if (entry.mesh) {
      view.root.remove(entry.mesh);
      entry.mesh.geometry.dispose();
      entry.mesh.material.dispose();
    }
    shapes.delete(shape);
  }

  // Puts a mesh where its transform's newest matrix says; hides it while there is none.
  function place(entry) {
    if (!entry.mesh) return;
    const matrix = matrices.get(entry.name);
    entry.mesh.visible = Array.isArray(matrix) && entry.valid;
    if (entry.mesh.visible) {
      entry.mesh.matrix.fromArray(matrix);
      entry.mesh.matrixWorldNeedsUpdate = true;
    }
  }

  function onScene(msg) {
    ++counts.scenes;
    if (msg.full) {
      for (const shape of [...shapes.keys()]) remove(shape);
      framed = false;
    }
    for (const shape of msg.removed || []) remove(String(shape));
    for (const object of msg.objects || []) {
      const shape = String(object.shape || object.name);
      const known = shapes.get(shape);
      const valid = Array.isArray(object.positions);
      const entry = known || {name: '', mesh: null, changes: 0, valid};
      entry.name = String(object.name);
      entry.valid = valid;
      if (known) ++entry.changes;
      if (view.renderer && valid) {
        const geometry = geometryOf(object);
        if (entry.mesh) {
          entry.mesh.geometry.dispose();
          entry.mesh.geometry = geometry;
          if (entry.changes === 1) entry.mesh.material.color.setHex(CHANGED_COLOR);
        } else {
          const material = new THREE.MeshStandardMaterial({
            color: colorFor(entry.name), roughness: 0.55, metalness: 0.05,
            side: THREE.DoubleSide, flatShading: true,
          });
          entry.mesh = new THREE.Mesh(geometry, material);
          entry.mesh.name = shape;
          entry.mesh.matrixAutoUpdate = false;
          view.root.add(entry.mesh);
        }
      }
      entry.vertices = valid ? object.positions.length / 3 : 0;
      shapes.set(shape, entry);
      place(entry);
    }
    needsRender = true;
  }

  function onPoses(msg) {
    ++counts.poses;
    time = Number.isFinite(msg.time) ? msg.time : time;
    for (const object of msg.objects || []) {
      const matrix = object.matrix;
      matrices.set(String(object.name),
                   Array.isArray(matrix) && matrix.length === 16 ? matrix.map(Number) : null);
    }
    for (const entry of shapes.values()) place(entry);
    if (!framed && view.renderer && shapes.size) {
      frame();
      framed = true;
    }
    needsRender = true;
  }

  // Backs the camera off along a three-quarter view until the meshes, as posed now, fit.
  function frame() {
    view.root.updateMatrixWorld(true);
    const box = new THREE.Box3();
    for (const entry of shapes.values())
      if (entry.mesh && entry.mesh.visible) box.expandByObject(entry.mesh);
    if (box.isEmpty()) return;
    box.expandByPoint(new THREE.Vector3(0, 0, 0));
    const center = box.getCenter(new THREE.Vector3());
    const radius = Math.max(box.getSize(new THREE.Vector3()).length() / 2, 0.5);
    const fit = radius / Math.sin(THREE.MathUtils.degToRad(view.camera.fov) / 2);
    const direction = new THREE.Vector3(0.6, 0.35, 1).normalize();
    view.camera.position.copy(center).addScaledVector(direction, fit * 1.1);
    view.camera.near = Math.max(fit / 1000, 0.001);
    view.camera.far = fit * 100;
    view.camera.updateProjectionMatrix();
    view.controls.target.copy(center);
    view.controls.update();
  }

  function showNote() {
    if (!view.renderer) {
      note.textContent = `${shapes.size ? `${shapes.size} object${shapes.size === 1 ? '' : 's'}` : 'no scene'}` +
          ` (not drawn: ${view.reason})`;
    } else if (!shapes.size) {
      note.textContent = 'no scene';
    } else {
      const n = shapes.size;
      note.textContent = `${n} object${n === 1 ? '' : 's'}` +
          (time === null ? '' : ` · scene time ${time.toFixed(2)} s`);
    }
  }

  const api = {
    handleMessage(msg) {
      if (!msg || typeof msg !== 'object') return;
      if (msg.type === 'scene') onScene(msg);
      else if (msg.type === 'poses') onPoses(msg);
      else return;
      showNote();
    },
    // What the view shows: every mesh with its transform, vertex count, visibility and matrix.
    state() {
      return {
        ...counts,
        time,
        drawing: !!view.renderer,
        objects: [...shapes.entries()].map(([shape, entry]) => ({
          name: entry.name,
          shape,
          vertices: entry.vertices,
          changes: entry.changes,
          visible: !!(matrices.get(entry.name) && entry.valid),
          matrix: matrices.get(entry.name) || null,
        })),
      };
    },
  };
  showNote();
  window.kivoPoseView = api;
  return api;
}
