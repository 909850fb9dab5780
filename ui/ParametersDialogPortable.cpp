// The native build has no windows: the dialog cannot be created there, which ends
// the run as DialogBoxParamA's -1 does on Windows, as cancelled (result 1).
#include "host/FilterRecord.h"
#include "ui/ParametersDialog.h"

void ShowParametersDialog(PluginGlobals* globals, uint32_t* seed) {
  *seed = 0;
  globals->result = userCanceledOrAborted;
}
