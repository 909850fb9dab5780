// Writes the video editors' descriptions of the frei0r filter from the
// templates beside this file and the parameter table, at build time, so that
// they can never disagree with the table:
//
//   make-editor-files TEMPLATE_DIR OUT_DIR
//     frei0r_patinex.xml.in  ->  OUT_DIR/kdenlive/frei0r_patinex.xml   Kdenlive's effect description
//     meta.qml.in            ->  OUT_DIR/shotcut/patinex/meta.qml      Shotcut's filter entry
//     ui.qml.in              ->  OUT_DIR/shotcut/patinex/ui.qml        Shotcut's filter panel
//
// A template is the file as written, but for its @NAME@ places, each of which
// appears once: @DESCRIPTION@ (the filter's one line), and the rows generated
// here, one per parameter: @PARAMETERS@ (Kdenlive), @SIMPLE_PROPERTIES@ and
// @KEYFRAME_PARAMETERS@ (Shotcut's keyframes), @PARAMS@ (the panel's list).
//
// Both editors store a parameter by its frei0r name, with its value in 0..1;
// the descriptions show it in the dialog's units: a number as low + value x
// (high - low) (0..100 for the amounts, frames per second, the seed number,
// Scale 0..16), a colour with the editor's colour picker, a switch as a check
// box. Scale's 0 is Auto: Kdenlive labels the row "Scale (0 = Auto)", Shotcut's
// spin box shows "Auto" beside a 0. Every number
// can be keyframed (MLT animates frei0r's numbers). The frei0r explanations are
// written in frei0r's 0..1 and so are not shown here.
//
// The panel (ui.qml.in) builds one row per parameter with a Repeater over the
// list. An id there is seen by Shotcut's own controls inside the panel, before
// the names Shotcut gives every panel (filter, producer, keyframes, parameters,
// metadata, application, settings, profile, video ...): KeyframesButton calls
// keyframes.show(), so an id `keyframes` would break every keyframe button.
// tests/frei0r/check-editors compares the panel's ids with the names Shotcut's panels
// use; tests/frei0r/EditorFilesTest.cpp checks the written files against the
// parameter table.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "frei0r/Frei0rParams.h"
#include "frei0r/editors/TemplateFill.h"
#include "host/ParamTable.h"

