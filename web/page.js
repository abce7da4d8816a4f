// The page's main thread: checks that the browser can run the simulation,
// hands the canvas to the worker (simulation_worker.js), which steps the
// water and draws it, and passes the keys, the pointer and the settings
// panel to it. Everything the worker reports is shown here.
'use strict';

const PAGE_TITLE = 'Hello World';

// A module with one function returning i8x16.popcnt(i8x16.splat(0)): it
// validates only where the browser has WebAssembly SIMD.
const SIMD_PROBE = new Uint8Array([
  0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0, 65, 0, 253, 15, 253, 98, 11,
]);

const CURRENT_BROWSERS = 'Use a current Chrome, Edge, Firefox or Safari.';

// Black must stay below white by at least this much.
const DEPTH_GAP = 0.0001;

// Used where the worker gives no range for the steps a frame.
const STEPS_PER_FRAME_RANGE = {min: 1, max: 64, step: 1};

const elements = {
  canvas: document.getElementById('water'),
  status: document.getElementById('status'),
  notes: document.getElementById('notes'),
  error: document.getElementById('error'),
  checksum: document.getElementById('checksum'),
  help: document.getElementById('help'),
  figures: document.getElementById('figures'),
  panel: document.getElementById('panel'),
  pauseButton: document.getElementById('pause-button'),
  colouredBox: document.getElementById('coloured-box'),
  figuresBox: document.getElementById('figures-box'),
};

const state = {
  worker: null,
  running: false,  // 'ready' came and no error since: input goes to the worker
  failed: false,
  settings: null,
  defaults: null,
  ranges: null,
  pressedPointer: null,  // the pointerId of the press being dragged, if any
};

// ---- Failures -------------------------------------------------------------

// Shows a failure instead of the water; a later one is added under the first.
function showError(text) {
  elements.error.textContent = state.failed ? `${elements.error.textContent}\n\n${text}` : text;
  state.failed = true;
  state.running = false;
  elements.error.hidden = false;
  elements.canvas.hidden = true;
  elements.status.textContent = 'The simulation is not running.';
  setPanelEnabled(false);
  document.title = `${PAGE_TITLE} - error`;
}

function hasWasmSimd() {
  if (typeof WebAssembly !== 'object' || typeof WebAssembly.validate !== 'function') return false;
  try {
    return WebAssembly.validate(SIMD_PROBE);
  } catch {
    return false;
  }
}

// The first thing missing for the simulation, as a message, or null.
function missingFeature() {
  if (!hasWasmSimd()) {
    return 'This browser has no WebAssembly SIMD (or WebAssembly is turned off, as some strict ' +
      'security settings do), which the simulation\'s compiled code needs. ' + CURRENT_BROWSERS;
  }
  if (typeof Worker !== 'function') {
    return 'This browser has no Web Workers, which run the simulation beside the page. ' + CURRENT_BROWSERS;
  }
  if (typeof OffscreenCanvas !== 'function' || typeof elements.canvas.transferControlToOffscreen !== 'function') {
    return 'This browser cannot hand a canvas to a worker (no OffscreenCanvas), which the simulation ' +
      'draws into. ' + CURRENT_BROWSERS;
  }
  return null;
}

function workerFailureText(message) {
  const what = state.running ? 'The simulation\'s worker stopped with an error' : 'The simulation\'s worker failed to start';
  let text = `${what}: ${message || 'its script could not be loaded or run'}`;
  if (location.protocol === 'file:') {
    text += '\nServe the folder over HTTP (scripts/web), not from a file: URL.';
  }
  return text;
}

// ---- The worker -----------------------------------------------------------

function post(message) {
  if (state.running) state.worker.postMessage(message);
}

function postCommand(command, extra) {
  post({type: 'command', command, ...extra});
}

function startWorker() {
  try {
    state.worker = new Worker('simulation_worker.js');
  } catch (error) {
    showError(workerFailureText(error.message));
    return;
  }
  state.worker.onerror = (event) => showError(workerFailureText(event.message));
  state.worker.onmessageerror = () => showError('A message from the simulation\'s worker could not be read.');
  state.worker.onmessage = (event) => handleWorkerMessage(event.data);

  let offscreen;
  try {
    offscreen = elements.canvas.transferControlToOffscreen();
  } catch (error) {
    showError(`The canvas could not be handed to the simulation's worker: ${error.message}`);
    return;
  }
  state.worker.postMessage({
    type: 'start',
    search: location.search,
    canvas: offscreen,
    cores: navigator.hardwareConcurrency || 1,
    isolated: self.crossOriginIsolated === true,
  }, [offscreen]);
}

