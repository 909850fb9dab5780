// The native build of the entry has no windows: the about selector shows nothing
// there and reports success, as it does after the box is closed on Windows.
#include "plugin/Selectors.h"

void ShowHostAboutBox(const AboutRecord*) {}
