// The frei0r plug-in's parameters and how they map onto EffectParams. Pure
// arithmetic, kept apart from the f0r_* entry points so that it is tested alone.
//
// frei0r hands every value in 0..1 (colours as three floats in 0..1). Mappings:
//   values           low + value x (high - low) of the row's range: an amount
//                    x 100 (0..100, the dialog's range), Film Frame Rate x 100
//                    frames per second (default 0.24 = 24 fps), Seed x 1000,
//                    Scale x 16 (default 0, Auto; 0.0625 is 1, the pixel-sized
//                    look); rounded to a whole number where the row takes only those
//   switches         on from 0.5 (frei0r's rule for booleans), stored as 1 or 0
//   colours          each channel x 255, rounded to a whole number 0..255
// A value outside 0..1 (or NaN) is taken as the nearest end of the range: a
// host can send anything, and an amount of 1e9 would mean a billion specks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/ParamTable.h"

// The filter's one-line description: frei0r's explanation of the plug-in, and
// the description in the video editors' files.
extern const char kFilterDescription[];

// frei0r's parameters are the rows of host/ParamTable.h marked inFrei0r, in
// table order: index i is the i-th such row.
extern const int kFrei0rParamCount;  // 22

// The row of frei0r parameter `index`; null outside 0 .. kFrei0rParamCount - 1.
const ParamRow* Frei0rParam(int index);

// The plug-in's whole setting: the record (frame number and show-dialog flag
// unused), the two values that only the frei0r plug-in has, and Scale.
struct Frei0rSettings {
  EffectParams record;
  double filmFrameRate;  // frames per second, 0..100
  uint32_t seedNumber;   // 0..1000
  double scale;          // 0 (Auto) or a factor up to 16: the job's scale
};

// The record's defaults, 24 frames per second, seed 0, Scale Auto.
void SetDefaultFrei0rSettings(Frei0rSettings* settings);


// frei0r values of one parameter: one double, or three for a colour (red, green,
// blue). Setting an index outside 0 .. kFrei0rParamCount - 1 changes nothing;
// getting one reads zeros.
void SetFrei0rParam(Frei0rSettings* settings, int index, const double* values);
void GetFrei0rParam(const Frei0rSettings& settings, int index, double* values);

// Film frames repeat after this many: frame kFilmFrameCycle shows frame 0 again
// (12 hours at 24 fps, almost 3 at 100). The scratches of frame n cost n frame
// steps the first time an instance is asked for a frame near n (later seeks
// start from its checkpoints); the cycle keeps that first seek, at the largest
// Scratch Amount, within a fraction of a second (make bench), and beyond the
// length of any real film.
const int32_t kFilmFrameCycle = 1 << 20;

// The film frame shown at a host's time (seconds): trunc(time x rate + 0.5)
// modulo kFilmFrameCycle, never below 0 (NaN and negative times give 0, times
// beyond the int32 range count as its end).
int32_t FrameNumberAt(double timeSeconds, double filmFrameRate);

// Whether a host's time (seconds) can be a clip's time: finite and not below
// -1e9 s. ffmpeg 5.1 hands a frame it has converted for the filter without its
// timestamp, and the time it passes is then "no time" scaled to milliseconds
// (about -3.7e20 from lavfi, -7.2e17 from an mp4). No frei0r call carries a
// better signal, so such a time means "frame unknown".
bool IsClipTime(double timeSeconds);

// The film frame of an instance's n-th frame (n from 0), for the frames whose
// time is no clip's time: the instance counts the frames it is given, in order
// (ffmpeg's one instance filters a clip's frames in order), modulo the cycle.
int32_t FrameNumberOfCount(uint64_t framesGiven);

// The time of f0r_update in seconds. ffmpeg's frei0r filter (in libavfilter)
// hands milliseconds, every version of it; any other caller seconds, as the
// interface says. callerPath is the file of the calling object as the dynamic
// linker names it (null when unknown).
double HostTimeInSeconds(double time, const char* callerPath);

// Whether callerPath (as above) is ffmpeg's libavfilter.
bool IsLibavfilterPath(const char* callerPath);

// The line alignment, in pixels, of the frames a libavfilter hands its frei0r
// filters, from its avfilter_version() (major << 16 | minor << 8 | micro; 0 for
// a caller that is not libavfilter). The filter's frames are RGBA, and a row of
// such a frame starts every FfmpegRowBytes(width, alignment) bytes.
//   ffmpeg 5.1 (libavfilter 8): 16. Its wrapper takes its output frame from
//     libavfilter's pool with a line alignment of 16 pixels (the 16 is an
//     operand of the call in Debian 12's 5.1.9, right before the frame goes to
//     f0r_update) and copies the input into a frame of the same kind when the
//     strides differ: both buffers have rows of ceil(width / 16) x 64 bytes,
//     padded unless the width is a multiple of 16 (854 -> 3456 bytes, 1080 ->
//     4352, 1 -> 64, seen through a probe filter at widths 1 to 1920). The
//     padding does not follow the processor: with av_cpu_max_align() at 8, 16,
//     32 or 64 (-cpuflags, or an interposed av_cpu_max_align) the rows stay so.
//   Later versions (libavfilter 9 on) ask the pool for a line alignment of 1:
//     whole rows. So do callers that are not ffmpeg; an older libavfilter's
//     frames cannot be told from its version and are taken as whole rows.
int FfmpegLineAlignment(unsigned avfilterVersion);

// Bytes from one row of an RGBA frame to the next, its width rounded up to the
// line alignment (pixels, 1 for whole rows).
size_t FfmpegRowBytes(unsigned width, int lineAlignment);
