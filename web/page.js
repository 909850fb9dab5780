// The page: its controls (written from the parameter table into index.html,
// kParams beside them), the preview, Play, Save, and the worker that renders.
"use strict";

const $ = (id) => document.getElementById(id);

// A module that uses one SIMD instruction (i8x16.splat of 0): validated only by
// a browser that runs WebAssembly's 128-bit SIMD. "?build=plain" or
// "?build=simd" in the address chooses by hand.
const kSimdProbe = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1,
                                   0, 10, 10, 1, 8, 0, 65, 0, 253, 15, 253, 98, 11]);

function ChosenBuild() {
  const asked = new URLSearchParams(location.search).get("build");
  if (asked === "plain" || asked === "simd") return asked;
  return WebAssembly.validate(kSimdProbe) ? "simd" : "plain";
}

const state = {
  worker: null,
  opened: null,       // {name, width, height}
  busy: false,        // a render is in the worker
  pending: false,     // settings changed while it was
  renderId: 0,
  playing: false,
  playTimer: 0,
  lastFrameAt: 0,
};

function SetMessage(text) {
  $("message").textContent = text || "";
}

function SetStatus(kind, text, percent) {
  $("status").dataset.state = kind;
  $("status-text").textContent = text;
  if (percent === undefined) $("progress").removeAttribute("value");
  else $("progress").value = percent;
}

// ---- settings ----------------------------------------------------------------

function Clamp(v, low, high) {
  return Math.min(high, Math.max(low, v));
}

function NumberOf(input, row) {
  let v = Number(input.value);
  if (input.value === "" || !Number.isFinite(v)) v = row ? row.defaults[0] : 0;
  v = Clamp(v, Number(input.min), Number(input.max));
  if (!row || row.whole) v = Math.round(v);
  return v;
}

// Each frei0r parameter's values as the editors store them: (value - low) /
// (high - low), a colour's channels over 255, a switch 1 or 0.
function Values() {
  return kParams.map((row) => {
    const input = $(row.id);
    if (row.kind === "color") {
      const hex = input.value;
      return [1, 3, 5].map((at) => parseInt(hex.substr(at, 2), 16) / 255);
    }
    if (row.kind === "switch") return [input.checked ? 1 : 0, 0, 0];
    return [(NumberOf(input, row) - row.low) / (row.high - row.low), 0, 0];
  });
}

function Frame() {
  return NumberOf($("frame"), null);
}

function FrameRate() {
  const row = kParams.find((r) => r.name === "Film Frame Rate");
  return NumberOf($(row.id), row);
}

function ShowScaleAuto() {
  const row = kParams.find((r) => r.name === "Scale");
  const output = $(row.id + "-auto");
  if (output) output.textContent = NumberOf($(row.id), row) === 0 ? "Auto" : "";
}

// A number and its slider show the same value; the number is the one read.
function WireNumber(id, row) {
  const number = $(id), slider = $(id + "-slider");
  const fromNumber = () => {
    const v = NumberOf(number, row);
    if (slider) slider.value = Math.min(v, Number(slider.max));
  };
  number.addEventListener("input", () => {
    fromNumber();
    Changed();
  });
  number.addEventListener("change", () => {
    number.value = NumberOf(number, row);
    fromNumber();
    Changed();
  });
  if (slider) {
    slider.addEventListener("input", () => {
      number.value = slider.value;
      Changed();
    });
  }
}

function SetNumber(id, v) {
  $(id).value = v;
  const slider = $(id + "-slider");
  if (slider) slider.value = Math.min(v, Number(slider.max));
}

function Reset() {
  for (const row of kParams) {
    const input = $(row.id);
    if (row.kind === "color") {
      input.value = "#" + row.defaults.map((c) => c.toString(16).padStart(2, "0")).join("");
    } else if (row.kind === "switch") {
      input.checked = row.defaults[0] !== 0;
    } else {
      SetNumber(row.id, row.defaults[0]);
    }
  }
  SetNumber("frame", 0);
  Changed();
}

