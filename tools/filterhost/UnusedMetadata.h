// What a file carries besides its picture that filterhost does not use, taken
// out before a decoder sees it. Pure code over a byte buffer (tested natively,
// fit for fuzzing).
#pragma once

#include <cstddef>
#include <cstdint>

// Takes a PNG's compressed text (zTXt, iTXt) and its colour profile (iCCP)
// out of the `size` bytes at `bytes`, in place, and returns the bytes left.
// Their compressed sizes tell nothing of what they inflate to (1 KB of deflate
// can stand for 1 MB), and filterhost shows no text and applies no profile, so
// no decoder ever inflates them. Every other chunk stays as it was, in order;
// from a chunk that runs past the end on, the bytes stay as they are, for the
// decoder to refuse. Any other format is left as it is: the metadata of JPEG
// (segments), TIFF (tags) and GIF (extensions) is stored as it is, so what a
// decoder keeps of it is bounded by the file's size, counted in a run's memory.
size_t DropUnusedMetadata(uint8_t* bytes, size_t size);
