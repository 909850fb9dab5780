// The parameters dialog's edits, sliders, check boxes and buttons, worked with real
// messages while the continue selector waits in the dialog.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/ParamTable.h"
#include "testing/DialogDriver.h"
#include "tests/win32/DialogRun.h"

namespace {

const int kGrainEdit = 101;
const int kGrainSlider = 501;
const int kLifespanEdit = 110;
const int kFrameEdit = 119;
const int kGrayCheck = 114;
const int kBackCheck = 118;

// A host that has called the parameters selector on a small image: the record
// exists with its defaults and index 26 asks for the dialog.
struct Fixture : DialogHost {
  Fixture() : DialogHost(64, 48, 3) {
    for (size_t i = 0; i < in.bytes.size(); ++i) in.bytes[i] = uint8_t(i * 7);
    EXPECT_EQ(0, Call(filterSelectorParameters));
  }
};

}  // namespace

TEST(DialogControls, PatinexProcIsExportedAsOrdinalTwo) {
  HMODULE module = PatinexModule();
  ASSERT_NE(module, nullptr);
  FARPROC byName = GetProcAddress(module, "PatinexProc");
  EXPECT_NE(byName, nullptr);
  EXPECT_EQ(byName, GetProcAddress(module, MAKEINTRESOURCEA(2)));
  EXPECT_EQ(GetProcAddress(module, "PatinexProc@16"), nullptr);
  EXPECT_EQ(GetProcAddress(module, "_PatinexProc@16"), nullptr);
}

TEST(DialogControls, TypedValuesAreCheckedAndStoredAtOnce) {
  Fixture host;
  const int16_t result = RunContinueWithDialog(host, [&](HWND d) {
    // The Frame Number row is hidden; the others show the defaults.
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, kFrameEdit)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, kFrameEdit + 400)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, 619)));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, kGrainEdit)));
    EXPECT_EQ(ItemText(d, kGrainEdit), "23");
    EXPECT_EQ(SliderPos(d, kGrainSlider), 23);
    EXPECT_EQ(SendMessageA(GetDlgItem(d, kGrainSlider), TBM_GETRANGEMAX, 0, 0), 100);

    // 150 is above the range: the edit shows 100, selected and focused.
    SetItemText(d, kGrainEdit, "150");
    EXPECT_EQ(ItemText(d, kGrainEdit), "100");
    EXPECT_TRUE(WholeTextSelected(d, kGrainEdit));
    EXPECT_EQ(FocusOf(d), GetDlgItem(d, kGrainEdit));
    EXPECT_EQ(SliderPos(d, kGrainSlider), 100);
    EXPECT_EQ(host.Params()->value[kGrainAmount], 100.0);

    // An empty text reads 0, selected, so the next digit replaces it.
    SetItemText(d, kGrainEdit, "");
    EXPECT_EQ(ItemText(d, kGrainEdit), "0");
    EXPECT_TRUE(WholeTextSelected(d, kGrainEdit));
    EXPECT_EQ(SliderPos(d, kGrainSlider), 0);
    EXPECT_EQ(host.Params()->value[kGrainAmount], 0.0);
    TypeInto(d, kGrainEdit, "7");
    EXPECT_EQ(ItemText(d, kGrainEdit), "7");
    EXPECT_EQ(host.Params()->value[kGrainAmount], 7.0);

    // 12.5 stays as typed; the slider stands at its whole part.
    SetItemText(d, kGrainEdit, "12.5");
    EXPECT_EQ(ItemText(d, kGrainEdit), "12.5");
    EXPECT_EQ(SliderPos(d, kGrainSlider), 12);
    EXPECT_EQ(host.Params()->value[kGrainAmount], 12.5);

    // Single precision, and whatever follows a number is left alone.
    SetItemText(d, kGrainEdit, "45.1");
    EXPECT_EQ(host.Params()->value[kGrainAmount], double(45.1f));
    SetItemText(d, kGrainEdit, "12abc");
    EXPECT_EQ(ItemText(d, kGrainEdit), "12abc");
    EXPECT_EQ(host.Params()->value[kGrainAmount], 12.0);
    SetItemText(d, kGrainEdit, " 1e2");
    EXPECT_EQ(host.Params()->value[kGrainAmount], 100.0);
    EXPECT_EQ(ItemText(d, kGrainEdit), " 1e2");

    // A lone minus or point typed over the selected text is refused at once.
    for (const char* lone : {"-", "."}) {
      SetItemText(d, kGrainEdit, "30");
      SendMessageA(GetDlgItem(d, kGrainEdit), EM_SETSEL, 0, -1);
      TypeInto(d, kGrainEdit, lone);
      EXPECT_EQ(ItemText(d, kGrainEdit), "0") << lone;
      EXPECT_TRUE(WholeTextSelected(d, kGrainEdit)) << lone;
      EXPECT_EQ(host.Params()->value[kGrainAmount], 0.0) << lone;
      TypeInto(d, kGrainEdit, "5");
      EXPECT_EQ(ItemText(d, kGrainEdit), "5") << lone;
    }

    // The C library's "%f" would take these; here nan and inf are not numbers
    // (reset to 0, never stored as NaN) and 0x10 reads as its leading 0.
    for (const char* text : {"nan", "inf", "-inf", "0x10"}) {
      host.Params()->value[kGrainAmount] = 55.0;
      SetItemText(d, kGrainEdit, text);
      EXPECT_EQ(host.Params()->value[kGrainAmount], 0.0) << text;
      EXPECT_EQ(SliderPos(d, kGrainSlider), 0) << text;
    }
    EXPECT_EQ(ItemText(d, kGrainEdit), "0x10");

    // A negative number is reset to the low bound; both bounds are accepted.
    SetItemText(d, kGrainEdit, "-5");
    EXPECT_EQ(ItemText(d, kGrainEdit), "0");
    SetItemText(d, kGrainEdit, "100");
    EXPECT_EQ(ItemText(d, kGrainEdit), "100");
    EXPECT_EQ(host.Params()->value[kGrainAmount], 100.0);

    Click(d, IDOK);
    EXPECT_TRUE(WaitUntilClosed(d));
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(host.Params()->value[kShowDialog], 0.0);  // OK clears the request
  EXPECT_EQ(host.Params()->value[kGrainAmount], 100.0);
  EXPECT_EQ(host.Params()->value[kFrameNumber], 1.0);  // the first rendered frame
  // The buffers are gone as soon as the dialog has closed.
  EXPECT_EQ(host.Globals()->previewSource, nullptr);
  EXPECT_EQ(host.Globals()->previewOutput, nullptr);
}

