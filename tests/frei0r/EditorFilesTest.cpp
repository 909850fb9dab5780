// The video editors' files as make-editor-files writes them into the build tree,
// checked against the parameter table: every frei0r parameter has its row, in
// order, with its name, kind, range and default; Kdenlive's XML parses; Shotcut's
// panel lists one control per parameter and shows each number over its range.
// GCC 12 warns of std::function inside <regex> as maybe uninitialized at -O1
// (a false alarm of its own headers).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "frei0r/Frei0rParams.h"

namespace {

struct EditorFiles {
  std::string kdenlive;  // kdenlive/frei0r_patinex.xml
  std::string meta;      // shotcut/patinex/meta.qml
  std::string ui;        // shotcut/patinex/ui.qml
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

EditorFiles WrittenFiles() {
  const std::string dir = PATINEX_EDITORS_DIR;
  return {ReadFile(dir + "/kdenlive/frei0r_patinex.xml"), ReadFile(dir + "/shotcut/patinex/meta.qml"),
          ReadFile(dir + "/shotcut/patinex/ui.qml")};
}

// A number written in full ("100", "0.45"); NaN for anything else.
double Number(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return (text.empty() || *end != '\0') ? NAN : v;
}

bool Near(double a, double b) { return std::fabs(a - b) <= 1e-9 * (1.0 + std::fabs(b)); }

std::string Hex(const ParamRow& row) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02x%02x%02x", int(row.defaults[0]), int(row.defaults[1]),
                int(row.defaults[2]));
  return hex;
}

typedef std::vector<std::string> Problems;

std::string Attr(xmlNode* node, const char* name) {
  xmlChar* v = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  const std::string s = v != nullptr ? reinterpret_cast<const char*>(v) : "";
  xmlFree(v);
  return s;
}

std::string Content(xmlNode* node) {
  xmlChar* v = xmlNodeGetContent(node);
  const std::string s = v != nullptr ? reinterpret_cast<const char*>(v) : "";
  xmlFree(v);
  return s;
}

xmlNode* Child(xmlNode* node, const char* name) {
  for (xmlNode* c = node->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE && xmlStrcmp(c->name, BAD_CAST name) == 0) return c;
  }
  return nullptr;
}

// Kdenlive shows a number as its value x factor, within min..max; a switch and
// a colour keep frei0r's own form.
void CheckKdenlive(const std::string& text, Problems* out) {
  xmlDoc* doc = xmlReadMemory(text.data(), int(text.size()), "frei0r_patinex.xml", nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) {
    out->push_back("Kdenlive: the XML does not parse");
    return;
  }
  xmlNode* effect = xmlDocGetRootElement(doc);
  if (effect == nullptr || xmlStrcmp(effect->name, BAD_CAST "effect") != 0 ||
      Attr(effect, "tag") != "frei0r.patinex") {
    out->push_back("Kdenlive: no <effect> of frei0r.patinex");
    xmlFreeDoc(doc);
    return;
  }
  xmlNode* description = Child(effect, "description");
  if (description == nullptr || Content(description) != kFilterDescription) {
    out->push_back("Kdenlive: the description is not the filter's");
  }
  int i = 0;
  for (xmlNode* p = effect->children; p != nullptr; p = p->next) {
    if (p->type != XML_ELEMENT_NODE || xmlStrcmp(p->name, BAD_CAST "parameter") != 0) continue;
    const ParamRow* row = Frei0rParam(i++);
    if (row == nullptr) {
      out->push_back("Kdenlive: more parameters than frei0r's");
      break;
    }
    const std::string at = std::string("Kdenlive, ") + row->name + ": ";
    xmlNode* label = Child(p, "name");
    // Scale's 0 is Auto, which Kdenlive can only say in the label.
    const std::string shown =
        row == &kParamRows[kScaleRow] ? std::string(row->name) + " (0 = Auto)" : row->name;
    if (Attr(p, "name") != row->name || label == nullptr || Content(label) != shown) {
      out->push_back(at + "name " + Attr(p, "name"));
    }
    const std::string type = Attr(p, "type");
    const double def = Number(Attr(p, "default"));
    if (row->kind == kValueParam) {
      const double factor = Number(Attr(p, "factor"));
      if (type != "animated") out->push_back(at + "type " + type);
      if (!(Number(Attr(p, "min")) == row->low && Number(Attr(p, "max")) == row->high &&
            factor == row->high - row->low)) {
        out->push_back(at + "range " + Attr(p, "min") + ".." + Attr(p, "max") + " x " +
                       Attr(p, "factor"));
      }
      if (!Near(row->low + def * factor, row->defaults[0])) out->push_back(at + "default");
      if ((Attr(p, "decimals") == "0") != row->wholeNumbers) out->push_back(at + "decimals");
    } else if (row->kind == kSwitchParam) {
      if (type != "bool" || def != (row->defaults[0] != 0.0 ? 1.0 : 0.0)) {
        out->push_back(at + "switch " + type + " " + Attr(p, "default"));
      }
    } else if (type != "color" || Attr(p, "default") != "0x" + Hex(*row) + "ff") {
      out->push_back(at + "colour " + type + " " + Attr(p, "default"));
    }
  }
  if (i != kFrei0rParamCount) out->push_back("Kdenlive: " + std::to_string(i) + " parameters");
  xmlFreeDoc(doc);
}