namespace {

const char kTool[] = "make-editor-files";

std::string QmlString(const char* s) {
  std::string out = "'";
  for (; s != nullptr && *s != '\0'; ++s) {
    if (*s == '\'' || *s == '\\') out += '\\';
    out += *s;
  }
  return out + "'";
}

// What one frei0r parameter looks like in an editor.
struct EditorParam {
  const ParamRow* row;
  const char* type;      // "number", "color" or "switch"
  double scale;          // display = value x scale (numbers)
  double value;          // the default, in frei0r's 0..1 (numbers and switches)
  std::string hexColor;  // the default colour, rrggbb
  int decimals;
  const char* suffix;
  const char* zero;   // what a 0 means, shown beside it ("" for a plain 0)
};

// Scale's 0 is Auto, not a size.
const char kScaleZero[] = "Auto";

// The row's label in Kdenlive, which has no text for a single value.
std::string KdenliveLabel(const EditorParam& p) {
  if (*p.zero == '\0') return p.row->name;
  return std::string(p.row->name) + " (0 = " + p.zero + ")";
}

bool Describe(int index, EditorParam* p) {
  const ParamRow* row = Frei0rParam(index);
  if (row == nullptr) return false;
  *p = EditorParam{row, "number", 1.0, 0.0, "", 0, "", ""};
  switch (row->kind) {
    case kValueParam:
      // The editors scale without an offset: every frei0r number starts at 0.
      if (row->low != 0.0 || !(row->high > 0.0)) return false;
      p->scale = row->high;
      p->value = row->defaults[0] / row->high;
      p->decimals = row->wholeNumbers ? 0 : 1;
      if (row == &kParamRows[kFilmFrameRateRow]) p->suffix = " fps";
      if (row == &kParamRows[kScaleRow]) p->zero = kScaleZero;
      return true;
    case kSwitchParam:
      p->type = "switch";
      p->value = row->defaults[0] != 0.0 ? 1.0 : 0.0;
      return true;
    case kColorParam: {
      p->type = "color";
      char hex[8];
      std::snprintf(hex, sizeof hex, "%02x%02x%02x", int(row->defaults[0]), int(row->defaults[1]),
                    int(row->defaults[2]));
      p->hexColor = hex;
      return row->low == 0.0 && row->high == 255.0;
    }
    default:
      return false;
  }
}

// Kdenlive's <parameter> rows, one per frei0r parameter.
std::string KdenliveRows(const EditorParam* params, int count) {
  std::string x;
  for (int i = 0; i < count; ++i) {
    const EditorParam& p = params[i];
    const std::string name = MarkupText(p.row->name);
    x += std::string(x.empty() ? "" : "\n") + "    <parameter ";
    if (std::string(p.type) == "number") {
      x += "type=\"animated\" name=\"" + name + "\" default=\"" + Number(p.value) + "\" min=\"0\" max=\"" +
           Number(p.scale) + "\" factor=\"" + Number(p.scale) + "\" decimals=\"" +
           std::to_string(p.decimals) + "\"";
      if (*p.suffix != '\0') x += std::string(" suffix=\"") + p.suffix + "\"";
    } else if (std::string(p.type) == "switch") {
      x += "type=\"bool\" name=\"" + name + "\" default=\"" + Number(p.value) + "\"";
    } else {
      x += "type=\"color\" name=\"" + name + "\" default=\"0x" + p.hexColor + "ff\"";
    }
    x += ">\n        <name>" + MarkupText(KdenliveLabel(p).c_str()) + "</name>\n    </parameter>";
  }
  return x;
}

// Shotcut's keyframes: the numbers' names, and one Parameter per number.
std::string SimpleProperties(const EditorParam* params, int count) {
  std::string simple;
  for (int i = 0; i < count; ++i) {
    if (std::string(params[i].type) != "number") continue;
    simple += std::string(simple.empty() ? "" : ", ") + QmlString(params[i].row->name);
  }
  return simple;
}

std::string KeyframeParameters(const EditorParam* params, int count) {
  std::string list;
  for (int i = 0; i < count; ++i) {
    const EditorParam& p = params[i];
    if (std::string(p.type) != "number") continue;
    const std::string name = QmlString(p.row->name);
    list += std::string(list.empty() ? "" : ",\n") +
            "            Parameter {\n"
            "                name: qsTr(" + name + ")\n"
            "                property: " + name + "\n"
            "                isCurve: true\n"
            "                minimum: 0\n"
            "                maximum: 1\n"
            "            }";
  }
  return list;
}

// The panel's list: MLT property name, label, kind, scale, default, colour,
// decimals, suffix and the text of a 0 of each parameter.
std::string PanelParams(const EditorParam* params, int count) {
  std::string list;
  for (int i = 0; i < count; ++i) {
    const EditorParam& p = params[i];
    const std::string name = QmlString(p.row->name);
    list += std::string(list.empty() ? "" : ",\n") + "        { name: " + name + ", label: qsTr(" + name +
            "), type: '" + p.type + "', scale: " +
            Number(p.scale) + ", value: " + Number(p.value) + ", color: '#" + p.hexColor +
            "', decimals: " + std::to_string(p.decimals) + ", suffix: " + QmlString(p.suffix) +
            ", zero: " + QmlString(p.zero) + " }";
  }
  return list;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TEMPLATE_DIR OUT_DIR\n", argv[0]);
    return 2;
  }
  EditorParam params[64];
  const int count = kFrei0rParamCount;
  if (count > 64) return 1;
  for (int i = 0; i < count; ++i) {
    if (!Describe(i, &params[i])) {
      std::fprintf(stderr, "make-editor-files: frei0r parameter %d has no editor form\n", i);
      return 1;
    }
  }
  const Fill kdenlive[] = {{"@DESCRIPTION@", MarkupText(kFilterDescription)},
                           {"@PARAMETERS@", KdenliveRows(params, count)}};
  const Fill meta[] = {{"@SIMPLE_PROPERTIES@", SimpleProperties(params, count)},
                       {"@KEYFRAME_PARAMETERS@", KeyframeParameters(params, count)}};
  const Fill ui[] = {{"@PARAMS@", PanelParams(params, count)}};
  const std::string in = argv[1];
  std::string xml, metaQml, uiQml;
  if (!FillTemplate(kTool, in + "/frei0r_patinex.xml.in", kdenlive, 2, &xml) ||
      !FillTemplate(kTool, in + "/meta.qml.in", meta, 2, &metaQml) ||
      !FillTemplate(kTool, in + "/ui.qml.in", ui, 1, &uiQml)) {
    return 1;
  }
  const std::string out = argv[2];
  for (const char* dir : {"", "/kdenlive", "/shotcut", "/shotcut/patinex"}) {
    mkdir((out + dir).c_str(), 0755);
  }
  const bool ok = WriteFile(kTool, out + "/kdenlive/frei0r_patinex.xml", xml) &&
                  WriteFile(kTool, out + "/shotcut/patinex/meta.qml", metaQml) &&
                  WriteFile(kTool, out + "/shotcut/patinex/ui.qml", uiQml);
  return ok ? 0 : 1;
}
