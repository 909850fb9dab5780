// The plug-in's door to the host: ENTRYPOINT and its six selector handlers.
// Everything here is portable; what needs windows (the about box, the parameters
// dialog) is reached through the two platform calls at the end, which the Win32
// build implements in EntryWin32.cpp over ui/, and the native build, which has
// no windows, in EntryPortable.cpp (so that the native tests drive ENTRYPOINT).
#pragma once

#include <cstdint>

#include "host/FilterRecord.h"
#include "host/PluginGlobals.h"
#include "render/CallConv.h"
#include "render/RenderJob.h"

// Called by the host once per step of its protocol. `data` is the value the host
// keeps for the plug-in (0 before the first call): the PluginGlobals handle.
// Exported by name from the module's .def; the interface calls it with cdecl.
extern "C" void PATINEX_CDECL ENTRYPOINT(int16_t selector, void* record, intptr_t* data,
                                         int16_t* result);

// The handlers work on the call's working copy of PluginGlobals and return the
// host's result code; hostRecord is already set. Exposed for the tests.
int16_t DoAbout(PluginGlobals* globals);
int16_t DoParameters(PluginGlobals* globals);
int16_t DoPrepare(PluginGlobals* globals);
int16_t DoStart(PluginGlobals* globals);
int16_t DoContinue(PluginGlobals* globals);
int16_t DoFinish(PluginGlobals* globals);

// The job the continue selector renders: the host's filter rectangle, buffers,
// planes, depth and callbacks, and the module's record (params, the host's
// parameters handle's data, of kModuleParamCount entries) with its Scale.
RenderJob ContinueRenderJob(const FilterRecord& record, const EffectParams* params);

// Platform: shows the about box owned by the host window of the about record.
void ShowHostAboutBox(const AboutRecord* about);
// Platform: runs the parameters dialog on the call's working copy of
// PluginGlobals. Sets globals->result to userCanceledOrAborted when the dialog
// was cancelled or could not be opened; leaves it alone when OK ended it. *seed
// is the clock reading the dialog's preview rendered from (see
// ShowParametersDialog).
void ShowHostParametersDialog(PluginGlobals* globals, uint32_t* seed);
