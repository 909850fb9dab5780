// filterhost's --set NAME=VALUE: any command-line text through ParseSetting and
// ApplySetting.
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "tests/fuzz/FuzzCheck.h"
#include "tools/filterhost/Settings.h"

namespace {

// The values a row of the table lets --set yield.
bool InRange(const ParamRow& row, double v) {
  if (!(v >= row.low && v <= row.high)) return false;
  switch (row.kind) {
    case kValueParam:
    case kInternalParam:  // the frame number, which --set also takes
      return row.wholeNumbers ? std::floor(v) == v : double(float(v)) == v;
    case kColorParam: return std::floor(v) == v;
    case kSwitchParam: return v == 0.0 || v == 1.0;
  }
  return false;
}

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SettingValue value;
  std::memset(&value, 0xA5, sizeof value);
  std::string error;
  if (!ParseSetting(text, &value, &error)) {
    FUZZ_CHECK(!error.empty(), "\"%s\" refused without a message", text.c_str());
    return 0;
  }
  const ParamRow* setting = FindSetting(text.substr(0, text.find('=')));
  FUZZ_CHECK(setting != nullptr && setting->recordIndex == value.index,
             "\"%s\" parsed to index %d", text.c_str(), int(value.index));
  FUZZ_CHECK(value.count == ParamEntryCount(*setting), "\"%s\": %d values",
             text.c_str(), int(value.count));
  for (int32_t i = 0; i < value.count; ++i) {
    FUZZ_CHECK(InRange(*setting, value.values[i]), "\"%s\" gave %.17g", text.c_str(),
               value.values[i]);
  }
  FUZZ_CHECK(FindSetting(Upper(setting->name)) == setting &&
                 FindSetting(" &" + std::string(setting->name) + "\t") == setting,
             "\"%s\" is not found whatever its case, blanks or mnemonic", setting->name);

  // Applying writes the named values and nothing else, in a record with Scale;
  // a record of 27 takes everything but Scale.
  double params[kParamCountWithScale];
  for (int i = 0; i < kParamCountWithScale; ++i) params[i] = -1000.0 - i;
  FUZZ_CHECK(ApplySetting(value, params, kParamCountWithScale), "\"%s\" not applied",
             text.c_str());
  for (int i = 0; i < kParamCountWithScale; ++i) {
    const int32_t k = i - value.index;
    const double want = (k >= 0 && k < value.count) ? value.values[k] : -1000.0 - i;
    FUZZ_CHECK(params[i] == want, "\"%s\" left index %d at %.17g", text.c_str(), i, params[i]);
  }
  double shortRecord[kParamCount];
  FUZZ_CHECK(ApplySetting(value, shortRecord, kParamCount) == (value.index != kScale),
             "\"%s\" in a record of 27 values", text.c_str());

  // The values written out again, with every digit, read back the same.
  std::string again = std::string(setting->name) + "=";
  for (int32_t i = 0; i < value.count; ++i) {
    char number[40];
    std::snprintf(number, sizeof number, "%s%.17g", i > 0 ? "," : "", value.values[i]);
    again += number;
  }
  SettingValue reread;
  FUZZ_CHECK(ParseSetting(again, &reread, &error), "\"%s\" (from \"%s\") refused: %s",
             again.c_str(), text.c_str(), error.c_str());
  for (int32_t i = 0; i < value.count; ++i) {
    FUZZ_CHECK(reread.values[i] == value.values[i], "\"%s\" reads %.17g, not %.17g", again.c_str(),
               reread.values[i], value.values[i]);
  }
  return 0;
}
