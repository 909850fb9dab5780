// The parameters dialog's control for each row of the parameter table it shows
// (ParamRow::inDialog): a value row's edit (its slider is the edit's id plus
// kSliderIdOffset), a colour row's "Set" button (its swatch the button's id plus
// kSwatchIdOffset), a switch's check box. The ids are the template's
// (resources/ResourceIds.h); only the dialog and its tests read them.
#pragma once

#include "host/ParamTable.h"

// The row's control; 0 for a row the dialog does not show.
int ParamControlId(const ParamRow& row);

// The row whose control is `controlId`; null when no row has it.
const ParamRow* FindParamRowByControl(int controlId);
