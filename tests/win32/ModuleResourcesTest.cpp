// PATINEX.8bf's resources, exports and imports (PATINEX64.8bf's in the 64-bit
// build), read from the loaded module as a host and the dialogs read them, and
// compared byte by byte with their tables.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/ParamTable.h"
#include "testing/ModuleHost.h"
#include "ui/ParamControls.h"

namespace {

const WORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

// The second byte of the mode flags: RGB 48 (0x10) in the 64-bit module only;
// the 32-bit module's property list keeps its bytes.
#if defined(_WIN64)
const uint8_t kSixteenBitModeByte = 0x10;
#else
const uint8_t kSixteenBitModeByte = 0;
#endif

std::vector<uint8_t> ResourceBytes(LPCSTR type, LPCSTR name) {
  HMODULE module = PatinexModule();
  HRSRC info = FindResourceExA(module, type, name, kUsEnglish);
  if (info == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const uint8_t* p = static_cast<const uint8_t*>(LockResource(loaded));
  return std::vector<uint8_t>(p, p + SizeofResource(module, info));
}

// Byte builders for the expected data.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& U16(uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
    return *this;
  }
  Bytes& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
  // A four-character code is its 32-bit value, first character most significant.
  Bytes& Code(const char* c) {
    return U32(uint32_t(uint8_t(c[0])) << 24 | uint32_t(uint8_t(c[1])) << 16 |
               uint32_t(uint8_t(c[2])) << 8 | uint32_t(uint8_t(c[3])));
  }
  Bytes& Raw(std::initializer_list<uint8_t> v) {
    b.insert(b.end(), v);
    return *this;
  }
  Bytes& Text(const char* s) {
    b.insert(b.end(), s, s + std::strlen(s));
    return *this;
  }
  Bytes& Property(const char* key, uint32_t length) { return Code("8BIM").Code(key).U32(0).U32(length); }
};

TEST(ModuleResources, PropertyListByteForByte) {
  Bytes e;
  e.U16(1).U32(0).U32(8);
  e.Property("kind", 4).Code("8BFM");
  e.Property("name", 12).Raw({11}).Text("Patinex...").Raw({0});
  e.Property("catg", 8).Raw({7}).Text("Lumivex");
  e.Property("vers", 4).Raw({0, 0, 3, 0});
  e.Property("host", 4).Code("8BIM");
  // The one property that differs between the builds: the entry for this
  // processor, 'wx86' or '8664', in the same place and with the same data.
  e.Property(kEntryPropertyKey, 12).Text("ENTRYPOINT").Raw({0, 0});
  // The modes: RGB in both; the 64-bit module takes RGB 48 too (16 bits).
  e.Property("mode", 4).Raw({0x10, kSixteenBitModeByte, 0, 0});
  e.Property("fici", 28);
  for (int i = 0; i < 7; ++i) e.Raw({1, 1, 1, 0});
  ASSERT_EQ(e.b.size(), 214u);
  EXPECT_EQ(ResourceBytes("PIPL", MAKEINTRESOURCEA(16251)), e.b);
  // The reversed codes as they lie in the file.
  const std::vector<uint8_t> pipl = ResourceBytes("PIPL", MAKEINTRESOURCEA(16251));
  ASSERT_GE(pipl.size(), 30u);
  EXPECT_EQ(0, std::memcmp(&pipl[10], "MIB8dnik", 8));
  EXPECT_EQ(0, std::memcmp(&pipl[26], "MFB8", 4));
}

uint32_t ReadU32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}
std::string CodeAt(const std::vector<uint8_t>& b, size_t at) {
  const uint32_t v = ReadU32(b, at);
  return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR list) {
  reinterpret_cast<std::vector<LPARAM>*>(list)->push_back(LPARAM(name));
  return TRUE;
}

