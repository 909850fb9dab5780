// A PNG of exactly the rendered bytes: 8 bits per channel, RGB when every pixel
// is opaque, else RGBA (not premultiplied, as the renderer wrote it), no colour
// information, each row filtered by "Sub" and the whole compressed by the
// browser's own zlib stream (CompressionStream "deflate" is zlib's format).
// A canvas would premultiply alpha and might colour-manage; this never does.
"use strict";

const kCrcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function Crc32(bytes, crc) {
  for (let i = 0; i < bytes.length; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >>> 8);
  return crc;
}

function PngChunk(type, data) {
  const chunk = new Uint8Array(12 + data.length);
  const view = new DataView(chunk.buffer);
  view.setUint32(0, data.length);
  for (let i = 0; i < 4; ++i) chunk[4 + i] = type.charCodeAt(i);
  chunk.set(data, 8);
  const crc = Crc32(chunk.subarray(4, 8 + data.length), 0xFFFFFFFF) ^ 0xFFFFFFFF;
  view.setUint32(8 + data.length, crc >>> 0);
  return chunk;
}

// rgba: width x height x 4 bytes. Returns a Blob of type image/png.
async function EncodePng(rgba, width, height) {
  let opaque = true;
  for (let i = 3; i < rgba.length; i += 4) {
    if (rgba[i] !== 255) {
      opaque = false;
      break;
    }
  }
  const channels = opaque ? 3 : 4;
  const rowBytes = width * channels;
  const raw = new Uint8Array((rowBytes + 1) * height);
  for (let y = 0, at = 0; y < height; ++y) {
    raw[at++] = 1;  // Sub: each byte less the same channel of the pixel before
    const row = y * width * 4;
    for (let x = 0; x < width; ++x) {
      const p = row + 4 * x;
      for (let c = 0; c < channels; ++c) {
        raw[at++] = x === 0 ? rgba[p + c] : (rgba[p + c] - rgba[p + c - 4]) & 0xFF;
      }
    }
  }
  const compressed = new Uint8Array(
      await new Response(new Blob([raw]).stream().pipeThrough(new CompressionStream("deflate")))
          .arrayBuffer());
  const header = new Uint8Array(13);
  const view = new DataView(header.buffer);
  view.setUint32(0, width);
  view.setUint32(4, height);
  header[8] = 8;                    // bits per channel
  header[9] = opaque ? 2 : 6;       // RGB or RGBA
  const signature = new Uint8Array([137, 80, 78, 71, 13, 10, 26, 10]);
  return new Blob([signature, PngChunk("IHDR", header), PngChunk("IDAT", compressed),
                   PngChunk("IEND", new Uint8Array(0))], {type: "image/png"});
}
