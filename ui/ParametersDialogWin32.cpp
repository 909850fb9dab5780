#include <windows.h>
#include <commctrl.h>

#include "host/FilterRecord.h"
#include "host/ModuleWin32.h"
#include "host/ParamTable.h"
#include "render/Numerics.h"
#include "render/Random.h"
#include "resources/ResourceIds.h"
#include "ui/AboutBox.h"
#include "ui/ColorPicker.h"
#include "ui/CommonControls.h"
#include "ui/ParamControls.h"
#include "ui/ParametersDialog.h"
#include "ui/Preview.h"
#include "ui/ValueControls.h"

// The dialog procedure, exported undecorated (ordinal 2) through the module's .def.
extern "C" INT_PTR CALLBACK PatinexProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

// The working copy of PluginGlobals the dialog was opened with; set by every
// WM_INITDIALOG, valid while the dialog runs (one dialog at a time).
PluginGlobals* gGlobals = nullptr;

// The clock reading taken when the dialog opened: the preview's renders and the
// render after OK seed from it.
uint32_t gDialogSeed = 0;

// The dialog's rows are the rows of host/ParamTable.h in the dialog: a number
// row (value or frame number) is an edit with its slider at edit id +
// kSliderIdOffset, a colour row a "Set" button with its swatch at button id +
// kSwatchIdOffset, a switch a check box. Table order is the order "&OK" checks
// the edits and FillControls fills the rows. A row past the module's record
// (Scale in the 32-bit module) has no controls in its template.
bool IsDialogRow(const ParamRow& row) {
  return row.inDialog && row.recordIndex + ParamEntryCount(row) <= kModuleParamCount;
}

bool IsNumberRow(const ParamRow& row) {
  return IsDialogRow(row) && (row.kind == kValueParam || row.kind == kInternalParam);
}

bool IsSwitchRow(const ParamRow& row) { return IsDialogRow(row) && row.kind == kSwitchParam; }

FilterRecord* HostRecord() { return static_cast<FilterRecord*>(gGlobals->hostRecord); }

// The host's record, its kModuleParamCount values fetched anew through its
// handle for each message.
double* Values() { return static_cast<double*>(HandleData(HostRecord()->parameters)); }

HWND HostWindow(const FilterRecord* record) {
  const PlatformData* platform = static_cast<const PlatformData*>(record->platformData);
  return platform != nullptr ? reinterpret_cast<HWND>(platform->hwnd) : nullptr;
}

void FillNumberRow(HWND dialog, const ParamRow& row, const double* values) {
  const double value = values[row.recordIndex];
  SetSliderRange(dialog, ParamControlId(row) + kSliderIdOffset, TruncToInt(row.low),
                 TruncToInt(row.high));
  SetSliderPos(dialog, ParamControlId(row) + kSliderIdOffset, TruncToInt(value));
  // Setting the text runs the edit's change handling, which stores the value as
  // shown (four decimals, single precision) and clamps it to the row's range.
  SetEditNumber(dialog, ParamControlId(row), value);
}

// Every control from the record, in template order. The swatches are painted.
void FillControls(HWND dialog) {
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    // Each row reads the record anew: filling one edit may store into it.
    if (IsNumberRow(row)) {
      FillNumberRow(dialog, row, Values());
    } else if (IsSwitchRow(row)) {
      SetCheck(dialog, ParamControlId(row), Values()[row.recordIndex]);
    }
  }
}

BOOL OnInitDialog(HWND dialog, PluginGlobals* globals) {
  gGlobals = globals;
  if (!SetUpPreview(dialog, globals, gDialogSeed)) return FALSE;  // the dialog has been ended
  ShowControl(dialog, IDC_FRAME_NUMBER, 0);
  ShowControl(dialog, IDC_FRAME_NUMBER + kSliderIdOffset, 0);
  ShowControl(dialog, IDC_FRAME_NUMBER_LABEL, 0);
  FillControls(dialog);
  return TRUE;  // the platform focuses the first tab stop, "&OK"
}

BOOL OnPaint(HWND dialog) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  DrawPreview(dialog, dc, gGlobals);
  const double* values = Values();
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    if (row.kind != kColorParam || !IsDialogRow(row)) continue;
    const double* rgb = &values[row.recordIndex];
    PaintSwatch(dialog, ParamControlId(row) + kSwatchIdOffset, rgb[0], rgb[1], rgb[2], dc);
  }
  EndPaint(dialog, &paint);
  return FALSE;
}

