// The property list and parameter layout of any module filterhost loads: any
// bytes through ParsePipl and CountFltdDoubles.
#include <string>
#include <vector>

#include "tests/fuzz/FuzzCheck.h"
#include "tools/filterhost/Pipl.h"

namespace {

void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

// One property: vendor, key, id, length, then the data padded to 4 bytes.
void PutProperty(std::vector<uint8_t>* out, uint32_t key, const std::string& data) {
  Put32(out, FourCharCode('8', 'B', 'I', 'M'));
  Put32(out, key);
  Put32(out, 0);
  Put32(out, uint32_t(data.size()));
  out->insert(out->end(), data.begin(), data.end());
  for (size_t pad = data.size(); pad % 4 != 0; ++pad) out->push_back(0);
}

// A list that holds what `info` says, as a module would write it.
std::vector<uint8_t> Rebuild(const PiplInfo& info) {
  std::vector<uint8_t> out = {1, 0};
  Put32(&out, 0);
  Put32(&out, 5);
  std::string kind(4, '\0');
  for (int i = 0; i < 4; ++i) kind[i] = char(info.kind >> (8 * i));
  PutProperty(&out, kPiplKind, kind);
  PutProperty(&out, kPiplName, std::string(1, char(info.name.size())) + info.name);
  PutProperty(&out, kPiplCategory, std::string(1, char(info.category.size())) + info.category);
  PutProperty(&out, kPiplEntryX86, info.entryX86 + std::string(1, '\0'));
  PutProperty(&out, kPiplEntryX64, info.entryX64 + std::string(1, '\0'));
  return out;
}

bool Same(const PiplInfo& a, const PiplInfo& b) {
  return a.kind == b.kind && a.name == b.name && a.category == b.category &&
         a.entryX86 == b.entryX86 && a.entryX64 == b.entryX64;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the input's size on the heap, so that any read past the end is seen.
  const std::vector<uint8_t> bytes(data, data + size);
  const uint8_t* at = bytes.empty() ? nullptr : bytes.data();

  const int32_t doubles = CountFltdDoubles(at, bytes.size());
  FUZZ_CHECK(doubles == -1 || (size % 4 == 2 && size_t(doubles) == size / 4),
             "%zu bytes counted as %d doubles", size, int(doubles));

  PiplInfo info;
  std::string error;
  if (!ParsePipl(at, bytes.size(), &info, &error)) {
    FUZZ_CHECK(!error.empty(), "%zu bytes refused without a message", size);
    return 0;
  }
  // Names are at most what a length byte can count, without the zero padding;
  // entry names end at their first zero.
  for (const std::string* s : {&info.name, &info.category}) {
    FUZZ_CHECK(s->size() <= 255 && (s->empty() || s->back() != '\0'), "name of %zu bytes",
               s->size());
  }
  for (const std::string* s : {&info.entryX86, &info.entryX64}) {
    FUZZ_CHECK(s->find('\0') == std::string::npos, "entry name with a zero");
  }
  // What was read, written as a module writes it, reads back the same.
  const std::vector<uint8_t> rebuilt = Rebuild(info);
  PiplInfo again;
  FUZZ_CHECK(ParsePipl(rebuilt.data(), rebuilt.size(), &again, &error) && Same(info, again),
             "the list rebuilt from what was read reads otherwise: %s", error.c_str());
  return 0;
}
