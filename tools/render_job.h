// One file through one plug-in instance: the host's side of halvern-render.
#pragma once

#include "pluginhost.h"
#include "render_melody.h"
#include "render_options.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace render
{

// The rate the plug-in analyses at, whatever the host sets.
constexpr int kPluginFixedRate = 44100;

// A plug-in that does not take the host's rate keeps the geometry (and the delay) it had at
// 44100 Hz, and would process the file as if it were at that rate. One that takes it reports a
// different delay, or tells the host that its delay changed (at rates close to 44100 Hz the
// delay can come out the same).
bool rateRefused(int fileRate, int delayBeforeRateCall, int delayAfterRateCall,
                 bool delayChangeAnnounced = false);

// Why a file's rate was refused, naming the rates that work.
std::string refusedRateMessage(const std::string& input, int fileRate);

// Sets Pitch, Formant and a fixed scale through the plug-in's parameter calls and reads them
// back. Returns one line per control that was given, with the value the plug-in shows; an
// automatic scale or a melody is set per file, and only named here. Throws RenderError if the
// plug-in does not hold what was set.
std::vector<std::string> applyVoiceSettings(PluginHost& host, const RenderOptions& options,
                                            const Melody* melody = nullptr);

// Scale on with exactly these notes; returns "scale: DESCRIPTION = NOTES (Scale ON)". Throws
// RenderError if the plug-in does not hold them.
std::string applyScale(PluginHost& host, const NoteSet& notes, const std::string& description);

// Refuses effects this renderer cannot drive (not one input and one output, no replacing
// process). Throws RenderError.
void checkPluginRecord(PluginHost& host, const std::string& pluginPath);

struct FileResult
{
    std::string input;
    std::string output;
    bool ok = false;
    std::string error;
    double audioSeconds = 0.0;
    double wallSeconds = 0.0;
    int rate = 0;
    int latencySamples = 0;
    int64_t clippedSamples = 0;
    int64_t nonFiniteSamples = 0;
    int clipBits = 0; // bit depth at which samples clipped; 0: clipped at ±1
    std::string plotPath;
    std::string notesPath; // --notes-out, once written
    int notesFound = 0;
    std::vector<std::string> keyLines; // --scale auto: the key found and the notes tuned to
};

// Audio done so far, in microseconds of input, shared with the progress display.
using ProgressCounter = std::atomic<int64_t>;

// Renders input into output with a fresh plug-in instance, tuned to melody when there is one.
// Never throws; failures are in the result, and no output file is left behind by a failure.
FileResult renderFile(const RenderOptions& options, const std::string& pluginPath,
                      const std::string& input, const std::string& output,
                      ProgressCounter& progress, const Melody* melody = nullptr);

} // namespace render
