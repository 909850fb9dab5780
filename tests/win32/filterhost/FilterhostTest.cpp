// filterhost end to end: runs filterhost.exe as a process on generated images
// with the test filter (exact inverted pixels), with modules that are not
// filters, and with PATINEX.8bf, and reads back what it wrote. Image files are
// made here: with stb, or byte by byte where stb cannot make them (16-bit,
// palette, TIFF, GIF, damaged files).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/ParamTable.h"
#include "render/Random.h"
#include "render/RenderJob.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

std::string g_host, g_modules, g_work, g_patinex, g_progressive, g_samples;
int g_runs = 0;
ULONGLONG g_started = 0;

struct Pixels {
  int width = 0, height = 0, planes = 0;
  std::vector<uint8_t> bytes;
};

struct HostRun {
  DWORD exitCode;
  std::string out;
  std::string err;
  uint64_t peakBytes;  // the process's peak working set, as it reported it at exit
  uint64_t estimateBytes;  // the memory it estimated the run to need
  double seconds;
};

std::string Path(const std::string& name) { return g_work + "/" + name; }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// ---- Image files byte by byte ----

std::string Le16(uint32_t v) { return std::string{char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
std::string Be32(uint32_t v) {
  return std::string{char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

std::string PngChunk(const std::string& type, const std::string& data) {
  return Be32(uint32_t(data.size())) + type + data + Be32(Crc32(type + data));
}

// A PNG of raw rows (each row's filter byte 0 is added here), deflated as
// stored blocks. `before` goes between IHDR and IDAT (PLTE, tRNS).
std::string PngFile(uint32_t width, uint32_t height, int depth, int colorType,
                    const std::string& rows, size_t rowBytes, const std::string& before = "") {
  std::string raw;
  for (size_t at = 0; at < rows.size(); at += rowBytes) raw += '\0' + rows.substr(at, rowBytes);
  std::string z = "\x78\x01";
  for (size_t at = 0; at == 0 || at < raw.size(); at += 65535) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z += char(at + n >= raw.size() ? 1 : 0) + Le16(uint32_t(n)) + Le16(uint32_t(~n & 0xFFFF)) +
         raw.substr(at, n);
  }
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  z += Be32(b << 16 | a);
  const std::string ihdr = Be32(width) + Be32(height) + char(depth) + char(colorType) +
                           std::string("\0\0\0", 3);
  return "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", ihdr) + before + PngChunk("IDAT", z) +
         PngChunk("IEND", "");
}

// A baseline TIFF, one strip, little-endian ("II") or big-endian ("MM"), by
// default uncompressed. `sampleFormat` 3 is floating point; 0 leaves the tag
// out, and so does orientation 0.
std::string TiffFile(uint32_t width, uint32_t height, int samples, int bits, int photometric,
                     const std::string& pixels, int orientation = 0, bool alpha = false,
                     int sampleFormat = 0, bool bigEndian = false, int compression = 1) {
  auto Le16 = [bigEndian](uint32_t v) {
    return bigEndian ? std::string{char((v >> 8) & 0xFF), char(v & 0xFF)} : ::Le16(v);
  };
  auto Le32 = [bigEndian](uint32_t v) { return bigEndian ? Be32(v) : ::Le32(v); };
  std::vector<std::string> entries;
  std::string extra;  // arrays that do not fit in an entry, after the entries
  const int count = 10 + (orientation != 0) + alpha + (sampleFormat != 0);
  const uint32_t extraAt = 8 + 2 + 12 * count + 4;
  auto entry = [&](int tag, int type, uint32_t n, uint32_t value) {
    // A SHORT value sits in the first two bytes of its field.
    const std::string field = type == 3 && n == 1 ? Le16(value) + Le16(0) : Le32(value);
    entries.push_back(Le16(tag) + Le16(type) + Le32(n) + field);
  };
  auto shorts = [&](int tag, int value) {  // one SHORT per sample
    if (samples == 1) {
      entry(tag, 3, 1, value);
      return;
    }
    if (samples == 2) {
      entries.push_back(Le16(tag) + Le16(3) + Le32(2) + Le16(value) + Le16(value));
      return;
    }
    entry(tag, 3, samples, extraAt + uint32_t(extra.size()));
    for (int i = 0; i < samples; ++i) extra += Le16(value);
  };
  entry(256, 4, 1, width);
  entry(257, 4, 1, height);
  shorts(258, bits);
  entry(259, 3, 1, compression);
  entry(262, 3, 1, photometric);
  const size_t stripAt = entries.size();
  entry(273, 4, 1, 0);  // set below, once the arrays are known
  if (orientation != 0) entry(274, 3, 1, orientation);
  entry(277, 3, 1, samples);
  entry(278, 4, 1, height);
  entry(279, 4, 1, uint32_t(pixels.size()));
  entry(284, 3, 1, 1);
  if (alpha) entry(338, 3, 1, 2);  // unassociated alpha
  if (sampleFormat != 0) shorts(339, sampleFormat);
  entries[stripAt] = Le16(273) + Le16(4) + Le32(1) + Le32(extraAt + uint32_t(extra.size()));
  std::string file = (bigEndian ? std::string("MM\0*", 4) : std::string("II*\0", 4)) + Le32(8) +
                     Le16(uint32_t(entries.size()));
  for (const std::string& e : entries) file += e;
  return file + Le32(0) + extra + pixels;
}

std::string BmpFile(int32_t width, int32_t height, const std::string& pixels) {
  const std::string info = Le32(40) + Le32(uint32_t(width)) + Le32(uint32_t(height)) + Le16(1) +
                           Le16(24) + Le32(0) + Le32(uint32_t(pixels.size())) + Le32(2835) +
                           Le32(2835) + Le32(0) + Le32(0);
  return "BM" + Le32(uint32_t(14 + info.size() + pixels.size())) + Le32(0) + Le32(54) + info +
         pixels;
}

// 1 x 1, its only colour transparent.
const std::string kGif(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00\x21\xf9\x04\x01\x00\x00\x00\x00"
    "\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
    43);

std::string StbJpeg(const Pixels& p, int quality);

// Where a JPEG marker's segment starts (at its 0xFF), or npos.
size_t JpegSegment(const std::string& jpeg, unsigned char marker) {
  for (size_t at = 2; at + 4 <= jpeg.size();) {
    if (uint8_t(jpeg[at]) != 0xFF) return std::string::npos;
    if (uint8_t(jpeg[at + 1]) == marker) return at;
    at += 2 + (uint8_t(jpeg[at + 2]) << 8 | uint8_t(jpeg[at + 3]));
  }
  return std::string::npos;
}

// An EXIF block holding only the orientation tag, as a phone writes it.
std::string ExifSegment(int orientation) {
  const std::string tiff = std::string("II*\0", 4) + Le32(8) + Le16(1) + Le16(274) + Le16(3) +
                           Le32(1) + Le32(uint32_t(orientation)) + Le32(0);
  const std::string body = std::string("Exif\0\0", 6) + tiff;
  const uint32_t length = uint32_t(body.size() + 2);
  return std::string("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + body;
}

// A pattern that differs in every plane, so a swapped or shifted plane shows.
Pixels Pattern(int width, int height, int planes) {
  Pixels p{width, height, planes, std::vector<uint8_t>(size_t(width) * height * planes)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* px = &p.bytes[(size_t(y) * width + x) * planes];
      px[0] = uint8_t(x * 7 + y * 3);
      px[1] = uint8_t(x * y + 40);
      px[2] = uint8_t(250 - x * 5);
      if (planes == 4) px[3] = uint8_t(x + y * 11);
    }
  }
  return p;
}

Pixels Inverted(const Pixels& in) {
  Pixels out = in;
  for (size_t i = 0; i < out.bytes.size(); ++i) {
    if (int(i % in.planes) < 3) out.bytes[i] = uint8_t(255 - in.bytes[i]);
  }
  return out;
}

void WritePng(const std::string& path, const Pixels& p) {
  ASSERT_TRUE(stbi_write_png(path.c_str(), p.width, p.height, p.planes, p.bytes.data(),
                             p.width * p.planes));
}

// Reads a file back with the channels it holds.
Pixels ReadBack(const std::string& path) {
  Pixels p;
  int channels = 0;
  uint8_t* data = stbi_load(path.c_str(), &p.width, &p.height, &channels, 0);
  if (data == nullptr) return p;
  p.planes = channels;
  p.bytes.assign(data, data + size_t(p.width) * p.height * channels);
  stbi_image_free(data);
  return p;
}

std::string StbJpeg(const Pixels& p, int quality) {
  std::string bytes;
  stbi_write_jpg_to_func(
      [](void* to, void* data, int size) {
        static_cast<std::string*>(to)->append(static_cast<const char*>(data), size_t(size));
      },
      &bytes, p.width, p.height, p.planes, p.bytes.data(), quality);
  return bytes;
}

bool SameImage(const Pixels& a, const Pixels& b) {
  return a.width == b.width && a.height == b.height && a.planes == b.planes && a.bytes == b.bytes;
}

HANDLE InheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts filterhost with its output and errors in files; `mode` goes to the test
// filter through TESTFILTER_MODE.
PROCESS_INFORMATION Start(const std::vector<std::string>& args, const std::string& mode,
                          DWORD flags) {
  std::string command = "\"" + g_host + "\"";
  for (const std::string& a : args) command += " \"" + a + "\"";
  SetEnvironmentVariableA("TESTFILTER_MODE", mode.empty() ? nullptr : mode.c_str());
  // Fresh names for every run: the files of a run that just ended may still be
  // held open for a moment while Wine tears its process down.
  ++g_runs;
  // filterhost writes its peak working set here at exit.
  SetEnvironmentVariableA("FILTERHOST_PEAK_MEMORY", Path("run" + std::to_string(g_runs) + ".peak").c_str());
  HANDLE out = InheritableFile(Path("run" + std::to_string(g_runs) + ".out"));
  HANDLE err = InheritableFile(Path("run" + std::to_string(g_runs) + ".err"));
  EXPECT_NE(out, INVALID_HANDLE_VALUE);
  EXPECT_NE(err, INVALID_HANDLE_VALUE);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  std::vector<char> line(command.begin(), command.end());
  line.push_back(0);
  g_started = GetTickCount64();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &si,
                      &pi)) {
    ADD_FAILURE() << "cannot start " << command;
  }
  CloseHandle(out);
  CloseHandle(err);
  SetEnvironmentVariableA("TESTFILTER_MODE", nullptr);
  SetEnvironmentVariableA("FILTERHOST_PEAK_MEMORY", nullptr);
  return pi;
}

