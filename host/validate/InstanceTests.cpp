// Many instances in one process, as a session with many tracks has them: sixteen
// instances, each with its editor open, all processed by one audio thread while the
// UI thread closes and reopens their editors in mixed order. Every instance must keep
// its own history; for our module, the one setting all instances share (which octave
// 440 Hz is named) must change the texts and pictures of every instance at once.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <numeric>
#include <thread>

#include "host/GuardedText.h"
#include "host/HostCallback.h"
#include "host/validate/AudioRig.h"
#include "host/validate/AudioThread.h"
#include "host/validate/EditorHosting.h"
#include "host/validate/KelvatonePicture.h"
#include "host/validate/Problems.h"
#include "host/validate/Validation.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int kInstances = 16;
constexpr int32_t kInstanceBlock = 512;
constexpr auto kMixedDuration = std::chrono::milliseconds(1500);
// How long a raised window gets to repaint what was covered.
constexpr auto kRepaintTime = std::chrono::milliseconds(60);
constexpr float kToneLevel = 0.5f;
// How often the pictures are read before a display that has not renamed its note fails.
constexpr int kNamingReads = 4;
// What instance k plays: the tone of group k % 4, or silence where that is 0 Hz.
constexpr float kGroupTones[] = {220.0f, 0.0f, 330.0f, 0.0f};
constexpr int kGroups = 4;
constexpr int kLookedAtColumns = 8;
constexpr int kTracedColumnsNeeded = 4;
// Parameter values of our module's "440Hz=": A4 and A3, and the texts they give.
constexpr float kNameA4 = 1.0f;
constexpr float kNameA3 = 0.0f;

struct Track {
    std::unique_ptr<EffectInstance> instance;
    std::unique_ptr<AudioRig> rig;
    std::unique_ptr<EditorWindow> window;
    bool open = false;
    float tone = 0.0f;
    int64_t position = 0;
};

std::string displayText(EffectInstance& instance, int32_t index) {
    GuardedText text;
    instance.dispatch(effGetParamDisplay, index, 0, text.data());
    return std::string(text.data(), strnlen(text.data(), GuardedText::kCapacity));
}

void openEditor(Track& track) {
    track.instance->dispatch(effEditOpen, 0, 0, track.window->parentHandle());
    track.open = true;
}

void closeEditor(Track& track) {
    track.instance->dispatch(effEditClose);
    track.window->pumpEvents();
    track.open = false;
}

void pumpAll(std::vector<Track>& tracks) {
    for (Track& track : tracks) {
        track.window->pumpEvents();
        if (track.open) {
            track.instance->dispatch(effEditIdle);
        }
    }
}

// Audio thread: one block for every track, in turn.
std::string processRound(std::vector<Track>& tracks, std::mt19937_64& random, bool passThrough) {
    std::string problem;
    for (Track& track : tracks) {
        if (track.tone > 0.0f) {
            track.rig->fillTone(track.tone, kDefaultSampleRate, kToneLevel, track.position,
                                kInstanceBlock);
        } else {
            track.rig->fill(Signal::Silence, kInstanceBlock, random);
        }
        track.rig->process(track.instance->effect(), kInstanceBlock);
        track.position += kInstanceBlock;
        if (problem.empty()) {
            problem = track.rig->outputProblem(kInstanceBlock, false, passThrough);
        }
    }
    return problem;
}

// UI thread: the facts of every track's picture, after the editors have settled.
// The host windows overlap, so each is raised and repainted before it is read.
std::vector<PictureFacts> readPictures(std::vector<Track>& tracks, Problems& problems) {
    repeatFor(kPictureSettleTime, [&] {
        pumpAll(tracks);
        std::this_thread::sleep_for(kEventInterval);
    });
    std::vector<PictureFacts> facts;
    for (Track& track : tracks) {
        track.window->raise();
        repeatFor(kRepaintTime, [&] {
            pumpAll(tracks);
            std::this_thread::sleep_for(kEventInterval);
        });
        io::Image image;
        std::string error;
        if (!track.window->capture(image, error)) {
            problems.add(error);
        }
        facts.push_back(readPicture(image, kLookedAtColumns));
    }
    return facts;
}