// What a host does: find the property lists, take the filter's, read its name,
// category and modes, and call the entry that the property for its processor
// ('wx86' or '8664') names. A list has only the entry of its own build.
TEST(ModuleResources, HostFindsTheFilterThroughItsPropertyList) {
  std::vector<LPARAM> names;
  ASSERT_TRUE(EnumResourceNamesA(PatinexModule(), "PIPL", CollectName, LONG_PTR(&names)));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], 16251);

  const std::vector<uint8_t> pipl = ResourceBytes("PIPL", MAKEINTRESOURCEA(16251));
  std::map<std::string, std::vector<uint8_t>> props;
  const uint32_t count = ReadU32(pipl, 6);
  size_t at = 10;
  for (uint32_t i = 0; i < count; ++i) {
    ASSERT_LE(at + 16, pipl.size());
    EXPECT_EQ(CodeAt(pipl, at), "8BIM");
    EXPECT_EQ(ReadU32(pipl, at + 8), 0u);
    const uint32_t length = ReadU32(pipl, at + 12);
    EXPECT_EQ(length % 4, 0u);
    ASSERT_LE(at + 16 + length, pipl.size());
    props[CodeAt(pipl, at + 4)] =
        std::vector<uint8_t>(pipl.begin() + long(at) + 16, pipl.begin() + long(at + 16 + length));
    at += 16 + length;
  }
  EXPECT_EQ(at, pipl.size());
  ASSERT_EQ(props.size(), 8u);
  EXPECT_EQ(CodeAt(props["kind"], 0), "8BFM");
  EXPECT_EQ(CodeAt(props["host"], 0), "8BIM");
  for (const char* key : {"name", "catg"}) {
    const std::vector<uint8_t>& s = props[key];
    EXPECT_EQ(size_t(s[0]), s.size() - 1) << key;  // the length byte counts the padding too
  }
  EXPECT_EQ(std::string(props["name"].begin() + 1, props["name"].begin() + 11), "Patinex...");
  EXPECT_EQ(std::string(props["catg"].begin() + 1, props["catg"].end()), "Lumivex");
  EXPECT_EQ(ReadU32(props["vers"], 0) >> 16, 3u);
  EXPECT_EQ(props["mode"][0], 0x10);  // RGB, and in the 64-bit module RGB 48
  EXPECT_EQ(props["mode"][1], kSixteenBitModeByte);
  EXPECT_EQ(props.count(kEntryPropertyKey), 1u);
  EXPECT_EQ(props.count(std::string(kEntryPropertyKey) == "wx86" ? "8664" : "wx86"), 0u);
  const std::vector<uint8_t>& entryData = props[kEntryPropertyKey];
  ASSERT_EQ(entryData.size(), 12u);
  const std::string entry(reinterpret_cast<const char*>(entryData.data()));
  EXPECT_EQ(entry, "ENTRYPOINT");
  EXPECT_NE(GetProcAddress(PatinexModule(), entry.c_str()), nullptr);
}

// 27 doubles in PATINEX.8bf; 28 in PATINEX64.8bf, whose record ends with Scale.
TEST(ModuleResources, FltdDescribesTheRecordsDoubles) {
  Bytes e;
  for (int i = 0; i < kRecordValues; ++i) e.U16(0).U16(8);
  e.U16(0);
  ASSERT_EQ(e.b.size(), kRecordValues == 27 ? 110u : 114u);
  EXPECT_EQ(ResourceBytes("FLTD", MAKEINTRESOURCEA(1)), e.b);
}