function Step(id, by) {
  const input = $(id);
  const row = kParams.find((r) => r.id === id) || null;
  SetNumber(id, Clamp(NumberOf(input, row) + by, Number(input.min), Number(input.max)));
  Changed();
}

// ---- the preview ---------------------------------------------------------------

// The preview's size: the picture reduced to fit the view (never enlarged);
// the whole picture at 100 %.
function PreviewSize() {
  const o = state.opened;
  if ($("full-size").checked) return {width: o.width, height: o.height};
  const box = $("view");
  const maxWidth = Math.max(64, box.clientWidth - 4);
  const maxHeight = Math.max(64, Math.round(window.innerHeight * 0.7));
  const f = Math.min(1, maxWidth / o.width, maxHeight / o.height);
  return {width: Math.max(1, Math.round(o.width * f)), height: Math.max(1, Math.round(o.height * f))};
}

function Draw(pixels, width, height) {
  const canvas = $("preview");
  canvas.width = width;
  canvas.height = height;
  canvas.getContext("2d").putImageData(
      new ImageData(new Uint8ClampedArray(pixels), width, height), 0, 0);
}

function Changed() {
  ShowScaleAuto();
  if (!state.opened || state.playing) return;
  if (state.busy) {
    state.pending = true;
    return;
  }
  RequestRender();
}

function RequestRender() {
  const size = PreviewSize();
  state.busy = true;
  state.pending = false;
  state.renderId += 1;
  SetStatus("rendering", "Rendering " + state.opened.width + " \u00d7 " + state.opened.height + "\u2026", 0);
  state.worker.postMessage({kind: "render", id: state.renderId, values: Values(), frame: Frame(),
                            width: size.width, height: size.height, full: $("full-size").checked});
}

// ---- Play ------------------------------------------------------------------------

function SetPlaying(on) {
  state.playing = on;
  $("play").textContent = on ? "Stop" : "Play";
  $("play").setAttribute("aria-pressed", on ? "true" : "false");
  if (on) {
    RequestPlayFrame();
  } else {
    clearTimeout(state.playTimer);
    Changed();
  }
}

function RequestPlayFrame() {
  const o = state.opened;
  const box = $("view");
  const f = Math.min(1, Math.max(64, box.clientWidth - 4) / o.width,
                     Math.max(64, Math.round(window.innerHeight * 0.7)) / o.height);
  state.lastFrameAt = performance.now();
  state.worker.postMessage({kind: "play", id: 0, values: Values(), frame: Frame(),
                            width: Math.max(1, Math.round(o.width * f)),
                            height: Math.max(1, Math.round(o.height * f))});
}

// ---- Save ----------------------------------------------------------------------

function Save(type) {
  if (!state.opened) {
    SetMessage("Open a photograph first.");
    return;
  }
  SetStatus("saving", "Saving\u2026");
  state.worker.postMessage({kind: "save", type: type, values: Values(), frame: Frame()});
}

function Download(blob, name) {
  const a = document.createElement("a");
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 60000);
}

// ---- the worker --------------------------------------------------------------------

