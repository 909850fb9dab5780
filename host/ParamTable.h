// The parameters, one row each, written once: the record's defaults
// (SetDefaultParams), the parameters dialog's number, colour and check rows,
// filterhost's --set and --help, and the frei0r filter's parameter list and
// mapping all read them from here.
//
// A consumer walks the whole array and picks the rows it serves:
//
//   for (int i = 0; i < kParamRowCount; ++i) {
//     const ParamRow& row = kParamRows[i];
//     if (row.inDialog) ...         // a row of the dialog (and of filterhost's --set)
//     if (row.inFrei0r) ...         // a frei0r parameter, numbered in table order
//   }
//
// The rows run in the dialog's order (the order its "&OK" checks the edits), then
// the show-dialog flag, then the two values that only the frei0r filter has, then
// Scale. The rows with inFrei0r, taken in table order, are frei0r's parameters 0
// to 21. That order and those names are a stored format: video editors keep a
// project's values by position or by name, so never reorder or rename those
// rows; a new one goes at the end.
//
// Scale lives past the 27 entries of EffectParams: at index kScale of the 64-bit
// module's record (28 entries), in the frei0r filter's and the GEGL operation's
// own settings, and in filterhost's --set for a module whose record has it. The
// 32-bit module's record ends before it: a consumer that holds only an
// EffectParams skips rows whose recordIndex is kParamCount or more.
#pragma once

#include "render/EffectParams.h"

enum ParamKind {
  kValueParam,     // a number low..high: an edit with its slider in the dialog
  kColorParam,     // three entries, red, green, blue, each low..high: a "Set" button
  kSwitchParam,    // 0 (off) or 1 (on); any value other than 0 counts as on: a check box
  kInternalParam,  // written by the filter itself (frame number, show-dialog flag)
};

struct ParamRow {
  int recordIndex;          // (first) index in EffectParams; -1 when the record has none
  const char* name;         // the dialog's label without its mnemonic '&'
  ParamKind kind;
  double low;               // inclusive range; each channel's for a colour
  double high;
  double defaults[3];       // the default; red, green, blue for a colour
  bool inDialog;            // a row of the parameters dialog (its control: ui/ParamControls.h)
  const char* explanation;  // the line a frei0r host shows beside it; null when not shown
  bool inFrei0r;            // one of the frei0r filter's parameters
  bool wholeNumbers;        // takes whole numbers only
};

extern const ParamRow kParamRows[];
extern const int kParamRowCount;

// The rows that only the frei0r filter has (record index -1), by position
// (host/ParamTable.cpp checks them at compile time).
const int kFilmFrameRateRow = 21;
const int kSeedRow = 22;
// Scale: the size of the damage, 0 (Auto) or a factor 1..16; the dialog's row
// of the 64-bit module, frei0r's parameter 21 (value x 16).
const int kScaleRow = 23;

// Scale's entry in a record that has one, after the 27 of EffectParams.
const int kScale = kParamCount;
// The entries of a record with Scale: the 64-bit module's, 224 bytes.
const int kParamCountWithScale = kParamCount + 1;

// The entries of this module's record: the 32-bit module keeps the 27 (216
// bytes) it always had and renders at Scale 1; every other build has Scale.
#if defined(_WIN32) && !defined(_WIN64)
const int kModuleParamCount = kParamCount;
#else
const int kModuleParamCount = kParamCountWithScale;
#endif

// The number of entries a row covers in the record: 3 for a colour, else 1.
constexpr int ParamEntryCount(const ParamRow& row) { return row.kind == kColorParam ? 3 : 1; }

// Writes the defaults into indices 0 to 25; index 26 (show dialog) is left alone.
void SetDefaultParams(EffectParams* params);
// The same for a record of `count` entries (kParamCount or kParamCountWithScale):
// with Scale, its default (Auto) too.
void SetDefaultParamValues(double* values, int count);

// The Scale a record of `count` entries renders with: its entry when it has one,
// else 1, the pixel-sized look every record without it was made with.
double RecordScale(const double* values, int count);
