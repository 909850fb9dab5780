// filterhost: applies a filter module (.8bf) to an image or to a clip of
// numbered frames, as a host of the filter interface does.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "tools/filterhost/FilterDriver.h"
#include "tools/filterhost/FilterModule.h"
#include "tools/filterhost/FramePattern.h"
#include "tools/filterhost/ImageIO.h"
#include "tools/filterhost/ProcessMemoryWin32.h"
#include "tools/filterhost/Settings.h"

namespace {

const int kExitFailed = 1;
const int kExitUsage = 2;
const int kExitStopped = 130;  // as a shell reports a program ended by Ctrl+C

// The image being read, filtered or written, for a message about anything thrown.
std::string g_image;

void PrintUsage(FILE* to) {
  std::fprintf(to,
      "usage: filterhost [options] FILTER.8bf IN OUT\n"
      "       filterhost [options] FILTER.8bf 'clip/frame-%%04d.png' 'out/frame-%%04d.png'\n"
      "\n"
      "Applies a filter module to one image, or to a clip of numbered frames (from the\n"
      "lowest number in the folder, or --start, upward until one is missing). A clip\n"
      "runs the parameters step once and then repeats the filter on every frame, as a\n"
      "host filtering a clip does.\n"
      "\n"
      "Reads PNG, JPEG, BMP, TIFF and GIF (first frame), 8 or 16 bits per channel, turned\n"
      "upright by their EXIF orientation. Images with transparency are filtered with\n"
      "4 planes, others with 3. Writes by OUT's extension: .png (also a name without\n"
      "one), .jpg/.jpeg, .tif/.tiff or .bmp; JPEG and BMP drop the transparency. An\n"
      "output replaces its file only once it is complete.\n"
      "\n"
      "Depth: a 16-bit PNG or TIFF goes to the filter in 16 bits per channel when the\n"
      "filter's property list takes RGB 48 (PATINEX64.8bf does; PATINEX.8bf does not),\n"
      "scaled from 0..65535 to the interface's 0..32768 and back, and is written in 16\n"
      "bits to PNG and TIFF (JPEG and BMP: 8 bits). Every other run is in 8 bits: 8-bit\n"
      "files, filters that take 8 bits only, and --depth 8.\n"
      "\n"
      "options:\n"
      "  --set NAME=VALUE  set a Patinex value before filtering (repeatable)\n"
      "  --quality N       JPEG quality, 1 to 100 (default 92)\n"
      "  --start N         a clip's first frame (default: the lowest number present)\n"
      "  --depth 8|16      8: filter 16-bit files in 8 bits, as a host without RGB 48\n"
      "                    does; 16: require the filter to take 16-bit images\n"
      "  --dialog          let the filter show its parameters dialog (without it the\n"
      "                    filter runs with no window, as a recorded filter is replayed)\n"
      "  --help            this text\n"
      "\n"
      "Patinex values for --set (names as the dialog labels them; case does not matter),\n"
      "their ranges and defaults:\n"
      "%s"
      "Scale=0 (or Auto) lays the damage out on a grid of 576 rows and draws it at the\n"
      "picture's size, so a large photograph looks like old film seen whole; Scale=1\n"
      "draws it in pixels, the look of earlier versions and of PATINEX.8bf, which has\n"
      "no Scale (--set Scale is refused for it).\n"
      "\n"
      "Ctrl+C stops the filter (and cancels its dialog). Exit status: 0 done, 1 failed or\n"
      "cancelled in the dialog, 2 usage, 130 stopped.\n",
      SettingsHelp().c_str());
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "filterhost: %s\n", message.c_str());
  return kExitFailed;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "filterhost: %s\n", message.c_str());
  return kExitUsage;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The frame numbers present for a clip's pattern, from a listing of its folder;
// empty when the folder cannot be listed (or the number is in a folder's name).
std::vector<int32_t> FramesPresent(const FramePattern& pattern) {
  std::vector<std::string> names;
  std::string folder;
  if (!FrameFolder(pattern, &folder)) return {};
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return {};
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return FrameNumbersFound(pattern, names);
}

