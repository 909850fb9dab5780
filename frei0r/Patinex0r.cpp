// The frei0r filter: the same renderer as the .8bf, for Linux video editors
// (MLT: Kdenlive, Shotcut, melt; ffmpeg's frei0r filter; GStreamer).
//
// A video editor differs from a photo host in two ways that shape this file.
// It asks for frames in any order (seeking, previews, several threads), so the
// frame number comes from the host's time and the generator's seed from the frame
// number and the Seed parameter: a frame looks the same however it was reached.
// And it may render on several threads: every render draws from its own
// generator on the stack, and the instance's scratch replay cache is shared.
//
// A render splits its rows over the cores that no other render of this filter
// holds at the time (at least its own thread): ffmpeg, which filters one frame at
// a time, gets every core, while MLT rendering a frame per core gets one thread
// per frame instead of cores x cores threads. PATINEX_THREADS lowers the total.
#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "frei0r/Frei0rParams.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/RenderThreads.h"
#include "render/ScratchCache.h"

namespace {

// Frames larger than this do not fit the renderer's 16-bit rectangle: they pass
// through unchanged, with one warning per instance.
const unsigned kMaxFrameSide = 32767;

struct PatinexInstance {
  unsigned width;
  unsigned height;
  std::atomic<bool> warnedTooLarge;  // the warning for a frame too large is printed
  std::mutex settingsMutex;  // guards settings against a host that sets while rendering
  Frei0rSettings settings;
  ScratchCache* scratchCache;  // shared by every render of this instance
  std::atomic<uint64_t> framesGiven;  // f0r_update calls so far, the film frame when the time is none
};

// Threads of the renders running in this process, the renders' own included.
std::atomic<int32_t> gThreadsInUse(0);

// Takes the cores no other render holds, at least one (the caller's own thread).
int32_t ClaimRenderThreads() {
  const int32_t total = RenderThreadCount();
  int32_t inUse = gThreadsInUse.load();
  int32_t take = 1;
  do {
    take = total - inUse > 1 ? total - inUse : 1;
  } while (!gThreadsInUse.compare_exchange_weak(inUse, inUse + take));
  return take;
}

// The line alignment of the caller's frames (pixels): libavfilter's by its
// version (Frei0rParams.h), whole rows for everyone else.
int CallerLineAlignment(const Dl_info* caller) {
  if (caller == nullptr || !IsLibavfilterPath(caller->dli_fname)) return 1;
  // The caller is loaded: RTLD_NOLOAD only takes a reference to it.
  void* library = dlopen(caller->dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (library == nullptr) return 1;
  unsigned version = 0;
  void* symbol = dlsym(library, "avfilter_version");
  if (symbol != nullptr) version = reinterpret_cast<unsigned (*)()>(symbol)();
  dlclose(library);
  return FfmpegLineAlignment(version);
}

// Copies a frame's pixels, row by row: the padding between rows is the host's.
void CopyRows(const uint8_t* from, uint8_t* to, size_t rowBytes, unsigned width,
              unsigned height) {
  for (unsigned y = 0; y < height; ++y) {
    std::memcpy(to + y * rowBytes, from + y * rowBytes, size_t(width) * 4);
  }
}

int Frei0rType(ParamKind kind) {
  switch (kind) {
    case kSwitchParam:
      return F0R_PARAM_BOOL;
    case kColorParam:
      return F0R_PARAM_COLOR;
    default:
      return F0R_PARAM_DOUBLE;
  }
}

}  // namespace

extern "C" {

int f0r_init(void) { return 1; }

void f0r_deinit(void) {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  info->name = "Patinex";
  info->author = "Lumivex";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = kFrei0rParamCount;
  info->explanation = kFilterDescription;
}

void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  const ParamRow* row = Frei0rParam(param_index);
  if (row == nullptr) return;
  info->name = row->name;
  info->type = Frei0rType(row->kind);
  info->explanation = row->explanation;
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  if (width == 0 || height == 0) return nullptr;
  PatinexInstance* instance = new (std::nothrow) PatinexInstance;
  if (instance == nullptr) return nullptr;
  instance->width = width;
  instance->height = height;
  instance->warnedTooLarge = false;
  SetDefaultFrei0rSettings(&instance->settings);
  instance->framesGiven = 0;
  // Without a cache every frame replays its scratches from frame 0: slower, same result.
  instance->scratchCache = NewScratchCache();
  return instance;
}

void f0r_destruct(f0r_instance_t instance) {
  PatinexInstance* self = static_cast<PatinexInstance*>(instance);
  if (self == nullptr) return;
  DeleteScratchCache(self->scratchCache);
  delete self;
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  PatinexInstance* self = static_cast<PatinexInstance*>(instance);
  const ParamRow* row = Frei0rParam(param_index);
  if (self == nullptr || param == nullptr || row == nullptr) return;
  double values[3] = {0.0, 0.0, 0.0};
  if (row->kind == kColorParam) {
    const f0r_param_color_t* color = static_cast<const f0r_param_color_t*>(param);
    values[0] = color->r;
    values[1] = color->g;
    values[2] = color->b;
  } else {
    values[0] = *static_cast<const double*>(param);
  }
  std::lock_guard<std::mutex> lock(self->settingsMutex);
  SetFrei0rParam(&self->settings, param_index, values);
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  PatinexInstance* self = static_cast<PatinexInstance*>(instance);
  const ParamRow* row = Frei0rParam(param_index);
  if (self == nullptr || param == nullptr || row == nullptr) return;
  double values[3];
  {
    std::lock_guard<std::mutex> lock(self->settingsMutex);
    GetFrei0rParam(self->settings, param_index, values);
  }
  if (row->kind == kColorParam) {
    f0r_param_color_t* color = static_cast<f0r_param_color_t*>(param);
    color->r = float(values[0]);
    color->g = float(values[1]);
    color->b = float(values[2]);
  } else {
    *static_cast<double*>(param) = values[0];
  }
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe,
                uint32_t* outframe) {
  PatinexInstance* self = static_cast<PatinexInstance*>(instance);
  if (self == nullptr || inframe == nullptr || outframe == nullptr) return;

  // ffmpeg's milliseconds and its rows: the object that called us says whether
  // this is it. (An ffmpeg with libavfilter linked into its program cannot be
  // told apart; there the time must be divided before the filter.)
  Dl_info caller;
  const bool known = dladdr(__builtin_return_address(0), &caller) != 0;
  time = HostTimeInSeconds(time, known ? caller.dli_fname : nullptr);
  const size_t rowBytes =
      FfmpegRowBytes(self->width, CallerLineAlignment(known ? &caller : nullptr));
  const uint8_t* source = reinterpret_cast<const uint8_t*>(inframe);
  uint8_t* destination = reinterpret_cast<uint8_t*>(outframe);
  const bool inPlace = source == destination;

  if (self->width > kMaxFrameSide || self->height > kMaxFrameSide) {
    if (!self->warnedTooLarge.exchange(true)) {
      std::fprintf(stderr,
                   "patinex: %u x %u is larger than %u pixels on a side; left unchanged\n",
                   self->width, self->height, kMaxFrameSide);
    }
    if (!inPlace) CopyRows(source, destination, rowBytes, self->width, self->height);
    return;
  }

  // A frame ffmpeg converted for us comes without its time: then the frame is
  // the count of frames this instance has been given, which for ffmpeg's one
  // instance in order is the clip's frame (MLT's times are always sane).
  const uint64_t count = self->framesGiven.fetch_add(1);

  Frei0rSettings settings;
  {
    std::lock_guard<std::mutex> lock(self->settingsMutex);
    settings = self->settings;
  }
  const int32_t frameNumber = IsClipTime(time) ? FrameNumberAt(time, settings.filmFrameRate)
                                               : FrameNumberOfCount(count);
  settings.record.value[kFrameNumber] = double(frameNumber);

  // The renderer never writes alpha, and without Reveal Back Layer it leaves the
  // destination's alpha bytes as they were: start the output as a copy of the
  // frame, so that alpha passes through as editors expect when they composite.
  // In place (one buffer for both), the renderer still needs the untouched frame
  // as its source, because the jitter shift reads rows after others are written.
  // The last row ends after its pixels: the host's padding is not counted on.
  const size_t frameBytes = (self->height - 1) * rowBytes + size_t(self->width) * 4;
  std::vector<uint8_t> sourceCopy;
  if (inPlace) {
    // No exception may cross into the host; without memory the frame stays as it came.
    try {
      sourceCopy.assign(source, source + frameBytes);
    } catch (const std::bad_alloc&) {
      return;
    }
    source = sourceCopy.data();
  } else {
    CopyRows(source, destination, rowBytes, self->width, self->height);
  }

  // RGBA8888 is the renderer's 4-byte layout: red, green, blue, alpha.
  const Rect frame = {0, 0, int16_t(self->height), int16_t(self->width)};
  // No host to report to: the renderer goes on to the end.
  RenderJob job =
      MakeRenderJob(&settings.record, frame, true, source, int32_t(rowBytes), destination,
                    int32_t(rowBytes), nullptr, nullptr);
  job.scale = settings.scale;
  // Renders on several threads share the cache: it locks itself only to copy
  // a replay state in or out.
  Rng rng = {0};
  const int32_t threads = ClaimRenderThreads();
  RenderContext context = {&rng, self->scratchCache, threads};
  RenderEffectSeeded(&job, FrameSeed(frameNumber, settings.seedNumber), &context);
  gThreadsInUse -= threads;
}

}  // extern "C"
