#include "tools/filterhost/FramePattern.h"

#include <cctype>

FramePatternKind ParseFramePattern(const std::string& text, FramePattern* pattern,
                                   std::string* error) {
  *pattern = FramePattern();
  pattern->width = 0;
  pattern->zeroPad = false;
  int32_t conversions = 0;
  bool stray = false;
  std::string* out = &pattern->prefix;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      *out += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool zero = false;
    if (j < text.size() && text[j] == '0') zero = true, ++j;
    int32_t width = 0;
    size_t widthDigits = 0;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
      width = width * 10 + (text[j] - '0');
      ++j;
      if (++widthDigits > 2) break;  // 99 digits is plenty; never an overflow
    }
    if (j < text.size() && text[j] == 'd' && widthDigits <= 2) {
      ++conversions;
      pattern->zeroPad = zero;
      pattern->width = width;
      out = &pattern->suffix;
      i = j;
    } else {
      stray = true;
      *out += '%';
    }
  }
  if (conversions == 0) return kPlainName;
  if (conversions > 1) {
    *error = "\"" + text + "\" has more than one frame number (%d)";
    return kBadPattern;
  }
  if (stray) {
    *error = "\"" + text + "\" has a % that is neither %d, %0Nd nor %% (write %% for a %)";
    return kBadPattern;
  }
  return kFrameNamePattern;
}

std::string FrameName(const FramePattern& pattern, int32_t number) {
  std::string digits = std::to_string(number < 0 ? 0 : number);
  while (int32_t(digits.size()) < pattern.width) digits.insert(0, 1, pattern.zeroPad ? '0' : ' ');
  return pattern.prefix + digits + pattern.suffix;
}
