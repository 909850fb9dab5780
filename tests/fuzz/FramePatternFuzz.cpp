// filterhost's frame patterns: any text through ParseFramePattern, and the names
// FrameName makes from a pattern.
#include <string>

#include "tests/fuzz/FuzzCheck.h"
#include "tools/filterhost/FramePattern.h"

namespace {

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '%' ? std::string("%%") : std::string(1, c);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzReader in = {data, size};
  const int32_t number = in.Next<int32_t>();
  const std::string text(reinterpret_cast<const char*>(in.data), in.size);
  FramePattern pattern;
  std::string error;
  const FramePatternKind kind = ParseFramePattern(text, &pattern, &error);
  FUZZ_CHECK(kind == kPlainName || kind == kFrameNamePattern || kind == kBadPattern, "kind %d",
             int(kind));
  if (kind == kBadPattern) {
    FUZZ_CHECK(!error.empty(), "\"%s\" refused without a message", text.c_str());
    return 0;
  }
  if (kind == kPlainName) return 0;

  FUZZ_CHECK(pattern.width >= 0 && pattern.width <= 99, "\"%s\": width %d", text.c_str(),
             int(pattern.width));
  // A name is prefix, the number padded to the width, suffix.
  const std::string name = FrameName(pattern, number);
  const std::string digits = std::to_string(number < 0 ? 0 : number);
  const size_t middle = digits.size() > size_t(pattern.width) ? digits.size() : size_t(pattern.width);
  FUZZ_CHECK(name.size() == pattern.prefix.size() + middle + pattern.suffix.size() &&
                 name.compare(0, pattern.prefix.size(), pattern.prefix) == 0 &&
                 name.compare(name.size() - pattern.suffix.size(), std::string::npos,
                              pattern.suffix) == 0,
             "\"%s\" frame %d is \"%s\"", text.c_str(), int(number), name.c_str());
  const std::string padded = name.substr(pattern.prefix.size(), middle);
  FUZZ_CHECK(padded.compare(middle - digits.size(), std::string::npos, digits) == 0 &&
                 padded.find_first_not_of(pattern.zeroPad ? '0' : ' ') >= middle - digits.size(),
             "\"%s\" frame %d is \"%s\"", text.c_str(), int(number), name.c_str());

  // The pattern written out again reads back the same.
  std::string again = Escaped(pattern.prefix) + "%";
  if (pattern.zeroPad) again += "0";
  if (pattern.width > 0) again += std::to_string(pattern.width);
  again += "d" + Escaped(pattern.suffix);
  FramePattern reread;
  FUZZ_CHECK(ParseFramePattern(again, &reread, &error) == kFrameNamePattern &&
                 reread.prefix == pattern.prefix && reread.suffix == pattern.suffix &&
                 reread.width == pattern.width && reread.zeroPad == pattern.zeroPad,
             "\"%s\" written again as \"%s\" reads otherwise", text.c_str(), again.c_str());
  return 0;
}