const messageHandlers = {
  error: (data) => showError(data.message),
  ready: showReady,
  status: showStatus,
  figures: (data) => { elements.figures.textContent = data.lines.join('\n'); },
  snapshot: (data) => download(data.blob, data.name),
  checksum: (data) => { elements.checksum.textContent = data.text; },
  settings: (data) => showSettings(data.settings),
};

function handleWorkerMessage(data) {
  const handler = messageHandlers[data && data.type];
  if (handler) {
    handler(data);
  } else {
    console.warn('The simulation\'s worker sent a message of no known type:', data);
  }
}

function showReady(data) {
  if (state.failed) return;
  state.running = true;
  state.defaults = {...data.defaults};
  state.ranges = {stepsPerFrame: STEPS_PER_FRAME_RANGE, ...data.ranges};
  document.title = data.title;
  const threadWord = data.threads === 1 ? 'thread' : 'threads';
  elements.status.textContent = `${data.title} — ${data.kernels} kernels, ${data.threads} ${threadWord}`;
  elements.notes.textContent = (data.notes || []).join('\n');
  setUpRanges(state.ranges);
  showSettings(data.settings);
  setPanelEnabled(true);
}

function showStatus(data) {
  if (state.failed) return;  // the title keeps saying there is an error
  document.title = data.title;
  elements.status.textContent = data.line;
  if (Array.isArray(data.notes)) elements.notes.textContent = data.notes.join('\n');
  const paused = typeof data.paused === 'boolean' ? data.paused : /paused/i.test(data.title);
  elements.pauseButton.textContent = paused ? 'Resume' : 'Pause';
  if (typeof data.coloured === 'boolean') elements.colouredBox.checked = data.coloured;
}

function download(blob, name) {
  const url = URL.createObjectURL(blob);
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  // Some browsers read the URL after click() returns.
  setTimeout(() => URL.revokeObjectURL(url), 1000);
}

// ---- Keys -----------------------------------------------------------------

const KEY_COMMANDS = {
  ' ': 'togglePause',
  p: 'togglePause',
  arrowright: 'step',
  n: 'step',
  r: 'restart',
  c: 'toggleColours',
  s: 'save',
};

function isPanelControl(target) {
  return target instanceof Element && elements.panel.contains(target) && target.matches('input, button, select');
}

function onKeyDown(event) {
  // Some browsers send keydown without a key, for example when filling in forms.
  if (event.ctrlKey || event.altKey || event.metaKey || typeof event.key !== 'string') return;
  const key = event.key.toLowerCase();
  if (isPanelControl(event.target)) {
    if (key === 'escape') event.target.blur();
    return;
  }
  if (handleKey(key, event.repeat)) event.preventDefault();
}

// Acts on one key; true where the key is one of the page's.
function handleKey(key, repeated) {
  const command = KEY_COMMANDS[key];
  if (command) {
    // Holding N advances frame after frame; the other keys act once a press.
    if (!repeated || command === 'step') postCommand(command);
    return true;
  }
  if (repeated) return ['i', 'g', 'tab', 'h'].includes(key);
  switch (key) {
  case 'i': toggleFigures(); return true;
  case 'g':
  case 'tab': togglePanel(); return true;
  case 'h': elements.help.hidden = !elements.help.hidden; return true;
  default: return false;
  }
}

function toggleFigures() {
  setFigures(elements.figures.hidden);
}

function setFigures(on) {
  if (!state.running) return;
  elements.figures.hidden = !on;
  elements.figuresBox.checked = on;
  postCommand('figures', {on});
}

function togglePanel() {
  const panel = elements.panel;
  if (!panel.hidden && panel.contains(document.activeElement)) document.activeElement.blur();
  panel.hidden = !panel.hidden;
}

// ---- Pointer --------------------------------------------------------------

function postPointer(phase, event) {
  const rect = elements.canvas.getBoundingClientRect();
  post({
    type: 'pointer',
    phase,
    x: event.clientX - rect.left,
    y: event.clientY - rect.top,
    width: rect.width,
    height: rect.height,
  });
}

function onPointerDown(event) {
  if (!event.isPrimary || event.button !== 0) return;
  // Keys go back to the simulation, and no text is selected while dragging.
  if (isPanelControl(document.activeElement)) document.activeElement.blur();
  event.preventDefault();
  elements.canvas.setPointerCapture(event.pointerId);
  state.pressedPointer = event.pointerId;
  postPointer('press', event);
}

function onPointerMove(event) {
  if (event.pointerId === state.pressedPointer) postPointer('move', event);
}

function onPointerRelease(event) {
  if (event.pointerId !== state.pressedPointer) return;
  state.pressedPointer = null;
  postPointer('release', event);
}

function listenToPointer() {
  const canvas = elements.canvas;
  canvas.addEventListener('pointerdown', onPointerDown);
  canvas.addEventListener('pointermove', onPointerMove);
  canvas.addEventListener('pointerup', onPointerRelease);
  canvas.addEventListener('pointercancel', onPointerRelease);
  canvas.addEventListener('lostpointercapture', onPointerRelease);
}