TEST(DialogControls, SliderMovesWriteTheRecordAndTheEdit) {
  Fixture host;
  RunContinueWithDialog(host, [&](HWND d) {
    HWND slider = GetDlgItem(d, kGrainSlider);
    // What a trackbar does on a key press: moves, then tells its parent.
    SendMessageA(slider, TBM_SETPOS, TRUE, 64);
    SendMessageA(d, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 64), reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(ItemText(d, kGrainEdit), "64");
    EXPECT_EQ(host.Params()->value[kGrainAmount], 64.0);
    SendMessageA(slider, TBM_SETPOS, TRUE, 3);
    SendMessageA(d, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(ItemText(d, kGrainEdit), "3");
    EXPECT_EQ(host.Params()->value[kGrainAmount], 3.0);
    // A key press on the slider: Page Down moves it by its page, a fifth of 100.
    SendMessageA(slider, WM_KEYDOWN, VK_NEXT, 0);
    EXPECT_EQ(SliderPos(d, kGrainSlider), 23);
    EXPECT_EQ(host.Params()->value[kGrainAmount], 23.0);
    EXPECT_EQ(ItemText(d, kGrainEdit), "23");
    Click(d, IDCANCEL);
  });
  EXPECT_EQ(host.Params()->value[kGrainAmount], 23.0);
}

// Swallows the change notifications of one edit, so that a test can leave a text
// in it that the dialog's change handling never saw (the only way an edit can hold
// a bad text when "&OK" is pressed).
WNDPROC gDialogProc = nullptr;
int gDeafToEdit = 0;
LRESULT CALLBACK DeafDialogProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COMMAND && LOWORD(wp) == gDeafToEdit && HIWORD(wp) == EN_CHANGE) return 0;
  return CallWindowProcA(gDialogProc, w, m, wp, lp);
}