// Each track shows its own audio: a trace and a note name for a tone, neither for
// silence; the same note name within a group, another in the other group.
void checkOwnHistories(const std::vector<Track>& tracks, const std::vector<PictureFacts>& facts,
                       const std::string& when, Problems& problems) {
    for (size_t k = 0; k < tracks.size(); ++k) {
        const bool tone = tracks[k].tone > 0.0f;
        const bool traced = facts[k].tracedColumns >= kTracedColumnsNeeded;
        if (tone != traced || tone != facts[k].hasNoteLabel()) {
            problems.add(
                when + ": instance " + std::to_string(k + 1) +
                (tone ? " plays a tone but shows no pitch" : " plays silence but shows a pitch"));
        }
        const size_t sameGroup = k % kGroups;
        if (tone && facts[k].noteLabel != facts[sameGroup].noteLabel) {
            problems.add(when + ": instance " + std::to_string(k + 1) +
                         " names another note than instance " + std::to_string(sameGroup + 1) +
                         ", which plays the same tone");
        }
    }
    if (facts[0].noteLabel == facts[2].noteLabel) {
        problems.add(when + ": instances playing 220 Hz and 330 Hz name the same note");
    }
}

// Our module: "440Hz=" set on one instance renames the octaves in all of them.
void checkSharedOctaveNaming(std::vector<Track>& tracks, const std::vector<PictureFacts>& before,
                             Validation& validation, Problems& problems) {
    struct Naming {
        float value;
        const char* reference;
        const char* lowestBegin;
    };
    for (const Naming naming : {Naming{kNameA3, "A3", "C0"}, Naming{kNameA4, "A4", "C1"}}) {
        const auto setter = static_cast<size_t>(validation.uniform(0, kInstances - 1));
        AEffect* effect = tracks[setter].instance->effect();
        effect->setParameter(effect, kKelvatoneReferencePitch, naming.value);
        // The lowest analysis range start, whose text shows the octave digit.
        for (Track& track : tracks) {
            AEffect* each = track.instance->effect();
            each->setParameter(each, kKelvatoneAnalysisBegin, 0.0f);
        }
        // A display notices the new names on its own window thread; on a loaded machine
        // some take longer than one settling time, so the pictures are read again (a
        // display that never renames still fails).
        auto renamedAsExpected = [&](const std::vector<PictureFacts>& pictures) {
            for (size_t k = 0; k < tracks.size(); ++k) {
                const bool expectRenamed = tracks[k].tone > 0.0f && naming.value == kNameA3;
                if ((pictures[k].noteLabel != before[k].noteLabel) != expectRenamed) {
                    return false;
                }
            }
            return true;
        };
        std::vector<PictureFacts> after = readPictures(tracks, problems);
        for (int read = 1; read < kNamingReads && !renamedAsExpected(after); ++read) {
            after = readPictures(tracks, problems);
        }
        for (size_t k = 0; k < tracks.size(); ++k) {
            const std::string reference =
                displayText(*tracks[k].instance, kKelvatoneReferencePitch);
            const std::string begin = displayText(*tracks[k].instance, kKelvatoneAnalysisBegin);
            if (reference != naming.reference || begin != naming.lowestBegin) {
                problems.add("440Hz= set to " + std::string(naming.reference) + " in instance " +
                             std::to_string(setter + 1) + ": instance " + std::to_string(k + 1) +
                             " shows " + reference + " and AnaBegin " + begin);
            }
            const bool renamed = after[k].noteLabel != before[k].noteLabel;
            const bool expectRenamed = tracks[k].tone > 0.0f && naming.value == kNameA3;
            if (renamed != expectRenamed) {
                problems.add("440Hz= set to " + std::string(naming.reference) + ": instance " +
                             std::to_string(k + 1) +
                             (expectRenamed ? " still names the old octave"
                                            : " names another note than before"));
            }
        }
    }
}

