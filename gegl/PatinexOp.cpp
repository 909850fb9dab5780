// The effect as a GEGL operation, lumivex:patinex, for GIMP and every other
// GEGL program (the gegl command too): a module in a GEGL plug-in folder.
//
// Its properties are the rows of the parameter table that the dialog shows, by
// the dialog's names and ranges (0..100 amounts, the three colours as colours,
// the two switches as booleans), then the frame number, a seed and the scale
// (0..16, 0 = Auto, the default). Like the
// frei0r filter, the generator is seeded from the frame number and the seed
// instead of the clock, so a render gives the same pixels every time and GIMP's
// on-canvas preview shows what applying the filter gives.
//
// The effect belongs to the whole picture (scratches run over the full height,
// jitter moves whole rows): the operation asks for the whole input whatever part
// is wanted, renders it in one go and keeps the render, so a tile, a region or
// GIMP's preview of a part is the crop of the full render.
//
// The render is kept by the operation itself, in plain memory, until its node
// is invalidated (a property or the input changed), not in a node cache: the
// gegl command keeps every node of a chain given after "--" to its end, and a
// node's cache buffer then shows as "GeglBuffers leaked" at its exit (GEGL's
// own caching operations, gegl:stretch-contrast or gegl:gaussian-blur, print
// the same; the same graph from an XML file prints nothing).
#include <babl/babl.h>
#include <dlfcn.h>
#include <gegl-plugin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "host/ParamTable.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/Samples16.h"

