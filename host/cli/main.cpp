// kelvatone-host: a command-line VST 2.4 host. `info` describes a module, `run`
// processes an audio file through it, `validate` tests it. Every failure is one line on stderr and
// exit status 2.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/CommandLine.h"
#include "host/EditorHost.h"
#include "host/EditorWindow.h"
#include "host/InfoReport.h"
#include "host/ModuleLoader.h"
#include "host/Session.h"
#include "host/validate/ValidateCommandLine.h"
#include "host/validate/Validation.h"
#include "io/AudioFile.h"
#include "io/MidiFile.h"

namespace {

using namespace kelvatone::host;
using namespace kelvatone::io;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 2;

int fail(const std::string& message) {
    std::fprintf(stderr, "kelvatone-host: %s\n", message.c_str());
    return kExitFailure;
}

// A loaded module and one instance of its effect. The library comes first, so that it
// is unloaded only after the instance is gone.
struct LoadedEffect {
    std::unique_ptr<ModuleLibrary> library;
    std::unique_ptr<EffectInstance> instance;
};

// Loads the module at `path` and creates its effect; false, with `error` saying why,
// when either fails.
bool loadEffect(const std::string& path, LoadedEffect& loaded, std::string& error) {
    loaded.library = ModuleLibrary::open(path, error);
    if (loaded.library == nullptr)
        return false;
    loaded.instance = EffectInstance::create(*loaded.library, error);
    return loaded.instance != nullptr;
}

int runInfo(const CommandLine& command) {
    std::string error;
    LoadedEffect loaded;
    if (!loadEffect(command.module, loaded, error)) {
        return fail(error);
    }
    auto& instance = loaded.instance;
    const std::string report = buildInfoReport(*instance);
    instance->close();
    std::fputs(report.c_str(), stdout);
    return kExitSuccess;
}

int runProcess(const CommandLine& command) {
    std::string error;
    AudioData input;
    if (!readAudioFile(command.input, input, error)) {
        return fail(error);
    }
    MidiFileContents midi;
    if (!command.midi.empty() && !readMidiFile(command.midi, midi, error)) {
        return fail(error);
    }
    LoadedEffect loaded;
    if (!loadEffect(command.module, loaded, error)) {
        return fail(error);
    }
    auto& instance = loaded.instance;
    Session session(*instance, std::move(input), command.settings);
    if (!session.prepare(error)) {
        return fail(error);
    }
    std::unique_ptr<EditorHost> editor;
    if (!command.checkpoints.empty()) {
        editor = EditorHost::open(*instance, error);
        if (editor == nullptr) {
            return fail(error);
        }
    }
    RunReport report;
    const bool processed =
        session.process(midi.notes, command.checkpoints, editor.get(), report, error);
    editor.reset();
    if (!processed) {
        return fail(error);
    }
    std::printf("%s\n", summaryLine(report).c_str());
    session.finish();
    instance->close();
    if (!command.output.empty() && !writeFloatWav(command.output, report.output, error)) {
        return fail(error);
    }
    return kExitSuccess;
}

// The validator reads its own options: an option error is reported as the host's are.
int runValidate(const CommandLine& command) {
    validate::ValidateOptions options;
    std::string error;
    if (!validate::parseValidateOptions(command.module, command.validateArguments, options,
                                        error)) {
        return fail(error);
    }
    return validate::runValidation(options);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    CommandLine command;
    std::string error;
    if (!parseCommandLine(arguments, command, error)) {
        return fail(error);
    }
    switch (command.action) {
    case CommandLine::Action::Help:
        std::fputs(usageText().c_str(), stdout);
        return kExitSuccess;
    case CommandLine::Action::Info:
        return runInfo(command);
    case CommandLine::Action::Run:
        return runProcess(command);
    case CommandLine::Action::Validate:
        return runValidate(command);
    }
    return kExitFailure;
}