Outcome sixteenWithEditors(Validation& validation) {
    if (const char* reason = editorUnavailable(nullptr)) {
        return Outcome::pass(std::string("(skipped: ") + reason + ")");
    }
    std::vector<Track> tracks(kInstances);
    for (int k = 0; k < kInstances; ++k) {
        Track& track = tracks[static_cast<size_t>(k)];
        std::string error;
        track.instance = validation.instantiate(error);
        if (track.instance == nullptr) {
            return Outcome::fail("instance " + std::to_string(k + 1) + ": " + error);
        }
        if (const char* reason = editorUnavailable(track.instance->effect())) {
            return Outcome::pass(std::string("(skipped: ") + reason + ")");
        }
        EffectInstance& instance = *track.instance;
        switchOn(instance, kInstanceBlock);
        track.rig = std::make_unique<AudioRig>(instance.effect(), kInstanceBlock);
        track.tone = kGroupTones[k % kGroups];
        int width = 0, height = 0;
        track.window = hostWindow(instance, width, height, error);
        if (track.window == nullptr) {
            return Outcome::fail(error);
        }
    }
    const bool ours = isKelvatone(tracks[0].instance->effect());
    if (ours) {
        AEffect* effect = tracks[0].instance->effect();
        effect->setParameter(effect, kKelvatoneReferencePitch, kNameA4);
    }
    std::vector<size_t> order(tracks.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::shuffle(order.begin(), order.end(), validation.random());
    for (const size_t k : order) {
        openEditor(tracks[k]);
    }

    // Written by the UI thread, read by the audio thread.
    std::atomic<bool> stop{false};
    std::string audioProblem;
    long rounds = 0;
    std::mt19937_64 audioRandom(validation.random()());
    const bool passThrough = validation.passThrough();
    std::thread audio([&] {
        markAudioThread(true);
        while (!stop.load(std::memory_order_acquire)) {
            std::string problem = processRound(tracks, audioRandom, passThrough);
            if (audioProblem.empty()) {
                audioProblem = problem;
            }
            ++rounds;
        }
        markAudioThread(false);
    });
    int toggles = 0;
    repeatFor(validation.scaled(kMixedDuration), [&] {
        Track& track = tracks[static_cast<size_t>(validation.uniform(0, kInstances - 1))];
        if (track.open) {
            closeEditor(track);
        } else {
            openEditor(track);
        }
        ++toggles;
        pumpAll(tracks);
        std::this_thread::sleep_for(kEventInterval);
    });
    for (Track& track : tracks) {
        if (!track.open) {
            openEditor(track);
        }
    }
    // A few more rounds with every editor open, so each picture shows its own audio.
    repeatFor(kPictureSettleTime, [&] {
        pumpAll(tracks);
        std::this_thread::sleep_for(kEventInterval);
    });
    stop.store(true, std::memory_order_release);
    audio.join();

    Problems problems;
    if (!audioProblem.empty()) {
        problems.add("audio thread: " + audioProblem);
    }
    std::string note;
    if (ours) {
        const std::vector<PictureFacts> facts = readPictures(tracks, problems);
        checkOwnHistories(tracks, facts, "after the mixed openings", problems);
        checkSharedOctaveNaming(tracks, facts, validation, problems);
    } else {
        note = "; pictures not looked at: not our module";
    }
    std::shuffle(order.begin(), order.end(), validation.random());
    for (const size_t k : order) {
        closeEditor(tracks[k]);
        tracks[k].instance->dispatch(effMainsChanged, 0, 0);
        tracks[k].instance->close();
    }
    return problems.outcome("(" + std::to_string(rounds) +
                            " rounds of 16 blocks on one audio thread, " + std::to_string(toggles) +
                            " editor closings and openings" + note + ")");
}

} // namespace

void addInstanceTests(std::vector<TestCase>& tests) {
    tests.push_back({"instances.sixteen-with-editors", sixteenWithEditors});
}

} // namespace kelvatone::host::validate
