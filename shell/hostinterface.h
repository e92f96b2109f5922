// The binary interface between a VST 2.x host and this plug-in: the effect record the host reads
// and calls through, the opcodes it sends, and the opcodes of its callback.
//
// Layout is the natural C layout of the record: 32-bit fields stay 32 bits wide and pointer
// fields are pointer-sized, which gives the 144-byte record on 32-bit targets.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define HALVERN_CALLBACK __cdecl
#else
#define HALVERN_CALLBACK
#endif

typedef int32_t VstInt32;
typedef intptr_t VstIntPtr;

struct AEffect;

typedef VstIntPtr(HALVERN_CALLBACK* audioMasterCallback)(AEffect* effect, VstInt32 opcode,
                                                         VstInt32 index, VstIntPtr value,
                                                         void* ptr, float opt);
typedef VstIntPtr(HALVERN_CALLBACK* AEffectDispatcherProc)(AEffect* effect, VstInt32 opcode,
                                                           VstInt32 index, VstIntPtr value,
                                                           void* ptr, float opt);
typedef void(HALVERN_CALLBACK* AEffectProcessProc)(AEffect* effect, float** inputs,
                                                   float** outputs, VstInt32 sampleFrames);
typedef void(HALVERN_CALLBACK* AEffectProcessDoubleProc)(AEffect* effect, double** inputs,
                                                         double** outputs, VstInt32 sampleFrames);
typedef void(HALVERN_CALLBACK* AEffectSetParameterProc)(AEffect* effect, VstInt32 index,
                                                        float value);
typedef float(HALVERN_CALLBACK* AEffectGetParameterProc)(AEffect* effect, VstInt32 index);

// 'VstP' with the first character in the most significant byte.
constexpr VstInt32 kEffectMagic = 0x56737450;

enum EffectFlags : VstInt32
{
    effFlagsHasEditor = 1 << 0,
    effFlagsCanReplacing = 1 << 4,
    effFlagsIsSynth = 1 << 8,
    effFlagsCanDoubleReplacing = 1 << 12,
};

struct AEffect
{
    VstInt32 magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process; // obsolete accumulating process
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags;
    VstIntPtr reserved1;
    VstIntPtr reserved2;
    VstInt32 initialDelay; // samples
    VstInt32 realQualities; // obsolete
    VstInt32 offQualities;  // obsolete
    float ioRatio;
    void* object;
    void* user;
    VstInt32 uniqueID;
    VstInt32 version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(AEffect) == 144, "the effect record must be 144 bytes on 32-bit Windows");
#endif
static_assert(offsetof(AEffect, magic) == 0, "record layout");

// Opcodes the host sends to the dispatcher.
enum EffectOpcodes : VstInt32
{
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effSetProgramName = 4,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effGetVu = 9, // obsolete
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditIdle = 19,
    effIdentify = 22,
    effGetChunk = 23,
    effSetChunk = 24,
    effProcessEvents = 25,
    effCanBeAutomated = 26,
    effString2Parameter = 27,
    effGetProgramNameIndexed = 29,
    effGetInputProperties = 33,
    effGetOutputProperties = 34,
    effGetPlugCategory = 35,
    effOfflineNotify = 38,
    effOfflinePrepare = 39,
    effOfflineRun = 40,
    effProcessVarIo = 41,
    effSetSpeakerArrangement = 42,
    effSetBypass = 44,
    effGetEffectName = 45,
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effVendorSpecific = 50,
    effCanDo = 51,
    effGetTailSize = 52,
    effGetParameterProperties = 56,
    effGetVstVersion = 58,
    effEditKeyDown = 59,
    effEditKeyUp = 60,
    effSetEditKnobMode = 61,
    effGetMidiProgramName = 62,
    effGetCurrentMidiProgram = 63,
    effGetMidiProgramCategory = 64,
    effHasMidiProgramsChanged = 65,
    effGetMidiKeyName = 66,
    effBeginSetProgram = 67,
    effEndSetProgram = 68,
    effGetSpeakerArrangement = 69,
    effShellGetNextPlugin = 70,
    effStartProcess = 71,
    effStopProcess = 72,
    effSetTotalSampleToProcess = 73,
    effSetPanLaw = 74,
    effBeginLoadBank = 75,
    effBeginLoadProgram = 76,
    effSetProcessPrecision = 77,
    effGetNumMidiInputChannels = 78,
    effGetNumMidiOutputChannels = 79,
};

// Opcodes this plug-in sends to the host callback.
enum AudioMasterOpcodes : VstInt32
{
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterIdle = 3,
    audioMasterWantMidi = 6,
    audioMasterProcessEvents = 8,
    audioMasterIOChanged = 13,
    audioMasterBeginEdit = 43,
    audioMasterEndEdit = 44,
};

// Events passed with effProcessEvents (host to plug-in) and audioMasterProcessEvents (plug-in to
// host), valid for the duration of the call.
enum VstEventTypes : VstInt32
{
    kVstMidiType = 1,
    kVstSysExType = 6,
};

struct VstEvent
{
    VstInt32 type;
    VstInt32 byteSize;
    VstInt32 deltaFrames; // sample offset within the next (or current) process call
    VstInt32 flags;
    char data[16];
};

struct VstMidiEvent
{
    VstInt32 type; // kVstMidiType
    VstInt32 byteSize;
    VstInt32 deltaFrames;
    VstInt32 flags;
    VstInt32 noteLength;
    VstInt32 noteOffset;
    char midiData[4]; // status byte first; the fourth is 0
    char detune;
    char noteOffVelocity;
    char reserved1;
    char reserved2;
};

// The list as declared; senders allocate room for numEvents pointers (VstEventList).
struct VstEvents
{
    VstInt32 numEvents;
    VstIntPtr reserved;
    VstEvent* events[2];
};

// A VstEvents with room for N events.
template <int N> struct VstEventList
{
    VstInt32 numEvents = 0;
    VstIntPtr reserved = 0;
    VstEvent* events[N] = {};

    VstEvents* get() { return reinterpret_cast<VstEvents*>(this); }
};

static_assert(sizeof(VstEvent) == 32 && sizeof(VstMidiEvent) == 32, "event layout");
static_assert(offsetof(VstMidiEvent, midiData) == 24, "event layout");
static_assert(offsetof(VstEvents, events) == offsetof(VstEventList<1>, events), "list layout");

// 'NvEf', the answer to effIdentify.
constexpr VstInt32 kEffectIdentity = 0x4E764566;

// Text limits of the interface, terminator not included.
constexpr int kVstMaxParamStrLen = 8;
constexpr int kVstMaxEffectNameLen = 32;
constexpr int kVstMaxVendorStrLen = 64;
constexpr int kVstMaxProductStrLen = 64;

// Editor rectangle as the host reads it.
struct ERect
{
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

// Key record built by the dispatcher for effEditKeyDown and effEditKeyUp.
struct VstKeyCode
{
    VstInt32 character;
    unsigned char virt;     // virtual key, low byte of the opcode's value
    unsigned char modifier; // modifier bits, low byte of the option
};

// Virtual keys the editor reacts to.
enum VirtualKeys : unsigned char
{
    VKEY_TAB = 2,
    VKEY_LEFT = 11,
    VKEY_UP = 12,
    VKEY_RIGHT = 13,
    VKEY_DOWN = 14,
};

enum VstModifierKeys : unsigned char
{
    MODIFIER_SHIFT = 1,
    MODIFIER_ALTERNATE = 2,
    MODIFIER_COMMAND = 4,
    MODIFIER_CONTROL = 8,
};
