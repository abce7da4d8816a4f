// The page's simulation, off the main thread: it chooses and loads a
// WebAssembly module (kernels and threads), runs its frames, and draws each
// frame's pixels on the canvas that the page handed over, with the window's
// shaders in GLSL ES 3.00. Or, for `?frames=N&checksum`, it runs the
// headless runner and hands its output to the page.
'use strict';

const kTitle = 'Hello World';
const kProgramName = 'shallow-water-web';  // the runner's name in its messages

// The settings the page's panel shows, in the window panel's ranges.
const kDefaults = {
  stepsPerFrame: 1, rainFalls: true, rainChance: 0.1, dropRadius: 89.6, dropStrength: 0.0002,
  relaxation: 0.6666667, depthBlack: 0.0495, depthWhite: 0.0505,
};
const kRanges = {
  stepsPerFrame: { min: 1, max: 64, step: 1 },
  rainChance: { min: 0, max: 0.5, step: 0.001 },
  dropRadius: { min: 1, max: 256, step: 0.1 },
  dropStrength: { min: -0.0004, max: 0.0004, step: 0.00001 },
  relaxation: { min: 0.2, max: 1.2, step: 0.0001 },
  depthBlack: { min: 0.04, max: 0.06, step: 0.0001 },
  depthWhite: { min: 0.04, max: 0.06, step: 0.0001 },
};

// Page parameters that are not the headless runner's options.
const kPageParameters = new Set(['kernels', 'threads', 'test-unfused-madd']);

// --- Choosing the kernels ------------------------------------------------

// f32x4.relaxed_madd(a, b, c), lane 0, as a function (f32, f32, f32) -> f32.
const kMaddTestModule = new Uint8Array([
  0, 97, 115, 109, 1, 0, 0, 0,                          // header
  1, 8, 1, 96, 3, 125, 125, 125, 1, 125,                // type: (f32 f32 f32) -> f32
  3, 2, 1, 0,                                           // one function of that type
  7, 8, 1, 4, 109, 97, 100, 100, 0, 0,                  // export "madd"
  10, 22, 1, 20, 0,                                     // its code, no locals:
  32, 0, 253, 19, 32, 1, 253, 19, 32, 2, 253, 19,       //   the three operands, splat
  253, 133, 2, 253, 31, 0, 11,                          //   relaxed_madd, lane 0
]);

// Whether relaxed SIMD's multiply-add rounds once here: (1 + 2^-12)^2 -
// (1 + 2^-11) is 2^-24 exactly, while the product rounded on its own gives
// 1 + 2^-11 (a tie, to even) and the sum 0. The kernels' bits depend on it.
function relaxedMaddIsFused(fakeUnfused) {
  if (!WebAssembly.validate(kMaddTestModule)) return { usable: false, why: 'no relaxed SIMD' };
  const madd = new WebAssembly.Instance(new WebAssembly.Module(kMaddTestModule)).exports.madd;
  const a = Math.fround(1 + 2 ** -12);
  const c = Math.fround(-(1 + 2 ** -11));
  const fused = !fakeUnfused && madd(a, a, c) === 2 ** -24;
  return { usable: fused, why: fused ? '' : 'relaxed SIMD\'s multiply-add rounds twice here' };
}

// The kernels to load: `portable` unless the relaxed module validates and
// its multiply-add is fused; ?kernels= forces one, and forcing `relaxed`
// where it is not fused is refused (its water would differ).
async function chooseKernels(forced, fakeUnfused) {
  let relaxed = { usable: false, why: 'the relaxed module could not be read' };
  try {
    const bytes = await (await fetch('shallow-water-relaxed.wasm')).arrayBuffer();
    relaxed = WebAssembly.validate(bytes) ? relaxedMaddIsFused(fakeUnfused)
                                          : { usable: false, why: 'this browser has no relaxed SIMD' };
  } catch (error) {
    relaxed.why += ` (${error.message})`;
  }
  if (forced === 'portable') return { kernels: 'portable', note: '' };
  if (forced === 'relaxed') {
    if (relaxed.usable) return { kernels: 'relaxed', note: '' };
    throw new Error(`?kernels=relaxed is refused: ${relaxed.why}, so the water would not be the exact water.\n` +
                    'Leave out ?kernels (or use ?kernels=portable) to run the exact portable kernels.');
  }
  if (forced !== undefined) throw new Error(`?kernels=${forced} is not a kernel set: use relaxed or portable.`);
  return relaxed.usable ? { kernels: 'relaxed', note: '' }
                        : { kernels: 'portable', note: `Portable kernels (slower, the same water): ${relaxed.why}.` };
}