// What ended a selector call that did not succeed, as the user should hear it.
int ReportFailure(const SelectorOutcome& outcome, const std::string& what, int32_t written = 0) {
  if (!outcome.problem.empty()) return Fail(what + ": " + outcome.problem);
  if (outcome.result == userCanceledOrAborted && StopRequested()) {
    std::fprintf(stderr, "filterhost: stopped (Ctrl+C) while filtering %s\n", what.c_str());
    return kExitStopped;
  }
  if (outcome.result == userCanceledOrAborted) {
    // Filters cancel when their user presses Cancel in their dialog.
    return Fail(written == 0 ? "cancelled in the dialog: nothing written"
                             : "cancelled at " + what + ": the frames before it are written");
  }
  return Fail("the filter failed at the " + std::string(SelectorName(outcome.selector)) +
              " selector with " + ResultText(outcome.result) + " while filtering " + what);
}

struct Job {
  std::string module;
  std::string in;
  std::string out;
  bool dialog;
  std::vector<SettingValue> settings;
  ImageFileFormat format;
  int32_t quality;
  int32_t depth;  // 8 or 16 as --depth says, 0: 16 bits where file and filter allow
  int32_t start;  // a clip's first frame, -1: the lowest present
};

// The value of an option given as "--name VALUE" or "--name=VALUE"; false when
// `arg` is not that option. `missing` is set when the value is absent.
bool OptionValue(const std::string& name, int argc, char** argv, int* i, std::string* value,
                 bool* missing) {
  const std::string arg = argv[*i];
  *missing = false;
  if (arg.compare(0, name.size() + 1, name + "=") == 0) {
    *value = arg.substr(name.size() + 1);
    return true;
  }
  if (arg != name) return false;
  if (*i + 1 == argc) {
    *missing = true;
  } else {
    *value = argv[++*i];
  }
  return true;
}

// Reads the command line; 0 to go on, else the exit status.
int ParseCommandLine(int argc, char** argv, Job* job) {
  std::vector<std::string> positional;
  job->dialog = false;
  job->quality = kDefaultQuality;
  job->depth = 0;
  job->start = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string text, error;
    bool missing = false;
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      PrintUsage(stdout);
      return -1;
    }
    if (arg == "--dialog") {
      job->dialog = true;
    } else if (OptionValue("--quality", argc, argv, &i, &text, &missing)) {
      if (missing) {
        std::fprintf(stderr, "filterhost: --quality needs a number from 1 to 100\n");
        return kExitUsage;
      }
      if (!ParseQuality(text, &job->quality, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return kExitUsage;
      }
    } else if (OptionValue("--depth", argc, argv, &i, &text, &missing)) {
      if (missing || (text != "8" && text != "16")) {
        std::fprintf(stderr, "filterhost: --depth takes 8 or 16\n");
        return kExitUsage;
      }
      job->depth = text == "8" ? 8 : 16;
    } else if (OptionValue("--start", argc, argv, &i, &text, &missing)) {
      char* end = nullptr;
      const long long start = missing ? -1 : std::strtoll(text.c_str(), &end, 10);
      if (missing || text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) ||
          *end != '\0' || start > INT32_MAX) {
        std::fprintf(stderr, "filterhost: --start takes a frame number, 0 to 2147483647\n");
        return kExitUsage;
      }
      job->start = int32_t(start);
    } else if (OptionValue("--set", argc, argv, &i, &text, &missing)) {
      if (missing) {
        std::fprintf(stderr, "filterhost: --set needs NAME=VALUE\n");
        return kExitUsage;
      }
      SettingValue value;
      if (!ParseSetting(text, &value, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return kExitUsage;
      }
      job->settings.push_back(value);
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      std::fprintf(stderr, "filterhost: unknown option %s (try --help)\n", arg.c_str());
      return kExitUsage;
    } else if (arg != "--") {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 3) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  job->module = positional[0];
  job->in = positional[1];
  job->out = positional[2];
  // Known before anything is read or filtered.
  job->format = OutputFormatOf(job->out);
  if (job->format == kUnknownFile) {
    std::fprintf(stderr,
                 "filterhost: %s: unknown image extension (use .png, .jpg, .jpeg, .tif, .tiff "
                 "or .bmp)\n",
                 job->out.c_str());
    return kExitUsage;
  }
  return 0;
}

