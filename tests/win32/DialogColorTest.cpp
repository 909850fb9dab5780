// The colour rows: swatches painted from the record, the platform's colour picker
// opened by the "Set" buttons and driven through its own edits (706, 707, 708 for
// red, green, blue), and the custom colours that PluginGlobals keeps for it.
#include <gtest/gtest.h>

#include <cmath>

#include "testing/DialogDriver.h"
#include "tests/win32/DialogRun.h"

namespace {

const int kDustSet = 104;
const int kHairSet = 107;
const int kTintSet = 115;
const int kPickerRed = 706;
const int kPickerGreen = 707;
const int kPickerBlue = 708;
const int kPickerAddCustom = 712;

// Any other dialog of the dialog's thread: the picker, which has no owner.
HWND WaitForPicker(HWND dialog) {
  const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  for (int i = 0; i < 1000; ++i) {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr) {
      if (w != dialog && GetWindowThreadProcessId(w, nullptr) == thread && IsWindowVisible(w)) {
        return w;
      }
    }
    Sleep(10);
  }
  return nullptr;
}

// The "Set" button's handler runs the picker's modal loop, so it is posted.
HWND OpenPicker(HWND dialog, int setButton) {
  PostClick(dialog, setButton);
  return WaitForPicker(dialog);
}

// Ends the picker with OK or Cancel and waits until the "Set" handler is done.
void ClosePicker(HWND dialog, HWND picker, int button) {
  PostClick(picker, button);
  EXPECT_TRUE(WaitUntilClosed(picker));
  Sleep(50);
  SendMessageA(dialog, WM_NULL, 0, 0);
}

void TypeColor(HWND picker, const char* r, const char* g, const char* b) {
  SetItemText(picker, kPickerRed, r);
  SetItemText(picker, kPickerGreen, g);
  SetItemText(picker, kPickerBlue, b);
}

// The swatch's colour inside its frame, and whether the frame is black all round.
struct SwatchLook {
  uint32_t inside;
  bool insideUniform;
  bool framed;
};
SwatchLook LookAtSwatch(HWND dialog, int swatchId) {
  RepaintNow(dialog);
  const WindowCapture shot = CaptureWindow(dialog);
  const RECT r = ControlRectInWindow(dialog, swatchId);
  SwatchLook look = {shot.At(r.left + 1, r.top + 1), true, true};
  for (int32_t y = r.top; y < r.bottom; ++y) {
    for (int32_t x = r.left; x < r.right; ++x) {
      const bool edge = x == r.left || y == r.top || x == r.right - 1 || y == r.bottom - 1;
      if (edge && shot.At(x, y) != 0) look.framed = false;
      if (!edge && shot.At(x, y) != look.inside) look.insideUniform = false;
    }
  }
  return look;
}

int CountPixels(const WindowCapture& shot, uint32_t color) {
  int n = 0;
  for (uint32_t p : shot.pixels) n += p == color ? 1 : 0;
  return n;
}

struct Fixture : DialogHost {
  Fixture() : DialogHost(40, 30, 3) { EXPECT_EQ(0, Call(filterSelectorParameters)); }
};

}  // namespace

TEST(DialogColor, DefaultSwatchesAreFramedAndFilled) {
  Fixture host;
  RunContinueWithDialog(host, [&](HWND d) {
    const SwatchLook dust = LookAtSwatch(d, kDustSet + 400);
    EXPECT_EQ(dust.inside, 0x323232u);
    EXPECT_TRUE(dust.insideUniform);
    EXPECT_TRUE(dust.framed);
    const SwatchLook hair = LookAtSwatch(d, kHairSet + 400);
    EXPECT_EQ(hair.inside, 0x1E1E1Eu);
    EXPECT_TRUE(hair.framed);
    const SwatchLook tint = LookAtSwatch(d, kTintSet + 400);
    EXPECT_EQ(tint.inside, 0xC86400u);  // red 200, green 100, blue 0
    EXPECT_TRUE(tint.insideUniform);
    EXPECT_TRUE(tint.framed);
    Click(d, IDCANCEL);
  });
}

