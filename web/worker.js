// The page's worker: decodes the photograph, renders it with the renderer built
// to WebAssembly (patinex-simd.js or patinex-plain.js, as the page chose), and
// encodes what is saved. One thread: the page never waits on it, and it renders
// one request after another in the order they come.
"use strict";

let wasm = null;        // the module
let setting = 0;        // the full-size render's setting (patinex_new)
let playSetting = 0;    // the played frames' (their own scratch cache)
let picture = null;     // {name, width, height, src, dst} (heap addresses)
let renderedKey = null; // the settings and frame dst holds
let reduced = null;     // {width, height, src, dst}: the played frames' source
let pngReady = false;

function post(message, transfer) { postMessage(message, transfer || []); }

function fail(text) { post({kind: "error", text: text}); }

function heap() { return wasm.HEAPU8; }

function freePicture() {
  if (picture) {
    wasm._free(picture.src);
    wasm._free(picture.dst);
    picture = null;
  }
  freeReduced();
  renderedKey = null;
}

function freeReduced() {
  if (reduced) {
    wasm._free(reduced.src);
    wasm._free(reduced.dst);
    reduced = null;
  }
}

function applyValues(target, values) {
  values.forEach((v, i) => wasm._patinex_set(target, i, v[0], v[1], v[2]));
}

async function init(build) {
  importScripts("patinex-" + build + ".js");
  wasm = await createPatinex();
  setting = wasm._patinex_new();
  playSetting = wasm._patinex_new();
  post({kind: "ready", kernel: wasm.UTF8ToString(wasm._patinex_kernel()), build: build});
}

async function open(file) {
  let bitmap;
  try {
    // The file's own pixels: no colour conversion, no premultiplied alpha,
    // turned as its EXIF orientation says.
    bitmap = await createImageBitmap(file, {colorSpaceConversion: "none",
                                            premultiplyAlpha: "none",
                                            imageOrientation: "from-image"});
  } catch (e) {
    fail("\u201c" + file.name + "\u201d is not a picture this browser can read. " +
         "Open a JPEG, PNG or WebP photograph.");
    return;
  }
  const width = bitmap.width, height = bitmap.height;
  if (width > 32767 || height > 32767) {
    bitmap.close();
    fail("\u201c" + file.name + "\u201d is " + width + " \u00d7 " + height +
         " pixels: Patinex takes at most 32767 pixels on a side.");
    return;
  }
  freePicture();
  const bytes = width * height * 4;
  const src = wasm._malloc(bytes);
  const dst = src ? wasm._malloc(bytes) : 0;
  let pixels = null;
  if (src && dst) {
    try {
      const canvas = new OffscreenCanvas(width, height);
      const context = canvas.getContext("2d", {willReadFrequently: true});
      context.drawImage(bitmap, 0, 0);
      pixels = context.getImageData(0, 0, width, height).data;
    } catch (e) {
      pixels = null;
    }
  }
  bitmap.close();
  if (!pixels || pixels.length !== bytes) {
    if (src) wasm._free(src);
    if (dst) wasm._free(dst);
    fail("\u201c" + file.name + "\u201d (" + width + " \u00d7 " + height +
         " pixels) is too large for this browser's memory. Try a smaller picture, " +
         "or close other tabs.");
    return;
  }
  heap().set(pixels, src);
  picture = {name: file.name, width: width, height: height, src: src, dst: dst};
  post({kind: "opened", name: file.name, width: width, height: height});
}

// Renders the full-size picture for `values` at `frame`, unless dst holds it.
function renderFull(values, frame) {
  const key = JSON.stringify([values, frame]);
  if (key === renderedKey) return 0;
  applyValues(setting, values);
  const start = performance.now();
  const ok = wasm._patinex_render(setting, picture.src, picture.dst, picture.width,
                                  picture.height, frame, 1);
  renderedKey = ok ? key : null;
  return ok ? performance.now() - start : -1;
}

