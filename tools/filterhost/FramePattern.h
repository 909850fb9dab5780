// Numbered frames named by a printf-style pattern: 'clip/frame-%04d.png'. Only
// one %d conversion (with an optional 0 flag and width) and %% are understood;
// the pattern never reaches printf itself. Pure code, tested natively.
#pragma once

#include <cstdint>
#include <string>

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
