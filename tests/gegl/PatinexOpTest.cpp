// lumivex:patinex loaded into GEGL in this process, as GIMP loads it: its
// properties against the parameter table, and what it does with pictures the
// gegl command cannot easily give it (alpha, a picture too large to render).
//
//   patinex_gegl_tests MODULE_DIR [GIMP2_STAND_IN]
//
// With GIMP2_STAND_IN (a library with GIMP 2's gimp_param_spec_rgb) loaded
// first, the colour defaults are checked as GIMP 2.10 reads them.
#include <dlfcn.h>
#include <gegl.h>
#include <gegl-plugin.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/ParamTable.h"

namespace {

const char* gModuleDir = nullptr;
bool gAsGimp2 = false;
const char kOp[] = "lumivex:patinex";

std::string PropertyName(const char* name) {
  std::string out;
  for (const char* c = name; *c != '\0'; ++c) out += *c == ' ' ? '-' : char(std::tolower(*c));
  return out;
}

class PatinexOpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gegl_init(nullptr, nullptr);
    gegl_load_module_directory(gModuleDir);
  }
};

TEST_F(PatinexOpTest, PropertiesAreTheTablesRowsWithTheirRangesAndDefaults) {
  ASSERT_TRUE(gegl_has_operation(kOp));
  guint count = 0;
  GParamSpec** params = gegl_operation_list_properties(kOp, &count);
  int expected = 0;
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    const bool isSeed = i == kSeedRow;
    if (!row.inDialog && !isSeed) continue;  // the show-dialog flag, frei0r's frame rate
    ++expected;
    const std::string name = PropertyName(row.name);
    SCOPED_TRACE(name);
    GParamSpec* param = nullptr;
    for (guint k = 0; k < count; ++k) {
      if (name == params[k]->name) param = params[k];
    }
    ASSERT_NE(param, nullptr);
    EXPECT_STREQ(g_param_spec_get_nick(param), row.name);
    if (isSeed) {
      ASSERT_TRUE(GEGL_IS_PARAM_SPEC_SEED(param));
      EXPECT_EQ(G_PARAM_SPEC_UINT(param)->minimum, guint(row.low));
      EXPECT_EQ(G_PARAM_SPEC_UINT(param)->maximum, guint(row.high));
      EXPECT_EQ(G_PARAM_SPEC_UINT(param)->default_value, guint(row.defaults[0]));
      EXPECT_EQ(GEGL_PARAM_SPEC_SEED(param)->ui_maximum, guint(row.high));
    } else if (row.kind == kColorParam) {
      ASSERT_TRUE(GEGL_IS_PARAM_SPEC_COLOR(param));
      GeglColor* color = gegl_param_spec_color_get_default(param);
      if (gAsGimp2) {
        // GIMP 2.10 takes a default with gegl_color_get_rgba (linear light) and
        // shows those numbers as its colour: they must be the table's.
        double rgba[4];
        gegl_color_get_rgba(color, &rgba[0], &rgba[1], &rgba[2], &rgba[3]);
        // (GeglColor keeps floats.)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(rgba[c] * 255.0, row.defaults[c], 1e-4) << c;
      } else {
        uint8_t rgb[3];
        gegl_color_get_pixel(color, babl_format("R'G'B' u8"), rgb);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(rgb[c], row.defaults[c]) << "channel " << c;
      }
    } else if (row.kind == kSwitchParam) {
      ASSERT_TRUE(G_IS_PARAM_SPEC_BOOLEAN(param));
      EXPECT_EQ(G_PARAM_SPEC_BOOLEAN(param)->default_value, row.defaults[0] != 0.0);
    } else if (row.wholeNumbers) {  // the frame number
      ASSERT_TRUE(GEGL_IS_PARAM_SPEC_INT(param));
      EXPECT_EQ(G_PARAM_SPEC_INT(param)->minimum, row.low);
      EXPECT_EQ(G_PARAM_SPEC_INT(param)->maximum, row.high);
      EXPECT_EQ(G_PARAM_SPEC_INT(param)->default_value, row.defaults[0]);
    } else {
      ASSERT_TRUE(GEGL_IS_PARAM_SPEC_DOUBLE(param));
      EXPECT_EQ(G_PARAM_SPEC_DOUBLE(param)->minimum, row.low);
      EXPECT_EQ(G_PARAM_SPEC_DOUBLE(param)->maximum, row.high);
      EXPECT_EQ(G_PARAM_SPEC_DOUBLE(param)->default_value, row.defaults[0]);
      EXPECT_EQ(GEGL_PARAM_SPEC_DOUBLE(param)->ui_minimum, row.low);
      EXPECT_EQ(GEGL_PARAM_SPEC_DOUBLE(param)->ui_maximum, row.high);
    }
  }
  EXPECT_EQ(int(count), expected);
  g_free(params);
}

