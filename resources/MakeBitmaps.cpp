// Draws the module's two pictures at build time and writes them as 8-bit,
// 256-colour, bottom-up BMP files at 72 dpi (2834 pixels per metre):
//   MakeBitmaps OUT_DIR  ->  OUT_DIR/patinex-103.bmp (240 x 180, parameters dialog)
//                            OUT_DIR/patinex-110.bmp (463 x 364, about box)
// The picture is a strip of film: sprocket holes along both edges, a frame with
// a soft vignette, the name in block letters, a few scratches and specks. The
// colour table is a sepia ramp, so every pixel is just a brightness 0..255.
// Built for the build machine and run there; only the standard library is used.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Picture {
  int width;
  int height;
  std::vector<uint8_t> level;  // top-down, one brightness per pixel
  uint8_t& At(int x, int y) { return level[size_t(y) * size_t(width) + size_t(x)]; }
};

// 5 x 7 block letters, one string per row, '#' set.
struct Glyph {
  char letter;
  const char* rows[7];
};
const Glyph kGlyphs[] = {
    {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {'I', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "#####"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {'N', {"#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"}},
    {'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'V', {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'X', {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"}},
};

const Glyph* FindGlyph(char c) {
  for (const Glyph& g : kGlyphs) {
    if (g.letter == c) return &g;
  }
  return nullptr;
}

void FillRect(Picture& p, int x0, int y0, int x1, int y1, uint8_t v) {
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      if (x >= 0 && y >= 0 && x < p.width && y < p.height) p.At(x, y) = v;
    }
  }
}

// Text centred on (cx, top), each font pixel a scale x scale square.
void DrawText(Picture& p, const std::string& text, int cx, int top, int scale, uint8_t v) {
  const int advance = 6 * scale;
  const int width = int(text.size()) * advance - scale;
  int x = cx - width / 2;
  for (char c : text) {
    if (const Glyph* g = FindGlyph(c)) {
      for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 5; ++col) {
          if (g->rows[row][col] == '#') {
            FillRect(p, x + col * scale, top + row * scale, x + (col + 1) * scale,
                     top + (row + 1) * scale, v);
          }
        }
      }
    }
    x += advance;
  }
}

// A small generator of our own, so that the pictures are the same on every machine.
uint32_t gState = 20261207u;
uint32_t Next() {
  gState = gState * 1664525u + 1013904223u;
  return gState >> 8;
}

Picture DrawFilmStrip(int width, int height, bool withMaker) {
  Picture p{width, height, std::vector<uint8_t>(size_t(width) * size_t(height), 0)};
  const int band = height / 8;  // the dark edge with the sprocket holes

  // The frame: warm light falling off towards the corners.
  const double cx = width / 2.0, cy = height / 2.0;
  for (int y = band; y < height - band; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = (x - cx) / cx, dy = (y - cy) / (cy - band);
      const double fall = 1.0 - 0.55 * (dx * dx + dy * dy);
      p.At(x, y) = uint8_t(std::lround(40 + 170 * (fall < 0 ? 0 : fall)));
    }
  }

  // Edges: near-black film base with rounded sprocket holes.
  FillRect(p, 0, 0, width, band, 18);
  FillRect(p, 0, height - band, width, height, 18);
  const int holeW = band * 3 / 5, holeH = band / 2, pitch = band + band / 3;
  for (int x = pitch / 3; x + holeW <= width; x += pitch) {
    for (int edge = 0; edge < 2; ++edge) {
      const int top = edge == 0 ? (band - holeH) / 2 : height - band + (band - holeH) / 2;
      FillRect(p, x + 1, top, x + holeW - 1, top + holeH, 232);
      FillRect(p, x, top + 1, x + holeW, top + holeH - 1, 232);
    }
  }

  // Scratches: thin light vertical lines that wander a little.
  for (int s = 0; s < 3; ++s) {
    double x = width * (0.2 + 0.3 * s) + double(Next() % 11) - 5;
    for (int y = band; y < height - band; ++y) {
      x += (double(Next() % 3) - 1.0) * 0.3;
      const int xi = int(x);
      if (xi >= 0 && xi < width) p.At(xi, y) = uint8_t(std::min(255, p.At(xi, y) + 45));
    }
  }
  // Dust: a few dark specks.
  for (int d = 0; d < width / 12; ++d) {
    const int x = int(Next() % uint32_t(width));
    const int y = band + int(Next() % uint32_t(height - 2 * band));
    const int r = 1 + int(Next() % 2);
    FillRect(p, x, y, x + r, y + r, 30);
  }

  // The name, with a faint shadow.
  const int scale = width / 60;
  const int top = withMaker ? height / 2 - 7 * scale : (height - 7 * scale) / 2;
  DrawText(p, "PATINEX", width / 2 + 2, top + 2, scale, 25);
  DrawText(p, "PATINEX", width / 2, top, scale, 250);
  if (withMaker) {
    const int small = scale / 2 > 0 ? scale / 2 : 1;
    DrawText(p, "LUMIVEX", width / 2, top + 9 * scale, small, 20);
  }
  return p;
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

bool WriteBmp(const Picture& p, const std::string& path) {
  const uint32_t stride = (uint32_t(p.width) + 3u) & ~3u;
  const uint32_t imageSize = stride * uint32_t(p.height);
  const uint32_t offset = 14 + 40 + 256 * 4;
  std::vector<uint8_t> out;
  // BITMAPFILEHEADER
  out.push_back('B');
  out.push_back('M');
  Put32(out, offset + imageSize);
  Put32(out, 0);
  Put32(out, offset);
  // BITMAPINFOHEADER: 8 bits, uncompressed, 72 dpi, full colour table.
  Put32(out, 40);
  Put32(out, uint32_t(p.width));
  Put32(out, uint32_t(p.height));  // positive: rows bottom-up
  Put16(out, 1);
  Put16(out, 8);
  Put32(out, 0);
  Put32(out, imageSize);
  Put32(out, 2834);
  Put32(out, 2834);
  Put32(out, 256);
  Put32(out, 0);
  // Colour table (blue, green, red, 0): a sepia ramp.
  for (int i = 0; i < 256; ++i) {
    out.push_back(uint8_t(std::lround(i * 0.62)));
    out.push_back(uint8_t(std::lround(i * 0.84)));
    out.push_back(uint8_t(i));
    out.push_back(0);
  }
  for (int y = p.height - 1; y >= 0; --y) {
    const uint8_t* row = &p.level[size_t(y) * size_t(p.width)];
    out.insert(out.end(), row, row + p.width);
    out.insert(out.end(), stride - uint32_t(p.width), 0);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: MakeBitmaps OUT_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  if (!WriteBmp(DrawFilmStrip(240, 180, false), dir + "/patinex-103.bmp") ||
      !WriteBmp(DrawFilmStrip(463, 364, true), dir + "/patinex-110.bmp")) {
    std::fprintf(stderr, "MakeBitmaps: cannot write to %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