TEST(DialogControls, OkWithABadEditKeepsTheDialogOpen) {
  Fixture host;
  const int16_t result = RunContinueWithDialog(host, [&](HWND d) {
    gDeafToEdit = kLifespanEdit;
    gDialogProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(d, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DeafDialogProc)));
    SetItemText(d, kLifespanEdit, "250");
    SetWindowLongPtrA(d, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gDialogProc));
    EXPECT_EQ(ItemText(d, kLifespanEdit), "250");
    // Values behind the edits' backs: "&OK" stores what the edits before the bad
    // one show, and stops at the bad one.
    host.Params()->value[kScratchVelocity] = 77.0;  // edit 109 shows 20
    host.Params()->value[kScratchOpacity] = 77.0;   // edit 111 shows 30, after the bad one
    host.Params()->value[kConvertToGray] = 0.25;    // check boxes are stored only at the end

    Click(d, IDOK);
    Sleep(50);
    EXPECT_TRUE(IsWindowVisible(d)) << "a bad edit must keep the dialog open";
    EXPECT_EQ(ItemText(d, kLifespanEdit), "100");
    EXPECT_TRUE(WholeTextSelected(d, kLifespanEdit));
    EXPECT_EQ(FocusOf(d), GetDlgItem(d, kLifespanEdit));
    EXPECT_EQ(SliderPos(d, kLifespanEdit + 400), 100);
    EXPECT_EQ(host.Params()->value[kScratchLifespan], 100.0);
    EXPECT_EQ(host.Params()->value[kScratchVelocity], 20.0);
    EXPECT_EQ(host.Params()->value[kScratchOpacity], 77.0);
    EXPECT_EQ(host.Params()->value[kConvertToGray], 0.25);

    Click(d, IDOK);
    EXPECT_TRUE(WaitUntilClosed(d));
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(host.Params()->value[kScratchLifespan], 100.0);
  EXPECT_EQ(host.Params()->value[kScratchOpacity], 30.0);
  EXPECT_EQ(host.Params()->value[kConvertToGray], 1.0);
}