TEST(ModuleResources, BitmapsAreEightBitBottomUpAt72Dpi) {
  struct Expected {
    int id, width, height;
  };
  for (Expected x : {Expected{103, 240, 180}, Expected{110, 463, 364}}) {
    const std::vector<uint8_t> b = ResourceBytes(MAKEINTRESOURCEA(2) /*RT_BITMAP*/, MAKEINTRESOURCEA(x.id));
    ASSERT_GE(b.size(), sizeof(BITMAPINFOHEADER)) << x.id;
    BITMAPINFOHEADER h;
    std::memcpy(&h, b.data(), sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, x.width);
    EXPECT_EQ(h.biHeight, x.height);  // positive: rows bottom-up
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 8);
    EXPECT_EQ(h.biCompression, DWORD(BI_RGB));
    EXPECT_EQ(h.biXPelsPerMeter, 2834);
    EXPECT_EQ(h.biYPelsPerMeter, 2834);
    EXPECT_EQ(h.biClrUsed, 256u);
    const size_t stride = (size_t(x.width) + 3) / 4 * 4;
    EXPECT_EQ(b.size(), 40 + 256 * 4 + stride * size_t(x.height)) << x.id;
    // A picture, not a blank: more than a handful of different levels.
    std::vector<bool> seen(256, false);
    for (size_t i = 40 + 1024; i < b.size(); ++i) seen[b[i]] = true;
    EXPECT_GT(std::count(seen.begin(), seen.end(), true), 32) << x.id;
  }
}

TEST(ModuleResources, StringTable) {
  char text[512];
  ASSERT_GT(LoadStringA(PatinexModule(), 2, text, sizeof text), 0);
  EXPECT_STREQ(text, "Patinex Filter");
  ASSERT_GT(LoadStringA(PatinexModule(), 201, text, sizeof text), 0);
  EXPECT_STREQ(text, "There is not enough memory to run this filter.");
  for (UINT id : {1u, 16996u, 16997u, 16998u, 16999u}) {
    EXPECT_GT(LoadStringA(PatinexModule(), id, text, sizeof text), 5) << id;
  }
  // Strings live in blocks of 16, block n + 1 holding ids 16n..16n+15; all in 1033.
  for (UINT id : {1u, 2u, 201u, 16996u, 16999u}) {
    EXPECT_NE(FindResourceExA(PatinexModule(), MAKEINTRESOURCEA(6) /*RT_STRING*/,
                              MAKEINTRESOURCEA(id / 16 + 1), kUsEnglish),
              nullptr)
        << id;
  }
}

std::string VersionString(const std::vector<uint8_t>& info, const char* key) {
  char* value = nullptr;
  UINT length = 0;
  const std::string path = std::string("\\StringFileInfo\\040904b0\\") + key;
  if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) ||
      value == nullptr) {
    return "<missing>";
  }
  return std::string(value);
}

TEST(ModuleResources, VersionBlock) {
  ASSERT_NE(FindResourceExA(PatinexModule(), MAKEINTRESOURCEA(16) /*RT_VERSION*/,
                            MAKEINTRESOURCEA(1), kUsEnglish),
            nullptr);
  const std::string path = ModulePath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed->dwFileFlags, 0x01u);
  EXPECT_EQ(fixed->dwFileOS, 0x40004u);
  EXPECT_EQ(fixed->dwFileType, 1u);
  EXPECT_EQ(fixed->dwFileSubtype, 0u);
  EXPECT_EQ(fixed->dwFileDateMS, 0u);
  EXPECT_EQ(fixed->dwFileDateLS, 0u);

  EXPECT_EQ(VersionString(info, "CompanyName"), "Lumivex");
  EXPECT_EQ(VersionString(info, "FileDescription"), "Patinex filter");
  EXPECT_EQ(VersionString(info, "FileVersion"), "1, 0, 0, 0");
  EXPECT_EQ(VersionString(info, "InternalName"), "Patinex");
  EXPECT_EQ(VersionString(info, "OriginalFilename"), "Patinex.8bf");
  EXPECT_EQ(VersionString(info, "ProductName"), "Lumivex Patinex");
  EXPECT_EQ(VersionString(info, "ProductVersion"), "1, 0, 0, 0");
  EXPECT_NE(VersionString(info, "Comments"), "<missing>");
  EXPECT_NE(VersionString(info, "LegalCopyright"), "<missing>");

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 0x04B0);
}