namespace {

// Larger pictures do not fit the renderer's 16-bit rectangle.
const int kMaxSide = 32767;

// The renderer's own layouts: red, green, blue, alpha, gamma-coded, 8 bits each,
// or 16 for a picture of more than 8 bits per channel.
const char kPixelFormat8[] = "R'G'B'A u8";
const char kPixelFormat16[] = "R'G'B'A u16";

// GEGL's 16-bit samples run 0..65535, the renderer's 0..32768 (32768 is white):
// SampleFrom65535 and SampleTo65535 (render/Samples16.h) take them each way.

// The operation's properties: the rows the dialog has a control for (the frame
// number's included) and the seed. A property's id is 1 + its row's position.
bool IsOpRow(const ParamRow& row) {
  return row.inDialog || &row == &kParamRows[kSeedRow];
}

// The last render of the whole picture and what it was made from. GEGL may ask
// for parts from several threads; the mutex keeps one render at a time (and is
// recursive in case GEGL invalidates the node from inside a render).
struct KeptRender {
  std::recursive_mutex mutex;
  bool valid = false;  // cleared when the node is invalidated
  bool warned = false;  // the warning for a picture too large was given
  EffectParams record;
  uint32_t seed = 0;
  double scale = 1.0;
  GeglRectangle whole = {0, 0, 0, 0};
  const Babl* format = nullptr;
  std::vector<uint8_t> pixels;  // whole.width x whole.height in format
};

struct PatinexOp {
  GeglOperationFilter parent;
  EffectParams record;  // the values of the record's rows, the frame number included
  uint32_t seed;
  double scale;  // 0 (Auto) or a factor: the job's scale
  KeptRender* kept;  // null without memory: every part renders the picture again
};

GObjectClass* gParentClass = nullptr;

struct PatinexOpClass {
  GeglOperationFilterClass parent;
};

PatinexOp* Self(GObject* object) { return reinterpret_cast<PatinexOp*>(object); }

// "Film Response" -> "film-response": GObject's property names.
std::string PropertyName(const char* name) {
  std::string out;
  for (const char* c = name; *c != '\0'; ++c) {
    out += *c == ' ' ? '-' : char(g_ascii_tolower(*c));
  }
  return out;
}

GeglColor* NewColor(const double rgb[3]) {
  GeglColor* color = gegl_color_new(nullptr);
  const double channels[4] = {rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, 1.0};
  gegl_color_set_pixel(color, babl_format("R'G'B'A double"), channels);
  return color;
}

// GIMP 2.10 turns a GEGL colour property into a colour property of its own and
// takes its default with gegl_color_get_rgba(), which gives linear light; its
// panel then shows those numbers as the gamma-coded ones they are not (200, 100,
// 0 starts as 147, 32, 0), while the colours it sets go back gamma-coded, as
// R'G'B'. Inside GIMP 2 (its libgimpcolor, the only one with
// gimp_param_spec_rgb, is in the process) the declared defaults are the table's
// numbers as linear light, so GIMP's panel starts at the table's colours and
// sets them back as they are. Elsewhere (the gegl command) they are the table's
// numbers gamma-coded, as every set colour is read.
bool HostReadsDefaultsAsLinearLight() {
  return dlsym(RTLD_DEFAULT, "gimp_param_spec_rgb") != nullptr;
}

GeglColor* NewDefaultColor(const double rgb[3]) {
  if (!HostReadsDefaultsAsLinearLight()) return NewColor(rgb);
  GeglColor* color = gegl_color_new(nullptr);
  gegl_color_set_rgba(color, rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, 1.0);
  return color;
}

// A colour channel 0..1 to the record's whole 0..255; NaN counts as 0.
double ChannelValue(double v) {
  if (!(v > 0.0)) return 0.0;
  return v >= 1.0 ? 255.0 : std::floor(v * 255.0 + 0.5);
}

// The table's explanations are frei0r's, in its 0..1 units; where they name a
// value, the operation says it in its own (the dialog's) units.
const char* Blurb(const ParamRow& row) {
  if (&row == &kParamRows[kSeedRow]) return "Another value gives other grain, dust, hairs and jitter";
  if (&row == &kParamRows[kScaleRow]) {
    return "Size of the damage: 0 = Auto, laid out on 576 rows and drawn at the picture's size; "
           "1 draws it in pixels, as earlier versions did; more is a factor";
  }
  switch (row.recordIndex) {
    case kFilmResponse:
      return "Tone curve of the film: 24 leaves tones alone, less darkens, more lightens";
    case kScratchAmount:
      return "How many scratches (100 at most)";
    case kScratchLifespan:
      return "How many frames a scratch lives";
    case kJitterMaxOffset:
      return "Range of the picture's vertical jumps (100: its whole height)";
    case kJitterProbability:
      return "Chance of a jump (100: every frame)";
    case kFrameNumber:
      return "The frame of a clip: scratches and flicker move from frame to frame";
    default:
      return row.explanation;
  }
}

GParamSpec* NewPropertySpec(const ParamRow& row) {
  const std::string name = PropertyName(row.name);
  const GParamFlags flags =
      GParamFlags(G_PARAM_READWRITE | G_PARAM_CONSTRUCT | GEGL_PARAM_PAD_INPUT);
  const char* blurb = Blurb(row);
  switch (row.kind) {
    case kColorParam: {
      GeglColor* color = NewDefaultColor(row.defaults);
      GParamSpec* param = gegl_param_spec_color(name.c_str(), row.name, blurb, color, flags);
      g_object_unref(color);
      return param;
    }
    case kSwitchParam:
      return g_param_spec_boolean(name.c_str(), row.name, blurb, row.defaults[0] != 0.0, flags);
    default:
      break;
  }
  if (&row == &kParamRows[kSeedRow]) {
    GParamSpec* param = gegl_param_spec_seed(name.c_str(), row.name, blurb, flags);
    G_PARAM_SPEC_UINT(param)->minimum = guint(row.low);
    G_PARAM_SPEC_UINT(param)->maximum = guint(row.high);
    G_PARAM_SPEC_UINT(param)->default_value = guint(row.defaults[0]);
    GEGL_PARAM_SPEC_SEED(param)->ui_minimum = guint(row.low);
    GEGL_PARAM_SPEC_SEED(param)->ui_maximum = guint(row.high);
    return param;
  }
  if (row.wholeNumbers) {
    return gegl_param_spec_int(name.c_str(), row.name, blurb, int(row.low), int(row.high),
                               int(row.defaults[0]), int(row.low), int(row.high), 1.0, flags);
  }
  return gegl_param_spec_double(name.c_str(), row.name, blurb, row.low, row.high, row.defaults[0],
                                row.low, row.high, 1.0, flags);
}

const ParamRow* RowOfProperty(guint id) {
  if (id < 1 || id > guint(kParamRowCount)) return nullptr;
  const ParamRow& row = kParamRows[id - 1];
  return IsOpRow(row) ? &row : nullptr;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* param) {
  PatinexOp* self = Self(object);
  const ParamRow* row = RowOfProperty(id);
  if (row == nullptr) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    return;
  }
  if (row == &kParamRows[kSeedRow]) {
    self->seed = g_value_get_uint(value);
    return;
  }
  if (row == &kParamRows[kScaleRow]) {
    self->scale = g_value_get_double(value);
    return;
  }
  double* record = self->record.value + row->recordIndex;
  switch (row->kind) {
    case kColorParam: {
      double rgba[4] = {0.0, 0.0, 0.0, 1.0};
      GeglColor* color = GEGL_COLOR(g_value_get_object(value));
      if (color != nullptr) gegl_color_get_pixel(color, babl_format("R'G'B'A double"), rgba);
      for (int c = 0; c < 3; ++c) record[c] = ChannelValue(rgba[c]);
      break;
    }
    case kSwitchParam:
      record[0] = g_value_get_boolean(value) ? 1.0 : 0.0;
      break;
    default:
      // GObject has checked the range (NaN included) before it calls here.
      record[0] = row->wholeNumbers ? double(g_value_get_int(value)) : g_value_get_double(value);
      break;
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* param) {
  PatinexOp* self = Self(object);
  const ParamRow* row = RowOfProperty(id);
  if (row == nullptr) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    return;
  }
  if (row == &kParamRows[kSeedRow]) {
    g_value_set_uint(value, self->seed);
    return;
  }
  if (row == &kParamRows[kScaleRow]) {
    g_value_set_double(value, self->scale);
    return;
  }
  const double* record = self->record.value + row->recordIndex;
  switch (row->kind) {
    case kColorParam:
      g_value_take_object(value, NewColor(record));
      break;
    case kSwitchParam:
      g_value_set_boolean(value, record[0] != 0.0);
      break;
    default:
      if (row->wholeNumbers) {
        g_value_set_int(value, int(record[0]));
      } else {
        g_value_set_double(value, record[0]);
      }
      break;
  }
}

