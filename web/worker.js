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

// What the first bytes of a file the browser did not decode say: a format and
// the size it declares, when it is a PNG, JPEG or WebP; null otherwise.
function DeclaredPicture(b) {
  const u16 = (at) => (b[at] << 8) | b[at + 1];
  const u32 = (at) => ((b[at] << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3]) >>> 0;
  const le16 = (at) => b[at] | (b[at + 1] << 8);
  const le24 = (at) => b[at] | (b[at + 1] << 8) | (b[at + 2] << 16);
  const text = (at, n) => String.fromCharCode(...b.subarray(at, at + n));
  if (b.length >= 24 && text(1, 3) === "PNG" && text(12, 4) === "IHDR") {
    return {format: "PNG", width: u32(16), height: u32(20)};
  }
  if (b.length >= 4 && b[0] === 0xFF && b[1] === 0xD8) {
    // The first start-of-frame marker's height and width.
    for (let at = 2; at + 9 < b.length && b[at] === 0xFF;) {
      const marker = b[at + 1];
      if (marker >= 0xC0 && marker <= 0xCF && marker !== 0xC4 && marker !== 0xC8 && marker !== 0xCC) {
        return {format: "JPEG", width: u16(at + 7), height: u16(at + 5)};
      }
      at += 2 + u16(at + 2);
    }
    return {format: "JPEG", width: 0, height: 0};
  }
  if (b.length >= 30 && text(0, 4) === "RIFF" && text(8, 4) === "WEBP") {
    const kind = text(12, 4);
    if (kind === "VP8X") return {format: "WebP", width: le24(24) + 1, height: le24(27) + 1};
    if (kind === "VP8L") {
      const bits = b[21] | (b[22] << 8) | (b[23] << 16) | (b[24] << 24);
      return {format: "WebP", width: (bits & 0x3FFF) + 1, height: ((bits >>> 14) & 0x3FFF) + 1};
    }
    if (kind === "VP8 ") return {format: "WebP", width: le16(26) & 0x3FFF, height: le16(28) & 0x3FFF};
    return {format: "WebP", width: 0, height: 0};
  }
  return null;
}

// Why the browser could not decode a file, in words.
async function UndecodedMessage(file) {
  const name = "\u201c" + file.name + "\u201d";
  let declared = null;
  try {
    declared = DeclaredPicture(new Uint8Array(await file.slice(0, 65536).arrayBuffer()));
  } catch (e) {
    declared = null;
  }
  if (!declared) {
    return name + " is not a picture this browser can read. Open a JPEG, PNG or WebP photograph.";
  }
  const size = declared.width + " \u00d7 " + declared.height + " pixels";
  if (declared.width * declared.height * 4 > 2 ** 31) {
    return name + " is a " + declared.format + " of " + size + ": too large for this browser's " +
           "memory (or damaged). Try a smaller picture.";
  }
  return name + " looks like a " + declared.format + (declared.width ? " of " + size : "") +
         ", but the browser could not decode it: the file is damaged or of a kind it does not read.";
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
    fail(await UndecodedMessage(file));
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
    post({kind: "closed"});  // the picture before this one is gone too
    fail("\u201c" + file.name + "\u201d (" + width + " \u00d7 " + height +
         " pixels) is too large for this browser's memory. Try a smaller picture, " +
         "or close other tabs.");
    return;
  }
  heap().set(pixels, src);
  picture = {name: file.name, width: width, height: height, src: src, dst: dst};
  post({kind: "opened", name: file.name, width: width, height: height});
}

// Renders the full-size picture for `values` at `frame`, unless dst holds it
// (then null): its time in milliseconds, or -1 when it failed.
function renderFull(values, frame) {
  const key = JSON.stringify([values, frame]);
  if (key === renderedKey) return null;
  applyValues(setting, values);
  const start = performance.now();
  const ok = wasm._patinex_render(setting, picture.src, picture.dst, picture.width,
                                  picture.height, frame, 1);
  renderedKey = ok ? key : null;
  return ok ? performance.now() - start : -1;
}

function render(m) {
  if (!picture) {
    post({kind: "rendered", id: m.id, failed: true});
    return;
  }
  const ms = renderFull(m.values, m.frame);
  if (ms !== null && ms < 0) {
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
  if (!picture) {
    post({kind: "played", id: m.id, failed: true});
    return;
  }
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
  if (!picture) {
    fail("Open a photograph first.");
    return;
  }
  const ms = renderFull(m.values, m.frame);
  if (ms !== null && ms < 0) {
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
  });
};
