// The 3D views of a kaopt report: the scene as read and as written, side by side in one canvas
// under one camera, so that any difference between them is seen from the same place. The scenes
// come from the page's own .glb links (data: URIs); nothing is fetched from anywhere else. When
// every view has drawn its first frame, <body data-rendered> holds the number of views drawn.
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';

// Colours by number of bone influences: 0, 1, 2, 3, 4, 5 and more (the legend beside the toggle).
const INFLUENCE_COLOURS = ['#9aa0a6', '#4e79a7', '#59a14f', '#edc948', '#f28e2b', '#e15759'].map(c => new THREE.Color(c));
const SIDES = ['before', 'after'];

const canvas = document.getElementById('view-canvas');
const renderer = new THREE.WebGLRenderer({ canvas, antialias: true, preserveDrawingBuffer: true });
renderer.setPixelRatio(window.devicePixelRatio);
renderer.setScissorTest(true);
const camera = new THREE.PerspectiveCamera(40, 1, 0.01, 1000);
const controls = new OrbitControls(camera, canvas);
const home = { position: new THREE.Vector3(0, 0, 5), target: new THREE.Vector3() };

// One view per side that has a scene: { side, scene, mixer, clips, meshes, drawn }.
const views = [];
let playing = false;
let activeClip = null;  // until one plays, skinned meshes keep their rest pose
let clipTime = 0;
let drawQueued = false;

function paneNote(side, text) {
    const note = document.querySelector(`.pane[data-side="${side}"] .pane-note`);
    if (note) note.textContent = text;
}

async function loadSide(side) {
    const link = document.querySelector(`a.glb[data-side="${side}"]`);
    if (!link) return null;
    const bytes = await (await fetch(link.href)).arrayBuffer();
    const loader = new GLTFLoader();
    // Textures decode as image elements, whose loading the browser counts as the page's own work
    // (a headless browser waits for it before it reads the page), not as image bitmaps decoded aside.
    loader.register(parser => {
        parser.textureLoader = new THREE.TextureLoader(parser.options.manager);
        return { name: 'kaImageElements' };
    });
    const gltf = await loader.parseAsync(bytes, '');
    const scene = new THREE.Scene();
    scene.add(new THREE.HemisphereLight(0xffffff, 0x8d8d8d, 2.2));
    const sun = new THREE.DirectionalLight(0xffffff, 2.0);
    sun.position.set(3, 10, 6);
    scene.add(sun);
    scene.add(gltf.scene);
    const meshes = [];
    gltf.scene.traverse(object => {
        if (object.isMesh) meshes.push({ mesh: object, material: object.material, colour: object.geometry.getAttribute('color') });
    });
    return { side, scene, root: gltf.scene, meshes, clips: gltf.animations, mixer: new THREE.AnimationMixer(gltf.scene), drawn: false };
}

// Skinned meshes in the pose they were bound in, not wherever their joints' nodes stand.
function restPose(view) {
    view.mixer.stopAllAction();
    view.root.traverse(object => { if (object.isSkinnedMesh) object.skeleton.pose(); });
}

function frameViews() {
    const box = new THREE.Box3();
    for (const view of views) box.expandByObject(view.root, true);
    if (box.isEmpty()) return;
    const sphere = box.getBoundingSphere(new THREE.Sphere());
    const radius = Math.max(sphere.radius, 1e-3);
    const distance = radius / Math.sin(THREE.MathUtils.degToRad(camera.fov / 2)) * 1.15;
    home.target.copy(sphere.center);
    home.position.copy(sphere.center).add(new THREE.Vector3(0.6, 0.45, 1).normalize().multiplyScalar(distance));
    camera.near = distance / 100;
    camera.far = distance * 100;
    resetView();
}

function resetView() {
    camera.position.copy(home.position);
    controls.target.copy(home.target);
    camera.updateProjectionMatrix();
    controls.update();
    requestDraw();
}

function draw() {
    drawQueued = false;
    const width = canvas.clientWidth, height = canvas.clientHeight;
    const pixels = renderer.getDrawingBufferSize(new THREE.Vector2());
    if (pixels.x !== Math.floor(width * renderer.getPixelRatio()) || pixels.y !== Math.floor(height * renderer.getPixelRatio()))
        renderer.setSize(width, height, false);
    const half = width / 2;
    camera.aspect = half / height;
    camera.updateProjectionMatrix();
    SIDES.forEach((side, i) => {
        renderer.setViewport(i * half, 0, half, height);
        renderer.setScissor(i * half, 0, half, height);
        renderer.setClearColor(i === 0 ? 0xeef0f3 : 0xe9f0ec);
        const view = views.find(candidate => candidate.side === side);
        if (view) {
            renderer.render(view.scene, camera);
            view.drawn = true;
        } else {
            renderer.clear();
        }
    });
}

