// The live preview of the parameters dialog, drawn centred in control
// IDC_PREVIEW_FRAME inside a black frame: the full render of the frame OK will
// produce, from the dialog's seed, reduced to the frame by averaging (or a part
// of it at 100 % after a click). The full render runs on a worker thread; until
// it is done a quick render of a reduced copy (previewSource into previewOutput)
// stands in, marked as such. Without memory for the full render the quick render
// is the preview, and it says so.
#pragma once

#include <windows.h>

#include <cstdint>

#include "host/PluginGlobals.h"
#include "resources/ResourceIds.h"

// The invisible control whose rectangle is the preview's frame.
const int kPreviewFrameId = IDC_PREVIEW_FRAME;

// Posted to the dialog by the worker when a full render is reduced and ready.
const UINT kPreviewReadyMessage = WM_APP + 1;

// What the preview drew last, kept for the dialog tests in the dialog's window
// property "Patinex.PreviewShows" (and in "Patinex.FullRenders" the number of
// full renders begun since the dialog opened).
enum PreviewShows {
  kPreviewQuick = 1,        // the quick render, marked, while the full render runs
  kPreviewExact = 2,        // the reduced full render, or its part at 100 %
  kPreviewReducedCopy = 3,  // no memory for the full render: the quick render, saying so
};

// Computes the proxy, allocates and fills the two buffers and the preview's render
// job, and starts the full render's worker when its buffers can be had. Every
// render seeds from `seed`. When a buffer of the reduced copy cannot be had it
// shows the out-of-memory box (string 201), ends the dialog with IDCANCEL and
// returns false; a buffer obtained stays in its field until ReleasePreviewBuffers.
bool SetUpPreview(HWND dialog, PluginGlobals* globals, uint32_t seed);

// Asks for the full render of the record as it stands (when it is new) and draws
// what there is, then the frame around it.
void DrawPreview(HWND dialog, HDC dc, const PluginGlobals* globals);

// A click at (x, y) of the dialog's client area: inside the preview's frame it
// toggles between the whole picture and the 100 % view of the part clicked, and
// returns true.
bool ClickPreview(HWND dialog, const PluginGlobals* globals, int32_t x, int32_t y);

// Asks for a repaint of the preview area only.
void InvalidatePreview(HWND dialog);

// Stops the worker (its render is abandoned), frees the full render's buffers and
// takes the window properties back; safe when nothing was started.
void EndPreview(HWND dialog);

// The message box of a failure: string `stringId` of the module's table as text,
// string 2 as caption, the error icon, no owner.
void ShowErrorMessage(int stringId);
