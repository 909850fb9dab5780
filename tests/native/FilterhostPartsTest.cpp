// The portable parts of filterhost: reading a property list and an FLTD
// resource, --set NAME=VALUE, numbered frame names, the image file rules
// (output extension, --quality, declared sizes) and decoded pixels to planes.
#include <gtest/gtest.h>

#include <algorithm>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "render/Samples16.h"
#include "tools/filterhost/FramePattern.h"
#include "tools/filterhost/ImageFormat.h"
#include "tools/filterhost/ImageHeader.h"
#include "tools/filterhost/PixelPlanes.h"
#include "tools/filterhost/Pipl.h"
#include "tools/filterhost/Settings.h"
#include "tools/filterhost/UnusedMetadata.h"

namespace {

// Property lists written the way they sit in a module file: little-endian
// numbers, and codes reversed ('kind' is the bytes "dnik").
std::string Le32(uint32_t v) {
  return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                     char(v >> 24)};
}
std::string Property(const char* reversedKey, const std::string& data, uint32_t length) {
  return std::string("MIB8") + reversedKey + Le32(0) + Le32(length) + data;
}
std::string Header(uint32_t count) { return std::string("\x01\x00", 2) + Le32(0) + Le32(count); }

PiplInfo Parse(const std::string& bytes, bool* ok, std::string* error = nullptr) {
  PiplInfo info;
  std::string e;
  *ok = ParsePipl(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &info, &e);
  if (error != nullptr) *error = e;
  return info;
}