function OnWorkerMessage(event) {
  const m = event.data;
  switch (m.kind) {
    case "ready":
      $("kernel").textContent = "Renderer: WebAssembly" + (m.build === "simd" ? " with SIMD" : "") +
                                " (" + m.kernel + " tone rows).";
      document.body.dataset.kernel = m.kernel;
      SetStatus("idle", "Open a photograph to begin.", 0);
      break;
    case "opened":
      state.opened = {name: m.name, width: m.width, height: m.height};
      $("file-name").textContent = m.name + ", " + m.width + " \u00d7 " + m.height + " pixels";
      SetMessage("");
      RequestRender();
      break;
    case "closed":
      state.opened = null;
      state.busy = false;
      $("file-name").textContent = "JPEG, PNG or WebP; or drop one here.";
      Draw(new Uint8ClampedArray(4), 1, 1);
      break;
    case "progress":
      // Each pass counts from 0: the bar shows the furthest any has come.
      $("progress").value = Math.max($("progress").value, Math.round(100 * m.done / m.total));
      break;
    case "rendered":
      state.busy = false;
      if (!m.failed) {
        Draw(m.pixels, m.width, m.height);
        $("preview").classList.toggle("full", $("full-size").checked);
        SetStatus("ready", (m.full ? "Shown at 100 %" : "Reduced by averaging to " + m.width +
                  " \u00d7 " + m.height) + "." +
                  (m.ms === null ? "" : " Rendered in " + Math.round(m.ms) + " ms."), 100);
        if (m.ms !== null) $("status").dataset.renderMs = String(m.ms);
        $("status").dataset.rendered = String(m.id);
      }
      if (state.pending && !state.playing) RequestRender();
      break;
    case "played":
      if (!m.failed && state.playing) {
        Draw(m.pixels, m.width, m.height);
        SetStatus("playing", "Playing: frame " + m.frame + ".", 100);
        const wait = 1000 / Math.max(1, FrameRate()) - (performance.now() - state.lastFrameAt);
        state.playTimer = setTimeout(() => {
          if (!state.playing) return;
          SetNumber("frame", (Frame() + 1) % (Number($("frame").max) + 1));
          RequestPlayFrame();
        }, Math.max(0, wait));
      } else if (m.failed) {
        SetPlaying(false);
      }
      break;
    case "saved":
      Download(m.blob, m.name);
      SetStatus("ready", "Saved " + m.name + ".", 100);
      break;
    case "error":
      state.busy = false;
      SetMessage(m.text);
      SetStatus("error", "", 0);
      break;
  }
}

function Open(file) {
  if (!file) return;
  if (state.playing) SetPlaying(false);
  SetMessage("");
  SetStatus("opening", "Opening " + file.name + "\u2026");
  state.worker.postMessage({kind: "open", file: file});
}

function Start() {
  if (typeof WebAssembly !== "object" || typeof Worker !== "function") {
    SetMessage("This browser cannot run the renderer: it needs WebAssembly and workers.");
    return;
  }
  if (location.protocol === "file:") {
    SetMessage("Open this page through a web server (for example python3 -m http.server " +
               "-d build/web, then http://localhost:8000/): browsers do not start its worker " +
               "from a file.");
  }
  state.worker = new Worker("worker.js");
  state.worker.onmessage = OnWorkerMessage;
  state.worker.onerror = () => SetMessage("The renderer could not be started in this browser.");
  state.worker.postMessage({kind: "init", build: ChosenBuild()});

  for (const row of kParams) {
    const input = $(row.id);
    if (row.kind === "value") WireNumber(row.id, row);
    else input.addEventListener("input", Changed);
    if (row.kind === "switch") input.addEventListener("change", Changed);
  }
  WireNumber("frame", null);
  for (const button of document.querySelectorAll("button.step")) {
    button.addEventListener("click", () => Step(button.dataset.for, Number(button.dataset.step)));
  }
  $("reset").addEventListener("click", Reset);
  $("save-png").addEventListener("click", () => Save("png"));
  $("save-jpeg").addEventListener("click", () => Save("jpeg"));
  $("full-size").addEventListener("change", () => {
    if (state.opened && !state.playing) RequestRender();
  });
  $("play").addEventListener("click", () => {
    if (!state.opened) {
      SetMessage("Open a photograph first.");
      return;
    }
    SetPlaying(!state.playing);
  });
  $("file").addEventListener("change", () => Open($("file").files[0]));
  const drop = document.body;
  drop.addEventListener("dragover", (e) => e.preventDefault());
  drop.addEventListener("drop", (e) => {
    e.preventDefault();
    Open(e.dataTransfer.files[0]);
  });
  let resizeTimer = 0;
  window.addEventListener("resize", () => {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(() => {
      if (state.opened && !state.playing && !$("full-size").checked) Changed();
    }, 200);
  });
  ShowScaleAuto();
}

Start();
