// The `info` report: everything a host can learn about an effect without processing
// audio, as one JSON object.
#pragma once

#include <string>

#include "host/ModuleLoader.h"

namespace kelvatone::host {

// UI thread. Sends effOpen, queries the effect and returns the JSON document. The
// instance stays open; the caller closes it.
std::string buildInfoReport(EffectInstance& instance);

} // namespace kelvatone::host
