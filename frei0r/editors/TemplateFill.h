// What the generators of the editors' files (MakeEditorFiles.cpp) and of the
// browser page (web/MakeWebPage.cpp) share: numbers and names written into a
// template, and the template's @NAME@ places filled.
#pragma once

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

// The shortest plain decimal text of a double that reads back as the same
// value ("100", "0.45"), else all its digits.
inline std::string Number(double v) {
  for (int decimals = 0; decimals <= 12; ++decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    double back = 0;
    if (std::sscanf(text, "%lf", &back) == 1 && back == v) return text;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// Text inside XML or HTML, in an element or a quoted attribute.
inline std::string MarkupText(const char* s) {
  std::string out;
  for (; s != nullptr && *s != '\0'; ++s) {
    switch (*s) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += *s;
    }
  }
  return out;
}

struct Fill {
  const char* place;  // "@NAME@"
  std::string text;
};

// The template at `path` with each of its places filled; false (and a message
// from `tool`) when the file cannot be read or a place is missing or appears
// twice.
inline bool FillTemplate(const char* tool, const std::string& path, const Fill* fills, int count,
                         std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read %s\n", tool, path.c_str());
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  *out = text.str();
  for (int i = 0; i < count; ++i) {
    const size_t at = out->find(fills[i].place);
    if (at == std::string::npos || out->find(fills[i].place, at + 1) != std::string::npos) {
      std::fprintf(stderr, "%s: %s must hold %s once\n", tool, path.c_str(), fills[i].place);
      return false;
    }
    out->replace(at, std::strlen(fills[i].place), fills[i].text);
  }
  return true;
}

inline bool WriteFile(const char* tool, const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "%s: cannot write %s\n", tool, path.c_str());
    return false;
  }
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}
