// Each row the dialog shows has its own control, and the dialog finds the row
// again from that control (a slider's edit, a "Set" button, a check box).
#include <gtest/gtest.h>

#include <set>

#include "resources/ResourceIds.h"
#include "ui/ParamControls.h"

TEST(ParamControls, EveryDialogRowHasItsOwnControl) {
  std::set<int> ids;
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    const int id = ParamControlId(row);
    if (!row.inDialog) {
      EXPECT_EQ(id, 0) << row.name;
      continue;
    }
    EXPECT_NE(id, 0) << row.name;
    EXPECT_TRUE(ids.insert(id).second) << row.name << " shares control " << id;
    EXPECT_EQ(FindParamRowByControl(id), &row) << row.name;
  }
  EXPECT_EQ(ParamControlId(kParamRows[kScaleRow]), IDC_SCALE);
  EXPECT_EQ(FindParamRowByControl(IDC_GRAY_TINT)->recordIndex, kGrayTintRed);
  for (int other : {0, IDC_RESET, IDC_FILM_RESPONSE + IDC_SLIDER_OFFSET, IDC_FRAME_NUMBER_LABEL}) {
    EXPECT_EQ(FindParamRowByControl(other), nullptr) << other;
  }
}
