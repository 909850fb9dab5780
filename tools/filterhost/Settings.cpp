#include "tools/filterhost/Settings.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The rows --set takes: those of the parameters dialog but the frame number,
// which the filter stamps over the record on every frame.
bool IsSetting(const ParamRow& row) {
  return row.recordIndex >= 0 && row.inDialog && row.kind != kInternalParam;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Lower case, '&' dropped, runs of blanks folded to one.
std::string NameKey(const std::string& name) {
  std::string key;
  for (char c : Trim(name)) {
    if (c == '&') continue;
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!key.empty() && key.back() != ' ') key += ' ';
      continue;
    }
    key += char(std::tolower(static_cast<unsigned char>(c)));
  }
  return key;
}

// A whole decimal number: optional sign, digits, an optional point with
// digits, an optional exponent. Nothing else: no "nan", "inf", hex or trailing
// text, which strtod alone would take.
bool ParseNumber(const std::string& raw, double* value) {
  const std::string text = Trim(raw);
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != text.size()) return false;
  *value = std::strtod(text.c_str(), nullptr);
  return true;
}

// A bound as --help and the messages write it: 100, 255, 9999.
std::string BoundText(double bound) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", bound);
  return text;
}

std::string RangeText(const ParamRow& row) {
  return BoundText(row.low) + " to " + BoundText(row.high);
}

bool ParseWhole(const std::string& text, double low, double high, double* value) {
  double v = 0;
  if (!ParseNumber(text, &v) || !(v >= low && v <= high) || std::floor(v) != v) return false;
  *value = v;
  return true;
}

bool IsFrameNumberName(const std::string& name) {
  for (int i = 0; i < kParamRowCount; ++i) {
    if (kParamRows[i].recordIndex == kFrameNumber) return NameKey(kParamRows[i].name) == NameKey(name);
  }
  return false;
}

}  // namespace

const ParamRow* FindSetting(const std::string& name) {
  const std::string key = NameKey(name);
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    if (IsSetting(row) && NameKey(row.name) == key) return &row;
  }
  return nullptr;
}

bool ParseSetting(const std::string& text, SettingValue* value, std::string* error) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos) {
    *error = "--set needs NAME=VALUE, got \"" + text + "\"";
    return false;
  }
  const std::string name = text.substr(0, eq);
  const std::string arg = Trim(text.substr(eq + 1));
  const ParamRow* setting = FindSetting(name);
  if (setting == nullptr && IsFrameNumberName(name)) {
    *error = Trim(name) + " is the filter's own frame count, stamped on every frame: --set "
             "cannot give it";
    return false;
  }
  if (setting == nullptr) {
    *error = "unknown setting \"" + Trim(name) + "\" (filterhost --help lists them)";
    return false;
  }
  const std::string label = setting->name;
  value->index = setting->recordIndex;
  value->count = ParamEntryCount(*setting);
  switch (setting->kind) {
    case kValueParam:
    case kInternalParam: {
      if (setting == &kParamRows[kScaleRow] && NameKey(arg) == "auto") {
        value->values[0] = kParamRows[kScaleRow].low;  // 0 is Auto
        return true;
      }
      if (setting->wholeNumbers) {
        if (ParseWhole(arg, setting->low, setting->high, &value->values[0])) return true;
        *error = label + " takes a whole number from " + RangeText(*setting) + ", got \"" +
                 arg + "\"";
        return false;
      }
      double v = 0;
      if (!ParseNumber(arg, &v) || !(v >= setting->low && v <= setting->high)) {
        const std::string orAuto = setting == &kParamRows[kScaleRow] ? " (0 = Auto) or Auto" : "";
        *error = label + " takes a number from " + RangeText(*setting) + orAuto + ", got \"" +
                 arg + "\"";
        return false;
      }
      // The dialog's edit fields keep what they read in single precision.
      value->values[0] = double(float(v));
      return true;
    }
    case kColorParam: {
      size_t start = 0;
      for (int c = 0; c < 3; ++c) {
        const size_t comma = arg.find(',', start);
        const bool last = c == 2;
        if ((comma == std::string::npos) != last ||
            !ParseWhole(arg.substr(start, last ? std::string::npos : comma - start),
                        setting->low, setting->high, &value->values[c])) {
          *error = label + " takes R,G,B with whole numbers from " + RangeText(*setting) +
                   ", got \"" + arg + "\"";
          return false;
        }
        start = comma + 1;
      }
      return true;
    }
    case kSwitchParam: {
      const std::string key = NameKey(arg);
      if (key == "1" || key == "on" || key == "yes" || key == "true") {
        value->values[0] = 1.0;
      } else if (key == "0" || key == "off" || key == "no" || key == "false") {
        value->values[0] = 0.0;
      } else {
        *error = label + " takes 0 or 1 (off or on), got \"" + arg + "\"";
        return false;
      }
      return true;
    }
  }
  return false;
}

bool ApplySetting(const SettingValue& value, double* values, int32_t count) {
  if (value.index < 0 || value.index + value.count > count) return false;
  for (int32_t i = 0; i < value.count; ++i) {
    const int32_t index = value.index + i;
    if (index != kShowDialog && index != kFrameNumber) values[index] = value.values[i];
  }
  return true;
}

std::string SettingsHelp() {
  std::string text;
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    if (!IsSetting(row)) continue;
    std::string line = "  ";
    line += row.name;
    while (line.size() < 22) line += ' ';
    switch (row.kind) {
      case kValueParam:
      case kInternalParam:
        line += RangeText(row) + ", default " + BoundText(row.defaults[0]);
        if (&row == &kParamRows[kScaleRow]) line += " (0 = Auto; 64-bit modules only)";
        break;
      case kColorParam:
        line += "R,G,B, each " + RangeText(row) + ", default " + BoundText(row.defaults[0]) + "," +
                BoundText(row.defaults[1]) + "," + BoundText(row.defaults[2]);
        break;
      case kSwitchParam: line += std::string("0 or 1, default ") + (row.defaults[0] != 0 ? "1 (on)" : "0 (off)"); break;
    }
    text += line + "\n";
  }
  return text;
}