function render(m) {
  if (!picture) return;
  const ms = renderFull(m.values, m.frame);
  if (ms < 0) {
    fail("The render failed: the browser has no memory left for it.");
    post({kind: "rendered", id: m.id, failed: true});
    return;
  }
  const w = picture.width, h = picture.height;
  let out, ow, oh;
  if (m.full || (m.width >= w && m.height >= h)) {
    out = heap().slice(picture.dst, picture.dst + w * h * 4);
    ow = w;
    oh = h;
  } else {
    ow = Math.max(1, Math.min(w, m.width));
    oh = Math.max(1, Math.min(h, m.height));
    const at = wasm._malloc(ow * oh * 4);
    if (!at || !wasm._patinex_reduce(picture.dst, w, h, at, ow, oh)) {
      if (at) wasm._free(at);
      fail("The preview could not be made: the browser has no memory left for it.");
      return;
    }
    out = heap().slice(at, at + ow * oh * 4);
    wasm._free(at);
  }
  post({kind: "rendered", id: m.id, width: ow, height: oh, full: ow === w && oh === h,
        pixels: out.buffer, ms: ms}, [out.buffer]);
}

// One frame of the film at the preview's size: the picture reduced by
// averaging, rendered by the same renderer.
function playFrame(m) {
  if (!picture) return;
  const w = Math.max(1, Math.min(picture.width, m.width));
  const h = Math.max(1, Math.min(picture.height, m.height));
  if (!reduced || reduced.width !== w || reduced.height !== h) {
    freeReduced();
    const src = wasm._malloc(w * h * 4);
    const dst = src ? wasm._malloc(w * h * 4) : 0;
    if (!dst || !wasm._patinex_reduce(picture.src, picture.width, picture.height, src, w, h)) {
      if (src) wasm._free(src);
      if (dst) wasm._free(dst);
      fail("The film cannot play: the browser has no memory left for it.");
      post({kind: "played", id: m.id, failed: true});
      return;
    }
    reduced = {width: w, height: h, src: src, dst: dst};
  }
  applyValues(playSetting, m.values);
  wasm._patinex_render(playSetting, reduced.src, reduced.dst, w, h, m.frame, 0);
  const out = heap().slice(reduced.dst, reduced.dst + w * h * 4);
  post({kind: "played", id: m.id, frame: m.frame, width: w, height: h, pixels: out.buffer},
       [out.buffer]);
}

async function save(m) {
  if (!picture) return;
  if (renderFull(m.values, m.frame) < 0) {
    fail("The picture could not be saved: the browser has no memory left for it.");
    return;
  }
  const w = picture.width, h = picture.height;
  const pixels = heap().subarray(picture.dst, picture.dst + w * h * 4);
  const base = picture.name.replace(/\.[^.]*$/, "") || "picture";
  let blob;
  try {
    if (m.type === "png") {
      if (!pngReady) {
        importScripts("png.js");
        pngReady = true;
      }
      blob = await EncodePng(pixels, w, h);
    } else {
      const canvas = new OffscreenCanvas(w, h);
      const copy = new Uint8ClampedArray(pixels);
      canvas.getContext("2d").putImageData(new ImageData(copy, w, h), 0, 0);
      blob = await canvas.convertToBlob({type: "image/jpeg", quality: 0.92});
    }
  } catch (e) {
    fail("The picture could not be saved: " + e.message);
    return;
  }
  post({kind: "saved", blob: blob, name: base + "-patinex." + (m.type === "png" ? "png" : "jpg")});
}

// Messages run one after another: a render waits for the open before it.
let queue = Promise.resolve();
onmessage = (event) => {
  const m = event.data;
  queue = queue.then(async () => {
    try {
      if (m.kind === "init") await init(m.build);
      else if (!wasm) fail("The renderer did not load.");
      else if (m.kind === "open") await open(m.file);
      else if (m.kind === "render") render(m);
      else if (m.kind === "play") playFrame(m);
      else if (m.kind === "save") await save(m);
    } catch (e) {
      fail("Something went wrong in the renderer: " + e.message);
    }
    post({kind: "done", request: m.kind, id: m.id});
  });
};