// The threads: as many as the machine has cores where the page is
// cross-origin isolated (threads share the module's memory), else one.
function chooseThreads(requested, cores, isolated) {
  let threads = cores;
  if (requested !== undefined) {
    threads = Number(requested);
    if (!/^[0-9]+$/.test(requested) || threads < 1 || threads > 64)
      throw new Error(`?threads=${requested} is not a thread count from 1 to 64.`);
  }
  if (threads > 1 && !isolated) {
    return { threads: 1, note: 'One thread: the page is not cross-origin isolated. For threads the host must send ' +
                               '"Cross-Origin-Opener-Policy: same-origin" and "Cross-Origin-Embedder-Policy: require-corp".' };
  }
  return { threads, note: '' };
}

// --- Options ---------------------------------------------------------------

// The URL's parameters as the headless runner's options, one argument a
// line: ?steps-per-frame=4&no-rain&depth-range=0.049,0.051 is
// --steps-per-frame 4 --no-rain --depth-range 0.049,0.051.
function optionArguments(parameters) {
  const args = [];
  for (const [name, value] of parameters) {
    if (kPageParameters.has(name)) continue;
    args.push(`--${name}`);
    if (value !== '') args.push(value);
  }
  return args;
}

// --- Drawing ---------------------------------------------------------------

const kVertexShader = `#version 300 es
layout(location = 0) in vec2 vVertex;
out vec2 vUV;
void main()
{
    gl_Position = vec4(vVertex * 2.0 - 1.0, 0.0, 1.0);
    vUV = vVertex;
}
`;

const kGreyShader = `#version 300 es
precision highp float;
layout(location = 0) out vec4 vFragColor;
in vec2 vUV;
uniform sampler2D textureMap;
void main()
{
    vec2 uv = vec2(vUV.x, 1.0 - vUV.y);
    vec4 t = texture(textureMap, uv).rbga;
    vFragColor = t;
}
`;

const kColouredShader = `#version 300 es
precision highp float;
layout(location = 0) out vec4 vFragColor;
in vec2 vUV;
uniform sampler2D textureMap;
float depthAt(ivec2 texel, ivec2 size)
{
    return texelFetch(textureMap, clamp(texel, ivec2(0), size - 1), 0).r;
}
void main()
{
    ivec2 size = textureSize(textureMap, 0);
    ivec2 texel = ivec2(vec2(vUV.x, 1.0 - vUV.y) * vec2(size));
    float depth = depthAt(texel, size);
    float dx = depthAt(texel + ivec2(1, 0), size) - depthAt(texel - ivec2(1, 0), size);
    float dy = depthAt(texel + ivec2(0, 1), size) - depthAt(texel - ivec2(0, 1), size);
    vec3 normal = normalize(vec3(-40.0 * dx, 40.0 * dy, 1.0));
    vec3 light = normalize(vec3(-0.4, 0.5, 0.77));
    float diffuse = max(dot(normal, light), 0.0);
    float glint = pow(max(dot(reflect(-light, normal), vec3(0.0, 0.0, 1.0)), 0.0), 40.0);
    vec3 water = mix(vec3(0.0, 0.10, 0.32), vec3(0.30, 0.72, 0.92), clamp(2.5 * depth - 0.75, 0.0, 1.0));
    vFragColor = vec4(water * (0.25 + 0.85 * diffuse) + vec3(0.25 * glint), 1.0);
}
`;

function compileProgram(gl, fragmentSource) {
  const program = gl.createProgram();
  for (const [type, source] of [[gl.VERTEX_SHADER, kVertexShader], [gl.FRAGMENT_SHADER, fragmentSource]]) {
    const shader = gl.createShader(type);
    gl.shaderSource(shader, source);
    gl.compileShader(shader);
    if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS))
      throw new Error(`A shader did not compile: ${gl.getShaderInfoLog(shader)}`);
    gl.attachShader(program, shader);
  }
  gl.bindAttribLocation(program, 0, 'vVertex');
  gl.linkProgram(program);
  if (!gl.getProgramParameter(program, gl.LINK_STATUS))
    throw new Error(`The shaders did not link: ${gl.getProgramInfoLog(program)}`);
  gl.useProgram(program);
  gl.uniform1i(gl.getUniformLocation(program, 'textureMap'), 0);
  return program;
}

