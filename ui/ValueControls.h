// Small operations on a dialog's controls, each by dialog and control id: numbers
// in edits (ui/NumberText.h), the inclusive range check, sliders, check boxes,
// hiding, invalidation and releasing pictures. None keeps state.
#pragma once

#include <windows.h>

#include "resources/ResourceIds.h"

// A row's slider has its edit's id plus this; a swatch its "Set" button's id plus this.
const int kSliderIdOffset = IDC_SLIDER_OFFSET;
const int kSwatchIdOffset = IDC_SWATCH_OFFSET;

void SetEditNumber(HWND dialog, int editId, double value);
// The edit's number (single precision, widened); 0 when none leads the text, and
// *ok (if given) says whether one did.
double GetEditNumber(HWND dialog, int editId, bool* ok);
// Accepts the edit's number when it lies in low..high and stores it into
// *destination (if given). Otherwise resets the edit and its slider (edit id +
// kSliderIdOffset) to the violated bound, or to 0 when the text held no number,
// selects the text, focuses the edit, beeps, and returns false without storing.
bool CheckEditRange(HWND dialog, int editId, double* destination, double low, double high);
void SetSliderRange(HWND dialog, int sliderId, int minimum, int maximum);
void SetSliderPos(HWND dialog, int sliderId, int position);
void SetCheck(HWND dialog, int checkId, double value);
// 1 when checked, 0 for unchecked or indeterminate.
int GetCheck(HWND dialog, int checkId);
void ShowControl(HWND dialog, int controlId, int show);
// Invalidates the control's rectangle of the dialog, without erasing.
void InvalidateControl(HWND dialog, int controlId);
// Takes back the bitmap of every static picture control (SS_BITMAP) of the
// dialog and deletes it. A picture that a template loaded stays with its control
// after the dialog is destroyed (Wine never frees it), so each dialog with one
// calls this on WM_DESTROY, while its children still exist.
void DeleteDialogPictures(HWND dialog);
// The control's window rectangle in the dialog's client coordinates.
RECT ControlRectInDialog(HWND dialog, int controlId);
// The control's client area (inside its border) in the dialog's client
// coordinates, where a click in it lands.
RECT ControlClientRectInDialog(HWND dialog, int controlId);
