// The descriptor the host tests' own VST 2.4 modules start from: a stereo effect with
// processReplacing, no programs and no parameters. Each module then sets its own counts,
// flags and identity.
#pragma once

#include "vst/AEffect.h"

namespace kelvatone::host::testing {

// The entry's thread, before the descriptor is handed to the host.
inline void describeStereoEffect(vst::AEffect& d, void* object,
                                 vst::AEffectDispatcherProc dispatcher,
                                 vst::AEffectSetParameterProc setParameter,
                                 vst::AEffectGetParameterProc getParameter,
                                 vst::AEffectProcessProc processReplacing) {
    d.magic = vst::kEffectMagic;
    d.dispatcher = dispatcher;
    d.setParameter = setParameter;
    d.getParameter = getParameter;
    d.processReplacing = processReplacing;
    d.numPrograms = 0;
    d.numParams = 0;
    d.numInputs = 2;
    d.numOutputs = 2;
    d.flags = vst::effFlagsCanReplacing;
    d.ioRatio = 1.0f;
    d.object = object;
}

} // namespace kelvatone::host::testing