HostRun Finish(PROCESS_INFORMATION pi) {
  HostRun run = {9999, "", "", 0, 0, 0.0};
  if (pi.hProcess == nullptr) return run;
  if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 999);
    ADD_FAILURE() << "filterhost did not end within two minutes";
    WaitForSingleObject(pi.hProcess, 5000);
  }
  run.seconds = double(GetTickCount64() - g_started) / 1000.0;
  GetExitCodeProcess(pi.hProcess, &run.exitCode);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  run.out = Slurp(Path("run" + std::to_string(g_runs) + ".out"));
  run.err = Slurp(Path("run" + std::to_string(g_runs) + ".err"));
  const std::string peak = Slurp(Path("run" + std::to_string(g_runs) + ".peak"));
  char* next = nullptr;
  run.peakBytes = std::strtoull(peak.c_str(), &next, 10);
  run.estimateBytes = std::strtoull(next, nullptr, 10);
  return run;
}

HostRun Host(const std::vector<std::string>& args, const std::string& mode = "") {
  return Finish(Start(args, mode, 0));
}

std::string TestFilter() { return g_modules + "/testfilter.8bf"; }

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Filterhost : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every test starts from an empty work folder.
    std::string pattern = g_work + "/*";
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(pattern.c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
          DeleteFileA(Path(found.cFileName).c_str());
        }
      } while (FindNextFileA(h, &found));
      FindClose(h);
    }
  }
};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

#define EXPECT_MESSAGE(run, text) \
  EXPECT_NE((run).err.find(text), std::string::npos) << "stderr was: " << (run).err

TEST_F(Filterhost, InvertsThreeAndFourPlaneImagesThroughTheTestFilter) {
  // 37 x 41: three full bands of 16 rows and a short one, so several requests.
  for (int planes : {3, 4}) {
    const Pixels in = Pattern(37, 41, planes);
    WritePng(Path("in.png"), in);
    const HostRun run = Host({TestFilter(), Path("in.png"), Path("out.png")});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(SameImage(ReadBack(Path("out.png")), Inverted(in))) << planes << " planes";
  }
}

// 16-bit samples: an 8-bit value is round(v * 255 / 65535).
uint32_t Sample16(size_t i) { return uint32_t(i * 40503 + 1234) & 0xFFFF; }
uint8_t To8(uint32_t v) { return uint8_t(std::lround(v * 255.0 / 65535.0)); }

// `count` samples, 16 bits each, little- or big-endian, and the pixels they give.
std::string Samples16(size_t count, bool bigEndian) {
  std::string bytes;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t v = Sample16(i);
    bytes += bigEndian ? std::string{char(v >> 8), char(v & 0xFF)} : Le16(v);
  }
  return bytes;
}
Pixels Expected16(int width, int height, int channels, int planes) {
  Pixels p{width, height, planes, {}};
  for (size_t px = 0; px < size_t(width) * height; ++px) {
    for (int c = 0; c < planes; ++c) {
      p.bytes.push_back(To8(Sample16(px * channels + (channels == 1 ? 0 : c))));
    }
  }
  return p;
}

TEST_F(Filterhost, ReadsEveryLayoutAndDepth) {
  const std::string gray8("\x00\x40\x80\xC0\xFF\x01", 6);
  const std::string rgb8("\x01\x02\x03\x11\x12\x13\x21\x22\x23\x31\x32\x33\x41\x42\x43\x51\x52\x53", 18);
  const std::string palette = PngChunk("PLTE", std::string("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF", 9));
  const std::string indexes("\x00\x01\x02\x01", 4);
  const struct {
    const char* what;
    const char* name;
    std::string bytes;
    Pixels expected;  // before the test filter inverts it
  } cases[] = {
      {"8-bit gray PNG", "g8.png", PngFile(3, 2, 8, 0, gray8, 3),
       {3, 2, 3, {0, 0, 0, 0x40, 0x40, 0x40, 0x80, 0x80, 0x80, 0xC0, 0xC0, 0xC0, 255, 255, 255, 1, 1, 1}}},
      {"palette PNG", "p.png", PngFile(2, 2, 8, 3, indexes, 2, palette),
       {2, 2, 3, {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 255, 0}}},
      {"palette PNG with transparency", "pt.png",
       PngFile(2, 2, 8, 3, indexes, 2, palette + PngChunk("tRNS", std::string("\xFF\x80\x00", 3))),
       {2, 2, 4, {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 0, 255, 0, 128}}},
      {"16-bit gray PNG", "g16.png", PngFile(3, 2, 16, 0, Samples16(6, true), 6),
       Expected16(3, 2, 1, 3)},
      {"16-bit RGB PNG", "rgb16.png", PngFile(3, 2, 16, 2, Samples16(18, true), 18),
       Expected16(3, 2, 3, 3)},
      {"16-bit RGBA PNG", "rgba16.png", PngFile(3, 2, 16, 6, Samples16(24, true), 24),
       Expected16(3, 2, 4, 4)},
      // Both byte orders give the same pixels ("MM" as Mac software and
      // scanners write it).
      {"16-bit gray TIFF", "g16.tif", TiffFile(3, 2, 1, 16, 1, Samples16(6, false)),
       Expected16(3, 2, 1, 3)},
      {"16-bit gray TIFF, big-endian", "g16mm.tif",
       TiffFile(3, 2, 1, 16, 1, Samples16(6, true), 0, false, 0, true), Expected16(3, 2, 1, 3)},
      {"16-bit RGB TIFF", "rgb16.tif", TiffFile(3, 2, 3, 16, 2, Samples16(18, false)),
       Expected16(3, 2, 3, 3)},
      {"16-bit RGB TIFF, big-endian", "rgb16mm.tif",
       TiffFile(3, 2, 3, 16, 2, Samples16(18, true), 0, false, 0, true), Expected16(3, 2, 3, 3)},
      {"16-bit RGBA TIFF", "rgba16.tif", TiffFile(3, 2, 4, 16, 2, Samples16(24, false), 0, true),
       Expected16(3, 2, 4, 4)},
      {"16-bit RGBA TIFF, big-endian", "rgba16mm.tif",
       TiffFile(3, 2, 4, 16, 2, Samples16(24, true), 0, true, 0, true), Expected16(3, 2, 4, 4)},
      {"8-bit RGB TIFF, big-endian", "rgb8mm.tif", TiffFile(3, 2, 3, 8, 2, rgb8, 0, false, 0, true),
       {3, 2, 3, {1, 2, 3, 0x11, 0x12, 0x13, 0x21, 0x22, 0x23, 0x31, 0x32, 0x33, 0x41, 0x42, 0x43,
                  0x51, 0x52, 0x53}}},
      {"8-bit TIFF stored turned (orientation 6)", "turned.tif", TiffFile(3, 2, 3, 8, 2, rgb8, 6),
       // stored a b c / d e f shows as d a / e b / f c
       {2, 3, 3, {0x31, 0x32, 0x33, 1, 2, 3, 0x41, 0x42, 0x43, 0x11, 0x12, 0x13, 0x51, 0x52, 0x53,
                  0x21, 0x22, 0x23}}},
      {"BMP, rows stored bottom up", "b.bmp", BmpFile(2, 2, std::string("\x01\x02\x03\x04\x05\x06\0\0"
                                                                       "\x11\x12\x13\x14\x15\x16\0\0", 16)),
       {2, 2, 3, {0x13, 0x12, 0x11, 0x16, 0x15, 0x14, 3, 2, 1, 6, 5, 4}}},
      {"GIF with a transparent colour", "t.gif", kGif, {1, 1, 4, {255, 255, 255, 0}}},
      // The picture is the first frame, not the screen.
      {"GIF of a 1 x 1 frame on a 32767 x 32767 screen", "screen.gif",
       kGif.substr(0, 6) + Le16(32767) + Le16(32767) + kGif.substr(10), {1, 1, 4, {255, 255, 255, 0}}},
  };
  for (const auto& c : cases) {
    Spill(Path(c.name), c.bytes);
    const std::string out = Path(std::string(c.name) + ".out.png");
    const HostRun run = Host({TestFilter(), Path(c.name), out});
    EXPECT_EQ(run.exitCode, 0u) << c.what << ": " << run.err;
    const Pixels got = ReadBack(out);
    EXPECT_TRUE(SameImage(got, Inverted(c.expected)))
        << c.what << ": " << got.width << " x " << got.height << " x " << got.planes;
  }
}

// A JPEG of another size with the data of `jpeg`: what its frame header declares.
std::string Resized(const std::string& jpeg, uint32_t width, uint32_t height) {
  std::string out = jpeg;
  const size_t sof = JpegSegment(jpeg, 0xC0);
  out.replace(sof + 5, 4, std::string{char(height >> 8), char(height & 0xFF), char(width >> 8),
                                      char(width & 0xFF)});
  return out;
}

// Where a JPEG's first scan starts, past its header.
size_t ScanData(const std::string& jpeg) {
  const size_t sos = JpegSegment(jpeg, 0xDA);
  return sos + 2 + (uint8_t(jpeg[sos + 2]) << 8 | uint8_t(jpeg[sos + 3]));
}

