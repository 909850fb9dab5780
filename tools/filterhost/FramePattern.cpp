#include "tools/filterhost/FramePattern.h"

#include <algorithm>
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

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\' || c == ':'; }

bool SameLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool FrameFolder(const FramePattern& pattern, std::string* folder) {
  if (std::find_if(pattern.suffix.begin(), pattern.suffix.end(), IsSeparator) !=
      pattern.suffix.end()) {
    return false;
  }
  size_t end = pattern.prefix.size();
  while (end > 0 && !IsSeparator(pattern.prefix[end - 1])) --end;
  *folder = pattern.prefix.substr(0, end);
  return true;
}

std::vector<int32_t> FrameNumbersFound(const FramePattern& pattern,
                                       const std::vector<std::string>& names) {
  std::vector<int32_t> numbers;
  std::string folder;
  if (!FrameFolder(pattern, &folder)) return numbers;
  const std::string head = pattern.prefix.substr(folder.size());
  for (const std::string& name : names) {
    if (name.size() <= head.size() + pattern.suffix.size()) continue;
    // The digits between the pattern's text (blanks or zeros first where the
    // width pads); a number has at most 10 digits beyond them.
    const std::string middle =
        name.substr(head.size(), name.size() - head.size() - pattern.suffix.size());
    size_t first = middle.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    while (first + 1 < middle.size() && middle[first] == '0') ++first;
    if (middle.size() - first > 10) continue;
    int64_t number = 0;
    bool digits = true;
    for (size_t i = first; i < middle.size() && digits; ++i) {
      digits = std::isdigit(static_cast<unsigned char>(middle[i])) != 0;
      number = number * 10 + (middle[i] - '0');
    }
    if (!digits || number > INT32_MAX) continue;
    if (SameLetters(folder + name, FrameName(pattern, int32_t(number)))) {
      numbers.push_back(int32_t(number));
    }
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}
