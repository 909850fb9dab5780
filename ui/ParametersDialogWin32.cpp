#include <windows.h>
#include <commctrl.h>

#include "host/EffectParams.h"
#include "host/FilterRecord.h"
#include "host/ModuleWin32.h"
#include "render/Numerics.h"
#include "ui/AboutBox.h"
#include "ui/ColorPicker.h"
#include "ui/CommonControls.h"
#include "ui/ParametersDialog.h"
#include "ui/Preview.h"
#include "ui/ValueControls.h"

// The dialog procedure, exported undecorated (ordinal 2) through the module's .def.
extern "C" INT_PTR CALLBACK PatinexProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

// The working copy of PluginGlobals the dialog was opened with; set by every
// WM_INITDIALOG, valid while the dialog runs (one dialog at a time).
PluginGlobals* gGlobals = nullptr;

// A numeric row: its edit (the slider is edit id + kSliderIdOffset), the index it
// edits and its upper bound (every lower bound is 0).
struct NumberRow {
  int editId;
  int index;
  double high;
};
// In the order "&OK" checks them.
const NumberRow kNumberRows[] = {
    {100, kFilmResponse, 100},     {101, kGrainAmount, 100},      {102, kDustSize, 100},
    {103, kDustAmount, 100},       {105, kHairSize, 100},         {106, kHairAmount, 100},
    {108, kScratchAmount, 100},    {109, kScratchVelocity, 100},  {110, kScratchLifespan, 100},
    {111, kScratchOpacity, 100},   {112, kJitterMaxOffset, 100},  {113, kJitterProbability, 100},
    {116, kFlickerSpeed, 100},     {117, kFlickerAmount, 100},    {119, kFrameNumber, 9999},
};

// A colour row: its "Set" button (the swatch is button id + kSwatchIdOffset) and
// the index of its red component; green and blue follow.
struct ColorRow {
  int buttonId;
  int redIndex;
};
const ColorRow kColorRows[] = {{104, kDustColorRed}, {107, kHairColorRed}, {115, kGrayTintRed}};

struct CheckRow {
  int checkId;
  int index;
};
const CheckRow kCheckRows[] = {{114, kConvertToGray}, {118, kRevealBackLayer}};

// The hidden Frame Number row: edit, slider and label.
const int kFrameNumberEditId = 119;
const int kFrameNumberLabelId = 619;

const NumberRow* FindNumberRow(int editId) {
  for (const NumberRow& row : kNumberRows) {
    if (row.editId == editId) return &row;
  }
  return nullptr;
}

FilterRecord* HostRecord() { return static_cast<FilterRecord*>(gGlobals->hostRecord); }

// The host's record, fetched anew through its handle for each message.
EffectParams* Params() {
  return static_cast<EffectParams*>(HandleData(HostRecord()->parameters));
}

HWND HostWindow(const FilterRecord* record) {
  const PlatformData* platform = static_cast<const PlatformData*>(record->platformData);
  return platform != nullptr ? reinterpret_cast<HWND>(platform->hwnd) : nullptr;
}

void FillNumberRow(HWND dialog, const NumberRow& row, const EffectParams* params) {
  const double value = params->value[row.index];
  SetSliderRange(dialog, row.editId + kSliderIdOffset, 0, int(row.high));
  SetSliderPos(dialog, row.editId + kSliderIdOffset, TruncToInt(value));
  // Setting the text runs the edit's change handling, which stores the value as
  // shown (four decimals, single precision) and clamps it to the row's range.
  SetEditNumber(dialog, row.editId, value);
}

// Every control from the record, in template order. The swatches are painted.
void FillControls(HWND dialog) {
  const int kOrder[] = {100, 101, 102, 103, 105, 106, 108, 109, 110, 111, 112, 113,
                        114, 116, 117, 118, 119};
  for (int id : kOrder) {
    // Each row reads the record anew: filling one edit may store into it.
    if (const NumberRow* row = FindNumberRow(id)) {
      FillNumberRow(dialog, *row, Params());
    } else {
      for (const CheckRow& check : kCheckRows) {
        if (check.checkId == id) SetCheck(dialog, id, Params()->value[check.index]);
      }
    }
  }
}

BOOL OnInitDialog(HWND dialog, PluginGlobals* globals) {
  gGlobals = globals;
  if (!SetUpPreview(dialog, globals)) return FALSE;  // the dialog has been ended
  ShowControl(dialog, kFrameNumberEditId, 0);
  ShowControl(dialog, kFrameNumberEditId + kSliderIdOffset, 0);
  ShowControl(dialog, kFrameNumberLabelId, 0);
  FillControls(dialog);
  return TRUE;  // the platform focuses the first tab stop, "&OK"
}

BOOL OnPaint(HWND dialog) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  DrawPreview(dialog, dc, gGlobals);
  const EffectParams* params = Params();
  for (const ColorRow& row : kColorRows) {
    PaintSwatch(dialog, row.buttonId + kSwatchIdOffset, params->value[row.redIndex],
                params->value[row.redIndex + 1], params->value[row.redIndex + 2], dc);
  }
  EndPaint(dialog, &paint);
  return FALSE;
}