// Bad input of every kind: one line, exit 1, nothing written, never a crash,
// and no more memory than a small image takes. Each case prints its message,
// its peak memory and its time.
TEST_F(Filterhost, RefusesBadInputWithOneLine) {
  const Pixels pattern = Pattern(20, 18, 3);
  WritePng(Path("good.png"), pattern);
  const std::string png = Slurp(Path("good.png"));
  const std::string jpeg = StbJpeg(pattern, 90);
  std::string bmpPixels;
  for (int i = 0; i < 20 * 18 * 3; ++i) bmpPixels += char(i);
  const std::string bmp = BmpFile(20, 18, bmpPixels);
  const std::string tiff = TiffFile(20, 18, 3, 8, 2, bmpPixels);

  std::string badDepth = png;  // 7 bits per sample, which PNG does not have
  badDepth[24] = 7;
  badDepth.replace(29, 4, Be32(Crc32(badDepth.substr(12, 17))));
  std::string badDeflate = PngFile(2, 2, 8, 0, "abcd", 2);
  badDeflate[0x21 + 8 + 2] = '\x07';  // the first deflate block: type 3 does not exist
  std::string badHuffman = jpeg;
  const size_t dht = JpegSegment(jpeg, 0xC4);
  for (int i = 0; i < 16; ++i) badHuffman[dht + 5 + i] = '\x20';  // counts add up to 512
  std::string zeroPng = png;
  zeroPng.replace(16, 4, Be32(0));
  zeroPng.replace(29, 4, Be32(Crc32(zeroPng.substr(12, 17))));
  std::string widePng = png;
  widePng.replace(16, 4, Be32(40000));
  widePng.replace(29, 4, Be32(Crc32(widePng.substr(12, 17))));
  std::string farTiff = tiff;
  farTiff.replace(4, 4, Le32(0x7FFFFFF0));  // the first directory lies past the end

  // Files that declare the largest sides and hold a header and little more.
  const uint32_t kSide = 32767;
  const std::string hugeJpeg = Resized(jpeg, kSide, kSide);
  // A 1-bit PNG needs 130 KB at deflate's best for 32767 x 32767; 20 KB are not enough.
  const std::string bitsPng = PngFile(kSide, kSide, 1, 0, std::string(20000, '\0'), 4096);
  // A run-length BMP can end any picture with one code: it is checked by memory.
  const std::string rleInfo = Le32(40) + Le32(kSide) + Le32(kSide) + Le16(1) + Le16(8) + Le32(1) +
                              Le32(2) + Le32(2835) + Le32(2835) + Le32(2) + Le32(0);
  const std::string rleBmp = "BM" + Le32(14 + 40 + 8 + 2) + Le32(0) + Le32(14 + 40 + 8) +
                             rleInfo + std::string(8, '\0') + std::string("\0\1", 2);
  const std::string hugeGif =
      "GIF89a" + Le16(kSide) + Le16(kSide) + std::string("\x80\0\0\0\0\0\xFF\xFF\xFF", 9) + "\x2C" +
      Le16(0) + Le16(0) + Le16(kSide) + Le16(kSide) + std::string("\0\x02\x02\x44\x01\0\x3B", 7);

  // A GIF names what is too large: its first frame, or all its frames, which
  // its decoder decodes at once (here a 1 x 1 frame, then 32767 x 32767 in 20 bytes).
  const std::string wideGif = kGif.substr(0, 0x20) + Le16(40000) + kGif.substr(0x22);
  const std::string framesGif = kGif.substr(0, kGif.size() - 1) + "\x2C" + Le16(0) + Le16(0) +
                                Le16(kSide) + Le16(kSide) + std::string("\0\x02\x14", 3) +
                                std::string(20, '\0') + std::string("\0\x3B", 2);
  const struct {
    const char* what;
    const char* name;
    std::string bytes;
    const char* message;
    const char* memoryLimit;  // FILTERHOST_MEMORY_LIMIT, or null
  } cases[] = {
      {"truncated PNG", "cut.png", png.substr(0, png.size() / 2), "cannot be decoded", nullptr},
      {"truncated JPEG", "cut.jpg", jpeg.substr(0, jpeg.size() / 2),
       "is cut short: its JPEG data ends before the end-of-image marker", nullptr},
      {"JPEG without its end marker", "noend.jpg", jpeg.substr(0, jpeg.size() - 2),
       "is cut short", nullptr},
      {"truncated BMP", "cut.bmp", bmp.substr(0, bmp.size() / 2),
       "declares 20 x 18 pixels but holds only 567 bytes: the file is damaged or cut short", nullptr},
      {"truncated TIFF", "cut.tif", tiff.substr(0, tiff.size() / 2), "the file is damaged or cut short",
       nullptr},
      {"truncated GIF", "cut.gif", kGif.substr(0, 30), "cannot be decoded", nullptr},
      {"PNG header with 7 bits per sample", "depth.png", badDepth, "cannot be decoded", nullptr},
      {"TIFF directory past the end", "far.tif", farTiff, "cannot be decoded", nullptr},
      {"PNG with a deflate block of no type", "deflate.png", badDeflate, "cannot be decoded", nullptr},
      {"JPEG Huffman counts over 256", "huffman.jpg", badHuffman, "cannot be decoded", nullptr},
      {"BMP 0 pixels high", "zero.bmp", BmpFile(255, 0, ""), "declares 255 x 0 pixels", nullptr},
      {"BMP of 8 x 16000000 in 70 bytes", "tall.bmp", BmpFile(8, 16000000, std::string(16, 'x')),
       "declares 8 x 16000000 pixels", nullptr},
      {"PNG 0 pixels wide", "zero.png", zeroPng, "declares 0 x 18 pixels", nullptr},
      {"PNG 40000 pixels wide", "wide.png", widePng, "declares 40000 x 18 pixels", nullptr},
      {"JPEG 65500 x 65500", "huge.jpg", Resized(jpeg, 65500, 65500), "declares 65500 x 65500 pixels",
       nullptr},
      {"PNG header of 32767 x 32767", "big.png", PngFile(kSide, kSide, 8, 2, "", 1),
       "declares 32767 x 32767 pixels but holds only", nullptr},
      {"1-bit PNG of 32767 x 32767 in 20 KB", "bits.png", bitsPng,
       "declares 32767 x 32767 pixels but holds only", nullptr},
      {"BMP header of 32767 x 32767", "big.bmp", BmpFile(kSide, kSide, ""),
       "declares 32767 x 32767 pixels but holds only 54 bytes", nullptr},
      {"run-length BMP of 32767 x 32767", "rle.bmp", rleBmp,
       "filtering its 32767 x 32767 pixels needs 12.0 GB of memory; this process can have 1.0 GB",
       "1073741824"},
      {"TIFF header of 32767 x 32767", "big.tif", TiffFile(kSide, kSide, 3, 8, 2, ""),
       "declares 32767 x 32767 pixels but holds only", nullptr},
      {"LZW TIFF of 32767 x 32767 in 16 bytes of data", "lzw.tif",
       TiffFile(kSide, kSide, 3, 8, 2, std::string(16, '\x80'), 0, false, 0, false, 5),
       "declares 32767 x 32767 pixels but holds only", nullptr},
      {"fax-coded TIFF of 32767 x 32767", "fax.tif",
       TiffFile(kSide, kSide, 1, 1, 0, std::string(16, '\0'), 0, false, 0, true, 4),
       "of memory; this process can have 1.0 GB", "1073741824"},
      {"JPEG of 32767 x 32767 with the data of 20 x 18", "big.jpg", hugeJpeg,
       "declares 32767 x 32767 pixels but holds only", nullptr},
      {"JPEG of 8192 x 8192 with the data of 20 x 18", "8k.jpg", Resized(jpeg, 8192, 8192),
       "declares 8192 x 8192 pixels but holds only", nullptr},
      {"JPEG of 32767 x 32767 cut after a few blocks", "bigcut.jpg",
       hugeJpeg.substr(0, ScanData(hugeJpeg) + 40), "is cut short", nullptr},
      {"GIF header of 32767 x 32767", "big.gif", hugeGif,
       "declares 32767 x 32767 pixels but holds only", nullptr},
      {"GIF whose first frame is 40000 wide", "wide.gif", wideGif,
       "wide.gif's first frame declares 40000 x 1 pixels; the filter interface takes at most 32767",
       nullptr},
      {"GIF of 1 x 1, then 32767 x 32767 in 20 bytes", "frames.gif", framesGif,
       "frames.gif: its 2 frames declare 1073676290 pixels in all, but it holds only 76 bytes",
       nullptr},
      {"CMYK TIFF", "cmyk.tif", TiffFile(2, 2, 4, 8, 5, std::string(16, '\x40')), "is a CMYK image",
       nullptr},
      {"floating-point TIFF", "float.tif", TiffFile(2, 2, 3, 32, 2, std::string(48, '\0'), 0, false, 3),
       "has floating-point samples", nullptr},
      {"text named .png", "text.png", "not an image\n", "is not an image filterhost can read", nullptr},
      {"text named .jpg", "text.jpg", "not an image\n", "is not an image filterhost can read", nullptr},
      {"text named .tif", "text.tif", "not an image\n", "is not an image filterhost can read", nullptr},
      {"empty file named .bmp", "empty.bmp", "", "is not an image filterhost can read", nullptr},
  };
  for (const auto& c : cases) {
    Spill(Path(c.name), c.bytes);
    SetEnvironmentVariableA("FILTERHOST_MEMORY_LIMIT", c.memoryLimit);
    const HostRun run = Host({TestFilter(), Path(c.name), Path("out.png")});
    SetEnvironmentVariableA("FILTERHOST_MEMORY_LIMIT", nullptr);
    EXPECT_EQ(run.exitCode, 1u) << c.what << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.what << ": " << run.err;
    EXPECT_FALSE(Exists(Path("out.png"))) << c.what;
    // A refused file costs what a small image does (the process itself takes
    // about 20 MB under Wine).
    EXPECT_GT(run.peakBytes, 0u) << c.what << ": no peak memory reported";
    EXPECT_LE(run.peakBytes, uint64_t(100) << 20) << c.what;
    std::printf("  %-48s %5.1f MB %5.2f s  %s", c.what, double(run.peakBytes) / (1 << 20),
                run.seconds, run.err.c_str());
  }
}

// ---- Bombs: a few bytes that stand for gigabytes, or for hours of work ----

// Bits of a deflate stream, first bit lowest; Huffman codes go highest bit first.
struct BitWriter {
  std::string bytes;
  uint32_t pending = 0;
  int count = 0;
  void Put(uint32_t value, int bits) {
    pending |= value << count;
    count += bits;
    for (; count >= 8; count -= 8, pending >>= 8) bytes += char(pending & 0xFF);
  }
  void Code(uint32_t code, int bits) {
    for (int i = bits - 1; i >= 0; --i) Put((code >> i) & 1, 1);
  }
};

// A zlib stream that inflates to 1 + 258 x runs zero bytes: one dynamic block
// whose only codes are literal 0 and end of block (2 bits each), length 258
// and distance 1 (1 bit each, both 0): a zero byte stands for 4 x 258 bytes,
// deflate's best (1032 to 1).
std::string ZerosZlib(uint64_t runs) {
  BitWriter w;
  w.Put(1, 1);                                 // the last block
  w.Put(2, 2);                                 // dynamic codes
  w.Put(286 - 257, 5);                         // literal/length codes: up to 285
  w.Put(0, 5);                                 // one distance code
  w.Put(18 - 4, 4);                            // code length codes, in their order:
  for (int length : {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2}) w.Put(length, 3);
  // Code lengths by the code length code (18: "0", 1: "10", 2: "11"):
  // literal 0: 2, then 255 zeros (138 + 117), end of block: 2, 28 zeros,
  // length 258: 1, distance 1: 1.
  w.Code(3, 2);
  w.Code(0, 1), w.Put(138 - 11, 7);
  w.Code(0, 1), w.Put(117 - 11, 7);
  w.Code(3, 2);
  w.Code(0, 1), w.Put(28 - 11, 7);
  w.Code(2, 2);
  w.Code(2, 2);
  w.Code(2, 2);  // the literal 0 ("10")
  uint64_t left = runs;
  for (; w.count != 0 && left > 0; --left) w.Put(0, 2);
  w.bytes.append(size_t(left / 4), '\0');
  for (left %= 4; left > 0; --left) w.Put(0, 2);
  w.Code(3, 2);  // end of block ("11")
  if (w.count != 0) w.Put(0, 8 - w.count);
  const uint64_t total = 1 + 258 * runs;
  return "\x78\xDA" + w.bytes + Be32(uint32_t(total % 65521) << 16 | 1);  // Adler-32 of zeros
}

