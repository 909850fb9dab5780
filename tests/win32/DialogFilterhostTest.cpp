// filterhost --dialog end to end: our host, run as a process, shows the module's
// parameters dialog; this test works it from outside the process and presses OK,
// after which the host writes the filtered image.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/win32/DialogDriver.h"

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

}  // namespace

TEST(DialogFilterhost, DialogOptionShowsAWorkingDialog) {
  const std::string in = BesideTests("dialog-filterhost-in.bmp");
  const std::string out = BesideTests("dialog-filterhost-out.png");
  WriteBmp(in, 60, 40);
  DeleteFileA(out.c_str());
  std::string command = "\"" + BesideTests(kFilterhostFile) + "\" --dialog \"" +
                        BesideTests(kPatinexModuleFile) + "\" \"" + in + "\" \"" + out + "\"";
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  HWND dialog = WaitForProcessWindow(process.dwProcessId, kParamsCaption);
  EXPECT_NE(dialog, nullptr);
  if (dialog != nullptr) {
    // Typed values are checked in the other process too.
    SetItemText(dialog, 101, "150");
    EXPECT_EQ(ItemText(dialog, 101), "100");
    EXPECT_EQ(SliderPos(dialog, 501), 100);
    PostClick(dialog, IDOK);
  }
  if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 99);
    ADD_FAILURE() << "filterhost did not finish";
  }
  DWORD code = 99;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  EXPECT_EQ(code, 0u);
  EXPECT_NE(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
}