// ---------------------------------------------------------------------------
// Dialog templates, parsed from the DLGTEMPLATE the module carries.

struct Item {
  DWORD style;
  DWORD exStyle;
  int x, y, cx, cy;
  int id;  // 0xFFFF reads back as -1
  std::string className;
  std::string text;  // "#103" for an ordinal
};

struct Template {
  DWORD style;
  DWORD exStyle;
  int x, y, cx, cy;
  std::string menu, className, caption, font;
  int pointSize = 0;
  std::vector<Item> items;
};

class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& b) : b_(b) {}
  uint16_t U16() {
    uint16_t v = uint16_t(b_.at(at_) | b_.at(at_ + 1) << 8);
    at_ += 2;
    return v;
  }
  uint32_t U32() {
    uint32_t lo = U16();
    return lo | uint32_t(U16()) << 16;
  }
  int S16() { return int16_t(U16()); }
  std::string Wide() {
    std::string s;
    for (uint16_t c = U16(); c != 0; c = U16()) s += char(c);
    return s;
  }
  // A name: 0 (none), 0xFFFF and an ordinal, or a wide string.
  std::string NameOrOrdinal() {
    const uint16_t first = U16();
    if (first == 0) return "";
    if (first == 0xFFFF) return "#" + std::to_string(U16());
    at_ -= 2;
    return Wide();
  }
  void AlignTo4() { at_ = (at_ + 3) & ~size_t(3); }
  size_t at() const { return at_; }

 private:
  const std::vector<uint8_t>& b_;
  size_t at_ = 0;
};

