// Resource and control ids of PATINEX.8bf, shared by resources/Patinex.rc and the
// code. Only #define lines, so that windres reads it as well as the compiler.
// The dialog templates are named by the strings "IDD_PARAMS" and "IDD_ABOUT" and
// have no ids: never #define those two names.
#ifndef PATINEX_RESOURCE_IDS_H
#define PATINEX_RESOURCE_IDS_H

// Parameters dialog (IDD_PARAMS). A value row is an edit and a slider whose id is
// the edit's plus IDC_SLIDER_OFFSET; a colour row is a "Set" button and a swatch
// placeholder whose id is the button's plus IDC_SWATCH_OFFSET; a switch is a
// check box.
#define IDC_SLIDER_OFFSET 400
#define IDC_SWATCH_OFFSET 400

#define IDC_FILM_RESPONSE 100       // edit
#define IDC_GRAIN_AMOUNT 101        // edit
#define IDC_DUST_SIZE 102           // edit
#define IDC_DUST_AMOUNT 103         // edit
#define IDC_DUST_COLOR 104          // "Set" button
#define IDC_HAIR_SIZE 105           // edit
#define IDC_HAIR_AMOUNT 106         // edit
#define IDC_HAIR_COLOR 107          // "Set" button
#define IDC_SCRATCH_AMOUNT 108      // edit
#define IDC_SCRATCH_VELOCITY 109    // edit
#define IDC_SCRATCH_LIFESPAN 110    // edit
#define IDC_SCRATCH_OPACITY 111     // edit
#define IDC_JITTER_MAX_OFFSET 112   // edit
#define IDC_JITTER_PROBABILITY 113  // edit
#define IDC_CONVERT_TO_GRAY 114     // check box
#define IDC_GRAY_TINT 115           // "Set" button
#define IDC_FLICKER_SPEED 116       // edit
#define IDC_FLICKER_AMOUNT 117      // edit
#define IDC_REVEAL_BACK_LAYER 118   // check box
#define IDC_FRAME_NUMBER 119        // edit, hidden with its slider and label
#define IDC_FRAME_NUMBER_LABEL 619  // the only label with an id, so that it can be hidden
#define IDC_SCALE 120               // edit; the 64-bit module's template only

#define IDC_RESET 3                 // "&Reset" (OK and Cancel are IDOK and IDCANCEL)
#define IDC_ABOUT 4                 // "&About..."
#define IDC_PREVIEW_FRAME 201       // invisible placeholder: the preview's rectangle

// About box (IDD_ABOUT).
#define IDC_ABOUT_PICTURE 100       // the picture control

// Bitmaps.
#define IDB_PARAMS_PICTURE 103      // 240 x 180, the parameters dialog's film strip
#define IDB_ABOUT_PICTURE 110       // 463 x 364, the about box

// Strings.
#define IDS_NOTICE 1                // a one-line product notice
#define IDS_CAPTION 2               // "Patinex Filter": the message box's caption
#define IDS_NO_MEMORY 201           // the preview could not get its buffers
#define IDS_NEEDS_FILTER_HOST 16996 // the four messages about the host's version,
#define IDS_HOST_TOO_OLD 16997      // which no operation of the plug-in loads
#define IDS_HOST_TOO_NEW 16998
#define IDS_HOST_UNSUITABLE 16999

#endif
