// filterhost's output files: written beside the target and put in its place
// only once complete and closed, so that nothing half-written is ever left.
// The encoder writes through a COM stream over the file's handle that keeps
// the first failed write, so that no encoder can lose a failure on its way
// back. A target that exists and is not a disk file (a device, a pipe) is
// written in place, every write checked.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

// A Win32 error code as a user should read it (the system's text, without the
// trailing period).
std::string SystemErrorText(DWORD code);

class HandleStream;

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // An open file that was not closed is removed.
  ~OutputFile();

  // Opens the temporary file beside `path` (or `path` itself for a device);
  // false with "cannot write PATH: cause".
  bool Open(const std::string& path, std::string* error);

  // The stream an encoder writes to; valid until Close.
  IStream* Stream() const;

  // Closes the file. With `complete` (the encoder finished) the temporary file
  // replaces the target; otherwise, or when a write or the close failed, it is
  // removed and false is returned with "cannot write PATH: cause", where the
  // cause is the failed write's, else `encoderCause`.
  bool Close(bool complete, const std::string& encoderCause, std::string* error);

 private:
  std::string path_;
  std::string temporary_;  // empty for a target written in place
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HandleStream* stream_ = nullptr;
};
