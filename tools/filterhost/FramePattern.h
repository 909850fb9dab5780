// Numbered frames named by a printf-style pattern: 'clip/frame-%04d.png'. Only
// one %d conversion (with an optional 0 flag and width) and %% are understood;
// the pattern never reaches printf itself. Pure code, tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FramePattern {
  std::string prefix;  // text before the number, %% already turned into %
  std::string suffix;  // text after it
  int32_t width;       // minimum digits
  bool zeroPad;        // '0' flag: pad with zeros, else with blanks
};

enum FramePatternKind { kPlainName, kFrameNamePattern, kBadPattern };

// kFrameNamePattern when text holds exactly one frame number conversion,
// kPlainName when it holds none (the text is then one file's name, taken as it
// is), kBadPattern with a message for two conversions or an unknown one next to
// a conversion.
FramePatternKind ParseFramePattern(const std::string& text, FramePattern* pattern,
                                   std::string* error);

// The name of frame `number` (not negative).
std::string FrameName(const FramePattern& pattern, int32_t number);

// The folder the pattern's frames are in, as the pattern writes it ("clip/" of
// "clip/frame-%04d.png", "" for the current folder); false when the number is
// part of a folder's name ("shot%02d/a.png"), whose frames are not one listing.
bool FrameFolder(const FramePattern& pattern, std::string* folder);

// The numbers of the frames among the files of the pattern's folder (`names`,
// without the folder), in increasing order: a name is frame n when the pattern
// writes exactly that name for n, letters in either case (Windows' names).
std::vector<int32_t> FrameNumbersFound(const FramePattern& pattern,
                                       const std::vector<std::string>& names);
