// A stand-in for ffmpeg's libavfilter, built as libavfilter.so.8 (version
// 8.44.100, ffmpeg 5.1) and libavfilter.so.10 (10.4.100): the filter recognises
// its caller by the object that calls f0r_update and asks it avfilter_version(),
// and the frei0r tests call the filter through these to see both row layouts.
#include <cstdint>

extern "C" {

unsigned avfilter_version(void) { return FAKE_AVFILTER_VERSION; }

typedef void (*UpdateFunction)(void*, double, const uint32_t*, uint32_t*);

// Calls update from inside this object; the result after the call keeps the
// compiler from turning it into a jump, which would hide this caller.
int CallUpdate(UpdateFunction update, void* instance, double milliseconds, const uint32_t* in,
               uint32_t* out) {
  update(instance, milliseconds, in, out);
  return out != nullptr ? 1 : 0;
}

}  // extern "C"