TEST(FilterhostPipl, ReadsTheFilterPropertiesOfAPatinexStyleList) {
  const std::string list = Header(6) + Property("dnik", "MFB8", 4) +
                           Property("eman", std::string("\x0bPatinex...\0", 12), 12) +
                           Property("gtac", "\x07Lumivex", 8) +
                           Property("srev", std::string("\0\0\3\0", 4), 4) +
                           Property("68xw", std::string("ENTRYPOINT\0\0", 12), 12) +
                           Property("edom", std::string("\x10\x10\0\0", 4), 4);
  bool ok = false;
  const PiplInfo info = Parse(list, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(info.kind, kFilterKind);
  EXPECT_EQ(FourCharText(info.kind), "8BFM");
  EXPECT_EQ(info.name, "Patinex...");  // the length byte counts the padding zero
  EXPECT_EQ(info.category, "Lumivex");
  EXPECT_EQ(info.entryX86, "ENTRYPOINT");
  EXPECT_EQ(info.entryX64, "");
  EXPECT_EQ(info.modes, kModeRgb | kModeRgb48);  // RGB and RGB 48
}

TEST(FilterhostPipl, StepsOverUnpaddedLengthsAndClampsLengthBytes) {
  // A 9-byte name (length not a multiple of 4) is followed by 3 padding bytes;
  // its length byte claims more characters than the data holds.
  const std::string list = Header(2) +
                           Property("eman", std::string("\x30Invert..\0\0\0\0", 12), 9) +
                           Property("4668", std::string("Go\0\0", 4), 4);
  bool ok = false;
  const PiplInfo info = Parse(list, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(info.name, "Invert..");
  EXPECT_EQ(info.entryX64, "Go");
  EXPECT_EQ(info.kind, 0u);
}

TEST(FilterhostPipl, RefusesListsThatRunPastTheirEnd) {
  bool ok = true;
  std::string error;
  Parse(std::string("\x01\x00", 2), &ok, &error);
  EXPECT_FALSE(ok);
  Parse(std::string("\x02\x00", 2) + Le32(0) + Le32(0), &ok, &error);
  EXPECT_FALSE(ok) << "version 2";
  // Two properties announced, one present.
  Parse(Header(2) + Property("dnik", "MFB8", 4), &ok, &error);
  EXPECT_FALSE(ok);
  // A data length beyond the list.
  Parse(Header(1) + Property("68xw", "ENTR", 4000), &ok, &error);
  EXPECT_FALSE(ok);
  EXPECT_NE(error.find("wx86"), std::string::npos) << error;
  // A huge count on a short list is refused, not looped over.
  Parse(Header(0xFFFFFFFFu) + Property("dnik", "MFB8", 4), &ok, &error);
  EXPECT_FALSE(ok);
}

TEST(FilterhostFltd, CountsAPlainListOfDoubles) {
  std::string fltd;
  for (int i = 0; i < 27; ++i) fltd += std::string("\0\0\x08\0", 4);
  fltd += std::string("\0\0", 2);
  ASSERT_EQ(fltd.size(), 110u);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(fltd.data());
  EXPECT_EQ(CountFltdDoubles(b, fltd.size()), 27);
  EXPECT_EQ(CountFltdDoubles(b, fltd.size() - 2), -1) << "no closing zero";
  std::string four = fltd;
  four[6] = 4;  // the second entry 4 bytes wide
  EXPECT_EQ(CountFltdDoubles(reinterpret_cast<const uint8_t*>(four.data()), four.size()), -1);
  EXPECT_EQ(CountFltdDoubles(b, 0), -1);
  EXPECT_EQ(CountFltdDoubles(b, 2), 0);
}

// The machine field of a module's file, read before LoadLibrary so that a
// module for the other processor gets a message naming the host to use.
TEST(FilterhostModuleFile, MachineComesFromThePeHeader) {
  auto file = [](uint32_t peAt, const std::string& signature, uint16_t machine, size_t size) {
    std::string f(size, '\0');
    f[0] = 'M';
    f[1] = 'Z';
    for (int i = 0; i < 4; ++i) f[0x3C + i] = char((peAt >> (8 * i)) & 0xFF);
    if (uint64_t(peAt) + 6 <= size) {
      f.replace(peAt, 4, signature);
      f[peAt + 4] = char(machine & 0xFF);
      f[peAt + 5] = char(machine >> 8);
    }
    return f;
  };
  const struct {
    std::string bytes;
    uint16_t machine;
  } cases[] = {
      {file(0x80, std::string("PE\0\0", 4), kMachineX86, 512), kMachineX86},
      {file(0x80, std::string("PE\0\0", 4), kMachineX64, 512), kMachineX64},
      {file(0x80, std::string("PE\0\0", 4), 0xAA64, 512), 0xAA64},  // another processor
      {file(0x1FA, std::string("PE\0\0", 4), kMachineX64, 512), kMachineX64},  // the last 6 bytes
      {file(0x1FB, std::string("PE\0\0", 4), kMachineX64, 512), 0},  // header cut off
      {file(0xFFFFFFFFu, std::string("PE\0\0", 4), kMachineX64, 512), 0},  // pointer far past the end
      {file(0x80, std::string("NE\0\0", 4), kMachineX86, 512), 0},  // not a PE module
      {std::string("MZ"), 0},
      {std::string("not a module at all, but long enough to have a pointer at 0x3c..........."), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ModuleMachine(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()),
              c.machine)
        << c.bytes.size();
  }
  EXPECT_EQ(ModuleMachine(nullptr, 0), 0);
}

SettingValue MustParse(const std::string& text) {
  SettingValue v = {};
  std::string error;
  EXPECT_TRUE(ParseSetting(text, &v, &error)) << text << ": " << error;
  return v;
}

std::string Refusal(const std::string& text) {
  SettingValue v = {};
  std::string error;
  EXPECT_FALSE(ParseSetting(text, &v, &error)) << text;
  return error;
}

TEST(FilterhostSettings, FindsLabelsWhateverTheCaseBlanksOrMnemonic) {
  SettingValue v = MustParse("Grain Amount=40");
  EXPECT_EQ(v.index, 1);
  EXPECT_EQ(v.count, 1);
  EXPECT_EQ(v.values[0], 40.0);
  EXPECT_EQ(MustParse("  grain   AMOUNT = 40 ").index, 1);
  EXPECT_EQ(MustParse("&Film Response=24").index, 0);
  EXPECT_EQ(MustParse("F&licker Speed=0").index, 22);
  // The frame number is the filter's own count, stamped over the record.
  EXPECT_NE(Refusal("frame number=9999").find("the filter's own frame count"), std::string::npos);
  EXPECT_NE(Refusal("Grain=4").find("unknown setting \"Grain\""), std::string::npos);
  EXPECT_NE(Refusal("Grain Amount").find("NAME=VALUE"), std::string::npos);
  // Index 26, the show-dialog flag, has no label and cannot be set.
  EXPECT_EQ(FindSetting("Show Dialog"), nullptr);
}

// --help: every name --set takes with its range and default, nothing else.
TEST(FilterhostSettings, HelpListsEachSettingWithItsDefault) {
  const std::string help = SettingsHelp();
  for (const char* line : {"  Film Response       0 to 100, default 45\n",
                           "  Dust Color          R,G,B, each 0 to 255, default 50,50,50\n",
                           "  Convert to Gray     0 or 1, default 1 (on)\n",
                           "  Reveal Back Layer   0 or 1, default 0 (off)\n",
                           "  Scale               0 to 16, default 0 (0 = Auto; 64-bit modules only)\n"}) {
    EXPECT_NE(help.find(line), std::string::npos) << line << help;
  }
  EXPECT_EQ(help.find("Frame Number"), std::string::npos) << help;
  EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 20) << help;  // the dialog's 19 rows, Scale
}

// Scale: 0 or Auto (any case) is Auto, a factor up to 16 kept as the edit keeps
// it; a record of 27 values (PATINEX.8bf) takes no Scale and is left untouched,
// one of 28 takes it at index 27.
TEST(FilterhostSettings, ScaleTakesAutoOrANumberUpTo16AndOnlyARecordWithScale) {
  const struct {
    const char* text;
    double want;
  } good[] = {{"Scale=Auto", 0.0}, {"scale=AUTO", 0.0}, {"Scale = auto ", 0.0}, {"Scale=0", 0.0},
              {"Scale=2.5", 2.5},  {"SCALE=16", 16.0},  {"Scale=0.5", 0.5},    {"Scale=1.1", double(1.1f)}};
  for (const auto& g : good) {
    const SettingValue v = MustParse(g.text);
    EXPECT_EQ(v.index, kScale) << g.text;
    EXPECT_EQ(v.count, 1) << g.text;
    EXPECT_EQ(v.values[0], g.want) << g.text;
  }
  for (const char* bad : {"Scale=17", "Scale=-1", "Scale=Automatic", "Scale=", "Scale=nan"}) {
    EXPECT_NE(Refusal(bad).find("Scale takes a number from 0 to 16 (0 = Auto) or Auto"),
              std::string::npos)
        << bad;
  }
  double record[kParamCountWithScale];
  for (double& d : record) d = -1;
  EXPECT_FALSE(ApplySetting(MustParse("Scale=2.5"), record, kParamCount));
  for (double d : record) EXPECT_EQ(d, -1);
  EXPECT_TRUE(ApplySetting(MustParse("Scale=2.5"), record, kParamCountWithScale));
  EXPECT_EQ(record[kScale], 2.5);
  EXPECT_TRUE(ApplySetting(MustParse("Grain Amount=3"), record, kParamCount));
  EXPECT_EQ(record[kGrainAmount], 3.0);
}

TEST(FilterhostSettings, AmountsAreNumbersFrom0To100KeptInSinglePrecision) {
  EXPECT_EQ(MustParse("Dust Size=100").values[0], 100.0);
  EXPECT_EQ(MustParse("Dust Size=0").values[0], 0.0);
  EXPECT_EQ(MustParse("Dust Size=1e1").values[0], 10.0);
  // As the dialog's edit stores a typed 45.1: the nearest single-precision value.
  EXPECT_EQ(MustParse("Scratch Opacity=45.1").values[0], 45.099998474121094);
  for (const char* bad : {"Dust Size=100.5", "Dust Size=-1", "Dust Size=nan", "Dust Size=inf",
                          "Dust Size=0x10", "Dust Size=12abc", "Dust Size=", "Dust Size=.",
                          "Dust Size=1e", "Dust Size=1e999"}) {
    EXPECT_NE(Refusal(bad).find("Dust Size takes a number from 0 to 100"), std::string::npos)
        << bad;
  }
}

TEST(FilterhostSettings, ColorsTakeThreeWholeNumbersAndSwitchesZeroOrOne) {
  SettingValue v = MustParse("Dust Color=10, 20 ,30");
  EXPECT_EQ(v.index, 4);
  EXPECT_EQ(v.count, 3);
  EXPECT_EQ(v.values[0], 10.0);
  EXPECT_EQ(v.values[1], 20.0);
  EXPECT_EQ(v.values[2], 30.0);
  EXPECT_EQ(MustParse("gray tint value=255,0,0").index, 19);
  for (const char* bad : {"Hair Color=10,20", "Hair Color=10,20,30,40", "Hair Color=256,0,0",
                          "Hair Color=1.5,2,3", "Hair Color=-1,0,0", "Hair Color=,,"}) {
    EXPECT_NE(Refusal(bad).find("R,G,B"), std::string::npos) << bad;
  }
  EXPECT_EQ(MustParse("Convert to Gray=0").values[0], 0.0);
  EXPECT_EQ(MustParse("Convert to Gray=on").values[0], 1.0);
  EXPECT_EQ(MustParse("Reveal Back Layer=1").index, 24);
  EXPECT_NE(Refusal("Convert to Gray=2").find("0 or 1"), std::string::npos);
}

TEST(FilterhostSettings, ApplyWritesOnlyTheNamedValues) {
  double p[kParamCountWithScale];
  for (double& d : p) d = -1;
  EXPECT_TRUE(ApplySetting(MustParse("Hair Color=1,2,3"), p, kParamCountWithScale));
  EXPECT_TRUE(ApplySetting(MustParse("Flicker Amount=7"), p, kParamCountWithScale));
  for (int i = 0; i < kParamCountWithScale; ++i) {
    double expected = -1;
    if (i == 9) expected = 1;
    if (i == 10) expected = 2;
    if (i == 11) expected = 3;
    if (i == 23) expected = 7;
    EXPECT_EQ(p[i], expected) << "index " << i;
  }
}

TEST(FilterhostFrames, ExpandsOneNumberConversion) {
  FramePattern p;
  std::string error;
  ASSERT_EQ(ParseFramePattern("clip/frame-%04d.png", &p, &error), kFrameNamePattern);
  EXPECT_EQ(FrameName(p, 7), "clip/frame-0007.png");
  EXPECT_EQ(FrameName(p, 0), "clip/frame-0000.png");
  EXPECT_EQ(FrameName(p, 12345), "clip/frame-12345.png");
  ASSERT_EQ(ParseFramePattern("f%d.bmp", &p, &error), kFrameNamePattern);
  EXPECT_EQ(FrameName(p, 5), "f5.bmp");
  ASSERT_EQ(ParseFramePattern("f%3d", &p, &error), kFrameNamePattern);
  EXPECT_EQ(FrameName(p, 5), "f  5");
  ASSERT_EQ(ParseFramePattern("100%%-%02d.png", &p, &error), kFrameNamePattern);
  EXPECT_EQ(FrameName(p, 5), "100%-05.png");
  ASSERT_EQ(ParseFramePattern("%099d", &p, &error), kFrameNamePattern);
  EXPECT_EQ(FrameName(p, 1).size(), 99u);
}

// A clip starts at the lowest number present: the folder's names that the
// pattern writes for some number, and only those.
TEST(FilterhostFrames, AClipsFramesAreTheNamesThePatternWritesForANumber) {
  FramePattern p;
  std::string error, folder;
  ASSERT_EQ(ParseFramePattern("clip\\f_%04d.png", &p, &error), kFrameNamePattern);
  ASSERT_TRUE(FrameFolder(p, &folder));
  EXPECT_EQ(folder, "clip\\");
  const std::vector<std::string> names = {
      "f_0105.png", "f_0100.png", "F_0101.PNG", "f_0102.png", "f_102.png",  "f_00100.png",
      "f_0103.jpg", "f_0104.png.bak", "g_0104.png", "f_-001.png", "f_ 104.png", "f_.png",
      "f_99999999999.png", "f_2147483647.png"};
  EXPECT_EQ(FrameNumbersFound(p, names), (std::vector<int32_t>{100, 101, 102, 105, 2147483647}));
  EXPECT_TRUE(FrameNumbersFound(p, {"f_0000.txt", "readme"}).empty());

  ASSERT_EQ(ParseFramePattern("f%3d.bmp", &p, &error), kFrameNamePattern);
  ASSERT_TRUE(FrameFolder(p, &folder));
  EXPECT_EQ(folder, "");
  EXPECT_EQ(FrameNumbersFound(p, {"f  7.bmp", "f007.bmp", "f1234.bmp", "f 7.bmp"}),
            (std::vector<int32_t>{7, 1234}));
  ASSERT_EQ(ParseFramePattern("%099d", &p, &error), kFrameNamePattern);
  EXPECT_EQ(FrameNumbersFound(p, {FrameName(p, 42), std::string(99, '0')}),
            (std::vector<int32_t>{0, 42}));
  // A number in a folder's name: no one listing holds the clip.
  ASSERT_EQ(ParseFramePattern("shot%02d/a.png", &p, &error), kFrameNamePattern);
  EXPECT_FALSE(FrameFolder(p, &folder));
  EXPECT_TRUE(FrameNumbersFound(p, {"a.png"}).empty());
}

TEST(FilterhostFrames, PlainNamesAndBadPatterns) {
  FramePattern p;
  std::string error;
  EXPECT_EQ(ParseFramePattern("in.png", &p, &error), kPlainName);
  EXPECT_EQ(ParseFramePattern("50%.png", &p, &error), kPlainName);
  EXPECT_EQ(ParseFramePattern("%d-%d.png", &p, &error), kBadPattern);
  EXPECT_NE(error.find("more than one"), std::string::npos);
  EXPECT_EQ(ParseFramePattern("%s-%04d.png", &p, &error), kBadPattern);
  // A width of three digits is not a conversion the host takes: no printf runs.
  EXPECT_EQ(ParseFramePattern("%0999d", &p, &error), kPlainName);
}

TEST(FilterhostImageFiles, OutputFormatComesFromTheExtension) {
  const struct {
    const char* name;
    ImageFileFormat format;
  } cases[] = {
      {"out.png", kPngFile},         {"OUT.PNG", kPngFile},          {"a/b.jpg", kJpegFile},
      {"b.JPeG", kJpegFile},         {"c.tif", kTiffFile},           {"c.TIFF", kTiffFile},
      {"d.bmp", kBmpFile},           {"frame-%04d.bmp", kBmpFile},   {"noextension", kPngFile},
      {"dir.jpg/noext", kPngFile},   {"dir.jpg\\noext", kPngFile},  {"e.gif", kUnknownFile},
      {"e.webp", kUnknownFile},      {"e.", kUnknownFile},           {"e.png.txt", kUnknownFile},
  };
  for (const auto& c : cases) EXPECT_EQ(OutputFormatOf(c.name), c.format) << c.name;
  EXPECT_TRUE(FormatKeepsAlpha(kPngFile));
  EXPECT_TRUE(FormatKeepsAlpha(kTiffFile));
  EXPECT_FALSE(FormatKeepsAlpha(kJpegFile));
  EXPECT_FALSE(FormatKeepsAlpha(kBmpFile));
}

TEST(FilterhostImageFiles, QualityIsAWholeNumberFrom1To100) {
  const struct {
    const char* text;
    int32_t quality;  // 0: refused
  } cases[] = {{"1", 1},    {"92", 92},   {"100", 100}, {"007", 7}, {"0", 0},   {"101", 0},
               {"", 0},     {"-5", 0},    {"+5", 0},    {"5.0", 0}, {"1e2", 0}, {" 5", 0},
               {"0100", 0}, {"99999999999", 0}, {"abc", 0}};
  for (const auto& c : cases) {
    int32_t quality = -1;
    std::string error;
    EXPECT_EQ(ParseQuality(c.text, &quality, &error), c.quality != 0) << c.text;
    if (c.quality != 0) {
      EXPECT_EQ(quality, c.quality) << c.text;
    } else {
      EXPECT_EQ(quality, -1) << c.text;
      EXPECT_NE(error.find("--quality takes a whole number from 1 to 100"), std::string::npos);
    }
  }
}

TEST(FilterhostImageFiles, DeclaredSizesFrom1To32767OnEachSide) {
  const struct {
    uint32_t width, height;
    const char* message;  // null: accepted
  } cases[] = {
      {1, 1, nullptr},
      {32767, 32767, nullptr},
      {255, 0, "in.bmp declares 255 x 0 pixels: an image needs at least 1 pixel on each side"},
      {0, 7, "in.bmp declares 0 x 7 pixels"},
      {32768, 1, "in.bmp declares 32768 x 1 pixels; the filter interface takes at most 32767"},
      {8, 16000000, "in.bmp declares 8 x 16000000 pixels; the filter interface"},
      {4294967295u, 4294967295u, "in.bmp declares 4294967295 x 4294967295 pixels"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(CheckImageSize("in.bmp", c.width, c.height, &error), c.message == nullptr)
        << c.width << " x " << c.height;
    if (c.message != nullptr) {
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
  }
}

TEST(FilterhostPixels, SixteenBitsRoundToTheNearestEightBitValue) {
  for (uint32_t v = 0; v <= 65535; ++v) {
    ASSERT_EQ(Scale16To8(v), std::lround(v * 255.0 / 65535.0)) << v;
  }
}

std::vector<uint8_t> Le16(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> bytes;
  for (uint32_t v : values) bytes.push_back(uint8_t(v & 0xFF)), bytes.push_back(uint8_t(v >> 8));
  return bytes;
}

Image Blank(int32_t width, int32_t height, int32_t planes) {
  return Image{width, height, planes, std::vector<uint8_t>(size_t(width) * height * planes, 0xEE)};
}

TEST(FilterhostPixels, EveryLayoutGivesRedGreenBlueAndAlpha) {
  // Two pixels per layout. 257 * k scales to exactly k; 128 rounds down to 0,
  // 129 up to 1.
  const struct {
    SampleLayout layout;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> rgba;  // both pixels as 4-plane output
  } cases[] = {
      {kBgra8Samples, {10, 20, 30, 40, 0, 255, 1, 255}, {30, 20, 10, 40, 1, 255, 0, 255}},
      {kGray16Samples, Le16({128, 129}), {0, 0, 0, 255, 1, 1, 1, 255}},
      {kGray16Samples, Le16({65535, 257 * 77}), {255, 255, 255, 255, 77, 77, 77, 255}},
      {kRgb16Samples, Le16({257 * 1, 257 * 2, 257 * 3, 65535, 0, 129}),
       {1, 2, 3, 255, 255, 0, 1, 255}},
      {kBgr16Samples, Le16({257 * 1, 257 * 2, 257 * 3, 65535, 0, 129}),
       {3, 2, 1, 255, 1, 0, 255, 255}},
      {kRgba16Samples, Le16({257 * 5, 257 * 6, 257 * 7, 257 * 8, 0, 65535, 128, 129}),
       {5, 6, 7, 8, 0, 255, 0, 1}},
      {kBgra16Samples, Le16({257 * 5, 257 * 6, 257 * 7, 257 * 8, 0, 65535, 128, 129}),
       {7, 6, 5, 8, 0, 255, 0, 1}},
  };
  for (const auto& c : cases) {
    for (int32_t planes : {3, 4}) {
      Image image = Blank(2, 1, planes);
      const SampleRows rows = {c.layout, 2, 1, c.bytes.size(), c.bytes.data(), c.bytes.size()};
      ASSERT_TRUE(SamplesToPlanes(rows, &image, 0)) << c.layout;
      std::vector<uint8_t> expected;
      for (size_t i = 0; i < c.rgba.size(); ++i) {
        if (planes == 4 || i % 4 != 3) expected.push_back(c.rgba[i]);
      }
      EXPECT_EQ(image.pixels, expected) << "layout " << c.layout << ", " << planes << " planes";
      // Kept in 16 bits and reduced afterwards (a filter without RGB 48, or
      // --depth 8), the same bytes.
      Image wide = Blank(2, 1, planes);
      wide.pixels.resize(wide.pixels.size() * 2);
      wide.sampleBytes = 2;
      ASSERT_TRUE(SamplesToPlanes(rows, &wide, 0)) << c.layout;
      ReduceToBytes(&wide);
      EXPECT_EQ(wide.sampleBytes, 1);
      EXPECT_EQ(wide.pixels, expected) << "16 bits, layout " << c.layout << ", " << planes;
    }
  }
}

// A 16-bit file to the filter's 0..32768 and back: every value the filter can
// write survives, a sample it left alone gets the file's value back, and the
// encoder's rows are red, green, blue (alpha) at 16 bits.
TEST(FilterhostPixels, SixteenBitSamplesToTheFilterAndBack) {
  for (uint32_t u = 0; u <= 32768; ++u) {
    ASSERT_EQ(SampleFrom65535(SampleTo65535(u)), u) << u;
    ASSERT_EQ(SampleTo65535(u), std::lround(u * 65535.0 / 32768.0)) << u;
  }
  for (uint32_t v = 0; v <= 65535; ++v) {
    ASSERT_EQ(SampleFrom65535(v), std::lround(v * 32768.0 / 65535.0)) << v;
  }
  // One 4-plane pixel: the filter darkened red, kept green, blue and alpha.
  Image image{1, 1, 4, Le16({65535, 1000, 3, 40001}), 2};
  const Image read = image;
  ToFilterSamples(&image);
  EXPECT_EQ(image.pixels, Le16({32768, 500, 2, 20001}));
  image.pixels[0] = 0x00, image.pixels[1] = 0x40;  // red 16384
  ToFileSamples(&image, read);
  EXPECT_EQ(image.pixels, Le16({32768, 1000, 3, 40001}));
  std::vector<uint8_t> rows(8, 0);
  ASSERT_TRUE(PlanesToRgb16(image, 0, 1, true, rows.data(), rows.size()));
  EXPECT_EQ(rows, Le16({32768, 1000, 3, 40001}));
  ASSERT_TRUE(PlanesToRgb16(image, 0, 1, false, rows.data(), 6));
  EXPECT_FALSE(PlanesToRgb16(image, 0, 1, true, rows.data(), 7));  // too small
  EXPECT_FALSE(PlanesToBgr(image, 0, 1, false, rows.data(), rows.size()));  // not bytes
}

TEST(FilterhostPixels, BandsLandOnTheirRowsAndBadDescriptionsWriteNothing) {
  // A 2 x 3 gray image from two bands, rows padded to a stride of 6 bytes; the
  // last row of a band needs only its own 4 bytes.
  Image image = Blank(2, 3, 3);
  const std::vector<uint8_t> band1 = {0x01, 0x01, 0x02, 0x02, 0xFF, 0xFF,
                                      0x03, 0x03, 0x04, 0x04};
  const std::vector<uint8_t> band2 = {0x05, 0x05, 0x06, 0x06};
  ASSERT_TRUE(SamplesToPlanes({kGray16Samples, 2, 2, 6, band1.data(), band1.size()}, &image, 0));
  ASSERT_TRUE(SamplesToPlanes({kGray16Samples, 2, 1, 6, band2.data(), band2.size()}, &image, 2));
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6}));

  const Image before = image;
  const std::vector<uint8_t> bytes(64, 0x80);
  const struct {
    const char* what;
    SampleRows rows;
    int32_t firstRow;
  } bad[] = {
      {"rows past the image", {kGray16Samples, 2, 2, 4, bytes.data(), 64}, 2},
      {"a negative first row", {kGray16Samples, 2, 1, 4, bytes.data(), 64}, -1},
      {"a width that is not the image's", {kGray16Samples, 3, 1, 6, bytes.data(), 64}, 0},
      {"a stride shorter than a row", {kRgb16Samples, 2, 2, 11, bytes.data(), 64}, 0},
      {"too few bytes for the rows", {kRgba16Samples, 2, 3, 16, bytes.data(), 47}, 0},
      {"no data", {kBgra8Samples, 2, 1, 8, nullptr, 0}, 0},
      {"a stride whose product overflows", {kBgra8Samples, 2, 3, SIZE_MAX / 2, bytes.data(), 64}, 0},
  };
  for (const auto& b : bad) {
    EXPECT_FALSE(SamplesToPlanes(b.rows, &image, b.firstRow)) << b.what;
    EXPECT_EQ(image.pixels, before.pixels) << b.what;
  }
  // An image whose buffer does not match its size is not written either.
  Image shortImage = Blank(2, 3, 3);
  shortImage.pixels.resize(10);
  EXPECT_FALSE(SamplesToPlanes({kGray16Samples, 2, 1, 4, bytes.data(), 64}, &shortImage, 0));
}

