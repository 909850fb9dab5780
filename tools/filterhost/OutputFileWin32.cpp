#include "tools/filterhost/OutputFileWin32.h"

#include <cstdint>

std::string SystemErrorText(DWORD code) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string s = text != nullptr ? text : "";
  LocalFree(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) {
    s.pop_back();
  }
  return s.empty() ? "system error " + std::to_string(code) : s;
}

// An IStream over a Win32 file handle that records the first write that
// failed. Seeks only on disk files; elsewhere only the position may be asked.
class HandleStream : public IStream {
 public:
  HandleStream(HANDLE file, bool disk) : file_(file), disk_(disk) {}
  DWORD writeError() const { return writeError_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return ULONG(left);
  }
  HRESULT STDMETHODCALLTYPE Read(void* to, ULONG count, ULONG* done) override {
    DWORD got = 0;
    const BOOL ok = ReadFile(file_, to, count, &got, nullptr);
    if (done != nullptr) *done = got;
    position_ += got;
    return !ok ? HRESULT_FROM_WIN32(GetLastError()) : got < count ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* from, ULONG count, ULONG* done) override {
    const uint8_t* bytes = static_cast<const uint8_t*>(from);
    ULONG total = 0;
    while (total < count && writeError_ == 0) {
      DWORD wrote = 0;
      if (!WriteFile(file_, bytes + total, count - total, &wrote, nullptr)) {
        writeError_ = GetLastError();
      } else if (wrote == 0) {
        writeError_ = ERROR_WRITE_FAULT;
      }
      total += wrote;
    }
    position_ += total;
    if (done != nullptr) *done = total;
    return writeError_ == 0 ? S_OK : HRESULT_FROM_WIN32(writeError_);
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
    if (!disk_) {
      // A device or pipe: only "where am I" and "stay here".
      const bool here = (origin == STREAM_SEEK_CUR && move.QuadPart == 0) ||
                        (origin == STREAM_SEEK_SET && uint64_t(move.QuadPart) == position_);
      if (!here) return STG_E_INVALIDFUNCTION;
      if (at != nullptr) at->QuadPart = position_;
      return S_OK;
    }
    LARGE_INTEGER now;
    if (!SetFilePointerEx(file_, move, &now, origin)) return HRESULT_FROM_WIN32(GetLastError());
    position_ = uint64_t(now.QuadPart);
    if (at != nullptr) at->QuadPart = position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
    if (!disk_) return STG_E_INVALIDFUNCTION;
    LARGE_INTEGER to, back;
    to.QuadPart = LONGLONG(size.QuadPart);
    back.QuadPart = LONGLONG(position_);
    if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) || !SetEndOfFile(file_) ||
        !SetFilePointerEx(file_, back, nullptr, FILE_BEGIN)) {
      return HRESULT_FROM_WIN32(GetLastError());
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override {
    return writeError_ == 0 ? S_OK : HRESULT_FROM_WIN32(writeError_);
  }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    ZeroMemory(stat, sizeof *stat);
    stat->type = STGTY_STREAM;
    LARGE_INTEGER size;
    stat->cbSize.QuadPart = disk_ && GetFileSizeEx(file_, &size) ? uint64_t(size.QuadPart)
                                                                 : position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  virtual ~HandleStream() = default;
  LONG refs_ = 1;
  HANDLE file_;
  bool disk_;
  DWORD writeError_ = 0;
  uint64_t position_ = 0;
};

