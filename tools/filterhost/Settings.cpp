#include "tools/filterhost/Settings.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace {

const Setting kSettings[] = {
    {"Film Response", kFilmResponse, kAmountSetting},
    {"Grain Amount", kGrainAmount, kAmountSetting},
    {"Dust Size", kDustSize, kAmountSetting},
    {"Dust Amount", kDustAmount, kAmountSetting},
    {"Dust Color", kDustColorRed, kColorSetting},
    {"Hair Size", kHairSize, kAmountSetting},
    {"Hair Amount", kHairAmount, kAmountSetting},
    {"Hair Color", kHairColorRed, kColorSetting},
    {"Scratch Amount", kScratchAmount, kAmountSetting},
    {"Scratch Velocity", kScratchVelocity, kAmountSetting},
    {"Scratch Lifespan", kScratchLifespan, kAmountSetting},
    {"Scratch Opacity", kScratchOpacity, kAmountSetting},
    {"Jitter Max Offset", kJitterMaxOffset, kAmountSetting},
    {"Jitter Probability", kJitterProbability, kAmountSetting},
    {"Convert to Gray", kConvertToGray, kSwitchSetting},
    {"Gray Tint Value", kGrayTintRed, kColorSetting},
    {"Flicker Speed", kFlickerSpeed, kAmountSetting},
    {"Flicker Amount", kFlickerAmount, kAmountSetting},
    {"Reveal Back Layer", kRevealBackLayer, kSwitchSetting},
    {"Frame Number", kFrameNumber, kFrameSetting},
};

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

bool ParseWhole(const std::string& text, double low, double high, double* value) {
  double v = 0;
  if (!ParseNumber(text, &v) || !(v >= low && v <= high) || std::floor(v) != v) return false;
  *value = v;
  return true;
}

}  // namespace

const Setting* FindSetting(const std::string& name) {
  const std::string key = NameKey(name);
  for (const Setting& s : kSettings) {
    if (NameKey(s.name) == key) return &s;
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
  const Setting* setting = FindSetting(name);
  if (setting == nullptr) {
    *error = "unknown setting \"" + Trim(name) + "\" (filterhost --help lists them)";
    return false;
  }
  const std::string label = setting->name;
  value->index = setting->index;
  value->count = 1;
  switch (setting->kind) {
    case kAmountSetting: {
      double v = 0;
      if (!ParseNumber(arg, &v) || !(v >= 0 && v <= 100)) {
        *error = label + " takes a number from 0 to 100, got \"" + arg + "\"";
        return false;
      }
      // The dialog's edit fields keep what they read in single precision.
      value->values[0] = double(float(v));
      return true;
    }
    case kColorSetting: {
      value->count = 3;
      size_t start = 0;
      for (int c = 0; c < 3; ++c) {
        const size_t comma = arg.find(',', start);
        const bool last = c == 2;
        if ((comma == std::string::npos) != last ||
            !ParseWhole(arg.substr(start, last ? std::string::npos : comma - start), 0, 255,
                        &value->values[c])) {
          *error = label + " takes R,G,B with whole numbers from 0 to 255, got \"" + arg + "\"";
          return false;
        }
        start = comma + 1;
      }
      return true;
    }
    case kSwitchSetting: {
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
    case kFrameSetting:
      if (!ParseWhole(arg, 0, 9999, &value->values[0])) {
        *error = label + " takes a whole number from 0 to 9999, got \"" + arg + "\"";
        return false;
      }
      return true;
  }
  return false;
}

void ApplySetting(const SettingValue& value, EffectParams* params) {
  for (int32_t i = 0; i < value.count; ++i) {
    const int32_t index = value.index + i;
    if (index >= 0 && index < kShowDialog) params->value[index] = value.values[i];
  }
}

std::string SettingsHelp() {
  std::string text;
  for (const Setting& s : kSettings) {
    std::string line = "  ";
    line += s.name;
    while (line.size() < 22) line += ' ';
    switch (s.kind) {
      case kAmountSetting: line += "0 to 100"; break;
      case kColorSetting: line += "R,G,B, each 0 to 255"; break;
      case kSwitchSetting: line += "0 or 1"; break;
      case kFrameSetting: line += "0 to 9999 (the filter stamps its own frame count over it)"; break;
    }
    text += line + "\n";
  }
  return text;
}