// A PNG of the pattern with a chunk whose compressed text or profile inflates
// to about `gigabytes` GB.
std::string PngWithBomb(const Pixels& p, const char* type, int gigabytes) {
  const std::string zlib = ZerosZlib((uint64_t(gigabytes) << 30) / 258);
  std::string data;
  if (std::string(type) == "zTXt") data = std::string("Comment\0\0", 9) + zlib;
  if (std::string(type) == "iTXt") data = std::string("Comment\0\1\0\0\0", 12) + zlib;
  if (std::string(type) == "iCCP") data = std::string("Profile\0\0", 9) + zlib;
  std::string rows(p.bytes.begin(), p.bytes.end());
  return PngFile(uint32_t(p.width), uint32_t(p.height), 8, 2, rows, size_t(p.width) * 3,
                 PngChunk(type, data));
}

// A 2 x 2 gray TIFF whose description, XMP packet and colour profile each
// declare 1 GB from its pixels on: tags are stored as they are, so the file's
// size bounds what a decoder can read of them.
std::string TiffWithHugeTags() {
  const uint32_t pixelsAt = 8 + 2 + 12 * 12 + 4, huge = uint32_t(1) << 30;
  const uint32_t entries[12][4] = {  // tag, type, count, value
      {256, 3, 1, 2}, {257, 3, 1, 2}, {258, 3, 1, 8}, {259, 3, 1, 1}, {262, 3, 1, 1},
      {270, 2, huge, pixelsAt}, {273, 4, 1, pixelsAt}, {277, 3, 1, 1}, {278, 3, 1, 2},
      {279, 4, 1, 4}, {700, 1, huge, pixelsAt}, {34675, 7, huge, pixelsAt}};
  std::string file = std::string("II*\0", 4) + Le32(8) + Le16(12);
  for (const auto& e : entries) {
    file += Le16(e[0]) + Le16(e[1]) + Le32(e[2]) + (e[1] == 3 ? Le16(e[3]) + Le16(0) : Le32(e[3]));
  }
  return file + Le32(0) + std::string(4, '\x40');
}

// Huffman-coded bits of a JPEG scan, highest first, with 0xFF stuffed.
struct ScanWriter {
  std::string bytes;
  uint32_t pending = 0;
  int count = 0;
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      pending = pending << 1 | ((value >> i) & 1);
      if (++count == 8) {
        bytes += char(pending);
        if (pending == 0xFF) bytes += '\0';
        pending = 0;
        count = 0;
      }
    }
  }
  std::string End() {
    if (count != 0) Put((1u << (8 - count)) - 1, 8 - count);
    return bytes;
  }
};

std::string Segment(uint8_t marker, const std::string& body) {
  const size_t n = body.size() + 2;
  return std::string{'\xFF', char(marker), char(n >> 8), char(n & 0xFF)} + body;
}

// A progressive JPEG of `components` components at full resolution: a DC scan
// that codes every block as gray (1 bit each), then `acScans` AC scans in turn
// over the components, each a few bytes of end-of-band runs that skip every
// block, and each a pass of the decoder over every block of its component.
std::string ScanBombJpeg(uint32_t width, uint32_t height, int components, int acScans) {
  std::string file("\xFF\xD8", 2);
  file += Segment(0xDB, std::string(1, '\0') + std::string(64, '\1'));
  std::string frame = std::string(1, '\x08') + char(height >> 8) + char(height & 0xFF) +
                      char(width >> 8) + char(width & 0xFF) + char(components);
  for (int c = 1; c <= components; ++c) frame += std::string{char(c), '\x11', '\0'};
  file += Segment(0xC2, frame);
  // DC: one code, "0", for a difference of 0. AC: 4-bit codes for the 15
  // end-of-band runs, the run of 2^r to 2^(r+1) - 1 blocks being symbol r << 4.
  file += Segment(0xC4, std::string("\0\1", 2) + std::string(15, '\0') + '\0');
  std::string runs;
  for (int r = 0; r < 15; ++r) runs += char(r << 4);
  file += Segment(0xC4, std::string("\x10\0\0\0\x0F", 5) + std::string(12, '\0') + runs);
  const uint64_t blocks = uint64_t((width + 7) / 8) * ((height + 7) / 8);
  std::string dc(1, char(components));
  for (int c = 1; c <= components; ++c) dc += std::string{char(c), '\0'};
  file += Segment(0xDA, dc + std::string(3, '\0'));
  ScanWriter bits;
  for (uint64_t i = 0; i < blocks * components; ++i) bits.Put(0, 1);
  file += bits.End();
  ScanWriter ac;
  for (uint64_t left = blocks; left > 0;) {
    const uint64_t run = std::min<uint64_t>(left, 32767);
    int r = 0;
    while ((run >> (r + 1)) != 0) ++r;
    ac.Put(uint32_t(r), 4);
    ac.Put(uint32_t(run - (uint64_t(1) << r)), r);
    left -= run;
  }
  const std::string acData = ac.End();
  for (int i = 0; i < acScans; ++i) {
    file += Segment(0xDA, std::string{'\1', char(1 + i % components), '\0', '\1', '\x3F', '\0'}) +
            acData;
  }
  return file + "\xFF\xD9";
}

// Mean and largest difference of two images of one size.
void Difference(const Pixels& a, const Pixels& b, double* mean, int* largest) {
  double sum = 0;
  *largest = 0;
  for (size_t i = 0; i < a.bytes.size(); ++i) {
    const int d = std::abs(int(a.bytes[i]) - int(b.bytes[i]));
    sum += d;
    *largest = std::max(*largest, d);
  }
  *mean = a.bytes.empty() ? 0 : sum / double(a.bytes.size());
}

// A smooth picture, as photographs mostly are, for the lossy format.
Pixels Smooth(int width, int height) {
  Pixels p{width, height, 3, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      p.bytes.insert(p.bytes.end(), {uint8_t(40 + 4 * x), uint8_t(30 + 3 * y), uint8_t(200 - 2 * x - y)});
    }
  }
  return p;
}

// What a file carries besides its picture costs no more than the picture: a
// small PNG with 1 or 4 GB of compressed text or colour profile is filtered as
// the picture (the decoder never sees those chunks), and so is a TIFF whose
// tags declare gigabytes past its end; a JPEG of thousands of
// scans is refused, naming them, before any decoder; genuine progressive
// JPEGs of two encoders pass. Each case stays under 100 MB of peak working set
// and prints its time.
TEST_F(Filterhost, MetadataAndScanBombsCostWhatThePictureCosts) {
  // The generators make what they claim: the stream inflates to its zeros,
  // and the scan bomb's structure, at 10 scans, is a JPEG the decoder takes.
  const std::string zlib = ZerosZlib(1000);
  int inflated = 0;
  char* zeros = stbi_zlib_decode_malloc(zlib.data(), int(zlib.size()), &inflated);
  ASSERT_NE(zeros, nullptr);
  EXPECT_EQ(inflated, 258001);
  EXPECT_EQ(std::count(zeros, zeros + inflated, '\0'), inflated);
  STBI_FREE(zeros);

  const Pixels pattern = Pattern(20, 18, 3);
  const Pixels gray64 = {64, 64, 3, std::vector<uint8_t>(64 * 64 * 3, 128)};
  struct Case {
    std::string what, name, bytes;
    const char* refusal;  // the message, or null when the picture is filtered
    Pixels expected;      // before the test filter inverts it; empty: not compared
  };
  std::vector<Case> cases;
  for (const char* type : {"zTXt", "iTXt", "iCCP"}) {
    for (int gigabytes : {1, 4}) {
      cases.push_back({std::string(type) + " of " + std::to_string(gigabytes) + " GB in " +
                           "a 20 x 18 PNG",
                       std::string(type) + std::to_string(gigabytes) + ".png",
                       PngWithBomb(pattern, type, gigabytes), nullptr, pattern});
    }
  }
  cases.push_back({"TIFF tags of 1 GB each in a 2 x 2 TIFF", "tags.tif", TiffWithHugeTags(),
                   nullptr, {2, 2, 3, std::vector<uint8_t>(12, 0x40)}});
  cases.push_back({"10 scans at 64 x 64 (the bomb's structure)", "scans10.jpg",
                   ScanBombJpeg(64, 64, 3, 9), nullptr, gray64});
  cases.push_back({"6000 scans at 1000 x 1000", "scans6000.jpg",
                   ScanBombJpeg(1000, 1000, 3, 5999), "has 6000 scans; filterhost decodes JPEGs "
                   "of at most 100 (a progressive encoder writes about 10)", {}});
  cases.push_back({"1500 scans at 8000 x 8000", "scans1500.jpg", ScanBombJpeg(8000, 8000, 3, 1499),
                   "has 1500 scans", {}});
  cases.push_back({"101 scans at 64 x 64", "scans101.jpg", ScanBombJpeg(64, 64, 1, 100),
                   "has 101 scans", {}});
  for (const char* name : {"magick-colour.jpg", "magick-gray.jpg", "cjpeg-colour.jpg",
                           "cjpeg-gray.jpg"}) {
    const std::string path = g_progressive + "/" + name;
    const std::string bytes = Slurp(path);
    ASSERT_FALSE(bytes.empty()) << path;
    Pixels decoded;
    int channels = 0;
    uint8_t* data = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                          int(bytes.size()), &decoded.width, &decoded.height,
                                          &channels, 3);
    ASSERT_NE(data, nullptr) << path;
    decoded.planes = 3;
    decoded.bytes.assign(data, data + size_t(decoded.width) * decoded.height * 3);
    stbi_image_free(data);
    cases.push_back({std::string("genuine progressive ") + name, name, bytes, nullptr, decoded});
  }

  for (const Case& c : cases) {
    Spill(Path(c.name), c.bytes);
    const HostRun run = Host({TestFilter(), Path(c.name), Path("out.png")});
    if (c.refusal != nullptr) {
      EXPECT_EQ(run.exitCode, 1u) << c.what << ": " << run.err;
      EXPECT_NE(run.err.find(c.refusal), std::string::npos) << c.what << ": " << run.err;
      EXPECT_FALSE(Exists(Path("out.png"))) << c.what;
    } else {
      EXPECT_EQ(run.exitCode, 0u) << c.what << ": " << run.err;
      const Pixels got = ReadBack(Path("out.png"));
      const Pixels want = Inverted(c.expected);
      ASSERT_EQ(got.width * got.height * got.planes, want.width * want.height * want.planes)
          << c.what;
      // Lossless pictures exactly; JPEG within what two decoders differ by
      // (their rounding, and how they widen 4:2:0 colour at its edges).
      double mean = 0;
      int largest = 0;
      Difference(got, want, &mean, &largest);
      const bool lossy = c.name.find(".jpg") != std::string::npos;
      EXPECT_LE(mean, lossy ? 2.0 : 0.0) << c.what;
      EXPECT_LE(largest, lossy ? 32 : 0) << c.what;
    }
    EXPECT_GT(run.peakBytes, 0u) << c.what << ": no peak memory reported";
    EXPECT_LE(run.peakBytes, uint64_t(100) << 20) << c.what;
    std::printf("  %-48s %6zu KB %5.1f MB %5.2f s  %s\n", c.what.c_str(), c.bytes.size() >> 10,
                double(run.peakBytes) / (1 << 20), run.seconds,
                run.err.empty() ? "filtered" : run.err.substr(0, run.err.size() - 1).c_str());
    DeleteFileA(Path("out.png").c_str());
  }
}

