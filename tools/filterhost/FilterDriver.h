// The host side of the filter interface: one session per module and command
// line (the data value and the parameters handle are kept for its whole life),
// the parameters selector once, then prepare, start, continue until the filter
// asks for no more data, and finish, once per image or frame.
#pragma once

#include <cstdint>
#include <string>

#include "host/FilterRecord.h"
#include "tools/filterhost/FilterModule.h"
#include "tools/filterhost/ImageIO.h"

struct FilterSession {
  FilterEntryProc entry;
  FilterRecord* record;  // kFilterRecordAllocSize zeroed bytes, kept between images
  PlatformData platform;
  intptr_t data;         // the plug-in's data value, kept between calls
};

// How a selector call ended: result 0 is success.
struct SelectorOutcome {
  int16_t selector;
  int16_t result;
  std::string problem;  // set when the host itself refused to go on (a bad request)
};

void OpenSession(FilterSession* session, FilterEntryProc entry);
void CloseSession(FilterSession* session);

// The parameters selector (1), once per session.
SelectorOutcome RunParametersSelector(FilterSession* session);

// Filters one image in place: prepare (2), start (3), continue (4) for every
// rectangle the filter requests, finish (5). `label` names the image on the
// progress bar.
SelectorOutcome FilterImage(FilterSession* session, Image* image, const std::string& label);

// The Patinex record's `count` values (as the module's FLTD resource lists them:
// 27, or 28 with Scale) in the session's parameters handle, or null (with a
// reason) when the handle is not a record of that many doubles in a tagged handle.
double* PatinexRecord(FilterSession* session, int32_t count, std::string* error);

// Ctrl+C (and Ctrl+Break) ask the running filter to stop through abortProc.
// Ctrl+C (or Ctrl+Break) asks the filter to stop through abortProc; a dialog
// open on the host's thread then, or later, is cancelled (its Cancel button),
// so that the filter returns. A second Ctrl+C ends the process.
void InstallStopHandler();
bool StopRequested();

// Whether a dialog can be shown, asked before --dialog filters anything. Wine's
// null display driver (the tests' prefix) and a window station without a screen
// take windows that no one sees; without any display driver no window opens.
enum DialogDisplay { kDisplayVisible, kDisplayInvisible, kNoDisplay };
DialogDisplay DialogDisplayState(std::string* why);

// Text for a result code: "out of memory (-108)".
std::string ResultText(int16_t result);
const char* SelectorName(int16_t selector);