// ---- Settings panel -------------------------------------------------------

function settingInputs(key) {
  return elements.panel.querySelectorAll(`input[data-setting="${key}"]`);
}

function numericKeys() {
  const keys = new Set();
  for (const input of elements.panel.querySelectorAll('input[type="range"][data-setting]')) {
    keys.add(input.dataset.setting);
  }
  return [...keys];
}

function setUpRanges(ranges) {
  for (const key of numericKeys()) {
    const range = ranges[key];
    if (!range) continue;
    for (const input of settingInputs(key)) {
      input.min = range.min;
      input.max = range.max;
      input.step = range.step;
    }
  }
}

function setPanelEnabled(enabled) {
  for (const control of elements.panel.elements) control.disabled = !enabled;
}

// Drops the binary noise of sums such as 0.3 - 0.0001.
function tidy(value) {
  return Math.round(value * 1e9) / 1e9;
}

function clampToRange(key, value) {
  const range = state.ranges[key];
  let clamped = range ? Math.min(range.max, Math.max(range.min, value)) : value;
  if (key === 'stepsPerFrame') clamped = Math.round(clamped);
  return clamped;
}

// The value to keep for a key: within its range, black below white.
function clampSetting(key, value) {
  let clamped = clampToRange(key, value);
  if (key === 'depthBlack') clamped = Math.min(clamped, tidy(state.settings.depthWhite - DEPTH_GAP));
  if (key === 'depthWhite') clamped = Math.max(clamped, tidy(state.settings.depthBlack + DEPTH_GAP));
  return clamped;
}

// Writes the settings into the controls; sends nothing.
function showSettings(settings) {
  state.settings = {...settings};
  for (const [key, value] of Object.entries(state.settings)) {
    for (const input of settingInputs(key)) {
      if (input.type === 'checkbox') input.checked = value;
      else input.value = value;
    }
  }
}

function postSettings() {
  post({type: 'settings', settings: {...state.settings}});
}

// A slider moved or a number was typed: keep it clamped, show it in both
// controls and send the settings.
function onNumberChanged(input) {
  const key = input.dataset.setting;
  const typed = input.valueAsNumber;
  const value = Number.isFinite(typed) ? clampSetting(key, typed) : state.settings[key];
  state.settings[key] = value;
  for (const other of settingInputs(key)) other.value = value;
  postSettings();
}

function applyDefaults(keys) {
  const chosen = keys === 'all' ? Object.keys(state.defaults) : keys.split(' ');
  for (const key of chosen) state.settings[key] = state.defaults[key];
  showSettings(state.settings);
  postSettings();
}

// A button clicked with the mouse or a finger gives the keys back to the
// simulation (Space would press it again); one pressed from the keyboard
// keeps the focus.
function releaseFocusAfterClick(button, event) {
  if (event.detail > 0) button.blur();
}

function onPanelClick(event) {
  const button = event.target.closest('button');
  if (!button) return;
  if (button.dataset.command) postCommand(button.dataset.command);
  if (button.dataset.defaults) applyDefaults(button.dataset.defaults);
  releaseFocusAfterClick(button, event);
}

function onPanelInput(event) {
  const input = event.target;
  // Sliders send as they move; number boxes once the value is entered.
  if (input.type === 'range') onNumberChanged(input);
}

function onPanelChange(event) {
  const input = event.target;
  if (input.type === 'number') {
    onNumberChanged(input);
  } else if (input.dataset.setting === 'rainFalls') {
    state.settings.rainFalls = input.checked;
    postSettings();
  } else if (input === elements.colouredBox) {
    postCommand('toggleColours');
  } else if (input === elements.figuresBox) {
    setFigures(input.checked);
  }
  // As for buttons: keys go back to the simulation.
  if (input.type === 'checkbox') input.blur();
}

function onPanelKeyDown(event) {
  // Enter in a number box enters the value instead of submitting the form.
  if (event.key === 'Enter' && event.target.type === 'number') {
    event.preventDefault();
    onNumberChanged(event.target);
  }
}

function listenToPanel() {
  const panel = elements.panel;
  panel.addEventListener('submit', (event) => event.preventDefault());
  panel.addEventListener('click', onPanelClick);
  panel.addEventListener('input', onPanelInput);
  panel.addEventListener('change', onPanelChange);
  panel.addEventListener('keydown', onPanelKeyDown);
}

// ---- Start ----------------------------------------------------------------

function main() {
  setPanelEnabled(false);
  const missing = missingFeature();
  if (missing) {
    showError(missing);
    return;
  }
  listenToPanel();
  listenToPointer();
  window.addEventListener('keydown', onKeyDown);
  startWorker();
}

main();