TEST(DialogColor, PickedColourLandsInTheRecordAndTheSwatch) {
  Fixture host;
  RunContinueWithDialog(host, [&](HWND d) {
    HWND picker = OpenPicker(d, kDustSet);
    ASSERT_NE(picker, nullptr);
    // Opened at the current colour.
    EXPECT_EQ(ItemText(picker, kPickerRed), "50");
    EXPECT_EQ(ItemText(picker, kPickerBlue), "50");
    TypeColor(picker, "10", "200", "30");
    ClosePicker(d, picker, IDOK);
    EXPECT_EQ(host.Params()->value[kDustColorRed], 10.0);
    EXPECT_EQ(host.Params()->value[kDustColorGreen], 200.0);
    EXPECT_EQ(host.Params()->value[kDustColorBlue], 30.0);
    const SwatchLook dust = LookAtSwatch(d, kDustSet + 400);
    EXPECT_EQ(dust.inside, 0x0AC81Eu);
    EXPECT_TRUE(dust.insideUniform);
    EXPECT_TRUE(dust.framed);

    // Pure white stores 255 three times.
    picker = OpenPicker(d, kTintSet);
    ASSERT_NE(picker, nullptr);
    TypeColor(picker, "255", "255", "255");
    ClosePicker(d, picker, IDOK);
    EXPECT_EQ(host.Params()->value[kGrayTintRed], 255.0);
    EXPECT_EQ(host.Params()->value[kGrayTintGreen], 255.0);
    EXPECT_EQ(host.Params()->value[kGrayTintBlue], 255.0);
    Click(d, IDOK);
    EXPECT_TRUE(WaitUntilClosed(d));
  });
  EXPECT_EQ(host.Params()->value[kDustColorGreen], 200.0);
}

TEST(DialogColor, CancelledPickChangesNothing) {
  Fixture host;
  RunContinueWithDialog(host, [&](HWND d) {
    HWND picker = OpenPicker(d, kHairSet);
    ASSERT_NE(picker, nullptr);
    TypeColor(picker, "1", "2", "3");
    ClosePicker(d, picker, IDCANCEL);
    EXPECT_EQ(host.Params()->value[kHairColorRed], 30.0);
    EXPECT_EQ(host.Params()->value[kHairColorGreen], 30.0);
    EXPECT_EQ(host.Params()->value[kHairColorBlue], 30.0);
    EXPECT_EQ(LookAtSwatch(d, kHairSet + 400).inside, 0x1E1E1Eu);
    Click(d, IDCANCEL);
  });
}

// A record from elsewhere: components outside 0..255 are shown clamped and
// offered to the picker clamped; a half rounds up.
TEST(DialogColor, OutOfRangeComponentsAreClampedWhenShownAndOffered) {
  Fixture host;
  host.Params()->value[kDustColorRed] = 300.0;
  host.Params()->value[kDustColorGreen] = -5.0;
  host.Params()->value[kDustColorBlue] = NAN;
  host.Params()->value[kHairColorRed] = 127.5;
  RunContinueWithDialog(host, [&](HWND d) {
    EXPECT_EQ(LookAtSwatch(d, kDustSet + 400).inside, 0xFF0000u);
    EXPECT_EQ(LookAtSwatch(d, kHairSet + 400).inside, 0x801E1Eu);
    HWND picker = OpenPicker(d, kDustSet);
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(ItemText(picker, kPickerRed), "255");
    EXPECT_EQ(ItemText(picker, kPickerGreen), "0");
    EXPECT_EQ(ItemText(picker, kPickerBlue), "0");
    ClosePicker(d, picker, IDOK);
    // Confirmed: whole numbers in range again.
    EXPECT_EQ(host.Params()->value[kDustColorRed], 255.0);
    EXPECT_EQ(host.Params()->value[kDustColorGreen], 0.0);
    EXPECT_EQ(host.Params()->value[kDustColorBlue], 0.0);
    picker = OpenPicker(d, kHairSet);
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(ItemText(picker, kPickerRed), "128");
    ClosePicker(d, picker, IDCANCEL);
    Click(d, IDCANCEL);
  });
}

TEST(DialogColor, CustomColourIsOfferedAgainInALaterRun) {
  Fixture host;
  const uint32_t custom = 0x0AC81E;  // red 10, green 200, blue 30, as captured
  RunContinueWithDialog(host, [&](HWND d) {
    HWND picker = OpenPicker(d, kDustSet);
    ASSERT_NE(picker, nullptr);
    RepaintNow(picker);
    EXPECT_EQ(CountPixels(CaptureWindow(picker), custom), 0);
    TypeColor(picker, "10", "200", "30");
    Click(picker, kPickerAddCustom);
    ClosePicker(d, picker, IDCANCEL);  // the custom colour stays even so
    Click(d, IDOK);
    EXPECT_TRUE(WaitUntilClosed(d));
  });
  // Kept in PluginGlobals, which the host keeps: slot 0 first, the rest untouched.
  EXPECT_EQ(host.Globals()->customColors[0], 0x1EC80Au);  // COLORREF: 0x00BBGGRR
  EXPECT_EQ(host.Globals()->customColors[1], 0x010101u);

  // The next run from the menu, opened from another row.
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  RunContinueWithDialog(host, [&](HWND d) {
    HWND picker = OpenPicker(d, kHairSet);
    ASSERT_NE(picker, nullptr);
    RepaintNow(picker);
    // The custom colour's cell, and nothing else of that colour: the current colour is 30, 30, 30.
    EXPECT_GE(CountPixels(CaptureWindow(picker), custom), 50);
    ClosePicker(d, picker, IDCANCEL);
    Click(d, IDCANCEL);
  });
  EXPECT_EQ(host.Globals()->customColors[0], 0x1EC80Au);
}
