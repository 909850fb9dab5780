// A stand-in for GIMP 2's libgimpcolor in the GEGL unit tests: the operation
// declares its colour defaults for GIMP 2 when this function is in the process.
extern "C" void* gimp_param_spec_rgb() { return nullptr; }