// The canvas's WebGL 2 context, the depth texture (one texel a cell of the
// module's grid) and the window's quad.
function createDisplay(canvas, gridWidth, gridHeight) {
  const gl = canvas.getContext('webgl2', { antialias: false, depth: false, alpha: false });
  if (gl === null) {
    throw new Error('This browser gives the page no WebGL 2, which draws the water.\n' +
                    'Use a current Chrome, Edge, Firefox or Safari with hardware acceleration on.');
  }
  const texture = gl.createTexture();
  gl.bindTexture(gl.TEXTURE_2D, texture);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
  gl.texStorage2D(gl.TEXTURE_2D, 1, gl.RGBA8, gridWidth, gridHeight);
  gl.pixelStorei(gl.UNPACK_ALIGNMENT, 4);
  const quad = gl.createBuffer();
  gl.bindBuffer(gl.ARRAY_BUFFER, quad);
  gl.bufferData(gl.ARRAY_BUFFER, new Float32Array([0, 0, 1, 0, 1, 1, 0, 0, 1, 1, 0, 1]), gl.STATIC_DRAW);
  gl.enableVertexAttribArray(0);
  gl.vertexAttribPointer(0, 2, gl.FLOAT, false, 0, 0);
  return { gl, canvas, gridWidth, gridHeight, grey: compileProgram(gl, kGreyShader), coloured: null };
}

function draw(display, module, pixels, coloured) {
  const gl = display.gl;
  if (pixels !== 0) {
    const { gridWidth, gridHeight } = display;
    const words = new Uint8Array(module.HEAPU8.buffer, pixels, gridWidth * gridHeight * 4);
    gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, gridWidth, gridHeight, gl.RGBA, gl.UNSIGNED_BYTE, words);
  }
  if (coloured && display.coloured === null) display.coloured = compileProgram(gl, kColouredShader);
  const program = coloured ? display.coloured : display.grey;
  gl.viewport(0, 0, display.canvas.width, display.canvas.height);
  gl.useProgram(program);
  gl.drawArrays(gl.TRIANGLES, 0, 6);
}

// --- The module --------------------------------------------------------------

async function loadModule(kernels, threads, output) {
  const name = threads > 1 ? `shallow-water-${kernels}-threads` : `shallow-water-${kernels}`;
  const script = new URL(`${name}.js`, self.location.href).href;
  try {
    importScripts(script);
  } catch (error) {
    throw new Error(`The module ${name}.js failed to load: ${error.message}`);
  }
  let aborted = '';
  try {
    return await createShallowWaterModule({
      print: output.print,
      printErr: output.printErr,
      mainScriptUrlOrBlob: script,
      thisProgram: kProgramName,
      pthreadPoolSize: threads - 1,
      preRun: [(module) => { module.ENV.SHALLOW_WATER_CPU_THREADS = String(threads); }],
      onAbort: (what) => { aborted = String(what); },
    });
  } catch (error) {
    const what = `${aborted} ${error && error.message ? error.message : error}`;
    if (/memory/i.test(what)) {
      throw new Error('The page could not have the 768 MB of memory that the water needs ' +
                      `(${what.trim()}).\nClose other tabs, or use a 64-bit desktop browser.`);
    }
    throw new Error(`The module ${name} failed to start: ${what.trim()}`);
  }
}

// A float read from the module as the fewest digits that give it back
// (0.1, not 0.10000000149011612).
function shortest(value) {
  for (let digits = 1; digits < 9; digits += 1) {
    const candidate = Number(value.toPrecision(digits));
    if (Math.fround(candidate) === value) return candidate;
  }
  return value;
}

// Writes text into the module's memory for a call (freed by the caller).
function moduleString(module, text) {
  const bytes = module.lengthBytesUTF8(text) + 1;
  const at = module._malloc(bytes);
  module.stringToUTF8(text, at, bytes);
  return at;
}

// --- The run -----------------------------------------------------------------

const session = {
  module: null, display: null, kernels: '', threads: 1, settings: { ...kDefaults },
  paused: false, stepsAsked: 0, restartAsked: false, redrawAsked: false, coloured: false, saveAsked: false,
  figures: false, since: 0, frames: 0, steps: 0, stepMs: 0, notes: [], output: [], errors: [], failed: false,
};