// Scale, 0..16 with 0 (Auto) the default, is a value of its own: setting it
// reads back and leaves the record's properties alone.
TEST_F(PatinexOpTest, ScaleIsAPropertyFromAutoToSixteen) {
  GParamSpec* param = gegl_operation_find_property(kOp, "scale");
  ASSERT_NE(param, nullptr);
  ASSERT_TRUE(GEGL_IS_PARAM_SPEC_DOUBLE(param));
  EXPECT_EQ(G_PARAM_SPEC_DOUBLE(param)->minimum, 0.0);
  EXPECT_EQ(G_PARAM_SPEC_DOUBLE(param)->maximum, 16.0);
  EXPECT_EQ(G_PARAM_SPEC_DOUBLE(param)->default_value, 0.0);
  EXPECT_NE(std::string(g_param_spec_get_blurb(param)).find("0 = Auto"), std::string::npos);

  GeglNode* graph = gegl_node_new();
  GeglNode* node = gegl_node_new_child(graph, "operation", kOp, nullptr);
  for (double scale : {2.5, 16.0, 0.0, 0.5}) {
    gegl_node_set(node, "scale", scale, "frame-number", 7, "grain-amount", 33.0, nullptr);
    double got = -1.0, grain = -1.0;
    int frame = -1;
    gegl_node_get(node, "scale", &got, "frame-number", &frame, "grain-amount", &grain, nullptr);
    EXPECT_EQ(got, scale);
    EXPECT_EQ(frame, 7);
    EXPECT_EQ(grain, 33.0);
  }
  g_object_unref(graph);
}

TEST_F(PatinexOpTest, KeysPlaceItInGimp) {
  EXPECT_STREQ(gegl_operation_get_key(kOp, "title"), "Patinex");
  EXPECT_STREQ(gegl_operation_get_key(kOp, "gimp:menu-path"), "<Image>/Filters/Lumivex");
  EXPECT_STREQ(gegl_operation_get_key(kOp, "gimp:menu-label"), "Patinex\xE2\x80\xA6");
  const char* description = gegl_operation_get_key(kOp, "description");
  ASSERT_NE(description, nullptr);
  EXPECT_EQ(std::strchr(description, '\n'), nullptr);
  // GIMP 2.10's GEGL Operation tool leaves out operations in these categories.
  const char* categories = gegl_operation_get_key(kOp, "categories");
  ASSERT_NE(categories, nullptr);
  gchar** list = g_strsplit(categories, ":", 0);
  for (const char* hidden : {"compositors", "core", "debug", "display", "hidden", "input",
                             "output", "programming", "transform", "video", "meta"}) {
    for (gchar** c = list; *c != nullptr; ++c) EXPECT_STRNE(*c, hidden);
  }
  g_strfreev(list);
}

// A picture in R'G'B'A u8 with every alpha value, through the operation.
struct Rendered {
  std::vector<uint8_t> in, out;
  int warnings = 0;
};

void CountWarnings(const gchar*, GLogLevelFlags, const gchar* message, gpointer data) {
  if (std::strstr(message, "lumivex:patinex") != nullptr) ++static_cast<Rendered*>(data)->warnings;
}

