#include "host/EffectParams.h"

#include "host/ParamTable.h"

void SetDefaultParams(EffectParams* params) {
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    if (row.recordIndex < 0 || row.recordIndex == kShowDialog) continue;
    for (int c = 0; c < ParamEntryCount(row); ++c) {
      params->value[row.recordIndex + c] = row.defaults[c];
    }
  }
}