int Run(int argc, char** argv) {
  Job job;
  const int parsed = ParseCommandLine(argc, argv, &job);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;

  // One image or a clip: both names are patterns, or neither is.
  FramePattern inPattern, outPattern;
  std::string error;
  const FramePatternKind inKind = ParseFramePattern(job.in, &inPattern, &error);
  if (inKind == kBadPattern) return UsageError(error);
  const FramePatternKind outKind = ParseFramePattern(job.out, &outPattern, &error);
  if (outKind == kBadPattern) return UsageError(error);
  if (inKind != outKind) {
    return UsageError("a clip needs a frame number pattern (%04d) in both the input and the "
                      "output names; one image needs it in neither");
  }
  const bool clip = inKind == kFrameNamePattern;
  g_image = job.in;

  if (!FileExists(job.module)) return Fail(job.module + ": no such file");
  // From here Ctrl+C stops the run (and cancels a dialog) instead of ending it.
  InstallStopHandler();
  if (job.dialog) {
    std::string why;
    const DialogDisplay display = DialogDisplayState(&why);
    if (display == kNoDisplay) return Fail("--dialog: " + why);
    if (display == kDisplayInvisible) {
      std::fprintf(stderr, "filterhost: %s: the dialog is open but invisible; Ctrl+C stops\n",
                   why.c_str());
      std::fflush(stderr);
    }
  }
  int32_t firstFrame = 0;
  std::vector<int32_t> present;  // the clip's frame numbers found in its folder
  if (clip) {
    // From --start, else the lowest number present (a folder that cannot be
    // listed: 0, or 1 where 0 is missing).
    present = FramesPresent(inPattern);
    firstFrame = job.start >= 0          ? job.start
                 : !present.empty()      ? present.front()
                 : FileExists(FrameName(inPattern, 0)) ? 0 : 1;
    if (!FileExists(FrameName(inPattern, firstFrame))) {
      return UsageError(job.start >= 0 ? "no frame " + FrameName(inPattern, firstFrame) +
                                             " to start at (--start " +
                                             std::to_string(job.start) + ")"
                                       : "no frames: no file is named " + job.in +
                                             " for any number");
    }
  } else if (!FileExists(job.in)) {
    return Fail(job.in + ": no such file");
  }

  // The filter's property list first: it decides the depth an image is read in,
  // and so the memory its run is checked against.
  FilterModule filter;
  if (!LoadFilterModule(job.module, &filter, &error)) return Fail(error);
  const bool patinex = IsPatinex(filter);
  const bool takesSixteenBits = (filter.pipl.modes & kModeRgb48) != 0;
  if (job.depth == 16 && !takesSixteenBits) {
    return Fail("--depth 16: " + job.module + " takes no 16-bit images (its property list "
                "has no RGB 48 mode)");
  }
  const bool sixteenBits = job.depth != 8 && takesSixteenBits;
  Image image;
  if (!clip && !ReadImage(job.in, &image, &error, sixteenBits)) return Fail(error);
  if (!job.settings.empty() && !patinex) {
    return Fail("--set names values of the Patinex record; " + job.module + " is \"" +
                filter.pipl.name + "\", whose record filterhost does not know");
  }

  FilterSession session;
  OpenSession(&session, filter.entry);
  SelectorOutcome outcome = RunParametersSelector(&session);
  if (outcome.result != noErr) return ReportFailure(outcome, "the parameters");
  if (patinex) {
    double* params = PatinexRecord(&session, filter.fltdDoubles, &error);
    if (params == nullptr) return Fail(error);
    // Without --dialog the filter is replayed as recorded: no window.
    if (!job.dialog) params[kShowDialog] = 0.0;
    for (const SettingValue& value : job.settings) {
      if (ApplySetting(value, params, filter.fltdDoubles)) continue;
      // A value the module's record has no room for: Scale in PATINEX.8bf,
      // which renders at 1. Refused rather than left out, so that no one takes
      // a pixel-sized render for the one they asked for.
      return Fail("--set " + std::string(kParamRows[kScaleRow].name) + ": " + job.module +
                  " has no Scale (its record holds " + std::to_string(filter.fltdDoubles) +
                  " values); it draws the damage in pixels, as Scale 1. PATINEX64.8bf has Scale");
    }
  }

  int32_t written = 0;
  bool warnedAlpha = false;
  for (int32_t frame = firstFrame;; ++frame) {
    std::string inName = job.in, outName = job.out;
    if (clip) {
      inName = FrameName(inPattern, frame);
      outName = FrameName(outPattern, frame);
      if (!FileExists(inName)) {
        // A gap ends the clip; frames after it are another clip.
        const auto later = std::upper_bound(present.begin(), present.end(), frame);
        if (later != present.end()) {
          std::fprintf(stderr,
                       "filterhost: %s is missing: the clip ends there; %d later frame%s, "
                       "from %s, not filtered (--start %d filters them)\n",
                       inName.c_str(), int(present.end() - later),
                       present.end() - later == 1 ? "" : "s",
                       FrameName(inPattern, *later).c_str(), int(*later));
        }
        break;
      }
      g_image = inName;
      if (!ReadImage(inName, &image, &error, sixteenBits)) return Fail(error);
    }
    // A filter that takes 8 bits gets the bytes an 8-bit read gives.
    if (!sixteenBits) ReduceToBytes(&image);
    if (StopRequested()) {
      std::fprintf(stderr, "filterhost: stopped (Ctrl+C) before %s\n", inName.c_str());
      return kExitStopped;
    }
    Image read;
    if (image.sampleBytes == 2) {
      read = image;
      ToFilterSamples(&image);
    }
    outcome = FilterImage(&session, &image, clip ? "frame " + std::to_string(frame) : inName);
    if (image.sampleBytes == 2) ToFileSamples(&image, read);
    if (outcome.result != noErr || !outcome.problem.empty()) {
      return ReportFailure(outcome, inName, written);
    }
    if (image.planes == 4 && !FormatKeepsAlpha(job.format) && !warnedAlpha) {
      std::fprintf(stderr, "filterhost: warning: %s keeps no transparency; %s is written without it\n",
                   FormatName(job.format), outName.c_str());
      warnedAlpha = true;
    }
    if (!WriteImage(outName, image, job.format, job.quality, &error)) return Fail(error);
    ++written;
    if (clip) std::printf("%s -> %s\n", inName.c_str(), outName.c_str());
    std::fflush(stdout);
    if (!clip || frame == INT32_MAX) break;
  }
  if (clip) {
    std::printf("filtered %d frames\n", int(written));
  } else {
    std::printf("%s -> %s\n", job.in.c_str(), job.out.c_str());
  }
  CloseSession(&session);
  UnloadFilterModule(&filter);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Sizes and memory are checked before an image is decoded; should anything
  // still throw (memory taken by another process meanwhile), it ends with one
  // line naming the image.
  int status = kExitFailed;
  try {
    status = Run(argc, argv);
  } catch (const std::bad_alloc&) {
    status = Fail("out of memory while filtering " + g_image);
  } catch (const std::exception& e) {
    status = Fail(g_image + ": " + e.what());
  } catch (...) {
    status = Fail(g_image + ": an unexpected error");
  }
  ReportPeakMemory();
  return status;
}
