// The live preview of the parameters dialog: a reduced copy of the host's image
// (previewSource) rendered into previewOutput on every repaint with the record the
// dialog edits, drawn centred in control IDC_PREVIEW_FRAME inside a black frame.
#pragma once

#include <windows.h>

#include "host/PluginGlobals.h"
#include "resources/ResourceIds.h"

// The invisible control whose rectangle is the preview's frame.
const int kPreviewFrameId = IDC_PREVIEW_FRAME;

// Computes the proxy, allocates and fills the two buffers and the preview's render
// job. When a buffer cannot be had it shows the out-of-memory box (string 201),
// ends the dialog with IDCANCEL and returns false; a buffer obtained stays in its
// field until ReleasePreviewBuffers.
bool SetUpPreview(HWND dialog, PluginGlobals* globals);

// Renders the proxy and draws it into the paint context, then the frame around it.
void DrawPreview(HWND dialog, HDC dc, const PluginGlobals* globals);

// Asks for a repaint of the preview area only.
void InvalidatePreview(HWND dialog);

// The message box of a failure: string `stringId` of the module's table as text,
// string 2 as caption, the error icon, no owner.
void ShowErrorMessage(int stringId);
