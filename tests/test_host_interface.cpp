// The plug-in as a host sees it: entry point, effect record and dispatcher answers.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <new>
#include <set>

using testsupport::loadPlugin;

namespace
{
// Allocation hook: lets the test make the plug-in's n-th allocation fail and count what is live.
std::atomic<long> allocationsUntilFailure{-1};
std::atomic<long> liveAllocations{0};
} // namespace

// The replacement pairs malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size)
{
    if (allocationsUntilFailure.load() == 0)
        throw std::bad_alloc();
    if (allocationsUntilFailure.load() > 0)
        --allocationsUntilFailure;
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    ++liveAllocations;
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept
{
    if (p)
    {
        --liveAllocations;
        std::free(p);
    }
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

TEST(Record, FieldsAsAHostReadsThem)
{
    auto host = loadPlugin();
    const AEffect* e = host->effect();
    EXPECT_EQ(e->magic, 0x56737450);
    EXPECT_EQ(e->numPrograms, 1);
    EXPECT_EQ(e->numParams, 15);
    EXPECT_EQ(e->numInputs, 1);
    EXPECT_EQ(e->numOutputs, 1);
    EXPECT_EQ(e->flags, 0x11);
    EXPECT_EQ(e->initialDelay, 9765);
    EXPECT_EQ(e->ioRatio, 1.0f);
    EXPECT_EQ(e->uniqueID, 0x306E3338);
    EXPECT_EQ(e->version, 1);
    EXPECT_NE(e->object, nullptr);
    EXPECT_NE(e->processReplacing, nullptr);
    EXPECT_NE(e->processDoubleReplacing, nullptr);
    EXPECT_NE(e->process, nullptr);
    EXPECT_EQ(e->reserved1, 0);
    EXPECT_EQ(e->reserved2, 0);
    for (char c : e->future)
        EXPECT_EQ(c, 0);
}

TEST(Record, LayoutOfThe32BitFields)
{
    // Offsets that do not depend on the pointer width.
    EXPECT_EQ(offsetof(AEffect, magic), 0u);
    EXPECT_EQ(offsetof(AEffect, dispatcher), sizeof(void*) == 4 ? 4u : 8u);
    if (sizeof(void*) == 4)
    {
        EXPECT_EQ(sizeof(AEffect), 144u);
        EXPECT_EQ(offsetof(AEffect, initialDelay), 48u);
        EXPECT_EQ(offsetof(AEffect, uniqueID), 72u);
        EXPECT_EQ(offsetof(AEffect, future), 88u);
    }
}

TEST(Entry, ExportsExactlyTheTwoEntryNamesAtOneAddress)
{
    void* lib = dlopen(HALVERN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    void* a = dlsym(lib, "VSTPluginMain");
    void* b = dlsym(lib, "main");
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    dlclose(lib);

    const std::string command = std::string("nm -D --defined-only ") + HALVERN_PLUGIN_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe))
    {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3)
            names.insert(name);
    }
    pclose(pipe);
    EXPECT_EQ(names, (std::set<std::string>{"VSTPluginMain", "main"}));
}

TEST(Entry, MainCreatesTheSameEffect)
{
    PluginHost host(HALVERN_PLUGIN_PATH, "main");
    EXPECT_EQ(host.effect()->uniqueID, 0x306E3338);
    EXPECT_EQ(host.effectName(), "Halvern");
}

TEST(Entry, VersionQueryRefusedCreatesNothing)
{
    EXPECT_THROW(PluginHost(HALVERN_PLUGIN_PATH, "VSTPluginMain", 0), PluginLoadError);
}

TEST(Entry, NullCallbackCreatesNothing)
{
    void* lib = dlopen(HALVERN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    auto entry = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(lib, "VSTPluginMain"));
    EXPECT_EQ(entry(nullptr), nullptr);
    dlclose(lib);
}

namespace
{
VstIntPtr acceptingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}
} // namespace

TEST(Entry, FailedAllocationReturnsNullAndLeaksNothing)
{
    void* lib = dlopen(HALVERN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    auto entry = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(lib, "VSTPluginMain"));

    int failures = 0;
    for (long k = 0; k < 1000; ++k)
    {
        const long before = liveAllocations.load();
        allocationsUntilFailure = k;
        AEffect* e = entry(acceptingHost);
        allocationsUntilFailure = -1;
        if (e)
        {
            e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
            EXPECT_EQ(liveAllocations.load(), before);
            break;
        }
        ++failures;
        EXPECT_EQ(liveAllocations.load(), before) << "leak after failing allocation " << k;
    }
    EXPECT_GT(failures, 5); // every allocation of the construction was made to fail once
    dlclose(lib);
}