BOOL OnHScroll(HWND dialog, WPARAM wParam, HWND slider) {
  if (slider == nullptr) return FALSE;
  const int position = int(SendMessageA(slider, TBM_GETPOS, 0, 0));
  const int editId = GetWindowLongA(slider, GWL_ID) - kSliderIdOffset;
  const NumberRow* row = FindNumberRow(editId);
  if (row == nullptr) return FALSE;
  Params()->value[row->index] = double(position);
  SetEditNumber(dialog, editId, double(position));  // runs the edit's change handling
  if (LOWORD(wParam) == TB_ENDTRACK) InvalidatePreview(dialog);
  return TRUE;
}

void OnEditChange(HWND dialog, const NumberRow& row) {
  double* destination = &Params()->value[row.index];
  if (CheckEditRange(dialog, row.editId, destination, 0.0, row.high)) {
    SetSliderPos(dialog, row.editId + kSliderIdOffset, TruncToInt(*destination));
    InvalidatePreview(dialog);
  }
}

void OnSetColor(HWND dialog, const ColorRow& row) {
  double* rgb = &Params()->value[row.redIndex];
  if (PickColor(gGlobals->customColors, &rgb[0], &rgb[1], &rgb[2])) {
    InvalidateControl(dialog, row.buttonId + kSwatchIdOffset);
    InvalidatePreview(dialog);
  }
}

void OnOk(HWND dialog) {
  for (const NumberRow& row : kNumberRows) {
    // A rejected edit has been reset, selected and focused; the dialog stays open.
    if (!CheckEditRange(dialog, row.editId, &Params()->value[row.index], 0.0, row.high)) return;
  }
  for (const CheckRow& check : kCheckRows) {
    Params()->value[check.index] = GetCheck(dialog, check.checkId) ? 1.0 : 0.0;
  }
  EndDialog(dialog, IDOK);
}

void OnReset(HWND dialog) {
  SetDefaultParams(Params());  // indices 0 to 25; the show-dialog flag stays
  FillControls(dialog);
  InvalidateRect(dialog, nullptr, FALSE);  // swatches and preview too
}

BOOL OnCommand(HWND dialog, int id, int code) {
  switch (id) {
    case IDOK: OnOk(dialog); return TRUE;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;  // stored values stay
    case 3: OnReset(dialog); return TRUE;
    case 4: ShowAboutBox(HostWindow(HostRecord())); return TRUE;  // owned by the host window
    default: break;
  }
  if (id < 100 || id > 119) return FALSE;
  if (const NumberRow* row = FindNumberRow(id)) {
    if (code == EN_CHANGE) OnEditChange(dialog, *row);
    return TRUE;
  }
  for (const ColorRow& row : kColorRows) {
    if (row.buttonId == id) OnSetColor(dialog, row);
  }
  for (const CheckRow& check : kCheckRows) {
    if (check.checkId == id) {
      Params()->value[check.index] = GetCheck(dialog, id) ? 1.0 : 0.0;
      InvalidatePreview(dialog);
    }
  }
  return TRUE;
}

}  // namespace

// Only unpacks messages. Before WM_INITDIALOG and after the dialog has ended there
// is no working copy, and nothing is handled.
extern "C" INT_PTR CALLBACK PatinexProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    return OnInitDialog(dialog, reinterpret_cast<PluginGlobals*>(lParam));
  }
  if (gGlobals == nullptr) return FALSE;
  switch (message) {
    case WM_PAINT: return OnPaint(dialog);
    case WM_HSCROLL: return OnHScroll(dialog, wParam, reinterpret_cast<HWND>(lParam));
    case WM_COMMAND: return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    default: return FALSE;
  }
}

// What DialogBoxParamA's answer becomes:
//   IDOK (1)      -- OK with every edit accepted: result stays 0, the run filters.
//   IDCANCEL (2)  -- Cancel or Escape, or the preview had no memory (after the
//                    error box): result 1, the run stops and the flag stays set.
//   -1            -- the dialog could not be created: result 1, no message.
//   anything else -- (0 when the owner window is not valid) result stays 0.
// The preview buffers are released as soon as the dialog has closed, since some
// hosts skip the finish selector after a cancelled run.
void ShowParametersDialog(PluginGlobals* globals) {
  RegisterCommonControls();  // not every host has registered the trackbar
  const INT_PTR end =
      DialogBoxParamA(ModuleInstance(), "IDD_PARAMS",
                      HostWindow(static_cast<const FilterRecord*>(globals->hostRecord)),
                      PatinexProc, reinterpret_cast<LPARAM>(globals));
  gGlobals = nullptr;
  ReleasePreviewBuffers(globals);
  if (end == IDCANCEL || end == -1) globals->result = userCanceledOrAborted;
}