function requestDraw() {
    if (drawQueued || playing) return;
    drawQueued = true;
    requestAnimationFrame(draw);
}

// The influences of each vertex: weights above zero over every joint set (skinWeight, weights_1, ...).
function influenceColours(geometry) {
    const sets = Object.keys(geometry.attributes).filter(name => name === 'skinWeight' || /^weights_\d+$/.test(name));
    const count = geometry.getAttribute('position').count;
    const colours = new Float32Array(count * 3);
    for (let v = 0; v < count; ++v) {
        let influences = 0;
        for (const name of sets) {
            const weights = geometry.getAttribute(name);
            for (let c = 0; c < weights.itemSize; ++c) influences += weights.getComponent(v, c) > 0 ? 1 : 0;
        }
        INFLUENCE_COLOURS[Math.min(influences, INFLUENCE_COLOURS.length - 1)].toArray(colours, v * 3);
    }
    return new THREE.BufferAttribute(colours, 3);
}

function showInfluences(on) {
    const wireframe = document.getElementById('wireframe').checked;
    for (const view of views) {
        for (const entry of view.meshes) {
            const geometry = entry.mesh.geometry;
            if (on) {
                entry.influences ??= influenceColours(geometry);
                entry.influenceMaterial ??= new THREE.MeshLambertMaterial({ vertexColors: true });
                geometry.setAttribute('color', entry.influences);
                entry.mesh.material = entry.influenceMaterial;
            } else {
                if (entry.colour) geometry.setAttribute('color', entry.colour);
                else geometry.deleteAttribute('color');
                entry.mesh.material = entry.material;
            }
        }
    }
    document.querySelector('.legend').hidden = !on;
    showWireframe(wireframe);
}

function showWireframe(on) {
    for (const view of views)
        for (const entry of view.meshes)
            for (const material of [entry.mesh.material].flat()) material.wireframe = on;
    requestDraw();
}

// Animations are chosen by name, so that a clip plays in both views where both have it.
function clipNames() {
    const names = [];
    for (const view of views)
        for (const clip of view.clips) if (!names.includes(clip.name)) names.push(clip.name);
    return names;
}

function clipDuration(name) {
    return Math.max(0, ...views.flatMap(view => view.clips.filter(clip => clip.name === name).map(clip => clip.duration)));
}

function setClip(name) {
    activeClip = name;
    clipTime = 0;
    for (const view of views) {
        restPose(view);
        const clip = view.clips.find(candidate => candidate.name === name);
        if (clip) view.mixer.clipAction(clip).play();
    }
    const time = document.getElementById('time');
    time.max = String(clipDuration(name) || 1);
    seek(0);
}

function seek(seconds) {
    clipTime = seconds;
    for (const view of views) view.mixer.setTime(seconds);
    document.getElementById('time').value = String(seconds);
    document.getElementById('time-text').value = `${seconds.toFixed(2)} s`;
    requestDraw();
}

const timer = new THREE.Timer();
function play(on) {
    const select = document.getElementById('clip');
    if (on && activeClip !== select.value) setClip(select.value);
    playing = on;
    const button = document.getElementById('play');
    button.textContent = on ? 'Pause' : 'Play';
    button.setAttribute('aria-pressed', String(on));
    timer.reset();
    renderer.setAnimationLoop(on ? timestamp => {
        timer.update(timestamp);
        const duration = clipDuration(activeClip) || 1;
        seek((clipTime + timer.getDelta()) % duration);
        draw();
    } : null);
}

function setUpControls() {
    document.getElementById('reset-view').addEventListener('click', resetView);
    document.getElementById('influences').addEventListener('change', event => showInfluences(event.target.checked));
    document.getElementById('wireframe').addEventListener('change', event => showWireframe(event.target.checked));
    controls.addEventListener('change', requestDraw);
    new ResizeObserver(requestDraw).observe(canvas);
    const names = clipNames();
    if (names.length === 0) return;
    const select = document.getElementById('clip');
    for (const name of names) select.add(new Option(name || '(unnamed)', name));
    select.addEventListener('change', () => setClip(select.value));
    document.getElementById('play').addEventListener('click', () => play(!playing));
    document.getElementById('time').addEventListener('input', event => {
        const seconds = Number(event.target.value);
        if (activeClip !== select.value) setClip(select.value);
        seek(seconds);
    });
    document.querySelector('.animation-controls').hidden = false;
}

const loaded = await Promise.allSettled(SIDES.map(loadSide));
loaded.forEach((result, i) => {
    if (result.status === 'fulfilled' && result.value) views.push(result.value);
    else if (result.status === 'rejected') paneNote(SIDES[i], `cannot be shown: ${result.reason?.message ?? result.reason}`);
});
views.forEach(restPose);
frameViews();
setUpControls();
draw();
document.body.dataset.rendered = String(views.filter(view => view.drawn).length);
