// --set NAME=VALUE: a value of the Patinex parameter record given on the command
// line, by the label the parameters dialog shows for it. Pure code, tested natively.
#pragma once

#include <cstdint>
#include <string>

#include "host/EffectParams.h"

// One row of the parameters dialog as the command line knows it.
enum SettingKind { kAmountSetting, kColorSetting, kSwitchSetting, kFrameSetting };
struct Setting {
  const char* name;  // the dialog's label without its mnemonic ampersand
  int32_t index;     // first index in EffectParams
  SettingKind kind;
};

// A parsed --set: the values to write from `index` on (3 for a colour, else 1).
struct SettingValue {
  int32_t index;
  int32_t count;
  double values[3];
};

// Finds a setting by name: case, surrounding blanks and a mnemonic '&' do not
// matter. Null when there is no such row.
const Setting* FindSetting(const std::string& name);

// Parses "NAME=VALUE". Amounts take a number 0..100 (stored in single precision,
// as the dialog's edit field stores it); colours "R,G,B" with whole numbers
// 0..255; switches 0 or 1 (also on/off, yes/no, true/false); the frame number a
// whole number 0..9999. False with a message for anything else.
bool ParseSetting(const std::string& text, SettingValue* value, std::string* error);

// Writes a parsed setting into the record.
void ApplySetting(const SettingValue& value, EffectParams* params);

// The names, one per line with their ranges, for --help.
std::string SettingsHelp();
