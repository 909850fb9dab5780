// The colour rows of the parameters dialog: the platform's colour picker with the
// plug-in's 16 custom colours, and the framed swatch painted beside each "Set" button.
#pragma once

#include <windows.h>

#include <cstdint>

// Opens the picker (no owner, fully open, at the current colour). On OK writes the
// chosen colour into the three doubles and returns true; on Cancel touches nothing.
// customColors are the picker's 16 slots, read and written back by the picker.
bool PickColor(uint32_t* customColors, double* red, double* green, double* blue);

// Paints the swatch over the hidden placeholder control: a one-pixel black frame
// around its rectangle, the colour inside.
void PaintSwatch(HWND dialog, int placeholderId, double red, double green, double blue, HDC dc);
