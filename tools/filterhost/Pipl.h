// The parts of a module that a host reads before it calls anything: the
// processor its file header names, the plug-in property list ("PIPL") and the
// parameter layout ("FLTD"). Pure
// byte parsing, so that it is tested natively on hand-made lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A four-character code as the interface stores it: the first character in the
// most significant byte (so 'kind' appears as "dnik" in a little-endian file).
constexpr uint32_t FourCharCode(char a, char b, char c, char d) {
  return (uint32_t(uint8_t(a)) << 24) | (uint32_t(uint8_t(b)) << 16) |
         (uint32_t(uint8_t(c)) << 8) | uint32_t(uint8_t(d));
}
const uint32_t kPiplKind = FourCharCode('k', 'i', 'n', 'd');
const uint32_t kPiplName = FourCharCode('n', 'a', 'm', 'e');
const uint32_t kPiplCategory = FourCharCode('c', 'a', 't', 'g');
const uint32_t kPiplEntryX86 = FourCharCode('w', 'x', '8', '6');
const uint32_t kPiplEntryX64 = FourCharCode('8', '6', '6', '4');
const uint32_t kPiplModes = FourCharCode('m', 'o', 'd', 'e');
const uint32_t kFilterKind = FourCharCode('8', 'B', 'F', 'M');

// The supported-mode flags as a 16-bit number, the list's first byte high: bit
// 15 bitmap, 14 gray, 13 indexed, 12 RGB, ... 5 gray 16, 4 RGB 48 (PIGeneral.r's
// order of the 'mode' property).
const uint16_t kModeRgb = 0x1000;
const uint16_t kModeRgb48 = 0x0010;

// What a host needs from one property list. Missing properties stay empty (0).
struct PiplInfo {
  uint32_t kind;
  std::string name;      // the menu name, e.g. "Patinex..."
  std::string category;  // the menu category
  std::string entryX86;  // exported entry for 32-bit x86 ('wx86')
  std::string entryX64;  // exported entry for x86-64 ('8664')
  uint16_t modes = 0;    // 'mode' flags (kModeRgb, kModeRgb48, ...)
};

// Reads a property list. False with a reason when the bytes are not one (too
// short, wrong version, a property running past the end).
bool ParsePipl(const uint8_t* bytes, size_t size, PiplInfo* info, std::string* error);

// The number of 8-byte values an "FLTD" resource describes when it is a plain
// list of them (pairs 0, 8 closed by a 0), or -1 for anything else.
int32_t CountFltdDoubles(const uint8_t* bytes, size_t size);

// A code as text for messages: "8BFM", with unprintable bytes as '?'.
std::string FourCharText(uint32_t code);

// The processor a Windows module is built for, from its file's headers (the
// "MZ" header's pointer to the "PE" header and that header's machine field):
// kMachineX86, kMachineX64, another machine's code, or 0 when the bytes (the
// file's start, 4 KB is plenty) are no module.
const uint16_t kMachineX86 = 0x014C;
const uint16_t kMachineX64 = 0x8664;
uint16_t ModuleMachine(const uint8_t* bytes, size_t size);