TEST_F(Filterhost, WritesEveryFormatAndReadsItBack) {
  // Out through the test filter to the format, back to PNG through it again:
  // the picture as it was. JPEG at quality 92 stays within 2 levels on average
  // and 16 at most on a smooth picture.
  for (const char* ext : {".png", ".bmp", ".tif", ".tiff", ".jpg", ".JPEG"}) {
    const bool lossy = std::string(ext) == ".jpg" || std::string(ext) == ".JPEG";
    const Pixels in = lossy ? Smooth(37, 41) : Pattern(37, 41, 3);
    WritePng(Path("in.png"), in);
    const std::string middle = Path(std::string("middle") + ext);
    HostRun run = Host({TestFilter(), Path("in.png"), middle});
    EXPECT_EQ(run.exitCode, 0u) << ext << ": " << run.err;
    run = Host({TestFilter(), middle, Path("back.png")});
    EXPECT_EQ(run.exitCode, 0u) << ext << ": " << run.err;
    const Pixels back = ReadBack(Path("back.png"));
    ASSERT_EQ(back.width * back.height * back.planes, 37 * 41 * 3) << ext;
    if (!lossy) {
      EXPECT_TRUE(SameImage(back, in)) << ext;
    } else {
      double mean = 0;
      int largest = 0;
      Difference(back, in, &mean, &largest);
      EXPECT_LE(mean, 2.0) << ext;
      EXPECT_LE(largest, 16) << ext;
    }
  }
}

TEST_F(Filterhost, KeepsTransparencyInPngAndTiffAndWarnsWhereItIsDropped) {
  const Pixels in = Pattern(13, 9, 4);
  WritePng(Path("in.png"), in);
  for (const char* ext : {".png", ".tif", ".bmp", ".jpg"}) {
    const bool keeps = std::string(ext) == ".png" || std::string(ext) == ".tif";
    const std::string middle = Path(std::string("middle") + ext);
    HostRun run = Host({TestFilter(), Path("in.png"), middle});
    EXPECT_EQ(run.exitCode, 0u) << ext << ": " << run.err;
    EXPECT_EQ(run.err.find("keeps no transparency") != std::string::npos, !keeps) << ext << ": " << run.err;
    run = Host({TestFilter(), middle, Path("back.png")});
    const Pixels back = ReadBack(Path("back.png"));
    EXPECT_EQ(back.planes, keeps ? 4 : 3) << ext;
    if (std::string(ext) != ".jpg") {
      Pixels expected = in;
      if (!keeps) {
        expected.planes = 3;
        expected.bytes.clear();
        for (size_t i = 0; i < in.bytes.size(); ++i) {
          if (i % 4 != 3) expected.bytes.push_back(in.bytes[i]);
        }
      }
      EXPECT_TRUE(SameImage(back, expected)) << ext;
    }
  }
}

