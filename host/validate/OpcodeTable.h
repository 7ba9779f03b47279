// What the host passes as the pointer (and, for a few opcodes, as the value) of every
// dispatcher opcode from -1 to 80 when it sweeps them during validation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvatone::host::validate {

enum class PointerUse {
    None,       // no pointer: null and a valid scratch block are both fair
    TextOut,    // a text buffer the module fills; its documented length is checked
    TextIn,     // a text the module reads
    Scratch,    // a record the module fills or reads: a zeroed block
    Events,     // a VstEvents list (empty)
    Speakers,   // value and ptr are speaker arrangements
    PointerOut, // ptr (and for 69 value) is the address of a pointer the module sets
    Skipped,    // effClose and the editor opcodes: exercised by their own tests
};

struct OpcodeUse {
    int32_t opcode;
    PointerUse use;
    size_t textLength; // TextOut: documented characters, without the zero
};

constexpr int32_t kFirstSweptOpcode = -1;
constexpr int32_t kLastSweptOpcode = 80;
// Short texts: parameter names, labels and displays.
constexpr size_t kShortText = 8;
// Program names.
constexpr size_t kProgramNameText = 24;
// Effect names.
constexpr size_t kEffectNameText = 32;
// Vendor and product strings, shell plug-in names.
constexpr size_t kVendorText = 64;

constexpr OpcodeUse kOpcodeUses[] = {
    {-1, PointerUse::None, 0},
    {0, PointerUse::None, 0},                   // effOpen
    {1, PointerUse::Skipped, 0},                // effClose
    {2, PointerUse::None, 0},                   // effSetProgram
    {3, PointerUse::None, 0},                   // effGetProgram
    {4, PointerUse::TextIn, 0},                 // effSetProgramName
    {5, PointerUse::TextOut, kProgramNameText}, // effGetProgramName
    {6, PointerUse::TextOut, kShortText},       // effGetParamLabel
    {7, PointerUse::TextOut, kShortText},       // effGetParamDisplay
    {8, PointerUse::TextOut, kShortText},       // effGetParamName
    {9, PointerUse::None, 0},
    {10, PointerUse::None, 0},    // effSetSampleRate
    {11, PointerUse::None, 0},    // effSetBlockSize
    {12, PointerUse::None, 0},    // effMainsChanged
    {13, PointerUse::Skipped, 0}, // effEditGetRect
    {14, PointerUse::Skipped, 0}, // effEditOpen
    {15, PointerUse::Skipped, 0}, // effEditClose
    {16, PointerUse::None, 0},
    {17, PointerUse::None, 0},
    {18, PointerUse::None, 0},
    {19, PointerUse::None, 0}, // effEditIdle
    {20, PointerUse::None, 0},
    {21, PointerUse::None, 0},
    {22, PointerUse::None, 0},       // effIdentify
    {23, PointerUse::PointerOut, 0}, // effGetChunk
    {24, PointerUse::Scratch, 0},    // effSetChunk (value 0: no bytes)
    {25, PointerUse::Events, 0},     // effProcessEvents
    {26, PointerUse::None, 0},       // effCanBeAutomated
    {27, PointerUse::TextIn, 0},     // effString2Parameter
    {28, PointerUse::Scratch, 0},
    {29, PointerUse::TextOut, kProgramNameText}, // effGetProgramNameIndexed
    {30, PointerUse::Scratch, 0},
    {31, PointerUse::Scratch, 0},
    {32, PointerUse::Scratch, 0},
    {33, PointerUse::Scratch, 0}, // effGetInputProperties
    {34, PointerUse::Scratch, 0}, // effGetOutputProperties
    {35, PointerUse::None, 0},    // effGetPlugCategory
    {36, PointerUse::Scratch, 0},
    {37, PointerUse::Scratch, 0},
    {38, PointerUse::Scratch, 0},  // effOfflineNotify
    {39, PointerUse::Scratch, 0},  // effOfflinePrepare
    {40, PointerUse::Scratch, 0},  // effOfflineRun
    {41, PointerUse::Scratch, 0},  // effProcessVarIo
    {42, PointerUse::Speakers, 0}, // effSetSpeakerArrangement
    {43, PointerUse::Scratch, 0},
    {44, PointerUse::None, 0},                  // effSetBypass
    {45, PointerUse::TextOut, kEffectNameText}, // effGetEffectName
    {46, PointerUse::Scratch, 0},
    {47, PointerUse::TextOut, kVendorText}, // effGetVendorString
    {48, PointerUse::TextOut, kVendorText}, // effGetProductString
    {49, PointerUse::None, 0},              // effGetVendorVersion
    {50, PointerUse::None, 0},              // effVendorSpecific
    {51, PointerUse::TextIn, 0},            // effCanDo
    {52, PointerUse::None, 0},              // effGetTailSize
    {53, PointerUse::Scratch, 0},
    {54, PointerUse::Scratch, 0},
    {55, PointerUse::Scratch, 0},
    {56, PointerUse::Scratch, 0}, // effGetParameterProperties
    {57, PointerUse::Scratch, 0},
    {58, PointerUse::None, 0},              // effGetVstVersion
    {59, PointerUse::None, 0},              // effEditKeyDown
    {60, PointerUse::None, 0},              // effEditKeyUp
    {61, PointerUse::None, 0},              // effSetEditKnobMode
    {62, PointerUse::Scratch, 0},           // effGetMidiProgramName
    {63, PointerUse::Scratch, 0},           // effGetCurrentMidiProgram
    {64, PointerUse::Scratch, 0},           // effGetMidiProgramCategory
    {65, PointerUse::None, 0},              // effHasMidiProgramsChanged
    {66, PointerUse::Scratch, 0},           // effGetMidiKeyName
    {67, PointerUse::None, 0},              // effBeginSetProgram
    {68, PointerUse::None, 0},              // effEndSetProgram
    {69, PointerUse::PointerOut, 0},        // effGetSpeakerArrangement
    {70, PointerUse::TextOut, kVendorText}, // effShellGetNextPlugin
    {71, PointerUse::None, 0},              // effStartProcess
    {72, PointerUse::None, 0},              // effStopProcess
    {73, PointerUse::None, 0},              // effSetTotalSampleToProcess
    {74, PointerUse::None, 0},              // effSetPanLaw
    {75, PointerUse::Scratch, 0},           // effBeginLoadBank
    {76, PointerUse::Scratch, 0},           // effBeginLoadProgram
    {77, PointerUse::None, 0},              // effSetProcessPrecision
    {78, PointerUse::None, 0},              // effGetNumMidiInputChannels
    {79, PointerUse::None, 0},              // effGetNumMidiOutputChannels
    {80, PointerUse::None, 0},
};

// One entry per opcode, in order, with no gap: the sweep indexes the table by opcode.
constexpr bool opcodeTableInOrder() {
    for (size_t i = 0; i < sizeof kOpcodeUses / sizeof kOpcodeUses[0]; ++i) {
        if (kOpcodeUses[i].opcode != kFirstSweptOpcode + static_cast<int32_t>(i)) {
            return false;
        }
    }
    return true;
}
static_assert(sizeof kOpcodeUses / sizeof kOpcodeUses[0] ==
              static_cast<size_t>(kLastSweptOpcode - kFirstSweptOpcode + 1));
static_assert(opcodeTableInOrder());

} // namespace kelvatone::host::validate