void Prepare(GeglOperation* operation) {
  const Babl* space = gegl_operation_get_source_space(operation, "input");
  const Babl* source = gegl_operation_get_source_format(operation, "input");
  // More than a byte per channel (u16, half, float, ...): the 16-bit path.
  const bool deep = source != nullptr && babl_format_get_bytes_per_pixel(source) >
                                             babl_format_get_n_components(source);
  const Babl* format = babl_format_with_space(deep ? kPixelFormat16 : kPixelFormat8, space);
  gegl_operation_set_format(operation, "input", format);
  gegl_operation_set_format(operation, "output", format);
}

// The whole picture, when it is a finite one; otherwise the part asked for.
GeglRectangle WholeOr(GeglOperation* operation, const GeglRectangle* roi) {
  const GeglRectangle* whole = gegl_operation_source_get_bounding_box(operation, "input");
  if (whole == nullptr || gegl_rectangle_is_infinite_plane(whole)) return *roi;
  return *whole;
}

GeglRectangle RequiredForOutput(GeglOperation* operation, const gchar*, const GeglRectangle* roi) {
  return WholeOr(operation, roi);
}

GeglRectangle CachedRegion(GeglOperation* operation, const GeglRectangle* roi) {
  return WholeOr(operation, roi);
}

// A change anywhere in the input changes the whole output (jitter, scratches).
GeglRectangle InvalidatedByChange(GeglOperation* operation, const gchar*,
                                  const GeglRectangle* roi) {
  return WholeOr(operation, roi);
}

void PassThrough(GeglBuffer* input, GeglBuffer* output, const GeglRectangle* result) {
  gegl_buffer_copy(input, result, GEGL_ABYSS_NONE, output, result);
}

// The whole input at full resolution into pixels (rows rowBytes apart, in format).
// A zoomed-out view (GIMP's on-canvas preview below 100 %) is processed at a
// mipmap level above 0: the nodes before this one then computed only that
// level's reduced pixels, and the full-resolution pixels of `input` may not be
// there. The source node is then asked for them at level 0, so the render is
// always that of the whole picture and the view is the full render reduced.
void ReadWholeInput(GeglOperation* operation, GeglBuffer* input, gint level,
                    const GeglRectangle& whole, const Babl* format, void* pixels,
                    size_t rowBytes) {
  GeglNode* source = level > 0 ? gegl_operation_get_source_node(operation, "input") : nullptr;
  if (source != nullptr) {
    gegl_node_blit(source, 1.0, &whole, format, pixels, gint(rowBytes), GEGL_BLIT_DEFAULT);
  } else {
    gegl_buffer_get(input, &whole, 1.0, format, pixels, gint(rowBytes), GEGL_ABYSS_NONE);
  }
}