namespace {

// The folder a file name is in ("." for a bare name).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// Why an output cannot be written, as a user can act on it; the system's
// text for codes with no better words.
std::string OutputCause(DWORD code, const std::string& path) {
  const std::string folder = FolderOf(path);
  switch (code) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY: {
      const DWORD attributes = GetFileAttributesA(folder.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) return "the folder " + folder + " does not exist";
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return folder + " is a file, not a folder";
      return "the name is not one Windows takes";
    }
    case ERROR_ACCESS_DENIED: {
      const DWORD attributes = GetFileAttributesA(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return path + " is a folder";
      }
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        return "the file is read-only";
      }
      return "no permission to write there (in the folder " + folder + ")";
    }
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return "the file is open in another program";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "the disk is full";
    case ERROR_WRITE_PROTECT: return "the disk is write-protected";
    case ERROR_FILENAME_EXCED_RANGE:
      return "the path is too long (" + std::to_string(path.size()) + " characters; " +
             "Windows takes at most " + std::to_string(MAX_PATH - 1) + ")";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return "Windows does not take this name (no < > : \" | ? * and no control characters)";
    case ERROR_BAD_DEV_TYPE:
    case ERROR_BAD_DEVICE:
      return "the name is a device's (CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 are "
             "devices in any folder, with any extension)";
  }
  return SystemErrorText(code);
}

}  // namespace

OutputFile::~OutputFile() {
  if (file_ != INVALID_HANDLE_VALUE) {
    std::string ignored;
    Close(false, "", &ignored);
  }
}

bool OutputFile::Open(const std::string& path, std::string* error) {
  path_ = path;
  // The temporary file's name is the folder's and 12 more characters, and the
  // ANSI file calls take at most MAX_PATH - 1.
  if (path.size() >= MAX_PATH || FolderOf(path).size() + 14 >= MAX_PATH) {
    *error = "cannot write " + path + ": " + OutputCause(ERROR_FILENAME_EXCED_RANGE, path);
    return false;
  }
  // Characters no Windows file name holds (a colon would name a stream of
  // another file): refused here alike on every system.
  const size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  bool refused = name.find_first_of("<>:\"|?*") != std::string::npos;
  for (const char c : name) refused = refused || static_cast<unsigned char>(c) < 32;
  if (refused) {
    *error = "cannot write " + path + ": " + OutputCause(ERROR_INVALID_NAME, path);
    return false;
  }
  // A target that exists and is not a disk file (a device, a pipe) is written
  // in place; anything else goes through a temporary file beside it.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool disk = file == INVALID_HANDLE_VALUE || GetFileType(file) == FILE_TYPE_DISK;
  if (disk) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    // Windows refuses to replace a read-only file; Wine, run as root, would
    // replace it: refused here alike.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      *error = "cannot write " + path + ": " + OutputCause(ERROR_ACCESS_DENIED, path);
      return false;
    }
    char name[MAX_PATH + 16];
    if (GetTempFileNameA(FolderOf(path).c_str(), "fh", 0, name) == 0) {
      *error = "cannot write " + path + ": " + OutputCause(GetLastError(), path);
      return false;
    }
    temporary_ = name;
    file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      *error = "cannot write " + path + ": " + OutputCause(GetLastError(), path);
      DeleteFileA(name);
      return false;
    }
  }
  file_ = file;
  stream_ = new HandleStream(file, disk);
  return true;
}

IStream* OutputFile::Stream() const { return stream_; }

bool OutputFile::Close(bool complete, const std::string& encoderCause, std::string* error) {
  bool ok = complete;
  std::string cause = encoderCause;
  // A write that failed is the cause, whatever the encoder made of it.
  if (stream_ != nullptr && stream_->writeError() != 0) {
    ok = false;
    cause = OutputCause(stream_->writeError(), path_);
  }
  if (stream_ != nullptr) stream_->Release();
  stream_ = nullptr;
  if (!CloseHandle(file_) && ok) {
    ok = false;
    cause = OutputCause(GetLastError(), path_);
  }
  file_ = INVALID_HANDLE_VALUE;
  const bool disk = !temporary_.empty();
  if (ok && disk && !MoveFileExA(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ok = false;
    cause = OutputCause(GetLastError(), path_);
  }
  if (!ok) {
    if (disk) DeleteFileA(temporary_.c_str());
    *error = "cannot write " + path_ + ": " + cause;
  }
  return ok;
}