function device() {
  return `CPU (${session.kernels} kernels, ${session.threads} thread${session.threads > 1 ? 's' : ''}, WebAssembly)`;
}

function sendStatus(title) {
  const line = `${title} — ${session.kernels} kernels, ${session.threads} thread${session.threads > 1 ? 's' : ''}`;
  self.postMessage({ type: 'status', title, line, notes: session.notes, paused: session.paused,
                     coloured: session.coloured });
}

// The title as the window's live readout makes it.
function showState() {
  const step = session.module._sw_step_count();
  sendStatus(session.figures ? `${kTitle} - ${session.paused ? 'paused' : 'measuring'}, ${device()}, step ${step}`
                             : kTitle);
  session.since = performance.now();
  session.frames = 0;
  session.steps = 0;
  session.stepMs = 0;
}

function frameTimed(milliseconds, steps) {
  if (!session.figures) return;
  if (session.paused) {
    showState();
    return;
  }
  session.frames += 1;
  session.steps += steps;
  session.stepMs += milliseconds;
  const seconds = (performance.now() - session.since) / 1000;
  if (seconds < 1) return;
  const module = session.module;
  const framesPerSecond = session.frames / seconds;
  const msPerStep = session.stepMs / session.steps;
  const mcups = session.steps * module._sw_cell_count() / seconds / 1e6;
  const step = module._sw_step_count();
  sendStatus(`${kTitle} - ${framesPerSecond.toFixed(1)} frames/s, ${msPerStep.toFixed(2)} ms/step, ` +
             `${mcups.toFixed(1)} M cell updates/s, ${device()}, step ${step}`);
  const volume = module._sw_volume();
  const still = module._sw_still_volume();
  const drift = (volume - still) / still;
  self.postMessage({ type: 'figures', lines: [
    `${framesPerSecond.toFixed(1)} frames/s, ${msPerStep.toFixed(2)} ms/step`,
    `${mcups.toFixed(1)} M cell updates/s`, device(), `step ${step}`,
    `volume ${volume.toFixed(3)}, drift ${drift >= 0 ? '+' : ''}${drift.toPrecision(3)}`] });
  session.since = performance.now();
  session.frames = 0;
  session.steps = 0;
  session.stepMs = 0;
}

function fail(message) {
  session.failed = true;
  self.postMessage({ type: 'error', message });
}

// A failed call has printed its lines on standard error.
function failedCall(what) {
  fail(`${what} failed:\n${session.errors.join('\n')}`);
}

function tick() {
  if (session.failed) return;
  const module = session.module;
  let pixels = 0;
  let stepped = false;
  if (session.restartAsked) {
    session.restartAsked = false;
    pixels = module._sw_restart();
    if (pixels === 0) return failedCall('Restarting the water');
    showState();
    session.redrawAsked = true;
  }
  const step = !session.paused || session.stepsAsked > 0;
  if (step) {
    if (session.paused) session.stepsAsked -= 1;
    const started = performance.now();
    const steps = session.settings.stepsPerFrame;
    pixels = module._sw_frame(steps);
    if (pixels === 0) return failedCall('A frame');
    stepped = true;
    frameTimed(performance.now() - started, steps);
  }
  if (session.redrawAsked && pixels === 0) {
    pixels = module._sw_redisplay();
    if (pixels === 0) return failedCall('Drawing the water');
  }
  if (stepped || session.redrawAsked) {
    session.redrawAsked = false;
    draw(session.display, module, pixels, session.coloured);
    if (session.saveAsked) saveView();
  }
  nextTick();
}

function nextTick() {
  if (typeof self.requestAnimationFrame === 'function') self.requestAnimationFrame(tick);
  else setTimeout(tick, 16);
}

// S: the view as drawn, at the canvas's size, named after the step.
function saveView() {
  session.saveAsked = false;
  const name = `shallow-water-step-${session.module._sw_step_count()}.png`;
  session.display.canvas.convertToBlob({ type: 'image/png' })
    .then((blob) => self.postMessage({ type: 'snapshot', blob, name }))
    .catch((error) => self.postMessage({ type: 'figures', lines: [`The view could not be saved: ${error.message}`] }));
}