BOOL OnHScroll(HWND dialog, WPARAM wParam, HWND slider) {
  if (slider == nullptr) return FALSE;
  const int position = int(SendMessageA(slider, TBM_GETPOS, 0, 0));
  const int editId = GetWindowLongA(slider, GWL_ID) - kSliderIdOffset;
  const ParamRow* row = FindParamRowByControl(editId);
  if (row == nullptr || !IsNumberRow(*row)) return FALSE;
  Values()[row->recordIndex] = double(position);
  SetEditNumber(dialog, editId, double(position));  // runs the edit's change handling
  if (LOWORD(wParam) == TB_ENDTRACK) InvalidatePreview(dialog);
  return TRUE;
}

void OnEditChange(HWND dialog, const ParamRow& row) {
  double* destination = &Values()[row.recordIndex];
  if (CheckEditRange(dialog, ParamControlId(row), destination, row.low, row.high)) {
    SetSliderPos(dialog, ParamControlId(row) + kSliderIdOffset, TruncToInt(*destination));
    InvalidatePreview(dialog);
  }
}

void OnSetColor(HWND dialog, const ParamRow& row) {
  double* rgb = &Values()[row.recordIndex];
  if (PickColor(gGlobals->customColors, &rgb[0], &rgb[1], &rgb[2])) {
    InvalidateControl(dialog, ParamControlId(row) + kSwatchIdOffset);
    InvalidatePreview(dialog);
  }
}

void OnOk(HWND dialog) {
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    if (!IsNumberRow(row)) continue;
    // A rejected edit has been reset, selected and focused; the dialog stays open.
    if (!CheckEditRange(dialog, ParamControlId(row), &Values()[row.recordIndex], row.low,
                        row.high)) {
      return;
    }
  }
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    if (IsSwitchRow(row)) {
      Values()[row.recordIndex] = GetCheck(dialog, ParamControlId(row)) ? 1.0 : 0.0;
    }
  }
  EndDialog(dialog, IDOK);
}

void OnReset(HWND dialog) {
  // Indices 0 to 25 and Scale (Auto) when the record has it; the show-dialog flag stays.
  SetDefaultParamValues(Values(), kModuleParamCount);
  FillControls(dialog);
  InvalidateRect(dialog, nullptr, FALSE);  // swatches and preview too
}

BOOL OnCommand(HWND dialog, int id, int code) {
  switch (id) {
    case IDOK: OnOk(dialog); return TRUE;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;  // stored values stay
    case IDC_RESET: OnReset(dialog); return TRUE;
    case IDC_ABOUT: ShowAboutBox(HostWindow(HostRecord())); return TRUE;  // owned by the host
    default: break;
  }
  const ParamRow* row = FindParamRowByControl(id);
  if (row == nullptr || !IsDialogRow(*row)) return FALSE;
  if (IsNumberRow(*row)) {
    if (code == EN_CHANGE) OnEditChange(dialog, *row);
  } else if (row->kind == kColorParam) {
    OnSetColor(dialog, *row);
  } else if (row->kind == kSwitchParam) {
    Values()[row->recordIndex] = GetCheck(dialog, id) ? 1.0 : 0.0;
    InvalidatePreview(dialog);
  }
  return TRUE;
}

}  // namespace

// Only unpacks messages. Before WM_INITDIALOG and after the dialog has ended there
// is no working copy: only WM_DESTROY, which needs none, is handled then.
extern "C" INT_PTR CALLBACK PatinexProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    return OnInitDialog(dialog, reinterpret_cast<PluginGlobals*>(lParam));
  }
  if (message == WM_DESTROY) {
    DeleteDialogPictures(dialog);  // the film strip picture, however the dialog ended
    EndPreview(dialog);            // its worker stopped before the host's pixels go
    return FALSE;
  }
  if (gGlobals == nullptr) return FALSE;
  switch (message) {
    case WM_PAINT: return OnPaint(dialog);
    case kPreviewReadyMessage: InvalidatePreview(dialog); return TRUE;
    case WM_LBUTTONDOWN:
      return ClickPreview(dialog, gGlobals, int16_t(LOWORD(lParam)), int16_t(HIWORD(lParam)));
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
void ShowParametersDialog(PluginGlobals* globals, uint32_t* seed) {
  RegisterCommonControls();  // not every host has registered the trackbar
  gDialogSeed = uint32_t(ReadRenderClock());
  *seed = gDialogSeed;
  const INT_PTR end =
      DialogBoxParamA(ModuleInstance(), "IDD_PARAMS",
                      HostWindow(static_cast<const FilterRecord*>(globals->hostRecord)),
                      PatinexProc, reinterpret_cast<LPARAM>(globals));
  gGlobals = nullptr;
  EndPreview(nullptr);  // done on WM_DESTROY already when the dialog was made
  ReleasePreviewBuffers(globals);
  if (end == IDCANCEL || end == -1) globals->result = userCanceledOrAborted;
}
