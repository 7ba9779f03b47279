// processReplacing with arbitrary block sizes (from negative up to just past 8192),
// separate or in-place buffers, any audio including NaN, infinities and denormals,
// each frame length, and sample-rate announcements between blocks. The output must
// equal the input bit for bit, and a block of no frames must write nothing.
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzEffect.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <vector>

using namespace kelvatone::fuzz;
using namespace kelvatone::plugin;
using namespace kelvatone::testsupport;
using namespace kelvatone::vst;

namespace {

constexpr int32_t kMinBlockFrames = -4;
constexpr int32_t kMaxBlockFrames = 8193;
constexpr size_t kMaxBlocks = 4;
// Frames handed over for a block of no frames, to see that none is written.
constexpr size_t kEmptyBlockFrames = 16;
constexpr uint32_t kUntouchedBits = 0x7FA5A5A5; // a NaN no copy of ours produces

// Resolution values giving frame lengths of 8192, 4096 and 2048 samples.
constexpr float kResolutionChoices[] = {0.0f, 0.5f, 1.0f};
constexpr float kAnnouncedRates[] = {22050.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f, 192000.0f};

// The input's audio, handed out cyclically so that short inputs still fill long blocks.
class SamplePool {
public:
    explicit SamplePool(std::vector<uint8_t> bytes) {
        samples.resize(bytes.size() / sizeof(float));
        if (samples.empty())
            samples.push_back(0.0f);
        else
            std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    }
    float next() {
        const float sample = samples[position];
        position = (position + 1) % samples.size();
        return sample;
    }

private:
    std::vector<float> samples;
    size_t position = 0;
};

struct Block {
    int32_t frames = 0;
    bool inPlace = false;
    // 0: keep the rate; otherwise announce kAnnouncedRates[rateChoice - 1], or the
    // input's own bits for the last choice.
    size_t rateChoice = 0;
    float rawRate = 0.0f;
};

std::vector<float> untouchedBuffer(size_t frames) {
    std::vector<float> buffer(frames);
    for (float& sample : buffer)
        std::memcpy(&sample, &kUntouchedBits, sizeof(sample));
    return buffer;
}

void announceRate(Instance& host, const Block& block) {
    constexpr size_t kRateCount = sizeof(kAnnouncedRates) / sizeof(kAnnouncedRates[0]);
    if (block.rateChoice == 0)
        return;
    const float rate =
        block.rateChoice <= kRateCount ? kAnnouncedRates[block.rateChoice - 1] : block.rawRate;
    host.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
}

void processBlock(Instance& host, const Block& block, SamplePool& pool) {
    announceRate(host, block);
    const size_t frames = block.frames > 0 ? static_cast<size_t>(block.frames) : kEmptyBlockFrames;
    std::vector<float> left(frames), right(frames);
    for (size_t i = 0; i < frames; ++i) {
        left[i] = pool.next();
        right[i] = pool.next();
    }
    const std::vector<float> sentLeft = left, sentRight = right;
    std::vector<float> outLeft = untouchedBuffer(frames), outRight = untouchedBuffer(frames);
    float* inputs[] = {left.data(), right.data()};
    float* outputs[] = {outLeft.data(), outRight.data()};
    if (block.inPlace) {
        outputs[0] = left.data();
        outputs[1] = right.data();
    }
    host.effect->processReplacing(host.effect, inputs, outputs, block.frames);

    require(sameBits(left, sentLeft) && sameBits(right, sentRight),
            "the input buffers changed (or an in-place block changed its audio)");
    if (block.inPlace)
        return;
    if (block.frames > 0)
        require(sameBits(outLeft, sentLeft) && sameBits(outRight, sentRight),
                "the output differs from the input");
    else
        require(sameBits(outLeft, untouchedBuffer(frames)) &&
                    sameBits(outRight, untouchedBuffer(frames)),
                "a block of no frames wrote output");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kRateChoices = sizeof(kAnnouncedRates) / sizeof(kAnnouncedRates[0]) + 2;
    FuzzedDataProvider input(data, size);
    const float resolution = kResolutionChoices[input.ConsumeIntegralInRange<size_t>(0, 2)];
    std::vector<Block> blocks(input.ConsumeIntegralInRange<size_t>(1, kMaxBlocks));
    for (Block& block : blocks) {
        block.frames = input.ConsumeIntegralInRange<int32_t>(kMinBlockFrames, kMaxBlockFrames);
        block.inPlace = input.ConsumeBool();
        block.rateChoice = input.ConsumeIntegralInRange<size_t>(0, kRateChoices - 1);
        const uint32_t bits = input.ConsumeIntegral<uint32_t>();
        std::memcpy(&block.rawRate, &bits, sizeof(block.rawRate));
    }
    SamplePool pool(input.ConsumeRemainingBytes<uint8_t>());

    Instance host = openEffect();
    host.effect->setParameter(host.effect, kResolution, resolution);
    host.dispatch(effMainsChanged, 0, 1);
    for (const Block& block : blocks)
        processBlock(host, block, pool);
    host.dispatch(effMainsChanged, 0, 0);
    return 0;
}
