// filterhost end to end: runs filterhost.exe as a process on generated images
// with the test filter (exact inverted pixels), with modules that are not
// filters, and with PATINEX.8bf, and reads back what it wrote.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/EffectParams.h"
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

std::string g_host, g_modules, g_work, g_patinex;
int g_runs = 0;

struct Pixels {
  int width = 0, height = 0, planes = 0;
  std::vector<uint8_t> bytes;
};

struct HostRun {
  DWORD exitCode;
  std::string out;
  std::string err;
};

std::string Path(const std::string& name) { return g_work + "/" + name; }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
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
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &si,
                      &pi)) {
    ADD_FAILURE() << "cannot start " << command;
  }
  CloseHandle(out);
  CloseHandle(err);
  SetEnvironmentVariableA("TESTFILTER_MODE", nullptr);
  return pi;
}

HostRun Finish(PROCESS_INFORMATION pi) {
  HostRun run = {9999, "", ""};
  if (pi.hProcess == nullptr) return run;
  if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 999);
    ADD_FAILURE() << "filterhost did not end within two minutes";
    WaitForSingleObject(pi.hProcess, 5000);
  }
  GetExitCodeProcess(pi.hProcess, &run.exitCode);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  run.out = Slurp(Path("run" + std::to_string(g_runs) + ".out"));
  run.err = Slurp(Path("run" + std::to_string(g_runs) + ".err"));
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

TEST_F(Filterhost, ReadsBmpAndJpeg) {
  const Pixels in = Pattern(20, 18, 3);
  ASSERT_TRUE(stbi_write_bmp(Path("in.bmp").c_str(), in.width, in.height, 3, in.bytes.data()));
  HostRun run = Host({TestFilter(), Path("in.bmp"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_TRUE(SameImage(ReadBack(Path("out.png")), Inverted(in)));

  // JPEG is lossy: the expectation is the inverse of what the file decodes to.
  ASSERT_TRUE(stbi_write_jpg(Path("in.jpg").c_str(), in.width, in.height, 3, in.bytes.data(), 90));
  run = Host({TestFilter(), Path("in.jpg"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_TRUE(SameImage(ReadBack(Path("out.png")), Inverted(ReadBack(Path("in.jpg")))));
}

TEST_F(Filterhost, FiltersNumberedFramesFromOneOrZeroUntilOneIsMissing) {
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

  // Numbering from 0 keeps the numbers; an unpadded %d works too.
  WritePng(Path("g0.png"), Pattern(5, 5, 4));
  WritePng(Path("g1.png"), Pattern(6, 5, 4));
  run = Host({TestFilter(), Path("g%d.png"), Path("h%d.png")});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_TRUE(SameImage(ReadBack(Path("h0.png")), Inverted(Pattern(5, 5, 4))));
  EXPECT_TRUE(SameImage(ReadBack(Path("h1.png")), Inverted(Pattern(6, 5, 4))));

  run = Host({TestFilter(), Path("none-%04d.png"), Path("o-%04d.png")});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "no frames");
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
  EXPECT_MESSAGE(run, "is not a PNG, JPEG or BMP image");

  run = Host({Path("text.8bf"), Path("in.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_MESSAGE(run, "cannot be loaded as a Windows module");

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
const std::vector<std::string> kIdentitySettings = {
    "--set", "Grain Amount=0",   "--set", "Dust Amount=0",     "--set", "Hair Amount=0",
    "--set", "Jitter Probability=0", "--set", "Flicker Speed=0", "--set", "Film Response=24",
    "--set", "Convert to Gray=0"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

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

// The filter's render of frame n of a clip under the settings above with the
// default scratches, replayed with the renderer itself. Nothing random is left
// but the scratches, which replay from seed 0, so any seed gives the same frame.
Pixels ReplayFrame(const Pixels& in, int frame) {
  EffectParams params;
  SetDefaultParams(&params);
  params.value[kGrainAmount] = 0;
  params.value[kDustAmount] = 0;
  params.value[kHairAmount] = 0;
  params.value[kJitterProbability] = 0;
  params.value[kFlickerSpeed] = 0;
  params.value[kFilmResponse] = 24;
  params.value[kConvertToGray] = 0;
  params.value[kFrameNumber] = frame;
  params.value[kShowDialog] = 0;
  Pixels out = in;
  RenderJob job = {};
  job.params = &params;
  job.srcRect = job.dstRect = Rect{0, 0, int16_t(in.height), int16_t(in.width)};
  job.srcData = in.bytes.data();
  job.dstData = out.bytes.data();
  job.srcRowBytes = job.dstRowBytes = in.width * in.planes;
  job.srcHasAlpha = job.dstHasAlpha = in.planes == 4;
  Rng rng;
  RenderContext context = {&rng, nullptr};
  EXPECT_EQ(RenderEffectSeeded(&job, 4242, &context), 1);
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

TEST_F(Filterhost, UsageErrorsAndHelp) {
  HostRun run = Host({});
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_MESSAGE(run, "usage: filterhost");
  run = Host({"--help"});
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.out.find("Scratch Velocity"), std::string::npos) << run.out;
  run = Host({"--set", "Grain Amount=400", TestFilter(), "a.png", "b.png"});
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_MESSAGE(run, "Grain Amount takes a number from 0 to 100");
  run = Host({TestFilter(), Path("in-%04d.png"), Path("out.png")});
  EXPECT_EQ(run.exitCode, 1u);
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
  }
  if (g_host.empty() || g_modules.empty() || g_work.empty()) {
    std::fprintf(stderr, "usage: filterhost_tests --host=EXE --modules=DIR --work=DIR [--patinex=8BF]\n");
    return 2;
  }
  CreateDirectoryA(g_work.c_str(), nullptr);
  return RUN_ALL_TESTS();
}