// Renders the whole picture from input into pixels (whole.width x whole.height in
// format); false without memory.
bool RenderWhole(GeglOperation* operation, GeglBuffer* input, gint level,
                 const GeglRectangle& whole, const Babl* format, const EffectParams& params,
                 uint32_t seed, double scale, std::vector<uint8_t>* pixels) {
  const bool sixteenBits = babl_format_get_bytes_per_pixel(format) == 8;
  const size_t pixelBytes = sixteenBits ? 8 : 4;
  const size_t rowBytes = size_t(whole.width) * pixelBytes;
  const size_t samples = size_t(whole.width) * size_t(whole.height) * 4;
  // At 16 bits the input as GEGL gives it stays beside the renderer's samples:
  // its alpha goes back unchanged.
  std::vector<uint8_t> source;
  std::vector<uint16_t> original;
  try {
    source.resize(rowBytes * size_t(whole.height));
    pixels->resize(source.size());
    if (sixteenBits) original.resize(samples);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::vector<uint8_t>& destination = *pixels;
  if (sixteenBits) {
    ReadWholeInput(operation, input, level, whole, format, original.data(), rowBytes);
    uint16_t* renderer = reinterpret_cast<uint16_t*>(source.data());
    for (size_t i = 0; i < samples; ++i) renderer[i] = SampleFrom65535(original[i]);
  } else {
    ReadWholeInput(operation, input, level, whole, format, source.data(), rowBytes);
  }
  // The renderer leaves the alpha of the destination as it was (the back
  // layer's rows copy the source's): starting from the input keeps alpha.
  destination = source;

  EffectParams record = params;
  const int32_t frameNumber = int32_t(record.value[kFrameNumber]);
  const Rect frame = {0, 0, int16_t(whole.height), int16_t(whole.width)};
  RenderJob job = MakeRenderJob(&record, frame, true, source.data(), int32_t(rowBytes),
                                destination.data(), int32_t(rowBytes), nullptr, nullptr);
  job.sixteenBits = sixteenBits ? 1 : 0;
  job.scale = scale;
  // No scratch cache: the frame numbers are few (0..9999), and a replay from
  // frame 0 gives the same scratches.
  Rng rng = {0};
  RenderContext context = {&rng, nullptr, 0};
  RenderEffectSeeded(&job, FrameSeed(frameNumber, seed), &context);

  if (sixteenBits) {
    const uint16_t* rendered = reinterpret_cast<const uint16_t*>(destination.data());
    for (size_t i = 0; i < samples; ++i) {
      if (i % 4 != 3) original[i] = SampleTo65535(rendered[i]);
    }
    std::memcpy(destination.data(), original.data(), destination.size());
  }
  return true;
}

gboolean Process(GeglOperation* operation, GeglBuffer* input, GeglBuffer* output,
                 const GeglRectangle* result, gint level) {
  const PatinexOp* self = reinterpret_cast<const PatinexOp*>(operation);
  const GeglRectangle whole = WholeOr(operation, result);
  if (whole.width <= 0 || whole.height <= 0) return TRUE;
  KeptRender scratch;
  KeptRender* kept = self->kept != nullptr ? self->kept : &scratch;
  std::lock_guard<std::recursive_mutex> lock(kept->mutex);
  if (whole.width > kMaxSide || whole.height > kMaxSide) {
    // Once for the picture, however many parts GEGL asks for.
    if (!kept->warned) {
      g_warning("lumivex:patinex: %d x %d is larger than %d pixels on a side; left unchanged",
                whole.width, whole.height, kMaxSide);
    }
    kept->warned = true;
    PassThrough(input, output, result);
    return TRUE;
  }

  const Babl* format = gegl_operation_get_format(operation, "output");
  const bool sixteenBits = babl_format_get_bytes_per_pixel(format) == 8;
  const size_t pixelBytes = sixteenBits ? 8 : 4;
  const size_t rowBytes = size_t(whole.width) * pixelBytes;
  EffectParams record = self->record;
  record.value[kShowDialog] = 0.0;

  const bool same = kept->valid && kept->seed == self->seed && kept->scale == self->scale &&
                    kept->format == format &&
                    gegl_rectangle_equal(&kept->whole, &whole) &&
                    std::memcmp(&kept->record, &record, sizeof record) == 0;
  if (!same) {
    kept->valid = false;
    if (!RenderWhole(operation, input, level, whole, format, record, self->seed, self->scale,
                     &kept->pixels)) {
      g_warning("lumivex:patinex: no memory for %d x %d pixels; left unchanged", whole.width,
                whole.height);
      PassThrough(input, output, result);
      return TRUE;
    }
    kept->valid = true;
    kept->record = record;
    kept->seed = self->seed;
    kept->scale = self->scale;
    kept->whole = whole;
    kept->format = format;
  }

  // Only the part asked for.
  GeglRectangle part;
  if (!gegl_rectangle_intersect(&part, &whole, result)) return TRUE;
  const uint8_t* first = kept->pixels.data() + size_t(part.y - whole.y) * rowBytes +
                         size_t(part.x - whole.x) * pixelBytes;
  gegl_buffer_set(output, &part, 0, format, first, gint(rowBytes));
  return TRUE;
}

// The node's "invalidated": a property or the input changed.
void ForgetRender(GeglNode*, GeglRectangle*, gpointer data) {
  KeptRender* kept = static_cast<PatinexOp*>(data)->kept;
  std::lock_guard<std::recursive_mutex> lock(kept->mutex);
  kept->valid = false;
  kept->warned = false;
}

void Attach(GeglOperation* operation) {
  GEGL_OPERATION_CLASS(gParentClass)->attach(operation);
  PatinexOp* self = reinterpret_cast<PatinexOp*>(operation);
  if (self->kept != nullptr && operation->node != nullptr) {
    g_signal_connect_object(operation->node, "invalidated", G_CALLBACK(ForgetRender), operation,
                            GConnectFlags(0));
  }
}

void Finalize(GObject* object) {
  delete Self(object)->kept;
  gParentClass->finalize(object);
}

void InitInstance(GTypeInstance* instance, gpointer) {
  PatinexOp* self = reinterpret_cast<PatinexOp*>(instance);
  SetDefaultParams(&self->record);
  self->record.value[kShowDialog] = 0.0;
  self->seed = uint32_t(kParamRows[kSeedRow].defaults[0]);
  self->scale = kParamRows[kScaleRow].defaults[0];
  self->kept = new (std::nothrow) KeptRender;
}

void InitClass(gpointer klass, gpointer) {
  GObjectClass* objectClass = G_OBJECT_CLASS(klass);
  GeglOperationClass* operationClass = GEGL_OPERATION_CLASS(klass);
  GeglOperationFilterClass* filterClass = GEGL_OPERATION_FILTER_CLASS(klass);

  gParentClass = G_OBJECT_CLASS(g_type_class_peek_parent(klass));
  objectClass->set_property = SetProperty;
  objectClass->finalize = Finalize;
  objectClass->get_property = GetProperty;
  for (int i = 0; i < kParamRowCount; ++i) {
    if (!IsOpRow(kParamRows[i])) continue;
    g_object_class_install_property(objectClass, guint(i + 1), NewPropertySpec(kParamRows[i]));
  }

  operationClass->prepare = Prepare;
  operationClass->attach = Attach;
  operationClass->get_required_for_output = RequiredForOutput;
  operationClass->get_cached_region = CachedRegion;
  operationClass->get_invalidated_by_change = InvalidatedByChange;
  // One render covers the picture; GEGL must not split it over its own threads
  // (the renderer runs its rows on the cores itself).
  operationClass->threaded = FALSE;
  // The operation keeps its render itself (above).
  operationClass->cache_policy = GEGL_CACHE_POLICY_NEVER;
  filterClass->process = Process;

  // "artistic" is a category GIMP 2.10's GEGL Operation tool lists.
  gegl_operation_class_set_keys(
      operationClass, "name", "lumivex:patinex", "title", "Patinex", "categories", "artistic",
      "description",
      "Old, worn film: tone curve, tinted gray, flicker, jitter, grain, dust, hairs and scratches",
      "position-dependent", "true", "gimp:menu-path", "<Image>/Filters/Lumivex",
      "gimp:menu-label", "Patinex\xE2\x80\xA6", nullptr);
}

void FinalizeClass(gpointer, gpointer) {}

const GeglModuleInfo kModuleInfo = {GEGL_MODULE_ABI_VERSION};

}  // namespace

extern "C" {

G_MODULE_EXPORT const GeglModuleInfo* gegl_module_query(GTypeModule*) { return &kModuleInfo; }

G_MODULE_EXPORT gboolean gegl_module_register(GTypeModule* module) {
  const GTypeInfo info = {
      sizeof(PatinexOpClass), nullptr, nullptr, InitClass, FinalizeClass, nullptr,
      sizeof(PatinexOp),      0,       InitInstance, nullptr};
  gegl_module_register_type(module, GEGL_TYPE_OPERATION_FILTER,
                            "LumivexPatinexOp", &info, GTypeFlags(0));
  return TRUE;
}

}  // extern "C"