// Brackets of every kind close in order, outside strings and comments.
void CheckBrackets(const std::string& text, const std::string& file, Problems* out) {
  std::string open;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      i = text.find('\n', i);
      if (i == std::string::npos) break;
    } else if (c == '\'' || c == '"') {
      for (++i; i < text.size() && text[i] != c; ++i) i += text[i] == '\\' ? 1 : 0;
    } else if (c == '(' || c == '[' || c == '{') {
      open += c;
    } else if (c == ')' || c == ']' || c == '}') {
      const char want = c == ')' ? '(' : (c == ']' ? '[' : '{');
      if (open.empty() || open.back() != want) {
        out->push_back(file + ": brackets do not close in order");
        return;
      }
      open.pop_back();
    }
  }
  if (!open.empty()) out->push_back(file + ": brackets left open");
}

// The numbers, in frei0r's order: Shotcut keyframes each over frei0r's 0..1.
void CheckShotcutMeta(const std::string& text, Problems* out) {
  CheckBrackets(text, "meta.qml", out);
  std::vector<std::string> numbers;
  for (int i = 0; i < kFrei0rParamCount; ++i) {
    if (Frei0rParam(i)->kind == kValueParam) numbers.push_back(Frei0rParam(i)->name);
  }
  std::smatch m;
  std::vector<std::string> simple;
  if (std::regex_search(text, m, std::regex(R"(simpleProperties: \[([^\]]*)\])"))) {
    const std::string list = m[1];
    const std::regex name("'([^']*)'");
    for (std::sregex_iterator it(list.begin(), list.end(), name), end; it != end; ++it) {
      simple.push_back((*it)[1]);
    }
  }
  if (simple != numbers) out->push_back("meta.qml: simpleProperties are not the numbers");
  const std::regex parameter(
      R"(Parameter \{\s*name: qsTr\('([^']*)'\)\s*property: '([^']*)'\s*isCurve: true\s*)"
      R"(minimum: (\S+)\s*maximum: (\S+)\s*\})");
  size_t n = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), parameter), end; it != end; ++it, ++n) {
    const std::smatch& p = *it;
    if (n >= numbers.size() || p[1] != numbers[n] || p[2] != numbers[n] ||
        Number(p[3]) != 0.0 || Number(p[4]) != 1.0) {
      out->push_back("meta.qml: keyframe parameter " + std::string(p[2]) + " " +
                     std::string(p[3]) + ".." + std::string(p[4]));
    }
  }
  if (n != numbers.size()) out->push_back("meta.qml: " + std::to_string(n) + " keyframe parameters");
}

