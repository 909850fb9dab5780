// A module that is not a filter: built once without any property list and once
// with a list whose kind is not '8BFM'. Hosts must refuse both.
#include <windows.h>

extern "C" int Answer(void) { return 42; }