std::string ClassName(const std::string& raw) {
  if (raw == "#128") return "button";
  if (raw == "#129") return "edit";
  if (raw == "#130") return "static";
  std::string lower = raw;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

Template ParseDialog(const char* name) {
  const std::vector<uint8_t> b = ResourceBytes(MAKEINTRESOURCEA(5) /*RT_DIALOG*/, name);
  Template t{};
  if (b.empty()) return t;
  Reader r(b);
  t.style = r.U32();
  t.exStyle = r.U32();
  const int count = r.U16();
  t.x = r.S16();
  t.y = r.S16();
  t.cx = r.S16();
  t.cy = r.S16();
  t.menu = r.NameOrOrdinal();
  t.className = r.NameOrOrdinal();
  t.caption = r.Wide();
  if (t.style & DS_SETFONT) {
    t.pointSize = r.U16();
    t.font = r.Wide();
  }
  for (int i = 0; i < count; ++i) {
    r.AlignTo4();
    Item item;
    item.style = r.U32();
    item.exStyle = r.U32();
    item.x = r.S16();
    item.y = r.S16();
    item.cx = r.S16();
    item.cy = r.S16();
    item.id = int16_t(r.U16());
    item.className = ClassName(r.NameOrOrdinal());
    item.text = r.NameOrOrdinal();
    const int extra = r.U16();
    for (int k = 0; k < extra; ++k) r.U16();  // creation data is bytes; none is expected
    EXPECT_EQ(extra, 0) << name << " item " << i;
    t.items.push_back(item);
  }
  return t;
}

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kSlider = kChild | TBS_HORZ | TBS_NOTICKS | WS_TABSTOP;
const DWORD kEdit = kChild | ES_LEFT | WS_BORDER | WS_TABSTOP;  // no ES_AUTOHSCROLL
const DWORD kSetButton = kChild | BS_PUSHBUTTON | WS_TABSTOP;
const DWORD kSwatch = WS_CHILD | BS_PUSHBUTTON | BS_FLAT | WS_DISABLED;  // hidden
const DWORD kCheckBox = kChild | BS_AUTOCHECKBOX | WS_TABSTOP;
const DWORD kButton = kChild | BS_PUSHBUTTON | WS_TABSTOP;
const DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | DS_SETFONT;

struct ExpectedControl {
  int id;
  const char* className;
  DWORD style;
  int x, y, cx, cy;
  const char* text;
  const char* label;  // the static text left of it (null: none)
};

// The 64-bit module's template has one row more, Scale: the dialog is that
// much taller, and the buttons and the hidden Frame Number row sit that much lower.
#if defined(_WIN64)
const int kScaleRowHeight = 13;
#else
const int kScaleRowHeight = 0;
#endif

// The parameters dialog's controls with ids, as its table gives them.
const ExpectedControl kParamsControls[] = {
    {500, "msctls_trackbar32", kSlider, 104, 3, 62, 12, "", "&Film Response"},
    {100, "edit", kEdit, 74, 3, 26, 12, "", nullptr},
    {501, "msctls_trackbar32", kSlider, 104, 16, 62, 12, "", "&Grain Amount"},
    {101, "edit", kEdit, 74, 16, 26, 12, "", nullptr},
    {502, "msctls_trackbar32", kSlider, 104, 29, 62, 12, "", "&Dust Size"},
    {102, "edit", kEdit, 74, 29, 26, 12, "", nullptr},
    {503, "msctls_trackbar32", kSlider, 104, 42, 62, 12, "", "Dust Amount"},
    {103, "edit", kEdit, 74, 42, 26, 12, "", nullptr},
    {104, "button", kSetButton, 75, 56, 24, 10, "Set", "Dust Color"},
    {504, "button", kSwatch, 108, 56, 26, 10, "", nullptr},
    {505, "msctls_trackbar32", kSlider, 104, 68, 62, 12, "", "&Hair Size"},
    {105, "edit", kEdit, 74, 68, 26, 12, "", nullptr},
    {506, "msctls_trackbar32", kSlider, 104, 81, 62, 12, "", "Hair Amount"},
    {106, "edit", kEdit, 74, 81, 26, 12, "", nullptr},
    {107, "button", kSetButton, 75, 95, 24, 10, "Set", "Hair Color"},
    {507, "button", kSwatch, 108, 95, 26, 10, "", nullptr},
    {508, "msctls_trackbar32", kSlider, 104, 107, 62, 12, "", "&Scratch Amount"},
    {108, "edit", kEdit, 74, 107, 26, 12, "", nullptr},
    {509, "msctls_trackbar32", kSlider, 104, 120, 62, 12, "", "Scratch Velocity"},
    {109, "edit", kEdit, 74, 120, 26, 12, "", nullptr},
    {510, "msctls_trackbar32", kSlider, 104, 133, 62, 12, "", "Scratch Lifespan"},
    {110, "edit", kEdit, 74, 133, 26, 12, "", nullptr},
    {511, "msctls_trackbar32", kSlider, 104, 146, 62, 12, "", "Scratch Opacity"},
    {111, "edit", kEdit, 74, 146, 26, 12, "", nullptr},
    {512, "msctls_trackbar32", kSlider, 104, 159, 62, 12, "", "&Jitter Max Offset"},
    {112, "edit", kEdit, 74, 159, 26, 12, "", nullptr},
    {513, "msctls_trackbar32", kSlider, 104, 172, 62, 12, "", "Jitter Probability"},
    {113, "edit", kEdit, 74, 172, 26, 12, "", nullptr},
    {114, "button", kCheckBox, 82, 187, 8, 8, "", "&Convert to Gray"},
    {115, "button", kSetButton, 75, 199, 24, 10, "Set", "Gray Tint Value"},
    {515, "button", kSwatch, 108, 199, 26, 10, "", nullptr},
    {516, "msctls_trackbar32", kSlider, 104, 211, 62, 12, "", "F&licker Speed"},
    {116, "edit", kEdit, 74, 211, 26, 12, "", nullptr},
    {517, "msctls_trackbar32", kSlider, 104, 224, 62, 12, "", "Flicker Amount"},
    {117, "edit", kEdit, 74, 224, 26, 12, "", nullptr},
    {118, "button", kCheckBox, 83, 239, 8, 8, "", "Reveal &Back Layer"},
    {519, "msctls_trackbar32", kSlider, 104, 250 + kScaleRowHeight, 62, 12, "", "Frame &Number"},
    {119, "edit", kEdit, 74, 250 + kScaleRowHeight, 26, 12, "", nullptr},
    {1, "button", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 306, 248 + kScaleRowHeight, 36, 14, "&OK", nullptr},
    {2, "button", kButton, 267, 248 + kScaleRowHeight, 36, 14, "Cancel", nullptr},
    {3, "button", kButton, 228, 248 + kScaleRowHeight, 36, 14, "&Reset", nullptr},
    {4, "button", kButton, 189, 248 + kScaleRowHeight, 36, 14, "&About...", nullptr},
    {201, "static", WS_CHILD | SS_LEFT, 206, 138, 120, 90, "", nullptr},  // invisible frame
#if defined(_WIN64)
    // Scale, below Reveal Back Layer; "0 = Auto" beside its slider.
    {520, "msctls_trackbar32", kSlider, 104, 250, 62, 12, "", "Scal&e"},
    {120, "edit", kEdit, 74, 250, 26, 12, "", nullptr},
#endif
};

void ExpectControl(const Item& item, const ExpectedControl& e) {
  EXPECT_EQ(item.className, e.className) << e.id;
  EXPECT_EQ(item.style, e.style) << e.id;
  EXPECT_EQ(item.exStyle, 0u) << e.id;
  EXPECT_EQ(item.x, e.x) << e.id;
  EXPECT_EQ(item.y, e.y) << e.id;
  EXPECT_EQ(item.cx, e.cx) << e.id;
  EXPECT_EQ(item.cy, e.cy) << e.id;
  EXPECT_EQ(item.text, e.text) << e.id;
}

TEST(ModuleResources, ParametersDialogTemplate) {
  const Template t = ParseDialog("IDD_PARAMS");
  EXPECT_EQ(t.style, kDialogStyle);  // no WS_SYSMENU: no system menu, no close box
  EXPECT_EQ(t.exStyle, 0u);
  EXPECT_EQ(t.x, 34);
  EXPECT_EQ(t.y, 40);
  EXPECT_EQ(t.cx, 355);
  EXPECT_EQ(t.cy, 270 + kScaleRowHeight);
  EXPECT_EQ(t.menu, "");
  EXPECT_EQ(t.className, "");
  EXPECT_EQ(t.caption, "Patinex Parameters");
  EXPECT_EQ(t.pointSize, 8);
  EXPECT_EQ(t.font, "MS Sans Serif");

  std::map<int, size_t> index;  // id -> template position
  for (size_t i = 0; i < t.items.size(); ++i) {
    if (t.items[i].id != -1 && t.items[i].id != 619) {
      EXPECT_EQ(index.count(t.items[i].id), 0u) << "duplicate id " << t.items[i].id;
      index[t.items[i].id] = i;
    }
  }
  EXPECT_EQ(index.size(), std::size(kParamsControls));
  for (const ExpectedControl& e : kParamsControls) {
    ASSERT_EQ(index.count(e.id), 1u) << e.id;
    const size_t at = index[e.id];
    ExpectControl(t.items[at], e);
    if (e.label == nullptr) continue;
    // The label comes right before its control, so that its mnemonic reaches it:
    // right-aligned, 8 units high, ending at x = 70, on the control's row.
    ASSERT_GT(at, 0u);
    const Item& label = t.items[at - 1];
    EXPECT_EQ(label.className, "static") << e.label;
    EXPECT_EQ(label.style, kChild | SS_RIGHT) << e.label;
    EXPECT_EQ(label.text, e.label);
    EXPECT_EQ(label.id, e.id == 519 ? 619 : -1) << e.label;
    EXPECT_EQ(label.cy, 8) << e.label;
    EXPECT_EQ(label.x + label.cx, 70) << e.label;
    EXPECT_GE(label.y, e.y) << e.label;
    EXPECT_LE(label.y + label.cy, e.y + e.cy) << e.label;
  }

  // The group box and the picture, which have no id.
  int groups = 0, pictures = 0, labels = 0, autoNotes = 0;
  for (const Item& item : t.items) {
    if (item.id != -1) continue;
    if (item.text == "0 = Auto") {
      // Beside the Scale slider, left of the buttons' column.
      ++autoNotes;
      EXPECT_EQ(item.style, kChild | SS_LEFT);
      EXPECT_EQ(std::vector<int>({item.x, item.y, item.cx, item.cy}),
                std::vector<int>({169, 252, 40, 8}));
      continue;
    }
    if (item.className == "button") {
      ++groups;
      EXPECT_EQ(item.style, kChild | BS_GROUPBOX);
      EXPECT_EQ(item.text, "Preview");
      EXPECT_EQ(std::vector<int>({item.x, item.y, item.cx, item.cy}),
                std::vector<int>({198, 124, 136, 112}));
    } else if ((item.style & SS_TYPEMASK) == SS_BITMAP) {
      ++pictures;
      EXPECT_EQ(item.style, kChild | SS_BITMAP);
      EXPECT_EQ(item.text, "#103");
      EXPECT_EQ(std::vector<int>({item.x, item.y, item.cx, item.cy}),
                std::vector<int>({184, 6, 167, 117}));
    } else {
      ++labels;
    }
  }
  EXPECT_EQ(groups, 1);
  EXPECT_EQ(pictures, 1);
  // Every row but Frame Number's, whose label has id 619 (and Scale's in 64 bits).
  const int rowLabels = kScaleRowHeight != 0 ? 20 : 19;
  EXPECT_EQ(labels, rowLabels);
  EXPECT_EQ(autoNotes, kScaleRowHeight != 0 ? 1 : 0);
  EXPECT_EQ(t.items.size(), std::size(kParamsControls) + 1 + rowLabels + 2 + autoNotes);

  // Tab order is template order: OK; per row its slider, "Set" button or check
  // box, top down; the edits top down; Reset, Cancel, About.
  std::vector<int> tabOrder;
  for (const Item& item : t.items) {
    if ((item.style & WS_TABSTOP) && (item.style & WS_VISIBLE) && !(item.style & WS_DISABLED)) {
      tabOrder.push_back(item.id);
    }
  }
#if defined(_WIN64)
  const std::vector<int> expectedOrder = {
      1,   500, 501, 502, 503, 104, 505, 506, 107, 508, 509, 510, 511, 512, 513, 114, 115, 516,
      517, 118, 520, 519, 100, 101, 102, 103, 105, 106, 108, 109, 110, 111, 112, 113, 116, 117,
      120, 119, 3,   2,   4};
#else
  const std::vector<int> expectedOrder = {
      1,   500, 501, 502, 503, 104, 505, 506, 107, 508, 509, 510, 511, 512, 513, 114, 115, 516,
      517, 118, 519, 100, 101, 102, 103, 105, 106, 108, 109, 110, 111, 112, 113, 116, 117, 119,
      3,   2,   4};
#endif
  EXPECT_EQ(tabOrder, expectedOrder);

  // The code's parameter table agrees with the template: every row with a
  // control is the row labelled with its name (the mnemonic removed).
  int tableRows = 0;
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    const int controlId = ParamControlId(row);
    if (!row.inDialog) continue;
    EXPECT_NE(controlId, 0) << row.name;
    if (row.recordIndex >= kRecordValues) {
      EXPECT_EQ(index.count(controlId), 0u) << row.name << " has no room in the record";
      continue;
    }
    ++tableRows;
    const bool hasSlider = row.kind == kValueParam || row.kind == kInternalParam;
    const int labelled = hasSlider ? controlId + 400 : controlId;
    ASSERT_EQ(index.count(labelled), 1u) << row.name;
    std::string label = t.items[index[labelled] - 1].text;
    label.erase(std::remove(label.begin(), label.end(), '&'), label.end());
    EXPECT_EQ(label, row.name);
    if (hasSlider) {
      EXPECT_EQ(t.items[index[controlId]].className, "edit") << row.name;
    }
  }
  EXPECT_EQ(tableRows, kRecordValues == 28 ? 21 : 20);
}