TEST(FilterhostPixels, OrientationTurnsTheImageUpright) {
  // Stored 3 x 2:  a b c      Each pixel's planes are (v, v + 10, v + 20).
  //                d e f
  Image stored = {3, 2, 3, {}};
  for (uint8_t v : {'a', 'b', 'c', 'd', 'e', 'f'}) {
    stored.pixels.insert(stored.pixels.end(), {v, uint8_t(v + 10), uint8_t(v + 20)});
  }
  const struct {
    int32_t orientation;
    int32_t width;
    const char* shown;  // rows top to bottom
  } cases[] = {
      {1, 3, "abcdef"}, {2, 3, "cbafed"}, {3, 3, "fedcba"}, {4, 3, "defabc"},
      {5, 2, "adbecf"}, {6, 2, "daebfc"}, {7, 2, "fcebda"}, {8, 2, "cfbead"},
      {0, 3, "abcdef"}, {9, 3, "abcdef"},
  };
  for (const auto& c : cases) {
    Image image = stored;
    ApplyOrientation(c.orientation, &image);
    EXPECT_EQ(image.width, c.width) << c.orientation;
    EXPECT_EQ(image.height, 6 / c.width) << c.orientation;
    std::string shown;
    for (size_t i = 0; i < image.pixels.size(); i += 3) {
      shown += char(image.pixels[i]);
      EXPECT_EQ(image.pixels[i + 1], image.pixels[i] + 10);
      EXPECT_EQ(image.pixels[i + 2], image.pixels[i] + 20);
    }
    EXPECT_EQ(shown, c.shown) << "orientation " << c.orientation;
  }
}

