#include "host/InfoReport.h"

#include <cstdlib>
#include <vector>

#include "host/EditorWindow.h"
#include "host/GuardedText.h"
#include "io/Json.h"

using namespace kelvatone::vst;

namespace kelvatone::host {
namespace {

constexpr const char* kMidiCapability = "receiveVstMidiEvent";

// The four characters of a unique ID, most significant byte first.
std::string fourCharacterText(int32_t id) {
    const auto bits = static_cast<uint32_t>(id);
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += static_cast<char>((bits >> shift) & 0xFFu);
    }
    return text;
}

// Asks the effect for one short text through a guarded buffer; an overrun is added
// to `warnings`.
std::string queryShortText(EffectInstance& instance, int32_t opcode, int32_t index,
                           const char* what, std::vector<std::string>& warnings) {
    GuardedText buffer;
    instance.dispatch(opcode, index, 0, buffer.data());
    if (buffer.overran()) {
        warnings.push_back(buffer.overrunWarning("parameter " + std::to_string(index) + " " + what +
                                                 " (opcode " + std::to_string(opcode) + ")"));
    }
    return buffer.text();
}

void writeEditorRect(io::JsonWriter& json, EffectInstance& instance,
                     std::vector<std::string>& warnings) {
    json.key("editorRect");
    ERect* rect = nullptr;
    if ((instance.effect()->flags & effFlagsHasEditor) != 0) {
        // Linux modules build their editor on an X display to measure it, and some
        // crash when there is none; without a display the rectangle is not asked for.
        if (editorDisplayAvailable()) {
            instance.dispatch(effEditGetRect, 0, 0, &rect);
        } else {
            warnings.push_back("editor rectangle not asked for: no X display ($DISPLAY is not "
                               "set; run under xvfb-run -a to see it)");
        }
    }
    if (rect == nullptr) {
        json.null();
        return;
    }
    json.beginObject();
    json.key("top");
    json.value(int64_t{rect->top});
    json.key("left");
    json.value(int64_t{rect->left});
    json.key("bottom");
    json.value(int64_t{rect->bottom});
    json.key("right");
    json.value(int64_t{rect->right});
    json.endObject();
}

void writeParameters(io::JsonWriter& json, EffectInstance& instance,
                     std::vector<std::string>& warnings) {
    AEffect* effect = instance.effect();
    json.key("parameters");
    json.beginArray();
    for (int32_t index = 0; index < effect->numParams; ++index) {
        json.beginObject();
        json.key("index");
        json.value(int64_t{index});
        json.key("name");
        json.value(queryShortText(instance, effGetParamName, index, "name", warnings));
        json.key("display");
        json.value(queryShortText(instance, effGetParamDisplay, index, "display", warnings));
        json.key("label");
        json.value(queryShortText(instance, effGetParamLabel, index, "label", warnings));
        json.key("value");
        if (effect->getParameter != nullptr) {
            json.value(effect->getParameter(effect, index));
        } else {
            json.null();
        }
        json.endObject();
    }
    json.endArray();
}

} // namespace

std::string buildInfoReport(EffectInstance& instance) {
    AEffect* effect = instance.effect();
    instance.dispatch(effOpen);
    std::vector<std::string> warnings;
    if (effect->getParameter == nullptr && effect->numParams > 0) {
        warnings.push_back("the effect has parameters but no getParameter function");
    }

    io::JsonWriter json;
    json.beginObject();
    const std::pair<const char*, int32_t> counts[] = {
        {"magic", effect->magic},
        {"flags", effect->flags},
        {"numPrograms", effect->numPrograms},
        {"numParams", effect->numParams},
        {"numInputs", effect->numInputs},
        {"numOutputs", effect->numOutputs},
        {"uniqueID", effect->uniqueID},
    };
    for (const auto& [name, number] : counts) {
        json.key(name);
        json.value(int64_t{number});
    }
    json.key("uniqueIDText");
    json.value(fourCharacterText(effect->uniqueID));
    json.key("version");
    json.value(int64_t{effect->version});
    json.key("initialDelay");
    json.value(int64_t{effect->initialDelay});
    json.key("vstVersion");
    json.value(static_cast<int64_t>(instance.dispatch(effGetVstVersion)));
    json.key("category");
    json.value(static_cast<int64_t>(instance.dispatch(effGetPlugCategory)));
    json.key("canDo");
    json.beginObject();
    json.key(kMidiCapability);
    // A writable copy: the module gets a plain char pointer.
    char capability[sizeof "receiveVstMidiEvent"] = "receiveVstMidiEvent";
    json.value(static_cast<int64_t>(instance.dispatch(effCanDo, 0, 0, capability)));
    json.endObject();
    writeEditorRect(json, instance, warnings);
    writeParameters(json, instance, warnings);
    json.key("warnings");
    json.beginArray();
    for (const std::string& warning : warnings) {
        json.value(warning);
    }
    json.endArray();
    json.endObject();
    return json.finish();
}

} // namespace kelvatone::host