TEST_F(Filterhost, TurnsAPhotoUprightByItsExifOrientation) {
  // Stored 16 x 8, the left half dark: a camera held upright stores orientation
  // 6 (turn 90 degrees clockwise to show), so it shows 8 x 16, dark on top.
  Pixels stored{16, 8, 3, {}};
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      const uint8_t v = x < 8 ? 20 : 235;
      stored.bytes.insert(stored.bytes.end(), {v, v, v});
    }
  }
  std::string jpeg = StbJpeg(stored, 95);
  jpeg.insert(2, ExifSegment(6));
  // A phone may append a video after the end marker: not part of the picture.
  jpeg += std::string("\0\0\0\x18" "ftypmp42\xFF\xD8\xFF\xC0", 16) + std::string(300, '\x55');
  Spill(Path("phone.jpg"), jpeg);
  const HostRun run = Host({TestFilter(), Path("phone.jpg"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  const Pixels out = ReadBack(Path("out.png"));
  ASSERT_EQ(out.width, 8);
  ASSERT_EQ(out.height, 16);
  // Inverted: the dark half comes out light.
  EXPECT_GT(out.bytes[(1 * 8 + 4) * 3], 200);
  EXPECT_LT(out.bytes[(14 * 8 + 4) * 3], 55);
}

TEST_F(Filterhost, AJpegWithDamagedScanDataIsFilteredAsItsDecoderRepairsIt) {
  // A JPEG's compressed data has no checksum: bytes changed inside the scan
  // decode as wrong blocks, not as an error. The whole picture is written.
  std::string jpeg = StbJpeg(Smooth(37, 41), 90);
  const size_t scan = ScanData(jpeg);
  for (size_t at = scan + 20; at < scan + 60; at += 3) {
    if (uint8_t(jpeg[at]) != 0xFF && uint8_t(jpeg[at - 1]) != 0xFF) jpeg[at] = char(jpeg[at] ^ 0x5A);
  }
  Spill(Path("damaged.jpg"), jpeg);
  const HostRun run = Host({TestFilter(), Path("damaged.jpg"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  const Pixels out = ReadBack(Path("out.png"));
  EXPECT_EQ(out.width * out.height * out.planes, 37 * 41 * 3);
}

TEST_F(Filterhost, AFailedWriteSaysSoAndLeavesNothingHalfWritten) {
  WritePng(Path("in.png"), Pattern(64, 64, 3));
  // A device that takes no byte: the encoder's writes fail.
  HostRun run = Host({TestFilter(), Path("in.png"), "/dev/full"});
  EXPECT_EQ(run.exitCode, 1u) << run.err;
  EXPECT_MESSAGE(run, "cannot write /dev/full: the disk is full");
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.out, "");

  // Targets that cannot be written, each with words a user can act on; the
  // disk that fills up is full-disk-test.sh's.
  Spill(Path("afile"), "a file where a folder should be");
  CreateDirectoryA(Path("taken.png").c_str(), nullptr);
  Spill(Path("readonly.png"), "the old picture");
  SetFileAttributesA(Path("readonly.png").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::string longName = Path(std::string(260, 'x') + ".png");
  const struct {
    const char* what;
    std::string target;
    std::string message;
  } targets[] = {
      {"a folder that does not exist", Path("nowhere/out.png"),
       "cannot write " + Path("nowhere/out.png") + ": the folder " + Path("nowhere") +
           " does not exist"},
      {"a file where the folder should be", Path("afile/out.png"),
       "cannot write " + Path("afile/out.png") + ": " + Path("afile") + " is a file, not a folder"},
      {"a folder as the target", Path("taken.png"),
       "cannot write " + Path("taken.png") + ": " + Path("taken.png") + " is a folder"},
      {"a read-only target", Path("readonly.png"),
       "cannot write " + Path("readonly.png") + ": the file is read-only"},
      {"a path too long", longName, ": the path is too long (" + std::to_string(longName.size()) +
                                        " characters; Windows takes at most 259)"},
      {"a name Windows refuses", Path("a?b.png"),
       "cannot write " + Path("a?b.png") + ": Windows does not take this name"},
      {"a stream of another file", Path("in.png:out.png"), "Windows does not take this name"},
  };
  for (const auto& t : targets) {
    run = Host({TestFilter(), Path("in.png"), t.target});
    EXPECT_EQ(run.exitCode, 1u) << t.what << ": " << run.err;
    EXPECT_MESSAGE(run, t.message) << t.what;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << t.what << ": " << run.err;
    std::printf("  %-36s %s", t.what, run.err.c_str());
  }
  // What was there stays, and no temporary file is left beside it.
  EXPECT_TRUE(GetFileAttributesA(Path("taken.png").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  SetFileAttributesA(Path("readonly.png").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Slurp(Path("readonly.png")), "the old picture");
  EXPECT_TRUE(SameImage(ReadBack(Path("in.png")), Pattern(64, 64, 3)));
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(Path("*.tmp").c_str(), &found);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "left behind: " << found.cFileName;
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
  RemoveDirectoryA(Path("taken.png").c_str());
}

TEST_F(Filterhost, AClipStopsAtTheFrameThatFails) {
  for (int n : {1, 2, 4}) WritePng(Path("f-" + std::to_string(n) + ".png"), Pattern(10 + n, 7, 3));
  Spill(Path("f-3.png"), "frame 3 is damaged");
  Spill(Path("o-3.png"), "the old frame 3");
  const HostRun run = Host({TestFilter(), Path("f-%d.png"), Path("o-%d.png")});
  EXPECT_EQ(run.exitCode, 1u) << run.err;
  EXPECT_MESSAGE(run, "f-3.png is not an image filterhost can read");
  for (int n : {1, 2}) {
    EXPECT_TRUE(SameImage(ReadBack(Path("o-" + std::to_string(n) + ".png")),
                          Inverted(Pattern(10 + n, 7, 3))))
        << "frame " << n;
  }
  EXPECT_EQ(Slurp(Path("o-3.png")), "the old frame 3");
  EXPECT_FALSE(Exists(Path("o-4.png")));
}

TEST_F(Filterhost, OutputFormatAndQualityAreCheckedBeforeAnythingIsRead) {
  // The input does not exist: a usage error comes first.
  HostRun run = Host({TestFilter(), Path("missing.png"), Path("out.gif")});
  EXPECT_EQ(run.exitCode, 2u) << run.err;
  EXPECT_MESSAGE(run, "out.gif: unknown image extension");
  for (const char* bad : {"0", "101", "high", "9.5"}) {
    run = Host({"--quality", bad, TestFilter(), Path("missing.png"), Path("out.jpg")});
    EXPECT_EQ(run.exitCode, 2u) << bad;
    EXPECT_MESSAGE(run, "--quality takes a whole number from 1 to 100");
  }
  run = Host({TestFilter(), Path("missing.png"), Path("out.jpg"), "--quality"});
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_MESSAGE(run, "--quality needs a number");
  // Both spellings are taken (Wine's JPEG encoder ignores the value itself).
  WritePng(Path("in.png"), Smooth(8, 8));
  for (const std::vector<std::string>& quality :
       {std::vector<std::string>{"--quality", "1"}, std::vector<std::string>{"--quality=100"}}) {
    run = Host(With(quality, {TestFilter(), Path("in.png"), Path("out.jpg")}));
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(ReadBack(Path("out.jpg")).width, 8);
  }
}

TEST_F(Filterhost, FiltersNumberedFramesFromTheLowestOrStartUntilOneIsMissing) {
  // Frames 1 to 3 (and 5, after the gap, which is not part of the clip).
  for (int n : {1, 2, 3, 5}) WritePng(Path("f-" + std::to_string(1000 + n).substr(1) + ".png"),
                                      Pattern(9 + n, 7, 3));
  HostRun run = Host({TestFilter(), Path("f-%03d.png"), Path("o-%03d.png")});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  for (int n : {1, 2, 3}) {
    const std::string name = std::to_string(1000 + n).substr(1);
    EXPECT_TRUE(SameImage(ReadBack(Path("o-" + name + ".png")), Inverted(Pattern(9 + n, 7, 3))))
        << "frame " << n;
  }
  EXPECT_FALSE(Exists(Path("o-000.png")));
  EXPECT_FALSE(Exists(Path("o-005.png")));
  EXPECT_NE(run.out.find("filtered 3 frames"), std::string::npos) << run.out;
  EXPECT_MESSAGE(run, "f-004.png is missing: the clip ends there; 1 later frame, from ");
  EXPECT_MESSAGE(run, "(--start 5 filters them)");

  // Numbering from 0 keeps the numbers; an unpadded %d works too.
  WritePng(Path("g0.png"), Pattern(5, 5, 4));
  WritePng(Path("g1.png"), Pattern(6, 5, 4));
  run = Host({TestFilter(), Path("g%d.png"), Path("h%d.png")});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_TRUE(SameImage(ReadBack(Path("h0.png")), Inverted(Pattern(5, 5, 4))));
  EXPECT_TRUE(SameImage(ReadBack(Path("h1.png")), Inverted(Pattern(6, 5, 4))));
  EXPECT_EQ(run.err, "");

  // Frames exported from the middle of a timeline: 100 to 102, then 105 after a
  // gap. The clip starts at the lowest, or where --start says.
  auto frame = [](const char* prefix, int n) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%04d.png", prefix, n);
    return Path(name);
  };
  for (int n : {100, 101, 102, 105}) WritePng(frame("m_", n), Pattern(n % 7 + 3, 4, 3));
  struct Case { std::vector<std::string> options; std::vector<int> written; };
  const Case cases[] = {{{}, {100, 101, 102}},
                        {{"--start", "101"}, {101, 102}},
                        {{"--start=105"}, {105}}};
  for (const Case& c : cases) {
    for (int n = 99; n <= 106; ++n) DeleteFileA(frame("n_", n).c_str());
    std::vector<std::string> args = c.options;
    for (const char* a : {"", "m_%04d.png", "n_%04d.png"}) {
      args.push_back(*a == '\0' ? TestFilter() : Path(a));
    }
    run = Host(args);
    const std::string label = c.options.empty() ? "no --start" : c.options.back();
    EXPECT_EQ(run.exitCode, 0u) << label << run.err;
    for (int n = 99; n <= 106; ++n) {
      const bool written = std::find(c.written.begin(), c.written.end(), n) != c.written.end();
      const std::string out = frame("n_", n);
      ASSERT_EQ(Exists(out), written) << label << ", frame " << n;
      if (written) {
        EXPECT_TRUE(SameImage(ReadBack(out), Inverted(Pattern(n % 7 + 3, 4, 3)))) << label << n;
      }
    }
    EXPECT_NE(run.out.find("filtered " + std::to_string(c.written.size()) + " frames"),
              std::string::npos) << run.out;
  }
  EXPECT_EQ(run.err, "");  // the last run, from 105: no frame after it

  // A pattern that names no file, or a --start without its frame, is a usage error.
  run = Host({TestFilter(), Path("none-%04d.png"), Path("o-%04d.png")});
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_MESSAGE(run, "no frames");
  run = Host({"--start", "103", TestFilter(), Path("m_%04d.png"), Path("n_%04d.png")});
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_MESSAGE(run, "m_0103.png to start at (--start 103)");
  for (const char* bad : {"-1", "x", "", "2147483648", "12a"}) {
    run = Host({"--start", bad, TestFilter(), Path("m_%04d.png"), Path("n_%04d.png")});
    EXPECT_EQ(run.exitCode, 2u) << bad;
    EXPECT_MESSAGE(run, "--start takes a frame number");
  }
}

TEST_F(Filterhost, RefusesMissingFilesUnreadableImagesAndModulesThatAreNotFilters) {
  WritePng(Path("in.png"), Pattern(8, 8, 3));
  std::ofstream(Path("text.png")) << "not an image";
  std::ofstream(Path("text.8bf")) << "not a module";

  HostRun run = Host({Path("missing.8bf"), Path("in.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "missing.8bf: no such file");

  run = Host({TestFilter(), Path("missing.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "missing.png: no such file");

  run = Host({TestFilter(), Path("text.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "is not an image filterhost can read");

  run = Host({Path("text.8bf"), Path("in.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "cannot be loaded as a Windows module");
  EXPECT_EQ(run.err.find("%1"), std::string::npos) << run.err;

  // A module for the other processor is named as such, with the host that runs
  // it, from its header alone (a header is all this file has).
  std::string header(512, '\0');
  header.replace(0, 2, "MZ");
  header[0x3C] = char(0x80);
  header.replace(0x80, 4, std::string("PE\0\0", 4));
#if defined(_WIN64)
  header[0x84] = char(0x4C);  // i386
  header[0x85] = char(0x01);
  const char* expected = "other.8bf is a 32-bit module: run it with filterhost.exe";
#else
  header[0x84] = char(0x64);  // x86-64
  header[0x85] = char(0x86);
  const char* expected = "other.8bf is a 64-bit module: run it with filterhost64.exe";
#endif
  Spill(Path("other.8bf"), header);
  run = Host({Path("other.8bf"), Path("in.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, expected);

  run = Host({g_modules + "/notfilter.dll", Path("in.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "is not a filter module: it has no PIPL resource");

  run = Host({g_modules + "/wrongkind.8bf", Path("in.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "kind '8BAM', not '8BFM'");

  EXPECT_FALSE(Exists(Path("out.png")));
}

TEST_F(Filterhost, RefusesSetForAFilterWhoseRecordItDoesNotKnow) {
  WritePng(Path("in.png"), Pattern(8, 8, 3));
  const HostRun run = Host({"--set", "Grain Amount=40", TestFilter(), Path("in.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "\"Invert...\", whose record filterhost does not know");
  EXPECT_FALSE(Exists(Path("out.png")));
}

TEST_F(Filterhost, ReportsTheSelectorAndCodeOfAFailingFilter) {
  WritePng(Path("in.png"), Pattern(8, 8, 3));
  HostRun run = Host({TestFilter(), Path("in.png"), Path("out.png")}, "fail");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "failed at the continue (4) selector with out of memory (-108)");
  EXPECT_FALSE(Exists(Path("out.png")));

  // A request beyond the image is refused, never served from outside the buffer.
  run = Host({TestFilter(), Path("in.png"), Path("out.png")}, "outside");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "the filter asked for source pixels (top 0, left 0, bottom 9, right 8) "
                      "outside the image (8 x 8)");
  EXPECT_FALSE(Exists(Path("out.png")));
}

// Settings under which the filter changes nothing: no grain, dust, hairs,
// jitter, scratches or flicker, gray off, and the film response whose tone
// exponent is 1 (25 / (24 + 1)).
// The replays below render at Scale 1, the job's default: the 64-bit module,
// whose default is Auto, is told so; the 32-bit module has no Scale.
#if defined(_WIN64)
const std::vector<std::string> kScaleOne = {"--set", "Scale=1"};
#else
const std::vector<std::string> kScaleOne = {};
#endif
const std::vector<std::string> kIdentitySettings = With(
    {"--set", "Grain Amount=0", "--set", "Dust Amount=0", "--set", "Hair Amount=0", "--set",
     "Jitter Probability=0", "--set", "Flicker Speed=0", "--set", "Film Response=24", "--set",
     "Convert to Gray=0"},
    kScaleOne);


TEST_F(Filterhost, PatinexGivesBackTheInputUnderIdentitySettings) {
  if (g_patinex.empty()) GTEST_SKIP() << "PATINEX.8bf is not part of this build";
  for (int planes : {3, 4}) {
    const Pixels in = Pattern(45, 30, planes);
    WritePng(Path("in.png"), in);
    const HostRun run = Host(With(With(kIdentitySettings, {"--set", "Scratch Amount=0"}),
                                  {g_patinex, Path("in.png"), Path("out.png")}));
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(SameImage(ReadBack(Path("out.png")), in)) << planes << " planes";
  }
}

// The defaults with nothing random left but the scratches of `frame` (they
// replay from seed 0, so any seed gives the same frame) and no flicker, rendered
// by the renderer itself from in to out (width x height, tightly packed rows of
// `pixelBytes`; 16-bit samples when sixteenBits).
void ReplayRender(EffectParams params, const void* in, void* out, int width, int height,
                  int pixelBytes, bool alpha, bool sixteenBits, int frame) {
  params.value[kGrainAmount] = 0;
  params.value[kDustAmount] = 0;
  params.value[kHairAmount] = 0;
  params.value[kJitterProbability] = 0;
  params.value[kFlickerSpeed] = 0;
  params.value[kConvertToGray] = 0;
  params.value[kFrameNumber] = frame;
  params.value[kShowDialog] = 0;
  RenderJob job = {};
  job.params = &params;
  job.srcRect = job.dstRect = Rect{0, 0, int16_t(height), int16_t(width)};
  job.srcData = static_cast<const uint8_t*>(in);
  job.dstData = static_cast<uint8_t*>(out);
  job.srcRowBytes = job.dstRowBytes = width * pixelBytes;
  job.srcHasAlpha = job.dstHasAlpha = alpha;
  job.sixteenBits = sixteenBits ? 1 : 0;
  Rng rng;
  RenderContext context = {&rng, nullptr, 0};
  EXPECT_EQ(RenderEffectSeeded(&job, 4242, &context), 1);
}

EffectParams Defaults() {
  EffectParams params;
  SetDefaultParams(&params);
  return params;
}

// The filter's render of frame n of a clip under the settings above (the curve
// of Film Response 24 leaves every value as it is) with the default scratches.
Pixels ReplayFrame(const Pixels& in, int frame) {
  EffectParams params = Defaults();
  params.value[kFilmResponse] = 24;
  Pixels out = in;
  ReplayRender(params, in.bytes.data(), out.bytes.data(), in.width, in.height, in.planes,
               in.planes == 4, false, frame);
  return out;
}

TEST_F(Filterhost, PatinexClipCarriesTheScratchesFromFrameToFrame) {
  if (g_patinex.empty()) GTEST_SKIP() << "PATINEX.8bf is not part of this build";
  Pixels gray{96, 64, 3, std::vector<uint8_t>(96 * 64 * 3, 180)};
  for (int n = 1; n <= 3; ++n) WritePng(Path("clip-" + std::to_string(n) + ".png"), gray);
  const HostRun run =
      Host(With(kIdentitySettings, {g_patinex, Path("clip-%d.png"), Path("out-%d.png")}));
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  std::vector<Pixels> frames;
  for (int n = 1; n <= 3; ++n) {
    frames.push_back(ReadBack(Path("out-" + std::to_string(n) + ".png")));
    const Pixels& f = frames.back();
    ASSERT_EQ(f.bytes.size(), gray.bytes.size()) << "frame " << n;
    // Scratches only darken, and some are there in every frame.
    size_t darker = 0, brighter = 0;
    for (size_t i = 0; i < f.bytes.size(); ++i) {
      darker += f.bytes[i] < 180;
      brighter += f.bytes[i] > 180;
    }
    EXPECT_GT(darker, 0u) << "frame " << n;
    EXPECT_EQ(brighter, 0u) << "frame " << n;
    // The host ran the filter's parameters once and repeated it: the n-th run
    // renders frame n, the scratches n steps on.
    EXPECT_TRUE(SameImage(f, ReplayFrame(gray, n))) << "frame " << n;
  }
  EXPECT_FALSE(SameImage(frames[0], frames[1]));
  EXPECT_FALSE(SameImage(frames[1], frames[2]));
}

// 16-bit RGB samples (0..65535) of a file, as filterhost wrote it.
struct Samples16Image {
  int width = 0, height = 0, channels = 0;
  std::vector<uint16_t> samples;
};

Samples16Image ReadPng16(const std::string& path) {
  Samples16Image im;
  if (!stbi_is_16_bit(path.c_str())) return im;
  uint16_t* data = stbi_load_16(path.c_str(), &im.width, &im.height, &im.channels, 0);
  if (data == nullptr) return im;
  im.samples.assign(data, data + size_t(im.width) * im.height * im.channels);
  stbi_image_free(data);
  return im;
}

// A little-endian, uncompressed, chunky 16-bit TIFF (what the platform's encoder
// writes): its strips in order.
Samples16Image ReadTiff16(const std::string& path) {
  Samples16Image im;
  const std::string b = Slurp(path);
  auto u16 = [&](size_t at) { return at + 2 <= b.size() ? uint32_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8) : 0u; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  if (b.size() < 8 || b.compare(0, 4, std::string("II*\0", 4)) != 0) return im;
  const size_t ifd = u32(4);
  const uint32_t count = u16(ifd);
  std::vector<uint32_t> offsets, sizes;
  uint32_t bits = 0, compression = 1;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t e = ifd + 2 + 12 * i;
    const uint32_t tag = u16(e), type = u16(e + 2), n = u32(e + 4);
    auto value = [&](uint32_t k) -> uint32_t {
      const size_t size = type == 3 ? 2 : 4;
      const size_t at = n * size <= 4 ? e + 8 + k * size : u32(e + 8) + k * size;
      return type == 3 ? u16(at) : u32(at);
    };
    if (tag == 256) im.width = int(value(0));
    if (tag == 257) im.height = int(value(0));
    if (tag == 258) bits = value(0);
    if (tag == 259) compression = value(0);
    if (tag == 277) im.channels = int(value(0));
    for (uint32_t k = 0; k < n && (tag == 273 || tag == 279); ++k) {
      (tag == 273 ? offsets : sizes).push_back(value(k));
    }
  }
  if (bits != 16 || compression != 1 || offsets.size() != sizes.size()) return Samples16Image{};
  for (size_t k = 0; k < offsets.size(); ++k) {
    for (uint32_t at = offsets[k]; at + 1 < offsets[k] + sizes[k]; at += 2) im.samples.push_back(uint16_t(u16(at)));
  }
  return im;
}

// The 16-bit render of the 64-bit module, replayed with the renderer on the
// samples the filter is handed (0..32768): the default curve and scratches of the
// first frame, nothing random.
std::vector<uint16_t> Replay16(const std::vector<uint16_t>& in, int width, int height) {
  std::vector<uint16_t> out(in.size(), 0);
  ReplayRender(Defaults(), in.data(), out.data(), width, height, 6, false, true, 1);
  return out;
}

// filterhost64 hands a 16-bit PNG or TIFF to PATINEX64.8bf in 16 bits and writes
// 16 bits; the 32-bit module takes 8 bits, and --depth 8 forces them.
TEST_F(Filterhost, SixteenBitFilesStaySixteenBitThroughTheSixteenBitModule) {
  if (g_patinex.empty()) GTEST_SKIP() << "PATINEX.8bf is not part of this build";
  const int width = 600, height = 8;
  // Samples that are exactly what the filter's values scale back to, so that the
  // file and the filter's scale (0..32768) correspond one to one: a gradient
  // across, different in each channel.
  std::vector<uint16_t> filterIn;  // red, green, blue at 0..32768
  std::string be, le;              // the same at 0..65535, for PNG and TIFF
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t u[3] = {uint32_t(x * 54 + y), uint32_t(32768 - x * 50), uint32_t((x * 97 + y * 1000) % 32769)};
      for (uint32_t v : u) {
        filterIn.push_back(uint16_t(v));
        const uint32_t f = uint32_t((v * 65535u + 16384u) >> 15);
        be += std::string{char(f >> 8), char(f & 0xFF)};
        le += Le16(f);
      }
    }
  }
  Spill(Path("in16.png"), PngFile(width, height, 16, 2, be, size_t(width) * 6));
  Spill(Path("in16.tif"), TiffFile(width, height, 3, 16, 2, le));
  const std::vector<uint16_t> rendered = Replay16(filterIn, width, height);
  const std::vector<std::string> settings = With({"--set", "Grain Amount=0", "--set", "Dust Amount=0",
      "--set", "Hair Amount=0", "--set", "Jitter Probability=0", "--set", "Flicker Speed=0",
      "--set", "Convert to Gray=0"}, kScaleOne);
  const bool sixteen = sizeof(void*) == 8;  // PATINEX64.8bf takes RGB 48
  for (const char* name : {"in16.png", "in16.tif"}) {
    for (const char* out : {"out16.png", "out16.tif"}) {
      SCOPED_TRACE(std::string(name) + " -> " + out);
      const HostRun run = Host(With(settings, {g_patinex, Path(name), Path(out)}));
      ASSERT_EQ(run.exitCode, 0u) << run.err;
      const bool png = std::string(out).find(".png") != std::string::npos;
      const Samples16Image im = png ? ReadPng16(Path(out)) : ReadTiff16(Path(out));
      if (!sixteen) {
        EXPECT_TRUE(im.samples.empty()) << "the 32-bit module's run is in 8 bits";
        continue;
      }
      ASSERT_EQ(im.width, width);
      ASSERT_EQ(im.height, height);
      ASSERT_EQ(im.channels, 3);
      ASSERT_EQ(im.samples.size(), rendered.size());
      std::vector<uint16_t> back(rendered.size());
      for (size_t i = 0; i < back.size(); ++i) back[i] = uint16_t((rendered[i] * 65535u + 16384u) >> 15);
      size_t firstDifference = 0;
      while (firstDifference < back.size() && im.samples[firstDifference] == back[firstDifference]) ++firstDifference;
      EXPECT_EQ(firstDifference, back.size()) << "the module's own 16-bit render, scaled to 0..65535: sample "
          << firstDifference << " is " << (firstDifference < back.size() ? im.samples[firstDifference] : 0)
          << ", rendered " << (firstDifference < back.size() ? back[firstDifference] : 0);
      // The gradient keeps far more than 256 levels.
      std::vector<uint16_t> reds;
      for (int x = 0; x < width; ++x) reds.push_back(im.samples[size_t(x) * 3]);
      std::sort(reds.begin(), reds.end());
      EXPECT_GT(std::unique(reds.begin(), reds.end()) - reds.begin(), 256);
    }
  }
  // --depth 8: today's 8-bit run, an 8-bit file.
  const HostRun run8 = Host(With(With(settings, {"--depth", "8"}), {g_patinex, Path("in16.png"), Path("out8.png")}));
  ASSERT_EQ(run8.exitCode, 0u) << run8.err;
  EXPECT_FALSE(stbi_is_16_bit(Path("out8.png").c_str()));
  EXPECT_EQ(ReadBack(Path("out8.png")).bytes.size(), size_t(width) * height * 3);
  // --depth 16 with a module that takes 8 bits only is refused.
  if (!sixteen) {
    const HostRun refused = Host({"--depth", "16", g_patinex, Path("in16.png"), Path("x.png")});
    EXPECT_EQ(refused.exitCode, 1u);
    EXPECT_MESSAGE(refused, "takes no 16-bit images");
  }
}

// The memory check counts the depth a run goes in. At 500 x 400 pixels an 8-bit
// run of the 8-bit file needs 4 copies of 3 bytes a pixel while it filters
// (6.3 MB with 4 MB of buffers); of the 16-bit file, more while it reads: the
// file, the decoder's rows and the image (6.9 MB). A 16-bit run holds 5 copies
// of 6 bytes a pixel (the image, the samples as read, the source, the two
// areas): 9.7 MB. Below that, at 7.6 MB, the 16-bit file is refused where
// PATINEX64.8bf takes it in 16 bits, and passes in 8 bits: with --depth 8, or
// through the 32-bit module, which takes no RGB 48.
TEST_F(Filterhost, TheMemoryCheckCountsTheDepthOfTheRun) {
  if (g_patinex.empty()) GTEST_SKIP() << "PATINEX.8bf is not part of this build";
  const int width = 500, height = 400;
  std::string rows8, rows16;
  for (int i = 0; i < width * height * 3; ++i) {
    rows8 += char(i * 7);
    rows16 += std::string{char(i * 7), char(i * 13)};
  }
  const std::string png16 = PngFile(width, height, 16, 2, rows16, size_t(width) * 6);
  Spill(Path("in8.png"), PngFile(width, height, 8, 2, rows8, size_t(width) * 3));
  Spill(Path("in16.png"), png16);
  const bool sixteen = sizeof(void*) == 8;  // PATINEX64.8bf takes RGB 48
  const struct {
    const char* what;
    std::vector<std::string> args;
    bool refused;
  } cases[] = {
      {"8-bit file", {g_patinex, Path("in8.png")}, false},
      {"16-bit file", {g_patinex, Path("in16.png")}, sixteen},
      {"16-bit file with --depth 8", {"--depth", "8", g_patinex, Path("in16.png")}, false},
  };
  // The 16-bit run's figure: 30 bytes a pixel, the buffers, and (the 64-bit
  // module renders at Auto) the grain field of a scaled render.
  const double field = sixteen ? 176.0 * width + 12.0 * height + 65536.0 : 0.0;
  char needs[64];
  std::snprintf(needs, sizeof needs, "needs %.1f MB of memory; this process can have 7.6 MB",
                (30.0 * width * height + field + (4 << 20)) / (1 << 20));
  for (const auto& c : cases) {
    SetEnvironmentVariableA("FILTERHOST_MEMORY_LIMIT", "8000000");
    const HostRun run = Host(With(c.args, {Path("out.png")}));
    SetEnvironmentVariableA("FILTERHOST_MEMORY_LIMIT", nullptr);
    EXPECT_EQ(run.exitCode, c.refused ? 1u : 0u) << c.what << ": " << run.err;
    EXPECT_EQ(Exists(Path("out.png")), !c.refused) << c.what;
    if (c.refused) {
      EXPECT_MESSAGE(run, needs);
    }
    DeleteFileA(Path("out.png").c_str());
  }
}

// --set Scale: Auto, 0 or a factor goes into the 64-bit module's record (no
// damage drawn here, so the picture comes back as it went in); the 32-bit
// module has no Scale, and filterhost refuses the setting rather than render in
// pixels when Auto was asked for.
TEST_F(Filterhost, SetScaleReachesAModuleWithScaleAndIsRefusedByOneWithout) {
  if (g_patinex.empty()) GTEST_SKIP() << "PATINEX.8bf is not part of this build";
  const Pixels in = Pattern(24, 18, 3);
  WritePng(Path("in.png"), in);
  const std::vector<std::string> quiet =
      With(kIdentitySettings, {"--set", "Scratch Amount=0"});
  for (const char* scale : {"Scale=Auto", "scale=0", "Scale=2.5"}) {
    const HostRun run =
        Host(With(With(quiet, {"--set", scale}), {g_patinex, Path("in.png"), Path("out.png")}));
#if defined(_WIN64)
    EXPECT_EQ(run.exitCode, 0u) << scale << ": " << run.err;
    EXPECT_TRUE(SameImage(ReadBack(Path("out.png")), in)) << scale;
    DeleteFileA(Path("out.png").c_str());
#else
    EXPECT_EQ(run.exitCode, 1u) << scale;
    EXPECT_MESSAGE(run, "--set Scale: " + g_patinex + " has no Scale (its record holds 27 values)");
    EXPECT_FALSE(Exists(Path("out.png"))) << scale;
#endif
  }
}

// The memory estimate against what runs take: each picture through Patinex,
// whose areas are the whole image, at a size and depth of the table; the peak
// working set above that of a 1 x 1 picture is what the run took. The estimate
// is never below it and at most 20 % above it.
TEST_F(Filterhost, TheMemoryEstimateMeetsWhatRunsTake) {
  if (g_patinex.empty()) GTEST_SKIP() << "PATINEX.8bf is not part of this build";
  const bool sixteen = sizeof(void*) == 8;  // PATINEX64.8bf takes RGB 48
  // The host is large-address aware (its file header says so): 64-bit Windows
  // and Wine give the 32-bit one 4 GB of address space instead of 2.
  const std::string exe = Slurp(g_host);
  ASSERT_GE(exe.size(), 0x40u);
  const size_t pe = uint8_t(exe[0x3C]) | uint8_t(exe[0x3D]) << 8;
  ASSERT_GE(exe.size(), pe + 24);
  EXPECT_TRUE(uint8_t(exe[pe + 4 + 18]) & 0x20) << "not large-address aware";
  WritePng(Path("tiny.png"), Pattern(1, 1, 3));
  const HostRun tiny = Host({g_patinex, Path("tiny.png"), Path("tiny-out.png")});
  ASSERT_EQ(tiny.exitCode, 0u) << tiny.err;
  const uint64_t base = tiny.peakBytes;

  auto rows = [](int width, int height, int channels, int bytes) {
    std::string r(size_t(width) * height * channels * bytes, '\0');
    for (size_t i = 0; i < r.size(); ++i) r[i] = char((i * 2654435761u) >> 13);
    return r;
  };
  auto bmpRows = [&](int width, int height) {
    std::string r;
    const std::string row = rows(width, 1, 3, 1) + std::string((4 - width * 3 % 4) % 4, '\0');
    for (int y = 0; y < height; ++y) r += row;
    return r;
  };
  const struct {
    const char* what;
    const char* name;
    std::string bytes;
  } cases[] = {
      {"PNG, 8-bit RGB, 1600 x 1250", "rgb8.png",
       PngFile(1600, 1250, 8, 2, rows(1600, 1250, 3, 1), 1600 * 3)},
      {"PNG, 8-bit RGBA, 1600 x 1250", "rgba8.png",
       PngFile(1600, 1250, 8, 6, rows(1600, 1250, 4, 1), 1600 * 4)},
      {sixteen ? "PNG, 16-bit RGB, 1600 x 1250, in 16 bits" : "PNG, 16-bit RGB, 1600 x 1250, in 8 bits",
       "rgb16.png", PngFile(1600, 1250, 16, 2, rows(1600, 1250, 3, 2), 1600 * 6)},
      {"JPEG, sequential, 2400 x 1600", "seq.jpg", StbJpeg(Smooth(2400, 1600), 90)},
      {"JPEG, progressive (10 scans), 2400 x 1600", "prog.jpg", ScanBombJpeg(2400, 1600, 3, 9)},
      {"BMP, 24-bit, 2000 x 1500", "small.bmp", BmpFile(2000, 1500, bmpRows(2000, 1500))},
      {"BMP, 24-bit, 4000 x 3000", "large.bmp", BmpFile(4000, 3000, bmpRows(4000, 3000))},
      {"TIFF, 8-bit RGB, one strip, 2000 x 1500", "rgb8.tif",
       TiffFile(2000, 1500, 3, 8, 2, rows(2000, 1500, 3, 1))},
  };
  std::printf("  %-46s %9s %9s %9s %6s\n", "picture", "peak MB", "took MB", "est. MB", "est.");
  for (const auto& c : cases) {
    Spill(Path(c.name), c.bytes);
    const HostRun run = Host({g_patinex, Path(c.name), Path("out.bmp")});
    EXPECT_EQ(run.exitCode, 0u) << c.what << ": " << run.err;
    const double took = double(run.peakBytes) - double(base);
    EXPECT_GE(double(run.estimateBytes), took) << c.what;
    EXPECT_LE(double(run.estimateBytes), took * 1.2) << c.what;
    std::printf("  %-46s %9.1f %9.1f %9.1f %5.0f%%\n", c.what, double(run.peakBytes) / (1 << 20),
                took / (1 << 20), double(run.estimateBytes) / (1 << 20),
                100.0 * double(run.estimateBytes) / took);
    DeleteFileA(Path(c.name).c_str());
    DeleteFileA(Path("out.bmp").c_str());
  }
}

// A photograph of 96 megapixels (a sample enlarged to 12000 x 8000, as a
// medium-format camera or a stitched panorama makes them) is filtered by
// Patinex in either host: the 32-bit one, large-address aware, has the room.
TEST_F(Filterhost, A96MegapixelPhotographIsFiltered) {
  if (g_patinex.empty() || g_samples.empty()) GTEST_SKIP() << "needs PATINEX.8bf and the samples";
  int width = 0, height = 0, channels = 0;
  uint8_t* sample = stbi_load((g_samples + "/coffee.png").c_str(), &width, &height, &channels, 3);
  ASSERT_NE(sample, nullptr);
  Pixels big{12000, 8000, 3, std::vector<uint8_t>(size_t(12000) * 8000 * 3)};
  for (int y = 0; y < big.height; ++y) {
    const uint8_t* from = sample + size_t(y * height / big.height) * width * 3;
    uint8_t* to = &big.bytes[size_t(y) * big.width * 3];
    for (int x = 0; x < big.width; ++x) std::memcpy(to + x * 3, from + (x * width / big.width) * 3, 3);
  }
  stbi_image_free(sample);
  Spill(Path("big.jpg"), StbJpeg(big, 90));
  big.bytes = std::vector<uint8_t>();
  const HostRun run = Host({g_patinex, Path("big.jpg"), Path("big-out.jpg")});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  int outWidth = 0, outHeight = 0;
  EXPECT_TRUE(stbi_info(Path("big-out.jpg").c_str(), &outWidth, &outHeight, &channels));
  EXPECT_EQ(outWidth, 12000);
  EXPECT_EQ(outHeight, 8000);
  EXPECT_LE(run.peakBytes, run.estimateBytes + (uint64_t(40) << 20));
  std::printf("  12000 x 8000 JPEG: peak %.0f MB, estimate %.0f MB, %.1f s\n",
              double(run.peakBytes) / (1 << 20), double(run.estimateBytes) / (1 << 20), run.seconds);
}

TEST_F(Filterhost, UsageErrorsAndHelp) {
  HostRun run = Host({});
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_MESSAGE(run, "usage: filterhost");
  run = Host({"--help"});
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.out.find("Scratch Velocity    0 to 100, default 20"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Frame Number"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Scale               0 to 16, default 0 (0 = Auto"), std::string::npos)
      << run.out;
  run = Host({"--set", "Grain Amount=400", TestFilter(), "a.png", "b.png"});
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_MESSAGE(run, "Grain Amount takes a number from 0 to 100");
  run = Host({TestFilter(), Path("in-%04d.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_MESSAGE(run, "a clip needs a frame number pattern");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto take = [&](const char* key, std::string* to) {
      if (arg.compare(0, strlen(key), key) == 0) *to = arg.substr(strlen(key));
    };
    take("--host=", &g_host);
    take("--modules=", &g_modules);
    take("--work=", &g_work);
    take("--patinex=", &g_patinex);
    take("--progressive=", &g_progressive);
    take("--samples=", &g_samples);
  }
  if (g_host.empty() || g_modules.empty() || g_work.empty()) {
    std::fprintf(stderr, "usage: filterhost_tests --host=EXE --modules=DIR --work=DIR [--patinex=8BF]\n");
    return 2;
  }
  CreateDirectoryA(g_work.c_str(), nullptr);
  return RUN_ALL_TESTS();
}
