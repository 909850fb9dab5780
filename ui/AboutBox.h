// The about box (template IDD_ABOUT): one picture and an OK button, placed over
// its owner by PlaceDialogWindow. Opened by the about selector and by the
// parameters dialog's "&About..." button, both with the host's main window as owner.
#pragma once

#include <windows.h>

// Runs the box modally; returns when OK (or Enter) ends it. Escape does nothing.
void ShowAboutBox(HWND owner);

// The about box's dialog procedure; exposed so that tests can check its answers.
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Moves a dialog to its place over its parent's client area (see ui/Placement.h).
void PlaceDialogWindow(HWND dialog);
