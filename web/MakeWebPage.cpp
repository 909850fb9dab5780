// Writes the browser page from its template and the parameter table, at build
// time, as the video editors' files are written (frei0r/editors/MakeEditorFiles.cpp),
// so that the page can never disagree with the table:
//
//   make-web-page TEMPLATE OUT     web/index.html.in -> build/web/index.html
//
// The template is the page as written but for three places, each appearing
// once: @CONTROLS@, one labelled control per frei0r parameter in the table's
// order (a number with its slider, a colour with the browser's colour picker, a
// switch as a check box; Film Frame Rate with step buttons, Scale with "Auto" at
// 0); @PARAMS@, the same rows as a JavaScript array for the page's script (its
// frei0r index, range, defaults); and @FRAME_MAX@, the last film frame.
//
// The page hands the worker each value as the editors store it, in frei0r's
// 0..1 ((value - low) / (high - low), a colour's channels over 255), and the
// worker sets it through the frei0r filter's own mapping: the page's record is
// the one patinex.so builds from the editors' values.
#include <cstdio>
#include <sstream>
#include <string>

#include "frei0r/Frei0rParams.h"
#include "frei0r/editors/TemplateFill.h"
#include "host/ParamTable.h"

namespace {

std::string JsString(const char* s) {
  std::string out = "\"";
  for (; s != nullptr && *s != '\0'; ++s) {
    if (*s == '"' || *s == '\\') out += '\\';
    if (*s == '<') {
      out += "\\u003c";  // never "</script>" inside the page's script
      continue;
    }
    out += *s;
  }
  return out + "\"";
}

std::string HexColor(const double* rgb) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", int(rgb[0]), int(rgb[1]), int(rgb[2]));
  return text;
}

const char* KindName(ParamKind kind) {
  switch (kind) {
    case kColorParam: return "color";
    case kSwitchParam: return "switch";
    default: return "value";
  }
}

// One row of the form: id p<frei0r index>.
std::string ControlRow(const ParamRow& row, int index) {
  const std::string id = "p" + std::to_string(index);
  const std::string name = MarkupText(row.name);
  std::ostringstream out;
  if (row.kind == kColorParam) {
    out << "<div class=\"row\"><label for=\"" << id << "\">" << name << "</label>"
        << "<input type=\"color\" id=\"" << id << "\" value=\"" << HexColor(row.defaults)
        << "\"></div>\n";
  } else if (row.kind == kSwitchParam) {
    out << "<div class=\"row\"><label for=\"" << id << "\">" << name << "</label>"
        << "<input type=\"checkbox\" id=\"" << id << "\""
        << (row.defaults[0] != 0.0 ? " checked" : "") << "></div>\n";
  } else {
    const std::string range = " min=\"" + Number(row.low) + "\" max=\"" + Number(row.high) + "\"";
    const std::string value = " value=\"" + Number(row.defaults[0]) + "\"";
    const bool steps = &row == &kParamRows[kFilmFrameRateRow];
    const bool scale = &row == &kParamRows[kScaleRow];
    out << "<div class=\"row\"><label for=\"" << id << "\">" << name << "</label>"
        << "<input type=\"range\" id=\"" << id << "-slider\" aria-label=\"" << name
        << " slider\"" << range << " step=\"" << (row.wholeNumbers ? "1" : "any") << "\""
        << value << ">"
        << "<input type=\"number\" id=\"" << id << "\"" << range << " step=\""
        << (row.wholeNumbers ? "1" : "any") << "\"" << value << ">";
    if (steps) {
      out << "<button type=\"button\" class=\"step\" data-for=\"" << id << "\" data-step=\"-1\""
          << " aria-label=\"" << name << " one less\">&minus;</button>"
          << "<button type=\"button\" class=\"step\" data-for=\"" << id << "\" data-step=\"1\""
          << " aria-label=\"" << name << " one more\">+</button>";
    }
    if (scale) out << "<output id=\"" << id << "-auto\" for=\"" << id << "\"></output>";
    out << "</div>\n";
  }
  return out.str();
}

std::string ParamsArray() {
  std::ostringstream out;
  out << "[\n";
  for (int i = 0; i < kFrei0rParamCount; ++i) {
    const ParamRow& row = *Frei0rParam(i);
    out << "  {index: " << i << ", id: \"p" << i << "\", name: " << JsString(row.name)
        << ", kind: \"" << KindName(row.kind) << "\", low: " << Number(row.low)
        << ", high: " << Number(row.high) << ", defaults: [";
    for (int c = 0; c < ParamEntryCount(row); ++c) out << (c ? ", " : "") << Number(row.defaults[c]);
    out << "], whole: " << (row.wholeNumbers ? "true" : "false") << "},\n";
  }
  out << "]";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make-web-page TEMPLATE OUT\n");
    return 2;
  }
  std::string controls;
  for (int i = 0; i < kFrei0rParamCount; ++i) controls += ControlRow(*Frei0rParam(i), i);
  const Fill fills[] = {{"@CONTROLS@", controls},
                        {"@PARAMS@", ParamsArray()},
                        {"@FRAME_MAX@", std::to_string(kFilmFrameCycle - 1)}};
  std::string page;
  if (!FillTemplate("make-web-page", argv[1], fills, 3, &page)) return 1;
  return WriteFile("make-web-page", argv[2], page) ? 0 : 1;
}