TEST(Dispatcher, FixedAnswers)
{
    auto host = loadPlugin();
    EXPECT_EQ(host->dispatch(effIdentify), 0x4E764566);
    EXPECT_EQ(host->dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(host->dispatch(effGetVendorVersion), 1);
    EXPECT_EQ(host->dispatch(effGetPlugCategory), 0);
    EXPECT_EQ(host->dispatch(effGetTailSize), 0);
    EXPECT_EQ(host->dispatch(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(host->dispatch(effSetTotalSampleToProcess, 0, 123456), 123456);
    EXPECT_EQ(host->dispatch(effCanBeAutomated, 0), 1);
    EXPECT_EQ(host->dispatch(effCanBeAutomated, 99), 1);
    EXPECT_EQ(host->dispatch(effGetChunk, 0, 0, nullptr), 0);
    EXPECT_EQ(host->effectName(), "Halvern");
    EXPECT_EQ(host->vendorString(), "Brakk");
    EXPECT_EQ(host->productString(), "Halvern");
    char text[80];
    EXPECT_EQ(host->dispatch(effGetEffectName, 0, 0, text), 1);
    EXPECT_EQ(host->dispatch(effGetVendorString, 0, 0, text), 1);
    EXPECT_EQ(host->dispatch(effGetProductString, 0, 0, text), 1);
}

TEST(Dispatcher, CanDoAnswersNoToEverything)
{
    auto host = loadPlugin();
    for (const char* what : {"receiveVstMidiEvent", "sizeWindow", "sendVstEvents", "bypass", ""})
        EXPECT_EQ(host->dispatch(effCanDo, 0, 0, const_cast<char*>(what)), 0) << what;
}

TEST(Dispatcher, UnhandledOpcodesReturnZero)
{
    auto host = loadPlugin();
    for (VstInt32 op : {9, 16, 17, 18, 20, 21, 28, 30, 31, 32, 36, 37, 43, 46, 53, 54, 55, 57, 80,
                        100, 1000, -1})
        EXPECT_EQ(host->dispatch(op, 0, 0, nullptr), 0) << "opcode " << op;
    // Unsupported requests with a pointer answer 0 too.
    std::array<char, 256> buffer{};
    for (VstInt32 op : {25, 27, 29, 33, 34, 38, 39, 40, 41, 42, 44, 50, 56, 62, 64, 65, 66, 67, 68,
                        70, 71, 72, 74, 75, 76, 77, 78, 79})
        EXPECT_EQ(host->dispatch(op, 0, 0, buffer.data()), 0) << "opcode " << op;
    EXPECT_EQ(host->effect()->numParams, 15); // nothing was disturbed
}

TEST(Dispatcher, SpeakerArrangementStoresNulls)
{
    auto host = loadPlugin();
    void* input = &input;
    void* output = &output;
    EXPECT_EQ(host->dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input),
                             &output),
              0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
}

TEST(Dispatcher, Programs)
{
    auto host = loadPlugin();
    EXPECT_EQ(host->dispatch(effGetProgram), 0);
    host->dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(host->dispatch(effGetProgram), 0);
    host->dispatch(effSetProgram, 0, 3);
    EXPECT_EQ(host->dispatch(effGetProgram), 0);
    // A negative value passes the "less than the program count" test and is stored.
    host->dispatch(effSetProgram, 0, -2);
    EXPECT_EQ(host->dispatch(effGetProgram), -2);

    char name[32];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(host->dispatch(effGetProgramName, 0, 0, name), 0);
    EXPECT_STREQ(name, "");
}

TEST(Dispatcher, TextRequestsWithoutABufferAreRefused)
{
    auto host = loadPlugin();
    for (VstInt32 op : {effGetParamName, effGetParamDisplay, effGetParamLabel, effGetProgramName,
                        effGetEffectName, effGetVendorString, effGetProductString, effCanDo,
                        effEditGetRect})
        EXPECT_EQ(host->dispatch(op, 0, 0, nullptr), 0) << "opcode " << op;
}

TEST(Dispatcher, EditorRectangleBeforeOpen)
{
    auto host = loadPlugin();
    ERect* rect = nullptr;
    EXPECT_EQ(host->dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 128);
    EXPECT_EQ(rect->right, 512);
}

TEST(Dispatcher, SuspendResumeAndRatesChangeNothingVisible)
{
    auto host = loadPlugin();
    host->clearHostCalls();
    host->suspend();
    host->dispatch(effSetBlockSize, 0, 64);
    host->resume();
    EXPECT_EQ(host->effect()->initialDelay, 9765);
    // Resume asks the host for nothing: this effect neither is a synthesiser nor takes MIDI.
    EXPECT_TRUE(host->hostCalls().empty());
}

TEST(Dispatcher, CloseThroughTheRecordReturnsOne)
{
    auto host = loadPlugin();
    EXPECT_EQ(host->close(), 1);
}

TEST(Dispatcher, EditorThroughTheRecord)
{
    auto host = loadPlugin();
    int parent = 0; // stands for the host's window
    EXPECT_EQ(host->dispatch(effEditOpen, 0, 0, &parent), 1);
    host->dispatch(effEditIdle);
    EXPECT_EQ(host->dispatch(effSetEditKnobMode, 0, 2), 1);
    EXPECT_EQ(host->dispatch(effEditKeyDown, 0, VKEY_UP), 0); // no knob has the focus yet
    EXPECT_EQ(host->dispatch(effEditKeyUp, 0, VKEY_UP), 0);
    host->setParameter(0, 0.75f); // reaches the open editor; nothing is drawn until idle
    host->dispatch(effEditIdle);
    EXPECT_EQ(host->dispatch(effEditClose), 0);
    EXPECT_EQ(host->dispatch(effEditOpen, 0, 0, &parent), 1); // open again after close
    host->dispatch(effEditIdle);
    EXPECT_EQ(host->dispatch(effSetEditKnobMode, 0, 0), 1);
    // Closing the effect with its editor open takes the editor down with it.
}

TEST(Dispatcher, KeyModifiersFromAnyOption)
{
    auto host = loadPlugin();
    int parent = 0;
    ASSERT_EQ(host->dispatch(effEditOpen, 0, 0, &parent), 1);
    // Options no integer can hold must not be converted blindly (the fuzzer found 2.6e20).
    for (float opt : {2.61129e20f, -1e30f, INFINITY, -INFINITY, NAN, 257.0f, -1.0f})
    {
        EXPECT_EQ(host->dispatch(effEditKeyDown, 0, VKEY_UP, nullptr, opt), 0) << opt;
        EXPECT_EQ(host->dispatch(effEditKeyUp, 0, VKEY_UP, nullptr, opt), 0) << opt;
    }
    host->dispatch(effEditClose);
}