std::string Be16(uint32_t v) { return std::string{char(v >> 8), char(v & 0xFF)}; }
std::string Le16s(uint32_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
std::string Be32(uint32_t v) { return Be16(v >> 16) + Be16(v & 0xFFFF); }

// A little- or big-endian TIFF structure with one directory of SHORT/LONG entries.
std::string TiffBlock(bool big, std::initializer_list<std::array<uint32_t, 3>> entries) {
  auto u16 = [&](uint32_t v) { return big ? Be16(v) : Le16s(v); };
  auto u32 = [&](uint32_t v) { return big ? Be32(v) : Le32(v); };
  std::string t = std::string(big ? "MM\0*" : "II*\0", 4) + u32(8) + u16(uint32_t(entries.size()));
  for (const auto& e : entries) {  // tag, type, value
    t += u16(e[0]) + u16(e[1]) + u32(1) + (e[1] == 3 ? u16(e[2]) + u16(0) : u32(e[2]));
  }
  return t + u32(0);
}

std::string JpegSegment(uint8_t marker, const std::string& body) {
  return std::string{'\xFF', char(marker)} + Be16(uint32_t(body.size() + 2)) + body;
}

TEST(FilterhostImageHeaders, SizesAndOrientationBeforeAnyDecoder) {
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + Be32(13) + "IHDR" + Be32(40000) +
                          Be32(3) + std::string("\x08\x02\0\0\0", 5);
  const std::string sof = JpegSegment(0xC2, std::string("\x08", 1) + Be16(480) + Be16(640) + "\x03");
  const std::string exif6 = JpegSegment(0xE1, std::string("Exif\0\0", 6) + TiffBlock(false, {{274, 3, 6}}));
  const std::string jpeg = std::string("\xFF\xD8", 2) + JpegSegment(0xE0, "JFIF") + exif6 +
                           JpegSegment(0xC4, std::string(20, '\x01')) + sof;
  const std::string gif = std::string("GIF89a") + Le16s(10) + Le16s(10) + std::string("\x80\0\0", 3) +
                          std::string(6, '\0') +                         // 2-colour table
                          std::string("\x21\xF9\x04\x01\0\0\0\0", 8) +  // an extension
                          "\x2C" + Le16s(0) + Le16s(0) + Le16s(5) + Le16s(60000) + '\0' +
                          std::string("\x02\x02\x44\x01\x00", 5) + "\x3B";
  // The picture is the first frame: the decoder gives a 1 x 1 frame as 1 x 1.
  const std::string tinyFrame = std::string("GIF89a") + Le16s(32767) + Le16s(32767) +
                                std::string("\x80\0\0", 3) + std::string(6, '\0') + "\x2C" +
                                Le16s(0) + Le16s(0) + Le16s(1) + Le16s(1) + '\0' +
                                std::string("\x02\x02\x44\x01\x00", 5) + "\x3B";
  auto bmp = [](uint32_t infoSize, const std::string& sides) {
    return "BM" + std::string(12, '\0') + Le32(infoSize) + sides + std::string(24, '\0');
  };
  const struct {
    const char* what;
    std::string bytes;
    ImageFileFormat format;
    bool sizeKnown;
    uint32_t width, height;
    int32_t orientation;
  } cases[] = {
      {"PNG", png, kPngFile, true, 40000, 3, 1},
      {"PNG cut inside its header", png.substr(0, 20), kPngFile, false, 0, 0, 1},
      {"JPEG with EXIF orientation 6", jpeg, kJpegFile, true, 640, 480, 6},
      {"JPEG cut inside its frame header", jpeg.substr(0, jpeg.size() - 4), kJpegFile, false, 0, 0, 6},
      {"JPEG scan before a frame header", std::string("\xFF\xD8", 2) + JpegSegment(0xDA, "xx") + sof,
       kJpegFile, false, 0, 0, 1},
      {"JPEG segment with length 0", std::string("\xFF\xD8\xFF\xE0\x00\x00", 6) + sof, kJpegFile,
       false, 0, 0, 1},
      {"JPEG EXIF orientation out of range",
       std::string("\xFF\xD8", 2) + JpegSegment(0xE1, std::string("Exif\0\0", 6) + TiffBlock(true, {{274, 3, 9}})) + sof,
       kJpegFile, true, 640, 480, 1},
      {"GIF with a frame larger than its screen", gif, kGifFile, true, 5, 60000, 1},
      {"GIF of a 1 x 1 frame on a 32767 x 32767 screen", tinyFrame, kGifFile, true, 1, 1, 1},
      {"GIF cut inside a frame", gif.substr(0, gif.size() - 4), kGifFile, false, 0, 0, 1},
      {"GIF without a frame", gif.substr(0, 13 + 6) + "\x3B", kGifFile, false, 0, 0, 1},
      {"BMP", bmp(40, Le32(255) + Le32(0)), kBmpFile, true, 255, 0, 1},
      {"BMP stored top down", bmp(40, Le32(8) + Le32(0u - 16000000u)), kBmpFile, true, 8, 16000000, 1},
      {"BMP with the lowest height", bmp(40, Le32(8) + Le32(0x80000000u)), kBmpFile, true, 8,
       0x80000000u, 1},
      {"BMP with the OS/2 header", bmp(12, Le16s(300) + Le16s(200)), kBmpFile, true, 300, 200, 1},
      {"BMP cut inside its header", std::string("BM\0\0\0\0\0\0\0\0\0\0\0\0\x28\0\0\0\x01", 19),
       kBmpFile, false, 0, 0, 1},
      {"TIFF, little-endian", TiffBlock(false, {{256, 4, 70000}, {257, 3, 9}, {274, 3, 8}}),
       kTiffFile, true, 70000, 9, 8},
      {"TIFF, big-endian", TiffBlock(true, {{256, 3, 12}, {257, 4, 34}}), kTiffFile, true, 12, 34, 1},
      {"TIFF without a height", TiffBlock(false, {{256, 3, 12}}), kTiffFile, false, 12, 0, 1},
      {"TIFF directory past the end", std::string("II*\0\xF0\xFF\xFF\x7F", 8), kTiffFile, false,
       0, 0, 1},
      {"TIFF with more entries than bytes", std::string("II*\0\x08\0\0\0\xFF\xFF", 10) +
       std::string(12, '\0'), kTiffFile, false, 0, 0, 1},
      {"text", "not an image", kUnknownFile, false, 0, 0, 1},
      {"nothing", "", kUnknownFile, false, 0, 0, 1},
  };
  for (const auto& c : cases) {
    // A copy of exactly the bytes, so that the sanitizer sees any read past them.
    std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    const ImageHeader h = ReadImageHeader(bytes.empty() ? nullptr : bytes.data(), bytes.size());
    EXPECT_EQ(h.format, c.format) << c.what;
    EXPECT_EQ(h.sizeKnown, c.sizeKnown) << c.what;
    if (c.sizeKnown) {
      EXPECT_EQ(h.width, c.width) << c.what;
      EXPECT_EQ(h.height, c.height) << c.what;
    }
    EXPECT_EQ(h.orientation, c.orientation) << c.what;
  }
}

// What a run needs, counted from the header before any decoder: the most of
// reading (the file, the decoder's rows at the file's depth, the image),
// filtering (4 copies of the image at the run's depth, 5 in 16 bits) and
// writing, and 4 MB of buffers. Only a 16-bit file in a 16-bit run counts
// 16 bits; the planes are 3 where the header rules out transparency.
TEST(FilterhostImageHeaders, RunMemoryAtTheDepthOfTheRun) {
  auto png = [](char depth, char colorType, const std::string& chunks = "") {
    return std::string("\x89PNG\r\n\x1a\n", 8) + Be32(13) + "IHDR" + Be32(1000) + Be32(1000) +
           depth + colorType + std::string("\0\0\0", 3) + "CRC!" + chunks;
  };
  auto tiff = [](uint32_t bits, uint32_t samples) {
    return TiffBlock(false, {{256, 3, 1000}, {257, 3, 1000}, {258, 3, bits}, {277, 3, samples}});
  };
  const std::string trns = Be32(2) + "tRNS" + "ab" + "CRC!";
  const uint64_t pixels = 1000 * 1000, buffers = 4 << 20;
  const struct {
    const char* what;
    std::string bytes;
    bool sixteenBitRun;  // the filter takes RGB 48, no --depth 8
    uint64_t fileBytes;
    int32_t planes;
    uint64_t needed;
  } cases[] = {
      {"8-bit RGB PNG", png(8, 2), true, 0, 3, 12 * pixels + buffers},
      {"8-bit RGB PNG with a transparent colour", png(8, 2, trns), true, 0, 4, 16 * pixels + buffers},
      {"8-bit RGBA PNG", png(8, 6), true, 0, 4, 16 * pixels + buffers},
      {"16-bit RGB PNG in a 16-bit run", png(16, 2), true, 0, 3, 30 * pixels + buffers},
      {"16-bit RGB PNG in an 8-bit run", png(16, 2), false, 0, 3, 12 * pixels + buffers},
      // Reading takes most: the file, rows of a filter byte and 6000 bytes, the image.
      {"16-bit RGB PNG of 9 MB in an 8-bit run", png(16, 2), false, 9000000, 3,
       9000000 + 1000 * 6001 + 3 * pixels + buffers},
      {"16-bit gray TIFF in a 16-bit run", tiff(16, 1), true, 0, 3, 30 * pixels + buffers},
      {"8-bit RGBA TIFF", tiff(8, 4), true, 0, 4, 16 * pixels + buffers},
      // Its depth and colour cut off: 8 bytes a pixel for the decoder and perhaps
      // 4 planes; the decoder tells later.
      {"PNG cut before its depth", png(16, 2).substr(0, 24), true, 0, 4, 16 * pixels + buffers},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    const ImageHeader h = ReadImageHeader(bytes.data(), bytes.size());
    ASSERT_TRUE(h.sizeKnown) << c.what;
    EXPECT_EQ(RunPlanes(h), c.planes) << c.what;
    EXPECT_EQ(RunMemoryBytes(h.width, h.height, RunPlanes(h), RunSampleBytes(h, c.sixteenBitRun),
                             h.decodedBytes, c.fileBytes),
              c.needed)
        << c.what;
  }
  // Writing takes most only where the filter's copies are small next to an
  // encoder's: never for 3 or 4 planes; a 16-bit image written in bytes is
  // copied to be reduced (6 + 4 + 6 bytes a pixel), still below filtering (30).
  EXPECT_EQ(RunMemoryBytes(1000, 1000, 3, 2, 1, 0), 30 * pixels + buffers);

  // What a progressive decoder keeps besides the picture: every block's 64
  // coefficients of 2 bytes (4:2:0, 2000 x 2000: 62500 + 2 x 15625 blocks);
  // a run-length BMP is decoded into 4 bytes a pixel.
  auto jpeg = [](uint8_t marker) {
    return std::string("\xFF\xD8", 2) +
           JpegSegment(marker, std::string("\x08", 1) + Be16(2000) + Be16(2000) +
                                   std::string("\x03\x01\x22\0\x02\x11\0\x03\x11\0", 10));
  };
  const std::string bmp = "BM" + std::string(12, '\0') + Le32(40) + Le32(1000) + Le32(1000) +
                          Le16s(1) + Le16s(8) + Le32(1) + std::string(20, '\0');
  const struct {
    const char* what;
    std::string bytes;
    uint64_t decoded;
    int32_t planes;
  } decoders[] = {
      {"sequential JPEG", jpeg(0xC0), 2000 * 2000 * 3, 3},
      {"progressive JPEG", jpeg(0xC2), 2000 * 2000 * 3 + (62500 + 2 * 15625) * 128, 3},
      {"run-length BMP", bmp, 4 * pixels, 3},
  };
  for (const auto& c : decoders) {
    std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    const ImageHeader h = ReadImageHeader(bytes.data(), bytes.size());
    EXPECT_EQ(h.decodedBytes, c.decoded) << c.what;
    EXPECT_EQ(RunPlanes(h), c.planes) << c.what;
  }
}

// A run that does not fit is refused with both figures; the 32-bit host names
// the 64-bit one when that could have the memory.
TEST(FilterhostImageFiles, RunMemoryRefusalSaysWhichHostWouldTakeIt) {
  const uint64_t gb = uint64_t(1) << 30;
  const struct {
    uint64_t needed, available, to64;
    bool fits;
    const char* message;
  } cases[] = {
      {2 * gb, 2 * gb, 0, true, ""},
      {2 * gb + 1, 2 * gb, 0, false,
       "in.jpg: filtering its 12000 x 8000 pixels needs 2.0 GB of memory; this process can have "
       "2.0 GB"},
      {3 * gb, 2 * gb, 20 * gb, false,
       "in.jpg: filtering its 12000 x 8000 pixels needs 3.0 GB of memory; this process can have "
       "2.0 GB; filterhost64.exe (with PATINEX64.8bf) can have 20.0 GB and would take it"},
      {30 * gb, 2 * gb, 20 * gb, false,
       "in.jpg: filtering its 12000 x 8000 pixels needs 30.0 GB of memory; this process can have "
       "2.0 GB"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(CheckRunMemory("in.jpg", "its 12000 x 8000 pixels", c.needed, c.available, c.to64,
                             &error),
              c.fits);
    EXPECT_EQ(error, c.message);
  }
}

// The fewest bytes each format can hold its declared pixels in, at its best
// compression, and a JPEG's end found by walking its markers and scans.
TEST(FilterhostImageHeaders, FewestBytesForThePixelsAndTheJpegEnd) {
  auto png = [](uint32_t side, char depth, char colorType) {
    return std::string("\x89PNG\r\n\x1a\n", 8) + Be32(13) + "IHDR" + Be32(side) + Be32(side) +
           depth + colorType + std::string("\0\0\0", 3);
  };
  auto bmp = [](uint32_t w, uint32_t h, int bits, int compression) {
    return "BM" + std::string(12, '\0') + Le32(40) + Le32(w) + Le32(h) + Le16s(1) + Le16s(bits) +
           Le32(compression) + std::string(20, '\0');
  };
  // A 4:2:0 colour frame: Y at 2 x 2, Cb and Cr at 1 x 1.
  auto sof = [](uint8_t marker, uint32_t w, uint32_t h) {
    return JpegSegment(marker, std::string("\x08", 1) + Be16(h) + Be16(w) +
                                   std::string("\x03\x01\x22\0\x02\x11\0\x03\x11\0", 10));
  };
  const std::string scan = JpegSegment(0xDA, std::string(10, '\0')) + "ab\xFF\x00" "c\xFF\xD3" "de";
  const std::string soi("\xFF\xD8", 2), eoi("\xFF\xD9", 2);
  const uint64_t k = 32767;
  const struct {
    const char* what;
    std::string bytes;
    uint64_t least;
    bool cutShort;
  } cases[] = {
      // (1 filter byte + 4096 bytes of 1-bit samples) per row, 1032 to 1: a blank one is 130 KB.
      {"1-bit gray PNG", png(k, 1, 0), (k * 4097 + 1031) / 1032, false},
      {"16-bit RGBA PNG", png(k, 16, 6), (k * (1 + k * 8) + 1031) / 1032, false},
      {"PNG of a colour type PNG does not have", png(k, 8, 5), 0, false},
      {"24-bit BMP: rows of whole words, but the last", bmp(5, 3, 24, 0), 16 * 2 + 15, false},
      {"1-bit BMP", bmp(33, 2, 1, 0), 8 + 5, false},
      {"run-length BMP: no bound", bmp(k, k, 8, 1), 0, false},
      {"uncompressed RGB TIFF", TiffBlock(false, {{256, 3, 10}, {257, 3, 7}, {277, 3, 3}, {258, 3, 8}}),
       210, false},
      {"LZW TIFF: 9 bits give at most 4096 bytes",
       TiffBlock(true, {{256, 3, 4096}, {257, 3, 8}, {259, 3, 5}}), (4096 * 8 / 8 * 9 + 32767) / 32768,
       false},
      {"fax TIFF: no bound", TiffBlock(false, {{256, 3, 100}, {257, 3, 100}, {259, 3, 4}}), 0, false},
      // Y: 4096 x 4096 blocks, Cb and Cr 2048 x 2048 each; 2 bits a block, progressive 1.
      {"sequential JPEG", soi + sof(0xC0, k, k) + scan + eoi, (4096 * 4096 + 2 * 2048 * 2048) * 2 / 8,
       false},
      {"progressive JPEG", soi + sof(0xC2, k, k) + scan + eoi, (4096 * 4096 + 2 * 2048 * 2048) / 8,
       false},
      {"arithmetic-coded JPEG: no bound", soi + sof(0xC9, k, k) + scan + eoi, 0, false},
      {"JPEG with a video after its end", soi + sof(0xC0, 8, 8) + scan + eoi + "\xFF\xD8\xFF" + scan,
       1, false},  // 3 blocks of 8 x 8, 6 bits
      {"JPEG ending in its scan", soi + sof(0xC0, 8, 8) + scan, 1, true},
      {"JPEG whose end marker is inside a segment", soi + sof(0xC0, 8, 8) +
       JpegSegment(0xFE, "\xFF\xD9"), 1, true},
      {"JPEG with a second scan and restarts", soi + sof(0xC2, 8, 8) + scan + scan + eoi, 1, false},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    const ImageHeader h = ReadImageHeader(bytes.data(), bytes.size());
    EXPECT_TRUE(h.sizeKnown) << c.what;
    EXPECT_EQ(h.leastFileBytes, c.least) << c.what;
    EXPECT_EQ(h.cutShort, c.cutShort) << c.what;
    std::string error;
    EXPECT_EQ(CheckFileHoldsImage("in", h, c.least, &error), !c.cutShort) << c.what;
    if (c.least > 0) {
      EXPECT_FALSE(CheckFileHoldsImage("in", h, c.least - 1, &error)) << c.what;
      if (!c.cutShort) {
        EXPECT_NE(error.find("but holds only"), std::string::npos) << error;
      }
    }
  }
  EXPECT_TRUE(ReadImageHeader(reinterpret_cast<const uint8_t*>("MM\0*"), 4).format == kTiffFile);
}

// A JPEG's scans are counted as its markers are walked: those of the image up
// to its end, not a marker's bytes inside a segment nor an appended video's.
// Past the bound the file is refused with the count; a GIF whose later frames
// hold more than its bytes can is refused naming its frames.
TEST(FilterhostImageHeaders, JpegScansAndGifFramesBoundTheWork) {
  const std::string soi("\xFF\xD8", 2), eoi("\xFF\xD9", 2);
  const std::string sof = JpegSegment(0xC2, std::string("\x08", 1) + Be16(8) + Be16(8) +
                                                std::string("\x01\x01\x11\0", 4));
  const std::string scan = JpegSegment(0xDA, std::string("\x01\x01\0\0\x3F\0", 6)) + "ab";
  auto scans = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += scan;
    return s;
  };
  const struct {
    const char* what;
    std::string bytes;
    uint32_t scans;
  } cases[] = {
      {"sequential", soi + sof + scan + eoi, 1},
      {"as many as the bound", soi + sof + scans(100) + eoi, 100},
      {"one past the bound", soi + sof + scans(101) + eoi, 101},
      {"start-of-scan bytes inside a comment", soi + JpegSegment(0xFE, "\xFF\xDA\x00\x08") + sof +
       scan + eoi, 1},
      {"a video after the end", soi + sof + scan + eoi + soi + sof + scans(200) + eoi, 1},
      {"6000 scans", soi + sof + scans(6000) + eoi, 6000},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    const ImageHeader h = ReadImageHeader(bytes.data(), bytes.size());
    EXPECT_EQ(h.scans, c.scans) << c.what;
    std::string error;
    EXPECT_EQ(CheckFileHoldsImage("in.jpg", h, bytes.size(), &error), c.scans <= kMaxJpegScans)
        << c.what;
    if (c.scans > kMaxJpegScans) {
      EXPECT_EQ(error, "in.jpg has " + std::to_string(c.scans) +
                           " scans; filterhost decodes JPEGs of at most 100 (a progressive "
                           "encoder writes about 10)");
    }
  }

  // A 1 x 1 first frame, then one of 32767 x 32767 in 20 bytes of data.
  const std::string frame = "\x2C" + Le16s(0) + Le16s(0);
  const std::string gif = std::string("GIF89a") + Le16s(1) + Le16s(1) + std::string(3, '\0') +
                          frame + Le16s(1) + Le16s(1) + std::string("\0\x02\x02\x44\x01\0", 6) +
                          frame + Le16s(32767) + Le16s(32767) + std::string("\0\x02\x14", 3) +
                          std::string(20, '\0') + std::string("\0\x3B", 2);
  std::vector<uint8_t> bytes(gif.begin(), gif.end());
  const ImageHeader h = ReadImageHeader(bytes.data(), bytes.size());
  EXPECT_EQ(h.width, 1u);
  EXPECT_EQ(h.height, 1u);
  EXPECT_EQ(h.frames, 2u);
  EXPECT_EQ(h.decodedBytes, 1 + 32767ull * 32767);  // the decoder keeps every frame
  std::string error;
  EXPECT_FALSE(CheckFileHoldsImage("in.gif", h, bytes.size(), &error));
  EXPECT_EQ(error, "in.gif: its 2 frames declare 1073676290 pixels in all, but it holds only " +
                       std::to_string(bytes.size()) + " bytes: the file is damaged or cut short");
}

// A PNG's compressed text and profile are taken out before the decoder sees
// the file; every other chunk stays byte for byte, in order, and so does
// everything from a damaged chunk on, and any file that is not a PNG.
TEST(FilterhostUnusedMetadata, PngTextAndProfileNeverReachTheDecoder) {
  const std::string signature("\x89PNG\r\n\x1a\n", 8);
  auto chunk = [](const char* type, const std::string& data) {
    return Be32(uint32_t(data.size())) + type + data + "CRC!";
  };
  const std::string ihdr = chunk("IHDR", std::string(13, '\1'));
  const std::string text = chunk("tEXt", std::string("Title\0kept", 11));
  const std::string ztxt = chunk("zTXt", std::string("Comment\0\0\x78\xDA", 11));
  const std::string itxt = chunk("iTXt", std::string("Comment\0\1\0\0\0\x78\xDA", 14));
  const std::string iccp = chunk("iCCP", std::string("ICC\0\0\x78\xDA", 7));
  const std::string idat = chunk("IDAT", "pixels"), iend = chunk("IEND", "");
  const std::string cut = Be32(1000) + "zTXt" + "short";
  const std::string jpeg = std::string("\xFF\xD8\xFF\xFE", 4) + ztxt;
  const struct {
    const char* what;
    std::string in, out;
  } cases[] = {
      {"every kind", signature + ihdr + text + ztxt + itxt + idat + iccp + idat + iend,
       signature + ihdr + text + idat + idat + iend},
      {"one after another", signature + ihdr + ztxt + ztxt + iccp + idat + iend,
       signature + ihdr + idat + iend},
      {"bytes after the end", signature + ihdr + idat + iend + ztxt, signature + ihdr + idat + iend + ztxt},
      {"a chunk that runs past the end", signature + ihdr + ztxt + idat + cut,
       signature + ihdr + idat + cut},
      {"no chunks", signature, signature},
      {"a JPEG", jpeg, jpeg},
      {"a PNG cut inside its signature", signature.substr(0, 7), signature.substr(0, 7)},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes(c.in.begin(), c.in.end());
    const size_t left = DropUnusedMetadata(bytes.data(), bytes.size());
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + left), c.out) << c.what;
  }
  EXPECT_EQ(DropUnusedMetadata(nullptr, 0), 0u);
}

}  // namespace
