// --set NAME=VALUE: a value of the Patinex parameter record given on the command
// line, by the label the parameters dialog shows for it. Pure code, tested natively.
#pragma once

#include <cstdint>
#include <string>

#include "render/EffectParams.h"
#include "host/ParamTable.h"

// A parsed --set: the values to write from `index` on (3 for a colour, else 1).
struct SettingValue {
  int32_t index;
  int32_t count;
  double values[3];
};

// Finds a row of the parameters dialog (host/ParamTable.h) by name: case,
// surrounding blanks and a mnemonic '&' do not matter. Null when the dialog has
// no such row.
const ParamRow* FindSetting(const std::string& name);

// Parses "NAME=VALUE" within the row's range. Values take a number (stored in
// single precision, as the dialog's edit field stores it), Scale also "Auto"
// (0); colours "R,G,B" with whole numbers; switches 0 or 1 (also on/off, yes/no,
// true/false). The frame number, which the filter stamps on every frame, is
// refused. False with a message for anything else.
bool ParseSetting(const std::string& text, SettingValue* value, std::string* error);

// Writes a parsed setting into a record of `count` values: 27, or 28 in a
// module whose record ends with Scale. False, writing nothing, when the record
// has no entry for it (Scale in a record of 27).
bool ApplySetting(const SettingValue& value, double* values, int32_t count);

// The names, one per line with their ranges and defaults, for --help.
std::string SettingsHelp();