TEST(DialogControls, CancelKeepsChangesAndTheNextRunShowsTheDialogAgain) {
  Fixture host;
  const std::vector<uint8_t> before = host.out.bytes;
  int16_t result = RunContinueWithDialog(host, [&](HWND d) {
    SetItemText(d, kGrainEdit, "40");
    ClickControl(d, kBackCheck);  // was off
    Click(d, IDCANCEL);
    EXPECT_TRUE(WaitUntilClosed(d));
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(host.Params()->value[kGrainAmount], 40.0);
  EXPECT_EQ(host.Params()->value[kRevealBackLayer], 1.0);
  EXPECT_EQ(host.Params()->value[kShowDialog], 1.0);
  EXPECT_EQ(host.Globals()->frameCounter, 0);  // nothing rendered
  EXPECT_EQ(host.out.bytes, before);
  EXPECT_EQ(host.record->inRect.right, 64);  // rects left as start set them
  EXPECT_EQ(host.Globals()->previewSource, nullptr);  // released at once

  // A repeat of the filter (no parameters call) shows the dialog again, with the
  // values the cancelled one stored.
  result = RunContinueWithDialog(host, [&](HWND d) {
    EXPECT_EQ(ItemText(d, kGrainEdit), "40");
    EXPECT_EQ(SendMessageA(GetDlgItem(d, kBackCheck), BM_GETCHECK, 0, 0), BST_CHECKED);
    Click(d, IDOK);
    EXPECT_TRUE(WaitUntilClosed(d));
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(host.Globals()->frameCounter, 1);
  EXPECT_EQ(host.Params()->value[kShowDialog], 0.0);
  EXPECT_NE(host.out.bytes, before);
}

TEST(DialogControls, ResetRestoresTheDefaultsButNotTheRequest) {
  Fixture host;
  RunContinueWithDialog(host, [&](HWND d) {
    SetItemText(d, 100, "99");
    SetItemText(d, kGrainEdit, "1");
    ClickControl(d, kGrayCheck);  // was on
    host.Params()->value[kDustColorRed] = 255.0;
    host.Params()->value[kRevealBackLayer] = 1.0;
    host.Params()->value[kShowDialog] = 3.0;  // a marker Reset must not touch
    EXPECT_EQ(host.Params()->value[kConvertToGray], 0.0);
    Click(d, 3);
    EffectParams defaults;
    SetDefaultParams(&defaults);
    for (int i = 0; i <= kFrameNumber; ++i) {
      EXPECT_EQ(host.Params()->value[i], defaults.value[i]) << "index " << i;
    }
    EXPECT_EQ(host.Params()->value[kFrameNumber], 0.0);
    EXPECT_EQ(host.Params()->value[kRevealBackLayer], 0.0);
    EXPECT_EQ(host.Params()->value[kShowDialog], 3.0);
    EXPECT_EQ(ItemText(d, 100), "45");
    EXPECT_EQ(ItemText(d, kGrainEdit), "23");
    EXPECT_EQ(SliderPos(d, 500), 45);
    EXPECT_EQ(SendMessageA(GetDlgItem(d, kGrayCheck), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(GetDlgItem(d, kBackCheck), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    Click(d, IDCANCEL);
  });
}

TEST(DialogControls, OpeningShowsStoredValuesAsTheyAreWrittenAndClampsTheFrame) {
  Fixture host;
  host.Params()->value[kScratchLifespan] = 44.99999;
  host.Params()->value[kFrameNumber] = 12000.0;
  host.Params()->value[kConvertToGray] = 0.5;
  host.Params()->value[kRevealBackLayer] = -0.0;
  host.Params()->value[kFlickerAmount] = 12.3;
  RunContinueWithDialog(host, [&](HWND d) {
    EXPECT_EQ(ItemText(d, kLifespanEdit), "45");
    EXPECT_EQ(host.Params()->value[kScratchLifespan], 45.0);
    EXPECT_EQ(SliderPos(d, kLifespanEdit + 400), 45);
    // Stored back as shown, in single precision.
    EXPECT_EQ(host.Params()->value[kFlickerAmount], double(12.3f));
    // The hidden Frame Number is clamped to its range while the dialog fills it.
    EXPECT_EQ(ItemText(d, kFrameEdit), "9999");
    EXPECT_EQ(host.Params()->value[kFrameNumber], 9999.0);
    EXPECT_EQ(SliderPos(d, kFrameEdit + 400), 9999);
    EXPECT_EQ(SendMessageA(GetDlgItem(d, kGrayCheck), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(GetDlgItem(d, kBackCheck), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(host.Params()->value[kConvertToGray], 0.5);  // stored by "&OK" only
    // The focus is on "&OK", the first tab stop, not on the hidden edit that the
    // clamping focused while the dialog filled its controls.
    EXPECT_EQ(FocusOf(d), GetDlgItem(d, IDOK));
    Click(d, IDOK);
    EXPECT_TRUE(WaitUntilClosed(d));
  });
  EXPECT_EQ(host.Params()->value[kConvertToGray], 1.0);
  EXPECT_EQ(host.Params()->value[kRevealBackLayer], 0.0);
  // The continue selector stamps its own frame after the dialog.
  EXPECT_EQ(host.Params()->value[kFrameNumber], 1.0);
}

TEST(DialogControls, StoredValuesFromElsewhereNeverBecomeNonFinite) {
  Fixture host;
  host.Params()->value[kFilmResponse] = NAN;
  host.Params()->value[kGrainAmount] = INFINITY;
  host.Params()->value[kDustSize] = 1e300;  // printed in exponent form
  host.Params()->value[kDustAmount] = -1e30;
  RunContinueWithDialog(host, [&](HWND d) {
    EXPECT_EQ(host.Params()->value[kFilmResponse], 0.0);
    EXPECT_EQ(host.Params()->value[kGrainAmount], 0.0);
    EXPECT_EQ(host.Params()->value[kDustSize], 100.0);
    EXPECT_EQ(host.Params()->value[kDustAmount], 0.0);
    EXPECT_EQ(ItemText(d, 102), "100");
    Click(d, IDCANCEL);
  });
  for (int i = 0; i < kParamCount; ++i) EXPECT_TRUE(std::isfinite(host.Params()->value[i])) << i;
}

// Under Wine the film strip's picture control keeps its bitmap after the dialog
// is destroyed (169 KB each time); the dialog deletes it when it closes, after
// OK as after Cancel.
TEST(DialogControls, PictureIsDeletedWhenTheDialogCloses) {
  Fixture host;
  for (int round = 0; round < 20; ++round) {
    if (round > 0) {
      EXPECT_EQ(0, host.Call(filterSelectorParameters));  // asks for the dialog
    }
    const bool ok = round % 2 == 0;
    HGDIOBJ picture = nullptr;
    const int16_t result = RunContinueWithDialog(host, [&](HWND d) {
      for (HWND c = GetWindow(d, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
          picture = reinterpret_cast<HGDIOBJ>(SendMessageA(c, STM_GETIMAGE, IMAGE_BITMAP, 0));
        }
      }
      Click(d, ok ? IDOK : IDCANCEL);
    });
    EXPECT_EQ(result, ok ? 0 : 1) << "round " << round;
    ASSERT_NE(picture, nullptr) << "round " << round;
    EXPECT_EQ(GetObjectType(picture), 0u) << "round " << round;
  }
}

TEST(DialogControls, AboutOpensTheAboutBoxOwnedByTheHostWindow) {
  Fixture host;
  const int16_t result = RunContinueWithDialog(host, [&](HWND d) {
    SetItemText(d, kGrainEdit, "31");
    PostClick(d, 4);  // its handler runs the about box's modal loop
    HWND about = WaitForWindow(GetWindowThreadProcessId(d, nullptr), "About Patinex");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(GetWindow(about, GW_OWNER), host.window);
    PostClick(about, IDOK);
    EXPECT_TRUE(WaitUntilClosed(about));
    Sleep(50);
    SendMessageA(d, WM_NULL, 0, 0);
    EXPECT_TRUE(IsWindowVisible(d));
    EXPECT_EQ(ItemText(d, kGrainEdit), "31");
    EXPECT_EQ(host.Params()->value[kGrainAmount], 31.0);
    Click(d, IDOK);
    EXPECT_TRUE(WaitUntilClosed(d));
  });
  EXPECT_EQ(result, 0);
}

// The 64-bit module's Scale row: edit 120 and slider 520 over 0..16, "0 = Auto"
// beside them, writing the record's 28th value; Reset brings back Auto, and a
// value the record held from elsewhere is clamped as the other rows are. The
// 32-bit module has no such row and leaves its 27-value record as it is.
TEST(DialogControls, ScaleRowEditsTheRecordsLastValue) {
  const int kScaleEdit = 120;
  const int kScaleSlider = 520;
  Fixture host;
  if (kRecordValues <= kScaleValue) {
    RunContinueWithDialog(host, [&](HWND d) {
      EXPECT_EQ(GetDlgItem(d, kScaleEdit), nullptr);
      EXPECT_EQ(GetDlgItem(d, kScaleSlider), nullptr);
      Click(d, IDOK);
      EXPECT_TRUE(WaitUntilClosed(d));
    });
    EXPECT_EQ(GlobalSize(GlobalHandle(host.record->parameters->data)), 216u);
    return;
  }
  host.Values()[kScaleValue] = 40.0;  // past the range: shown and stored as 16
  const int16_t result = RunContinueWithDialog(host, [&](HWND d) {
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, kScaleEdit)));
    EXPECT_EQ(SendMessageA(GetDlgItem(d, kScaleSlider), TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendMessageA(GetDlgItem(d, kScaleSlider), TBM_GETRANGEMAX, 0, 0), 16);
    EXPECT_EQ(ItemText(d, kScaleEdit), "16");
    EXPECT_EQ(host.Values()[kScaleValue], 16.0);
    bool sawAutoNote = false;
    for (HWND c = GetWindow(d, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      char text[32] = {0};
      GetWindowTextA(c, text, sizeof text);
      if (std::string(text) == "0 = Auto") sawAutoNote = IsWindowVisible(c) != FALSE;
    }
    EXPECT_TRUE(sawAutoNote);

    SetItemText(d, kScaleEdit, "2.5");
    EXPECT_EQ(host.Values()[kScaleValue], 2.5);
    EXPECT_EQ(SliderPos(d, kScaleSlider), 2);
    SetItemText(d, kScaleEdit, "0");
    EXPECT_EQ(host.Values()[kScaleValue], 0.0);
    EXPECT_EQ(SliderPos(d, kScaleSlider), 0);
    SetItemText(d, kScaleEdit, "17");
    EXPECT_EQ(ItemText(d, kScaleEdit), "16");
    EXPECT_EQ(host.Values()[kScaleValue], 16.0);

    HWND slider = GetDlgItem(d, kScaleSlider);
    SendMessageA(slider, TBM_SETPOS, TRUE, 4);
    SendMessageA(d, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(ItemText(d, kScaleEdit), "4");
    EXPECT_EQ(host.Values()[kScaleValue], 4.0);

    Click(d, 3);  // Reset: Auto again
    EXPECT_EQ(host.Values()[kScaleValue], 0.0);
    EXPECT_EQ(ItemText(d, kScaleEdit), "0");
    EXPECT_EQ(SliderPos(d, kScaleSlider), 0);

    SetItemText(d, kScaleEdit, "1.5");
    Click(d, IDOK);
    EXPECT_TRUE(WaitUntilClosed(d));
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(host.Values()[kScaleValue], 1.5);
  EXPECT_EQ(GlobalSize(GlobalHandle(host.record->parameters->data)), 224u);
}
