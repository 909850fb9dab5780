// The portable parts of filterhost: reading a property list and an FLTD
// resource, --set NAME=VALUE, and numbered frame names.
#include <gtest/gtest.h>

#include <string>

#include "tools/filterhost/FramePattern.h"
#include "tools/filterhost/Pipl.h"
#include "tools/filterhost/Settings.h"

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
  const std::string list = Header(5) + Property("dnik", "MFB8", 4) +
                           Property("eman", std::string("\x0bPatinex...\0", 12), 12) +
                           Property("gtac", "\x07Lumivex", 8) +
                           Property("srev", std::string("\0\0\3\0", 4), 4) +
                           Property("68xw", std::string("ENTRYPOINT\0\0", 12), 12);
  bool ok = false;
  const PiplInfo info = Parse(list, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(info.kind, kFilterKind);
  EXPECT_EQ(FourCharText(info.kind), "8BFM");
  EXPECT_EQ(info.name, "Patinex...");  // the length byte counts the padding zero
  EXPECT_EQ(info.category, "Lumivex");
  EXPECT_EQ(info.entryX86, "ENTRYPOINT");
  EXPECT_EQ(info.entryX64, "");
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
  EXPECT_EQ(MustParse("Frame Number=9999").index, 25);
  EXPECT_NE(Refusal("Grain=4").find("unknown setting \"Grain\""), std::string::npos);
  EXPECT_NE(Refusal("Grain Amount").find("NAME=VALUE"), std::string::npos);
  // Index 26, the show-dialog flag, has no label and cannot be set.
  EXPECT_EQ(FindSetting("Show Dialog"), nullptr);
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
  EXPECT_NE(Refusal("Frame Number=10000").find("0 to 9999"), std::string::npos);
  EXPECT_NE(Refusal("Frame Number=2.5").find("0 to 9999"), std::string::npos);
}

TEST(FilterhostSettings, ApplyWritesOnlyTheNamedValues) {
  EffectParams p;
  for (double& d : p.value) d = -1;
  ApplySetting(MustParse("Hair Color=1,2,3"), &p);
  ApplySetting(MustParse("Flicker Amount=7"), &p);
  for (int i = 0; i < kParamCount; ++i) {
    double expected = -1;
    if (i == 9) expected = 1;
    if (i == 10) expected = 2;
    if (i == 11) expected = 3;
    if (i == 23) expected = 7;
    EXPECT_EQ(p.value[i], expected) << "index " << i;
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

}  // namespace
