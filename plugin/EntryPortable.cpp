// The native build of the entry has no windows. The about selector shows nothing
// and reports success, as it does after the box is closed on Windows; the
// parameters dialog cannot be created, which ends the run as DialogBoxParamA's
// -1 does on Windows, as cancelled.
#include "plugin/Selectors.h"

void ShowHostAboutBox(const AboutRecord*) {}

void ShowHostParametersDialog(PluginGlobals* globals, uint32_t* seed) {
  *seed = 0;
  globals->result = userCanceledOrAborted;
}
