// The parameters dialog (template IDD_PARAMS): every setting of the record with
// its edit and slider, colour swatch or check box, and a live preview. It edits
// the host's record in place. Its dialog procedure, PatinexProc, is exported.
#pragma once

#include "host/PluginGlobals.h"

// Runs the dialog modally over the host's main window, on the call's working copy
// of PluginGlobals. Sets globals->result to 1 when the dialog was cancelled or
// could not be opened; leaves it alone when OK ended it. *seed receives the clock
// reading taken once when the dialog opened: the preview rendered frame
// frameCounter + 1 from it, and the render after OK seeds from it too.
void ShowParametersDialog(PluginGlobals* globals, uint32_t* seed);