// The panel: a Repeater makes one row of controls per entry of its list; a
// number's slider runs 0..scale, showing value x scale.
void CheckShotcutPanel(const std::string& text, Problems* out) {
  CheckBrackets(text, "ui.qml", out);
  const std::regex entry(
      R"(\{ name: '([^']*)', label: qsTr\('([^']*)'\), type: '(\w+)', scale: (\S+), )"
      R"(value: (\S+), color: '#(\w*)', decimals: (\d+), suffix: '[^']*', zero: '([^']*)' \})");
  int i = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), entry), end; it != end; ++it) {
    const std::smatch& e = *it;
    const ParamRow* row = Frei0rParam(i++);
    if (row == nullptr) {
      out->push_back("ui.qml: more controls than frei0r parameters");
      break;
    }
    const std::string at = std::string("ui.qml, ") + row->name + ": ";
    if (e[1] != row->name || e[2] != row->name) out->push_back(at + "name " + std::string(e[1]));
    const std::string type = e[3];
    const double scale = Number(e[4]), value = Number(e[5]);
    if (row->kind == kValueParam) {
      if (type != "number") out->push_back(at + "type " + type);
      if (!(row->low == 0.0 && scale == row->high)) {
        out->push_back(at + "range 0.." + std::string(e[4]));
      }
      if (!Near(value * scale, row->defaults[0])) out->push_back(at + "default");
      if ((e[7] == "0") != row->wholeNumbers) out->push_back(at + "decimals");
    } else if (row->kind == kSwitchParam) {
      if (type != "switch" || value != (row->defaults[0] != 0.0 ? 1.0 : 0.0)) {
        out->push_back(at + "switch");
      }
    } else if (type != "color" || e[6] != Hex(*row)) {
      out->push_back(at + "colour");
    }
    if (e[8] != (row == &kParamRows[kScaleRow] ? "Auto" : "")) {
      out->push_back(at + "text of a 0 '" + std::string(e[8]) + "'");
    }
  }
  if (i != kFrei0rParamCount) out->push_back("ui.qml: " + std::to_string(i) + " controls");
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(R"(Repeater \{\s*id: \w+\s*model: params\s)"))) {
    out->push_back("ui.qml: no Repeater over the list");
  }
  if (!std::regex_search(text, m, std::regex(R"(Shotcut\.SliderSpinner \{[^}]*\})")) ||
      !std::regex_search(m.str(), std::regex(R"(\sminimumValue: 0\s)")) ||
      !std::regex_search(m.str(), std::regex(R"(\smaximumValue: p\.scale\s)"))) {
    out->push_back("ui.qml: the slider does not run 0..scale");
  }
  if (!std::regex_search(m.str(), std::regex(R"(\ssuffix: p\.zero !== '' && value === 0 \? p\.zero : p\.suffix\s)"))) {
    out->push_back("ui.qml: the spin box does not show a 0's text");
  }
}

Problems Check(const EditorFiles& f) {
  Problems out;
  CheckKdenlive(f.kdenlive, &out);
  CheckShotcutMeta(f.meta, &out);
  CheckShotcutPanel(f.ui, &out);
  return out;
}

std::string Joined(const Problems& p) {
  std::string s;
  for (const std::string& line : p) s += line + "\n";
  return s;
}

}  // namespace

TEST(EditorFiles, FollowTheParameterTable) {
  const EditorFiles files = WrittenFiles();
  ASSERT_FALSE(files.kdenlive.empty() || files.meta.empty() || files.ui.empty())
      << "the editors' files are missing from " << PATINEX_EDITORS_DIR;
  const Problems problems = Check(files);
  EXPECT_TRUE(problems.empty()) << Joined(problems);
}

// The check finds a fault in any file: a range, a default or a name that left
// the table, a control too few, XML that does not parse, a slider's range
// changed in the panel's template.
TEST(EditorFiles, CheckFindsEachKindOfFault) {
  struct Fault {
    std::string EditorFiles::*file;
    const char* from;
    const char* to;
  };
  const Fault faults[] = {
      {&EditorFiles::kdenlive, "min=\"0\" max=\"100\"", "min=\"0\" max=\"90\""},
      {&EditorFiles::kdenlive, "default=\"0.45\"", "default=\"0.5\""},
      {&EditorFiles::kdenlive, "</effect>", "</efect>"},
      {&EditorFiles::meta, "maximum: 1", "maximum: 100"},
      {&EditorFiles::meta, "'Grain Amount', ", ""},
      {&EditorFiles::ui, "maximumValue: p.scale", "maximumValue: 100"},
      {&EditorFiles::ui, "type: 'number', scale: 100, value: 0.45", "type: 'number', scale: 10, value: 0.45"},
      {&EditorFiles::ui, "{ name: 'Seed'", "{ name: 'Sed'"},
      {&EditorFiles::ui, "model: params", "model: 3"},
      {&EditorFiles::kdenlive, "<name>Scale (0 = Auto)</name>", "<name>Scale</name>"},
      {&EditorFiles::ui, "zero: 'Auto'", "zero: ''"},
      {&EditorFiles::ui, "? p.zero :", "? '' :"},
  };
  const EditorFiles files = WrittenFiles();
  for (const Fault& f : faults) {
    EditorFiles broken = files;
    std::string& text = broken.*f.file;
    const size_t at = text.find(f.from);
    ASSERT_NE(at, std::string::npos) << f.from;
    text.replace(at, std::strlen(f.from), f.to);
    EXPECT_FALSE(Check(broken).empty()) << f.from << " -> " << f.to;
  }
}
