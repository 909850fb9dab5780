// Writes the video editors' descriptions of the frei0r filter from the
// parameter table, at build time, so that they can never disagree with it:
//
//   make-editor-files OUT_DIR
//     OUT_DIR/kdenlive/frei0r_patinex.xml     Kdenlive's effect description
//     OUT_DIR/shotcut/patinex/meta.qml        Shotcut's filter entry
//     OUT_DIR/shotcut/patinex/ui.qml          Shotcut's filter panel
//
// Both editors store a parameter by its frei0r name, with its value in 0..1;
// the descriptions show it in the dialog's units: a number as low + value x
// (high - low) (0..100 for the amounts, frames per second, the seed number), a
// colour with the editor's colour picker, a switch as a check box. Every number
// can be keyframed (MLT animates frei0r's numbers). The frei0r explanations are
// written in frei0r's 0..1 and so are not shown here.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "frei0r/Frei0rParams.h"
#include "host/ParamTable.h"

namespace {

const char kService[] = "frei0r.patinex";

// The shortest plain decimal text of a double that reads back as the same
// value ("100", "0.45"), else all its digits.
std::string Number(double v) {
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

std::string XmlText(const char* s) {
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
};

bool Describe(int index, EditorParam* p) {
  const ParamRow* row = Frei0rParam(index);
  if (row == nullptr) return false;
  *p = EditorParam{row, "number", 1.0, 0.0, "", 0, ""};
  switch (row->kind) {
    case kValueParam:
      // The editors scale without an offset: every frei0r number starts at 0.
      if (row->low != 0.0 || !(row->high > 0.0)) return false;
      p->scale = row->high;
      p->value = row->defaults[0] / row->high;
      p->decimals = row->wholeNumbers ? 0 : 1;
      if (row == &kParamRows[kFilmFrameRateRow]) p->suffix = " fps";
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

std::string KdenliveXml(const EditorParam* params, int count) {
  std::string x =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE kpartgui>\n"
      "<!-- Made by make-editor-files from the parameter table: do not edit. -->\n"
      "<effect LC_NUMERIC=\"C\" tag=\"" + std::string(kService) + "\" id=\"" + kService + "\">\n"
      "    <name>Patinex</name>\n"
      "    <description>" + XmlText(kFilterDescription) + "</description>\n"
      "    <author>Lumivex</author>\n";
  for (int i = 0; i < count; ++i) {
    const EditorParam& p = params[i];
    const std::string name = XmlText(p.row->name);
    x += "    <parameter ";
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
    x += ">\n        <name>" + name + "</name>\n    </parameter>\n";
  }
  return x + "</effect>\n";
}

std::string ShotcutMeta(const EditorParam* params, int count) {
  std::string simple, list;
  for (int i = 0; i < count; ++i) {
    const EditorParam& p = params[i];
    if (std::string(p.type) != "number") continue;
    const std::string name = QmlString(p.row->name);
    simple += std::string(simple.empty() ? "" : ", ") + name;
    list += std::string(list.empty() ? "" : ",\n") +
            "            Parameter {\n"
            "                name: qsTr(" + name + ")\n"
            "                property: " + name + "\n"
            "                isCurve: true\n"
            "                minimum: 0\n"
            "                maximum: 1\n"
            "            }";
  }
  return "// Made by make-editor-files from the parameter table: do not edit.\n"
         "import QtQuick 2.0\n"
         "import org.shotcut.qml 1.0\n\n"
         "Metadata {\n"
         "    type: Metadata.Filter\n"
         "    name: qsTr('Patinex')\n"
         "    keywords: qsTr('old film scratches dust grain flicker sepia', 'search keywords') + ' patinex'\n"
         "    mlt_service: '" + std::string(kService) + "'\n"
         "    qml: 'ui.qml'\n\n"
         "    keyframes {\n"
         "        allowAnimateIn: true\n"
         "        allowAnimateOut: true\n"
         "        simpleProperties: [" + simple + "]\n"
         "        parameters: [\n" + list + "\n        ]\n"
         "    }\n"
         "}\n";
}

// The panel: one row per parameter, built by a Repeater from the list below.
// Numbers are SliderSpinners with a keyframes button, in the dialog's units.
// An id here is seen by Shotcut's own controls inside the panel, before the
// names Shotcut gives every panel (filter, producer, keyframes, parameters,
// metadata, application, settings, profile, video ...): KeyframesButton calls
// keyframes.show(), so an id `keyframes` would break every keyframe button.
// make check-editors compares these ids with the names Shotcut's panels use.
const char kShotcutUiBody[] = R"QML(
    keyframableParameters: numberNames()
    startValues: numberDefaults()
    middleValues: numberDefaults()
    endValues: numberDefaults()
    width: 400
    height: rows.implicitHeight + 16

    function numberNames() {
        return params.filter(function (p) { return p.type === 'number'; }).map(function (p) { return p.name; });
    }
    function numberDefaults() {
        return params.filter(function (p) { return p.type === 'number'; }).map(function (p) { return p.value; });
    }
    function allNames() {
        return params.map(function (p) { return p.name; });
    }
    function setDefaults() {
        for (var i = 0; i < params.length; ++i) {
            var p = params[i];
            filter.set(p.name, p.type === 'color' ? p.color : p.value);
        }
    }
    function setControls() {
        blockUpdate = true;
        for (var i = 0; i < repeater.count; ++i)
            repeater.itemAt(i).load();
        blockUpdate = false;
    }
    function updateSimpleKeyframes() {
        setControls();
        for (var i = 0; i < repeater.count; ++i)
            repeater.itemAt(i).store();
    }

    Component.onCompleted: {
        if (filter.isNew) {
            setDefaults();
            filter.savePreset(allNames());
        }
        setControls();
    }

    ColumnLayout {
        id: rows

        anchors.fill: parent
        anchors.margins: 8

        RowLayout {
            Label {
                text: qsTr('Preset')
                horizontalAlignment: Text.AlignRight
                Layout.preferredWidth: 130
            }
            Shotcut.Preset {
                id: preset

                parameters: allNames()
                Layout.fillWidth: true
                onBeforePresetLoaded: resetSimpleKeyframes()
                onPresetSelected: {
                    setControls();
                    initializeSimpleKeyframes();
                }
            }
        }

        Repeater {
            id: repeater

            model: params

            RowLayout {
                id: row

                property var p: modelData

                function load() {
                    if (p.type === 'number')
                        slider.value = filter.getDouble(p.name, getPosition()) * p.scale;
                    else if (p.type === 'color')
                        picker.value = filter.get(p.name);
                    else
                        check.checked = filter.getDouble(p.name) >= 0.5;
                    if (p.type === 'number')
                        keyframesButton.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount(p.name) > 0;
                }
                function store() {
                    if (p.type === 'number')
                        updateFilter(p.name, slider.value / p.scale, keyframesButton, null);
                }

                Label {
                    text: p.label
                    horizontalAlignment: Text.AlignRight
                    Layout.preferredWidth: 130
                }
                Shotcut.SliderSpinner {
                    id: slider

                    visible: p.type === 'number'
                    minimumValue: 0
                    maximumValue: p.scale
                    decimals: p.decimals
                    stepSize: p.decimals > 0 ? 0.1 : 1
                    suffix: p.suffix
                    Layout.fillWidth: true
                    onValueChanged: if (p.type === 'number') updateFilter(p.name, value / p.scale, keyframesButton, getPosition())
                }
                Shotcut.ColorPicker {
                    id: picker

                    visible: p.type === 'color'
                    onValueChanged: if (p.type === 'color' && !blockUpdate) filter.set(p.name, value)
                }
                CheckBox {
                    id: check

                    visible: p.type === 'switch'
                    onCheckedChanged: if (p.type === 'switch' && !blockUpdate) filter.set(p.name, checked ? 1 : 0)
                }
                Item {
                    visible: p.type !== 'number'
                    Layout.fillWidth: true
                }
                Shotcut.UndoButton {
                    onClicked: {
                        if (p.type === 'number')
                            slider.value = p.value * p.scale;
                        else if (p.type === 'color')
                            picker.value = p.color;
                        else
                            check.checked = p.value >= 0.5;
                    }
                }
                Shotcut.KeyframesButton {
                    id: keyframesButton

                    opacity: p.type === 'number' ? 1 : 0
                    enabled: p.type === 'number'
                    onToggled: toggleKeyframes(checked, p.name, slider.value / p.scale)
                }
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        function onChanged() { setControls(); }
        function onInChanged() { updateSimpleKeyframes(); }
        function onOutChanged() { updateSimpleKeyframes(); }
        function onAnimateInChanged() { updateSimpleKeyframes(); }
        function onAnimateOutChanged() { updateSimpleKeyframes(); }
        function onPropertyChanged(name) { setControls(); }

        target: filter
    }

    Connections {
        function onPositionChanged() { setControls(); }

        target: producer
    }
}
)QML";

std::string ShotcutUi(const EditorParam* params, int count) {
  std::string list;
  for (int i = 0; i < count; ++i) {
    const EditorParam& p = params[i];
    const std::string name = QmlString(p.row->name);
    list += std::string(list.empty() ? "" : ",\n") + "        { name: " + name + ", label: qsTr(" + name +
            "), type: '" + p.type + "', scale: " +
            Number(p.scale) + ", value: " + Number(p.value) + ", color: '#" + p.hexColor +
            "', decimals: " + std::to_string(p.decimals) + ", suffix: " + QmlString(p.suffix) + " }";
  }
  return "// Made by make-editor-files from the parameter table: do not edit.\n"
         "import QtQuick 2.12\n"
         "import QtQuick.Controls 2.12\n"
         "import QtQuick.Layouts 1.12\n"
         "import Shotcut.Controls 1.0 as Shotcut\n\n"
         "Shotcut.KeyframableFilter {\n"
         "    // The frei0r parameters in their order: MLT property name, label, kind;\n"
         "    // a number shows value x scale; value is the default in 0..1.\n"
         "    property var params: [\n" + list + "\n    ]\n" + kShotcutUiBody;
}

bool WriteFile(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "make-editor-files: cannot write %s\n", path.c_str());
    return false;
  }
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
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
  const std::string out = argv[1];
  for (const char* dir : {"", "/kdenlive", "/shotcut", "/shotcut/patinex"}) {
    mkdir((out + dir).c_str(), 0755);
  }
  const bool ok = WriteFile(out + "/kdenlive/frei0r_patinex.xml", KdenliveXml(params, count)) &&
                  WriteFile(out + "/shotcut/patinex/meta.qml", ShotcutMeta(params, count)) &&
                  WriteFile(out + "/shotcut/patinex/ui.qml", ShotcutUi(params, count));
  return ok ? 0 : 1;
}