TEST(ModuleResources, AboutBoxTemplate) {
  const Template t = ParseDialog("IDD_ABOUT");
  EXPECT_EQ(t.style, kDialogStyle);
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.cx, 325);
  EXPECT_EQ(t.cy, 260);
  EXPECT_EQ(t.caption, "About Patinex");
  EXPECT_EQ(t.pointSize, 8);
  EXPECT_EQ(t.font, "MS Sans Serif");
  ASSERT_EQ(t.items.size(), 2u);
  ExpectControl(t.items[0], {1, "button", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 137, 241, 50,
                             14, "OK", nullptr});
  EXPECT_EQ(t.items[0].id, 1);
  ExpectControl(t.items[1], {100, "static", kChild | SS_BITMAP | WS_DISABLED, 5, 4, 315, 230,
                             "#110", nullptr});
  EXPECT_EQ(t.items[1].id, 100);
}

// ---------------------------------------------------------------------------
// Exports and imports, read from the loaded image's directories.

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module) {
  const uint8_t* base = reinterpret_cast<const uint8_t*>(module);
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

TEST(ModuleResources, ExportDirectoryNamesTheModuleAndItsEntries) {
  HMODULE module = PatinexModule();
  const uint8_t* base = reinterpret_cast<const uint8_t*>(module);
  const IMAGE_DATA_DIRECTORY& dir =
      NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(dir.VirtualAddress, 0u);
  const IMAGE_EXPORT_DIRECTORY* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  EXPECT_STREQ(reinterpret_cast<const char*>(base + exports->Name), kPatinexModuleFile);
  EXPECT_EQ(exports->Base, 1u);
  const DWORD* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const WORD* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  std::map<std::string, DWORD> byName;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    byName[reinterpret_cast<const char*>(base + names[i])] = ordinals[i] + exports->Base;
  }
  // ENTRYPOINT is ordinal 1 and the dialog procedure 2; nothing else, and no
  // decorated names such as PatinexProc@16.
  EXPECT_EQ(byName, (std::map<std::string, DWORD>{{"ENTRYPOINT", 1}, {"PatinexProc", 2}}));
  EXPECT_EQ(exports->NumberOfFunctions, 2u);
  for (const auto& entry : byName) EXPECT_EQ(entry.first.find('@'), std::string::npos);
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), GetProcAddress(module, "ENTRYPOINT"));
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(2)), GetProcAddress(module, "PatinexProc"));
}

TEST(ModuleResources, ImportsSystemDllsOnly) {
  HMODULE module = PatinexModule();
  const uint8_t* base = reinterpret_cast<const uint8_t*>(module);
  const IMAGE_DATA_DIRECTORY& dir =
      NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_NE(dir.VirtualAddress, 0u);
  const std::vector<std::string> system = {"kernel32.dll", "user32.dll",  "gdi32.dll",
                                           "comdlg32.dll", "comctl32.dll", "msvcrt.dll"};
  int count = 0;
  for (const IMAGE_IMPORT_DESCRIPTOR* d =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       d->Name != 0; ++d) {
    std::string name = reinterpret_cast<const char*>(base + d->Name);
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(std::find(system.begin(), system.end(), name), system.end()) << name;
    ++count;
  }
  EXPECT_GE(count, 2);
#if defined(_WIN64)
  EXPECT_EQ(NtHeaders(module)->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
#else
  EXPECT_EQ(NtHeaders(module)->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
#endif
  EXPECT_TRUE(NtHeaders(module)->FileHeader.Characteristics & IMAGE_FILE_DLL);
}

}  // namespace
