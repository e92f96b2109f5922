// What a host sees of the plug-in, checked through its exported entry points: the record, the
// opcode answers, parameters and texts, and audio judged by independent measurement.
#include "hostcases.h"

#include "hostcheck.h"
#include "measure.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace hostcheck
{

namespace
{

constexpr double kRate = 44100.0;
constexpr int32_t kLatency = 9765; // 0.025 r + 0.2 r - 0.05 r + 2048 samples at 44100 Hz
constexpr int32_t kMagic = 0x56737450;

enum Opcode : int32_t
{
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effSetSampleRate = 10,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effIdentify = 22,
    effCanBeAutomated = 26,
    effGetPlugCategory = 35,
    effGetEffectName = 45,
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effCanDo = 51,
    effGetTailSize = 52,
    effGetVstVersion = 58,
    effGetCurrentMidiProgram = 63,
    effSetTotalSampleToProcess = 73,
};

// What a host must see of each plug-in. Live's output is judged against the Linux build's only.
struct Expected
{
    const char* name;
    int32_t parameters;
    int32_t uniqueId;
    int32_t latency; // at 44100 Hz
    int32_t latencyAt48k;
    bool measureTheVoice; // Halvern's delay, level and pitch checked on its output
    int32_t midi;         // the answer to the MIDI can-do texts
};
const Expected kHalvern{"Halvern", 15, 0x306E3338, kLatency, 10448, true, 0};
const Expected kLive{"Halvern Live", 16, 0x48764C76, 512, 557, false, 1};

std::string hex(int64_t v)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
}

std::string number(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

void expectInt(const std::string& what, int64_t got, int64_t want)
{
    check(got == want, what + " = " + std::to_string(got) +
                           (got == want ? "" : " (expected " + std::to_string(want) + ")"));
}

void expectText(const std::string& what, const std::string& got, const std::string& want)
{
    check(got == want,
          what + " = \"" + got + "\"" + (got == want ? "" : " (expected \"" + want + "\")"));
}

// The resumed effect at the default rate, ready for audio.
void resume(Effect& effect)
{
    effect.dispatch(effMainsChanged, 0, 1);
}

std::vector<float> steadyVowel(double f0, double seconds)
{
    return measure::vowel(f0, {{700.0, 90.0}, {1200.0, 110.0}, {2600.0, 160.0}}, kRate,
                          static_cast<size_t>(seconds * kRate));
}

void checkEntryPoints(const Library& library)
{
    void* named = library.symbol("VSTPluginMain");
    void* mainAlias = library.symbol("main");
    check(named != nullptr, "exports VSTPluginMain");
    check(mainAlias != nullptr, "exports main");
    check(named == mainAlias, "main and VSTPluginMain are one address");
}

void checkCreation(const Library& library, const char* entryName, const Expected& want)
{
    const std::string via = std::string(" (through ") + entryName + ")";

    hostCalls().clear();
    setVersionAnswer(0);
    {
        Effect refused(library, entryName);
        check(refused.record() == nullptr,
              "a host answering 0 to the version query gets no effect" + via);
    }
    check(hostCalls().size() == 1 && hostCalls()[0].opcode == 1 && hostCalls()[0].nullEffect,
          "the only call then is the version query, without a record" + via);
    setVersionAnswer(2400);

    hostCalls().clear();
    Effect effect(library, entryName);
    check(effect.record() != nullptr, "creates an effect" + via);
    if (!effect.record()) return;
    check(!hostCalls().empty() && hostCalls()[0].opcode == 1 && hostCalls()[0].nullEffect,
          "asks the host's version first, before the record exists" + via);

    const RecordLayout& at = recordLayout();
    expectInt("magic" + via, effect.i32(at.magic), kMagic);
    expectInt("programs", effect.i32(at.numPrograms), 1);
    expectInt("parameters", effect.i32(at.numParams), want.parameters);
    expectInt("inputs", effect.i32(at.numInputs), 1);
    expectInt("outputs", effect.i32(at.numOutputs), 1);
    expectInt("flags", effect.i32(at.flags), 0x11);
    check(effect.pointer(at.reserved1) == nullptr && effect.pointer(at.reserved2) == nullptr,
          "reserved fields are 0");
    expectInt("initial delay", effect.i32(at.initialDelay), want.latency);
    check(effect.i32(at.realQualities) == 0 && effect.i32(at.offQualities) == 0,
          "obsolete quality fields are 0");
    check(effect.f32(at.ioRatio) == 1.0f, "input/output ratio = " + number(effect.f32(at.ioRatio)));
    check(effect.pointer(at.object) != nullptr, "object field is set");
    check(effect.pointer(at.user) == nullptr, "user field is 0");
    check(effect.i32(at.uniqueID) == want.uniqueId,
          "unique identifier = " + hex(static_cast<uint32_t>(effect.i32(at.uniqueID))));
    expectInt("version", effect.i32(at.version), 1);
    check(effect.pointer(at.dispatcher) && effect.pointer(at.process) &&
              effect.pointer(at.setParameter) && effect.pointer(at.getParameter) &&
              effect.pointer(at.processReplacing) && effect.pointer(at.processDoubleReplacing),
          "all six record functions are set");
    bool futureZero = true;
    for (size_t i = at.future; i < at.size; ++i)
        futureZero = futureZero && effect.record()[i] == 0;
    check(futureZero, "the 56 future bytes up to byte " + std::to_string(at.size) +
                          " (the record's size with " + std::to_string(sizeof(void*) * 8) +
                          "-bit pointers) are 0");
    effect.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    expectInt("initial delay at 48000 Hz", effect.i32(at.initialDelay), want.latencyAt48k);
    expectInt("effClose through the record's dispatcher", effect.close(), 1);
}

void checkOpcodes(Effect& effect, const Expected& want)
{
    expectInt("effIdentify", effect.dispatch(effIdentify), 0x4E764566);
    expectInt("effGetVstVersion", effect.dispatch(effGetVstVersion), 2400);
    expectInt("effGetVendorVersion", effect.dispatch(effGetVendorVersion), 1);
    char canDo[] = "receiveVstMidiEvent";
    expectInt("effCanDo receiveVstMidiEvent", effect.dispatch(effCanDo, 0, 0, canDo), want.midi);
    char canSend[] = "sendVstMidiEvent";
    expectInt("effCanDo sendVstMidiEvent", effect.dispatch(effCanDo, 0, 0, canSend), want.midi);
    char sizeWindow[] = "sizeWindow";
    expectInt("effCanDo sizeWindow", effect.dispatch(effCanDo, 0, 0, sizeWindow), 0);
    expectInt("effCanBeAutomated 0", effect.dispatch(effCanBeAutomated, 0), 1);
    expectInt("effCanBeAutomated 99", effect.dispatch(effCanBeAutomated, 99), 1);
    expectInt("effGetPlugCategory", effect.dispatch(effGetPlugCategory), 0);
    expectInt("effGetTailSize", effect.dispatch(effGetTailSize), 0);
    expectInt("effGetCurrentMidiProgram", effect.dispatch(effGetCurrentMidiProgram), -1);
    expectInt("effSetTotalSampleToProcess 12345",
              effect.dispatch(effSetTotalSampleToProcess, 0, 12345), 12345);
    for (int32_t op :
         {9, 16, 17, 18, 20, 21, 28, 30, 31, 32, 36, 37, 43, 46, 53, 54, 55, 57, 80, 200})
        expectInt("obsolete or unknown opcode " + std::to_string(op), effect.dispatch(op), 0);

    expectInt("effGetProgram after creation", effect.dispatch(effGetProgram), 0);
    effect.dispatch(effSetProgram, 0, 3);
    expectInt("effGetProgram after effSetProgram 3", effect.dispatch(effGetProgram), 0);
    effect.dispatch(effSetProgram, 0, -1);
    expectInt("effGetProgram after effSetProgram -1", effect.dispatch(effGetProgram), -1);
    expectText("effGetProgramName", effect.text(effGetProgramName, 0, 24), "");

    std::string name = effect.text(effGetEffectName, 0, 32);
    expectText("effect name", name, want.name);
    expectText("vendor", effect.text(effGetVendorString, 0, 64), "Brakk");
    expectText("product", effect.text(effGetProductString, 0, 64), want.name);
    char buffer[80] = {};
    expectInt("effGetEffectName answers", effect.dispatch(effGetEffectName, 0, 0, buffer), 1);

    // Four 16-bit fields: top, left, bottom, right.
    int16_t* rect = nullptr;
    const intptr_t answer = effect.dispatch(effEditGetRect, 0, 0, &rect);
    const int16_t height = want.parameters > 15 ? 168 : 128; // Live's Retune row
    check(answer == 1 && rect && rect[0] == 0 && rect[1] == 0 && rect[2] == height &&
              rect[3] == 512,
          "effEditGetRect before opening: 0, 0, " + std::to_string(height) + ", 512");
}

void checkParameters(Effect& effect, const Expected& want)
{
    struct Case
    {
        float value;
        float stored; // what getParameter gives back
        const char* display;
    };

    const char* names[15] = {"Pitch",   "Formant",  "Scale",   "Scale C",  "Scale C#",
                             "Scale D", "Scale D#", "Scale E", "Scale F",  "Scale F#",
                             "Scale G", "Scale G#", "Scale A", "Scale A#", "Scale B"};
    const float defaults[15] = {0.5f, 0.5f, 0.0f, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    for (int32_t i = 0; i < 15; ++i)
    {
        expectText("name of parameter " + std::to_string(i), effect.text(effGetParamName, i, 8),
                   names[i]);
        expectText("label of parameter " + std::to_string(i), effect.text(effGetParamLabel, i, 8),
                   "");
        check(effect.getParameter(i) == defaults[i],
              "default of parameter " + std::to_string(i) + " = " + number(effect.getParameter(i)));
    }
    if (want.parameters > 15)
    {
        expectText("name of parameter 15", effect.text(effGetParamName, 15, 8), "Retune");
        expectText("label of parameter 15", effect.text(effGetParamLabel, 15, 8), "ms");
        check(effect.getParameter(15) == 0.125f, "Retune's default reads 0.125 (50 ms)");
        // whole milliseconds of 0 ... 400, clamped
        const Case retune[] = {{0.50126f, 0.5025f, "201"}, {9.0f, 1.0f, "400"}, {-2.0f, 0.0f, "0"}};
        for (const Case& c : retune)
        {
            effect.setParameter(15, c.value);
            const std::string what = "Retune set to " + number(c.value);
            check(std::fabs(effect.getParameter(15) - c.stored) < 1e-6f,
                  what + " reads back " + number(effect.getParameter(15)));
            expectText(what + " shows", effect.text(effGetParamDisplay, 15, 8), c.display);
        }
    }
    char untouched[16];
    std::memset(untouched, 'x', sizeof untouched);
    effect.dispatch(effGetParamName, want.parameters, 0, untouched);
    check(untouched[0] == 'x' && untouched[8] == 'x',
          "name of parameter " + std::to_string(want.parameters) + " leaves the buffer as it was");

    // 10-cent steps, truncated toward zero, stored and shown quantised.
    const Case shifts[] = {{0.5f, 0.5f, "+0.0"},
                           {1.0f, 1.0f, "+12.0"},
                           {0.0f, 0.0f, "-12.0"},
                           {0.75f, 0.75f, "+6.0"},
                           {0.49f, 0.5f - 20.0f / 2400.0f, "-0.2"},
                           {0.7541f, 0.75f, "+6.0"},
                           {0.76f, 0.5f + 620.0f / 2400.0f, "+6.2"},
                           {2.0f, 2.0f, "+36.0"}};
    for (int32_t index : {0, 1})
        for (const Case& c : shifts)
        {
            effect.setParameter(index, c.value);
            const float got = effect.getParameter(index);
            const std::string what = std::string(names[index]) + " set to " + number(c.value);
            check(std::fabs(got - c.stored) < 1e-6f, what + " reads back " + number(got));
            expectText(what + " shows", effect.text(effGetParamDisplay, index, 8), c.display);
        }
    for (int32_t index = 2; index < 15; ++index)
    {
        effect.setParameter(index, 0.49f);
        const bool off = effect.getParameter(index) == 0.0f &&
                         effect.text(effGetParamDisplay, index, 8) == "OFF";
        effect.setParameter(index, 0.5f);
        const bool on =
            effect.getParameter(index) == 1.0f && effect.text(effGetParamDisplay, index, 8) == "ON";
        check(off && on, std::string(names[index]) + ": 0.49 is OFF, 0.5 is ON");
    }
    effect.setParameter(want.parameters, 0.3f);
    check(effect.getParameter(want.parameters) == 0.0f,
          "parameter " + std::to_string(want.parameters) + " is ignored and reads 0");
}

void checkAudio(const Library& library)
{
    {
        Effect effect(library, "VSTPluginMain");
        resume(effect);
        const std::vector<float> silence(static_cast<size_t>(2 * kRate), 0.0f);
        const auto out = processInBlocks(effect, silence, 512);
        bool allZero = true;
        for (float v : out)
            allZero = allZero && v == 0.0f;
        check(allZero, "silence in, silence out (2 s)");
    }

    const std::vector<float> voice = steadyVowel(220.0, 3.0);
    std::vector<float> reference;
    {
        Effect effect(library, "VSTPluginMain");
        resume(effect);
        reference = processInBlocks(effect, voice, 512);
    }
    size_t firstSound = reference.size();
    for (size_t k = 0; k < reference.size() && firstSound == reference.size(); ++k)
        if (reference[k] != 0.0f) firstSound = k;
    check(firstSound >= static_cast<size_t>(kLatency),
          "nothing comes out before the reported delay (first sound at sample " +
              std::to_string(firstSound) + ")");
    auto rms = [](const std::vector<float>& x, size_t from, size_t to)
    {
        double sum = 0.0;
        for (size_t k = from; k < to; ++k)
            sum += static_cast<double>(x[k]) * x[k];
        return std::sqrt(sum / static_cast<double>(to - from));
    };
    const size_t from = static_cast<size_t>(0.6 * kRate), to = static_cast<size_t>(2.2 * kRate);
    const double level = rms(reference, from + kLatency, to + kLatency) / rms(voice, from, to);
    check(level > 0.3 && level < 3.0,
          "the voice comes through at the reported delay, level ratio " + number(level));
    const double f0Through =
        measure::f0ByAutocorrelation(reference, from + kLatency, to + kLatency, kRate);
    check(std::fabs(measure::cents(f0Through, 220.0)) < 10.0,
          "without shift the output's f0 is the input's: " + number(f0Through) + " Hz");

    for (size_t block : {1, 64, 4097})
    {
        Effect effect(library, "VSTPluginMain");
        resume(effect);
        const auto out = processInBlocks(effect, voice, block);
        check(out == reference, "host blocks of " + std::to_string(block) +
                                    " give the output of blocks of 512, sample for sample");
    }

    {
        // 0.625 is exactly the +3.0 semitone step: (0.625 - 0.5) * 240 = 30 steps of 10 cents
        Effect effect(library, "main");
        effect.setParameter(0, 0.625f);
        resume(effect);
        const auto out = processInBlocks(effect, voice, 512);
        const double f0 = measure::f0ByAutocorrelation(out, from + kLatency, to + kLatency, kRate);
        const double want = 220.0 * std::pow(2.0, 3.0 / 12.0);
        check(std::fabs(measure::cents(f0, want)) < 10.0,
              "Pitch +3.0 moves 220 Hz to " + number(f0) + " Hz (" +
                  number(measure::cents(f0, want)) + " cents from " + number(want) + ")");
    }
}

#if defined(_WIN32)
// The dump goes to the user's temporary folder on Windows.
std::wstring dumpPath()
{
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return L"";
    return std::wstring(folder, length) + L"f0map.txt";
}

void checkDump(const Library& library)
{
    const std::wstring path = dumpPath();
    check(!path.empty(), "the user's temporary folder is known");
    if (path.empty()) return;
    DeleteFileW(path.c_str());
    {
        Effect effect(library, "VSTPluginMain");
        resume(effect);
        processInBlocks(effect, steadyVowel(200.0, 0.5), 512);
    }
    std::FILE* file = _wfopen(path.c_str(), L"r");
    check(file != nullptr, "f0map.txt is written to the temporary folder");
    if (!file) return;
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    int rows = 0;
    char row[4096];
    while (std::fgets(row, sizeof row, file))
        ++rows;
    std::fclose(file);
    check(read && std::strncmp(line, ",map1,", 6) == 0, "f0map.txt starts with its header line");
    expectInt("f0map.txt rows (one per frame of the last block)", rows, 101);
}
#endif

} // namespace

void runHostCases(const std::string& pluginPath, bool live)
{
    const Expected& want = live ? kLive : kHalvern;
    Library library(pluginPath);
    check(library.isLoaded(),
          "loads " + pluginPath + (library.isLoaded() ? "" : ": " + library.error()));
    if (!library.isLoaded()) return;
    checkEntryPoints(library);
    if (!library.symbol("VSTPluginMain") || !library.symbol("main")) return;
    checkCreation(library, "VSTPluginMain", want);
    checkCreation(library, "main", want);
    {
        Effect effect(library, "VSTPluginMain");
        if (!effect.record()) return;
        checkOpcodes(effect, want);
    }
    {
        Effect effect(library, "main");
        if (!effect.record()) return;
        checkParameters(effect, want);
    }
    if (!want.measureTheVoice) return;
    checkAudio(library);
#if defined(_WIN32)
    checkDump(library);
#endif
}

std::vector<float> referenceInput()
{
    // A sung-like vowel with vibrato, so that the analysis, the snapping and the grains all work.
    return measure::vowel(196.0, {{650.0, 80.0}, {1100.0, 100.0}, {2500.0, 150.0}}, kRate,
                          static_cast<size_t>(4.0 * kRate), 0.03, 5.5);
}

std::vector<float> renderReference(const Library& library, const std::vector<float>& input)
{
    Effect effect(library, "VSTPluginMain");
    if (!effect.record()) return {};
    // Pitch +3.0 (0.625 is that step exactly), Formant -1.2, Scale on with the notes of C major.
    effect.setParameter(0, 0.625f);
    effect.setParameter(1, 0.45f);
    effect.setParameter(2, 1.0f);
    const bool cMajor[12] = {true,  false, true,  false, true,  true,
                             false, true,  false, true,  false, true};
    for (int32_t note = 0; note < 12; ++note)
        effect.setParameter(3 + note, cMajor[note] ? 1.0f : 0.0f);
    resume(effect);
    return processInBlocks(effect, input, 512);
}

} // namespace hostcheck