function applySettings(settings) {
  const module = session.module;
  const old = session.settings;
  session.settings = { ...settings };
  module._sw_set_rain(settings.rainFalls ? 1 : 0, settings.rainChance, settings.dropRadius, settings.dropStrength);
  if (settings.relaxation !== old.relaxation) module._sw_set_relaxation(settings.relaxation);
  if (settings.depthBlack !== old.depthBlack || settings.depthWhite !== old.depthWhite) {
    module._sw_set_depth_range(settings.depthBlack, settings.depthWhite);
    session.redrawAsked = true;
  }
}

function command(message) {
  switch (message.command) {
  case 'togglePause':
    session.paused = !session.paused;
    session.stepsAsked = 0;
    showState();
    break;
  case 'step':
    if (session.paused) session.stepsAsked += 1;
    break;
  case 'restart':
    session.restartAsked = true;
    break;
  case 'toggleColours':
    session.coloured = !session.coloured;
    session.redrawAsked = true;
    showState();
    break;
  case 'save':
    session.saveAsked = true;
    session.redrawAsked = true;
    break;
  case 'figures':
    session.figures = message.on;
    showState();
    break;
  }
}

// The headless runner, with the URL's options: its standard output goes
// to the page's checksum element exactly as the program prints it.
function runHeadless(module, args) {
  const status = module.callMain(args);
  if (status !== 0 && status !== undefined) {
    fail(session.errors.join('\n') || `The run ended with status ${status}.`);
    return;
  }
  self.postMessage({ type: 'checksum', text: session.output.map((line) => `${line}\n`).join('') });
}

async function start(message) {
  const parameters = new URLSearchParams(message.search);
  const fakeUnfused = parameters.has('test-unfused-madd');
  const { kernels, note: kernelNote } =
    await chooseKernels(parameters.has('kernels') ? parameters.get('kernels') : undefined, fakeUnfused);
  const { threads, note: threadNote } = chooseThreads(
    parameters.has('threads') ? parameters.get('threads') : undefined, message.cores, message.isolated);
  session.kernels = kernels;
  session.threads = threads;
  session.notes = [kernelNote, threadNote].filter(Boolean);
  const args = optionArguments(parameters);
  const headless =
    args.some((arg) => ['--checksum', '--volume', '--bench', '--frames', '--help', '--version'].includes(arg));
  if (args.includes('--png') || args.includes('--video'))
    throw new Error('The page writes no files: --png and --video are for the headless program. Press S to save the view.');

  session.output = [];
  const output = {
    print: (line) => session.output.push(line),
    printErr: (line) => session.errors.push(line),
  };
  const module = await loadModule(kernels, threads, output);
  session.module = module;
  if (headless) {
    sendStatus(kTitle);
    return runHeadless(module, args);
  }

  const options = moduleString(module, args.join('\n'));
  const status = module._sw_start(options);
  module._free(options);
  if (status !== 0) return fail(session.errors.join('\n'));
  session.display = createDisplay(message.canvas, module._sw_grid_width(), module._sw_grid_height());
  session.settings = {
    ...kDefaults, stepsPerFrame: module._sw_steps_per_frame(), rainFalls: module._sw_rain_falls() !== 0,
    rainChance: shortest(module._sw_rain_chance()), dropRadius: shortest(module._sw_drop_radius()),
    dropStrength: shortest(module._sw_drop_strength()),
  };
  // The options the module has checked and set, for the panel.
  if (parameters.has('relaxation')) session.settings.relaxation = Number(parameters.get('relaxation'));
  if (parameters.has('depth-range')) {
    const [black, white] = parameters.get('depth-range').split(',').map(Number);
    session.settings.depthBlack = black;
    session.settings.depthWhite = white;
  }
  self.postMessage({ type: 'ready', title: kTitle, kernels, threads, notes: session.notes,
                     settings: session.settings, defaults: kDefaults, ranges: kRanges });
  sendStatus(kTitle);
  nextTick();
}

self.onmessage = (event) => {
  const message = event.data;
  if (message.type === 'start') {
    start(message).catch((error) => fail(error.message));
    return;
  }
  if (session.module === null || session.failed) return;
  if (message.type === 'command') command(message);
  if (message.type === 'settings') applySettings(message.settings);
  if (message.type === 'pointer') {
    const phase = { press: 0, move: 1, release: 2 }[message.phase];
    session.module._sw_pointer(phase, message.x, message.y, message.width, message.height);
  }
};
