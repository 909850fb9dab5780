// filterhost --dialog end to end: our host, run as a process, shows the module's
// parameters dialog; this test works it from outside the process and presses OK,
// after which the host writes the filtered image.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testing/DialogDriver.h"

namespace {

std::string BesideTests(const char* name) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/") + 1) + name;
}

// A 24-bit bottom-up BMP of a gradient.
void WriteBmp(const std::string& path, int32_t w, int32_t h) {
  const int32_t rowBytes = (w * 3 + 3) & ~3;
  std::vector<uint8_t> file(54 + size_t(rowBytes) * h, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, uint32_t(file.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(w));
  put32(22, uint32_t(h));
  file[26] = 1;
  file[28] = 24;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = &file[54 + size_t(y) * rowBytes + size_t(x) * 3];
      p[0] = uint8_t(x * 3);
      p[1] = uint8_t(y * 4);
      p[2] = uint8_t(128);
    }
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
}

// Waits for a visible window with the caption in the given process.
HWND WaitForProcessWindow(DWORD processId, const char* caption) {
  for (int i = 0; i < 2000; ++i) {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, nullptr, caption)) != nullptr) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == processId && IsWindowVisible(w)) return w;
    }
    Sleep(10);
  }
  return nullptr;
}

// filterhost --dialog on the sample, its errors in a file. The process and the
// dialog it shows (null when none appears).
struct DialogRun {
  PROCESS_INFORMATION process;
  HWND dialog;
};

DialogRun StartWithDialog(const std::string& in, const std::string& out, const std::string& err) {
  std::string command = "\"" + BesideTests(kFilterhostFile) + "\" --dialog \"" +
                        BesideTests(kPatinexModuleFile) + "\" \"" + in + "\" \"" + out + "\"";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE errFile = CreateFileA(err.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = errFile;
  DialogRun run = {};
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  EXPECT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &run.process));
  CloseHandle(errFile);
  if (run.process.hProcess != nullptr) {
    run.dialog = WaitForProcessWindow(run.process.dwProcessId, kParamsCaption);
  }
  return run;
}

DWORD Finish(DialogRun* run) {
  if (run->process.hProcess == nullptr) return 99;
  if (WaitForSingleObject(run->process.hProcess, 20000) != WAIT_OBJECT_0) {
    TerminateProcess(run->process.hProcess, 99);
    ADD_FAILURE() << "filterhost did not finish";
  }
  DWORD code = 99;
  GetExitCodeProcess(run->process.hProcess, &code);
  CloseHandle(run->process.hProcess);
  CloseHandle(run->process.hThread);
  return code;
}

std::string Slurp(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

}  // namespace

TEST(DialogFilterhost, DialogOptionShowsAWorkingDialog) {
  const std::string in = BesideTests("dialog-filterhost-in.bmp");
  const std::string out = BesideTests("dialog-filterhost-out.png");
  const std::string err = BesideTests("dialog-filterhost.err");
  WriteBmp(in, 60, 40);
  DeleteFileA(out.c_str());
  DialogRun run = StartWithDialog(in, out, err);
  EXPECT_NE(run.dialog, nullptr);
  if (run.dialog != nullptr) {
    // Typed values are checked in the other process too.
    SetItemText(run.dialog, 101, "150");
    EXPECT_EQ(ItemText(run.dialog, 101), "100");
    EXPECT_EQ(SliderPos(run.dialog, 501), 100);
    PostClick(run.dialog, IDOK);
  }
  EXPECT_EQ(Finish(&run), 0u);
  EXPECT_NE(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
  // The tests' display driver shows no windows: filterhost says so at once.
  EXPECT_NE(Slurp(err).find("the display shows no windows (Wine's null graphics driver): the "
                            "dialog is open but invisible; Ctrl+C stops"),
            std::string::npos)
      << Slurp(err);
}

// Cancel in the dialog: a message in the user's words, status 1, no file.
TEST(DialogFilterhost, CancelWritesNothingAndSaysSo) {
  const std::string in = BesideTests("dialog-filterhost-in.bmp");
  const std::string out = BesideTests("dialog-filterhost-cancelled.png");
  const std::string err = BesideTests("dialog-filterhost-cancelled.err");
  WriteBmp(in, 60, 40);
  DeleteFileA(out.c_str());
  DialogRun run = StartWithDialog(in, out, err);
  EXPECT_NE(run.dialog, nullptr);
  if (run.dialog != nullptr) PostClick(run.dialog, IDCANCEL);
  EXPECT_EQ(Finish(&run), 1u);
  EXPECT_EQ(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(Slurp(err).find("filterhost: cancelled in the dialog: nothing written"),
            std::string::npos)
      << Slurp(err);
}