Rendered Render(int width, int height, bool revealBackLayer) {
  Rendered r;
  const Babl* format = babl_format("R'G'B'A u8");
  const GeglRectangle whole = {0, 0, width, height};
  r.in.resize(size_t(width) * height * 4);
  for (size_t i = 0; i < r.in.size(); ++i) r.in[i] = uint8_t(i * 7 + i / 4);
  GeglBuffer* buffer = gegl_buffer_new(&whole, format);
  gegl_buffer_set(buffer, &whole, 0, format, r.in.data(), GEGL_AUTO_ROWSTRIDE);
  GeglNode* graph = gegl_node_new();
  GeglNode* source = gegl_node_new_child(graph, "operation", "gegl:buffer-source", "buffer", buffer,
                                         nullptr);
  GeglNode* op = gegl_node_new_child(graph, "operation", kOp, "reveal-back-layer",
                                     gboolean(revealBackLayer), "jitter-probability", 100.0,
                                     "jitter-max-offset", 20.0, nullptr);
  gegl_node_link(source, op);
  const guint handler = g_log_set_handler("GEGL", G_LOG_LEVEL_WARNING, CountWarnings, &r);
  const guint handler2 = g_log_set_handler(nullptr, G_LOG_LEVEL_WARNING, CountWarnings, &r);
  r.out.resize(r.in.size());
  gegl_node_blit(op, 1.0, &whole, format, r.out.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
  g_log_remove_handler("GEGL", handler);
  g_log_remove_handler(nullptr, handler2);
  g_object_unref(graph);
  g_object_unref(buffer);
  return r;
}

TEST_F(PatinexOpTest, KeepsAlphaWithAndWithoutTheBackLayer) {
  for (bool reveal : {false, true}) {
    SCOPED_TRACE(reveal ? "back layer" : "black rows");
    const Rendered r = Render(64, 48, reveal);
    bool colourChanged = false;
    for (size_t i = 0; i < r.in.size(); i += 4) {
      ASSERT_EQ(r.out[i + 3], r.in[i + 3]) << "pixel " << i / 4;
      colourChanged |= std::memcmp(&r.out[i], &r.in[i], 3) != 0;
    }
    EXPECT_TRUE(colourChanged);
    EXPECT_EQ(r.warnings, 0);
  }
}

TEST_F(PatinexOpTest, APictureBeyondTheRenderersLimitPassesThroughWithAWarning) {
  for (const auto& size : {std::pair<int, int>{32768, 2}, std::pair<int, int>{2, 32768}}) {
    const Rendered r = Render(size.first, size.second, false);
    EXPECT_TRUE(r.out == r.in) << size.first << " x " << size.second;
    EXPECT_EQ(r.warnings, 1);
  }
  const Rendered atLimit = Render(32767, 2, false);
  EXPECT_FALSE(atLimit.out == atLimit.in);
  EXPECT_EQ(atLimit.warnings, 0);
}

// A graph whose source node gives `pixels` (width x height in `format`) from a
// buffer of its own; both go when it does.
struct PictureGraph {
  GeglBuffer* buffer;
  GeglNode* graph;
  GeglNode* source;
  PictureGraph(const Babl* format, int width, int height, const void* pixels) {
    const GeglRectangle whole = {0, 0, width, height};
    buffer = gegl_buffer_new(&whole, format);
    gegl_buffer_set(buffer, &whole, 0, format, pixels, GEGL_AUTO_ROWSTRIDE);
    graph = gegl_node_new();
    source = gegl_node_new_child(graph, "operation", "gegl:buffer-source", "buffer", buffer, nullptr);
  }
  PictureGraph(const PictureGraph&) = delete;
  PictureGraph& operator=(const PictureGraph&) = delete;
  ~PictureGraph() {
    g_object_unref(graph);
    g_object_unref(buffer);
  }
  // The operation after the source: no scratches, more dust, frame 4, gray off, Scale 1.
  GeglNode* Op() const {
    GeglNode* op = gegl_node_new_child(graph, "operation", kOp, "convert-to-gray", FALSE,
                                       "scratch-amount", 0.0, "dust-amount", 60.0, "frame-number", 4,
                                       "scale", 1.0, nullptr);
    gegl_node_link(source, op);
    return op;
  }
};

// The whole picture in `format` through the operation (no scratches, more dust,
// frame 4, gray off, Scale 1: every level of the 8-bit render widened, as the
// depths' rule has it; at Auto the marks' soft edges and the grain are blended
// at each depth's own precision), from `in` to `out`.
void RenderThroughOp(const Babl* format, int width, int height, const void* in, void* out) {
  const GeglRectangle whole = {0, 0, width, height};
  const PictureGraph picture(format, width, height, in);
  gegl_node_blit(picture.Op(), 1.0, &whole, format, out, GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
}

// The same picture at 16 bits (each byte widened, as GEGL widens: v x 257),
// with an alpha of 16 bits of its own, through the operation and back.
std::vector<uint16_t> Render16(const std::vector<uint8_t>& in8, int width, int height) {
  const Babl* format = babl_format("R'G'B'A u16");
  std::vector<uint16_t> in(in8.size()), out(in8.size());
  for (size_t i = 0; i < in.size(); ++i) in[i] = i % 4 == 3 ? uint16_t(1000 + 7 * i) : in8[i] * 257;
  RenderThroughOp(format, width, height, in.data(), out.data());
  for (size_t i = 3; i < in.size(); i += 4) {
    EXPECT_EQ(out[i], in[i]) << "alpha of pixel " << i / 4;
    if (out[i] != in[i]) break;
  }
  return out;
}

TEST_F(PatinexOpTest, SixteenBitPicturesRenderAtSixteenBitsLikeEightBitOnes) {
  const int width = 64, height = 48;
  std::vector<uint8_t> in8(size_t(width) * height * 4);
  for (size_t i = 0; i < in8.size(); ++i) in8[i] = uint8_t(i * 7 + i / 4);
  // The 8-bit render of the same picture and settings.
  const Babl* format8 = babl_format("R'G'B'A u8");
  std::vector<uint8_t> out8(in8.size());
  RenderThroughOp(format8, width, height, in8.data(), out8.data());

  const std::vector<uint16_t> out16 = Render16(in8, width, height);
  // Finer than bytes, and the bytes of the 8-bit render within a level.
  int worst = 0;
  bool finer = false;
  for (size_t i = 0; i < out16.size(); ++i) {
    if (i % 4 == 3) continue;
    finer |= out16[i] % 257 != 0;
    worst = std::max(worst, std::abs((out16[i] + 128) / 257 - int(out8[i])));
  }
  EXPECT_TRUE(finer);
  EXPECT_LE(worst, 1);
}

// The operation keeps its whole render between the parts GEGL asks for, and
// forgets it when the input or a property changes: each answer is that of a new
// graph given the same picture and values.
TEST_F(PatinexOpTest, AKeptRenderServesPartsUntilTheInputOrAPropertyChanges) {
  const int width = 40, height = 30;
  const Babl* format = babl_format("R'G'B'A u8");
  const GeglRectangle whole = {0, 0, width, height};
  std::vector<uint8_t> in(size_t(width) * height * 4), changed(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    in[i] = uint8_t(i * 7 + i / 4);
    changed[i] = uint8_t(255 - in[i]);
  }
  const PictureGraph picture(format, width, height, in.data());
  GeglNode* op = picture.Op();
  auto blit = [&](const GeglRectangle& rect) {
    std::vector<uint8_t> out(size_t(rect.width) * rect.height * 4);
    gegl_node_blit(op, 1.0, &rect, format, out.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
    return out;
  };
  auto fresh = [&](const std::vector<uint8_t>& picture) {
    std::vector<uint8_t> out(picture.size());
    RenderThroughOp(format, width, height, picture.data(), out.data());
    return out;
  };

  const std::vector<uint8_t> first = fresh(in);
  EXPECT_EQ(blit(whole), first);
  const GeglRectangle part = {10, 7, 13, 9};
  const std::vector<uint8_t> got = blit(part);
  for (int y = 0; y < part.height; ++y) {
    ASSERT_EQ(0, std::memcmp(&got[size_t(y) * part.width * 4],
                             &first[(size_t(part.y + y) * width + part.x) * 4], part.width * 4))
        << "row " << y;
  }
  gegl_buffer_set(picture.buffer, &whole, 0, format, changed.data(), GEGL_AUTO_ROWSTRIDE);
  EXPECT_EQ(blit(whole), fresh(changed));
  gegl_node_set(op, "frame-number", 5, nullptr);
  const std::vector<uint8_t> frame5 = blit(whole);
  gegl_node_set(op, "frame-number", 4, nullptr);
  EXPECT_NE(frame5, fresh(changed));
  EXPECT_EQ(blit(whole), fresh(changed));
}

// GIMP renders a zoomed-out view at a mipmap level above 0, where the nodes
// before the operation compute only that level's reduced pixels. The view must
// still be the full render seen at that zoom: what GEGL shows of the render of
// the whole picture, here blitted at the same scale from a plain buffer.
TEST_F(PatinexOpTest, AZoomedOutViewIsTheFullRenderAtThatZoom) {
  const int width = 160, height = 120;
  const Babl* format = babl_format("R'G'B'A u8");
  const GeglRectangle whole = {0, 0, width, height};
  std::vector<uint8_t> in(size_t(width) * height * 4);
  for (size_t i = 0; i < in.size(); ++i) in[i] = uint8_t(i * 7 + i / 4);
  gboolean mipmaps = FALSE;
  g_object_get(gegl_config(), "mipmap-rendering", &mipmaps, nullptr);
  g_object_set(gegl_config(), "mipmap-rendering", TRUE, nullptr);
  for (double zoom : {0.5, 0.25}) {
    SCOPED_TRACE(zoom);
    const PictureGraph picture(format, width, height, in.data());
    // A computed node before the operation, as GIMP's graph has.
    GeglNode* before = gegl_node_new_child(picture.graph, "operation", "gegl:invert-gamma", nullptr);
    GeglNode* op = gegl_node_new_child(picture.graph, "operation", kOp, "dust-amount", 60.0,
                                       "frame-number", 4, "scale", 1.0, nullptr);
    gegl_node_link_many(picture.source, before, op, nullptr);
    const GeglRectangle view = {0, 0, int(width * zoom), int(height * zoom)};
    std::vector<uint8_t> zoomed(size_t(view.width) * view.height * 4);
    gegl_node_blit(op, zoom, &view, format, zoomed.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);

    // The full render, then the same zoom of it from a plain buffer.
    std::vector<uint8_t> full(in.size());
    gegl_node_set(op, "frame-number", 5, nullptr);  // a new render, at level 0
    gegl_node_set(op, "frame-number", 4, nullptr);
    gegl_node_blit(op, 1.0, &whole, format, full.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
    const PictureGraph plain(format, width, height, full.data());
    GeglNode* nop = gegl_node_new_child(plain.graph, "operation", "gegl:nop", nullptr);
    gegl_node_link(plain.source, nop);
    std::vector<uint8_t> want(zoomed.size());
    gegl_node_blit(nop, zoom, &view, format, want.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
    EXPECT_EQ(zoomed, want);
  }
  g_object_set(gegl_config(), "mipmap-rendering", mipmaps, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s MODULE_DIR\n", argv[0]);
    return 2;
  }
  gModuleDir = argv[1];
  if (argc > 2) {
    if (dlopen(argv[2], RTLD_NOW | RTLD_GLOBAL) == nullptr) {
      std::fprintf(stderr, "%s\n", dlerror());
      return 2;
    }
    gAsGimp2 = true;
  }
  return RUN_ALL_TESTS();
}
