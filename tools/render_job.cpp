#include "render_job.h"

#include "render_audio.h"
#include "render_pitch.h"
#include "render_plot.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace render
{

namespace
{

std::string trimmed(const std::string& text)
{
    const size_t begin = text.find_first_not_of(' ');
    const size_t end = text.find_last_not_of(' ');
    return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

std::string formatSemitones(double semitones)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f", semitones);
    return text;
}

// The 10-cent step a request lands on, as the plug-in shows it.
std::string formatStep(double semitones)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f", nearestTenthSemitone(semitones) / 10.0);
    return text;
}

std::string setShift(PluginHost& host, int index, const char* what, double semitones)
{
    host.setParameter(index, semitonesToHostValue(semitones));
    const int wanted = nearestTenthSemitone(semitones);
    const int taken = static_cast<int>(std::lround((host.getParameter(index) - 0.5) * 240.0));
    const std::string shown = trimmed(host.parameterDisplay(index));
    if (taken != wanted)
        throw RenderError(std::string("the plug-in took ") + what + " " + shown +
                          " semitones when " + formatSemitones(wanted / 10.0) + " was set");
    std::string line = std::string(what) + ": " + shown + " semitones";
    if (std::fabs(semitones * 10.0 - wanted) > 1e-6)
        line += " (asked for " + formatSemitones(semitones) + "; the plug-in has 10-cent steps)";
    return line;
}

} // namespace

void checkPluginRecord(PluginHost& host, const std::string& pluginPath)
{
    const AEffect* e = host.effect();
    if (e->numInputs != 1 || e->numOutputs != 1)
        throw RenderError(pluginPath + " has " + std::to_string(e->numInputs) + " inputs and " +
                          std::to_string(e->numOutputs) +
                          " outputs; halvern-render drives mono effects (1 in, 1 out)");
    if (!e->processReplacing || !(e->flags & effFlagsCanReplacing) || !e->setParameter ||
        !e->getParameter)
        throw RenderError(pluginPath + " cannot process in replacing mode");
}

bool rateRefused(int fileRate, int delayBeforeRateCall, int delayAfterRateCall)
{
    return fileRate != kPluginFixedRate && delayAfterRateCall == delayBeforeRateCall;
}

std::vector<std::string> applyVoiceSettings(PluginHost& host, const RenderOptions& options)
{
    std::vector<std::string> lines;
    if (options.pitchGiven)
        lines.push_back(setShift(host, kPitchParameter, "pitch", options.pitchSemitones));
    if (options.formantGiven)
        lines.push_back(setShift(host, kFormantParameter, "formant", options.formantSemitones));
    if (options.scale.given)
    {
        host.setParameter(kScaleParameter, 1.0f);
        for (int p = 0; p < 12; ++p)
            host.setParameter(kFirstNoteParameter + p, options.scale.notes[p] ? 1.0f : 0.0f);
        NoteSet taken{};
        for (int p = 0; p < 12; ++p)
            taken[p] = host.getParameter(kFirstNoteParameter + p) == 1.0f;
        if (host.getParameter(kScaleParameter) != 1.0f || taken != options.scale.notes)
            throw RenderError("the plug-in did not take the scale: it holds " +
                              describeNotes(taken) + " with Scale " +
                              trimmed(host.parameterDisplay(kScaleParameter)));
        lines.push_back("scale: " + options.scale.description + " = " + describeNotes(taken) +
                        " (Scale " + trimmed(host.parameterDisplay(kScaleParameter)) + ")");
    }
    return lines;
}

NoteSet guideNotes(const RenderOptions& options)
{
    if (options.scale.given) return options.scale.notes;
    NoteSet all;
    all.fill(true);
    return all;
}

FileResult renderFile(const RenderOptions& options, const std::string& pluginPath,
                      const std::string& input, const std::string& output,
                      ProgressCounter& progress)
{
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    FileResult result;
    result.input = input;
    result.output = output;
    try
    {
        AudioReader reader(input);
        if (options.channel > reader.channels())
            throw RenderError(input + " has " + std::to_string(reader.channels()) +
                              " channel(s); --channel " + std::to_string(options.channel) +
                              " does not exist");
        const int rate = reader.rate();
        const int format = chooseOutputFormat(reader.format(), output, options.format, rate);

        PluginHost host(pluginPath);
        checkPluginRecord(host, pluginPath);
        const int delayBefore = host.effect()->initialDelay;
        host.dispatch(effOpen);
        host.setSampleRate(static_cast<float>(rate));
        host.dispatch(effSetBlockSize, 0, options.blockSize);
        applyVoiceSettings(host, options);
        host.resume();
        const int latency = host.effect()->initialDelay;
        if (rateRefused(rate, delayBefore, latency))
            throw RenderError(input + ": the file's sample rate is " + std::to_string(rate) +
                              " Hz, but the plug-in processes at " +
                              std::to_string(kPluginFixedRate) + " Hz only; convert the file to " +
                              std::to_string(kPluginFixedRate) + " Hz first");
        if (latency < 0 || latency > (1 << 26))
            throw RenderError(pluginPath + " reports an unusable delay of " +
                              std::to_string(latency) + " samples");
        result.latencySamples = latency;

        AudioWriter writer(output, format, rate);
        const bool plot = !options.pitchPlot.empty();
        std::vector<float> plotInput, plotOutput;

        // Aligned output: drop the first `latency` samples and feed as much silence at the end,
        // so output sample k lines up with input sample k and both have the same length.
        const size_t block = static_cast<size_t>(options.blockSize);
        std::vector<float> in(block), out(block);
        int64_t toDrop = options.keepLatency ? 0 : latency;
        int64_t tailLeft = options.keepLatency ? 0 : latency;
        int64_t inputFrames = 0;
        int64_t written = 0;
        int64_t reportedMicros = 0;
        bool inputDone = false;
        while (true)
        {
            size_t fromInput = 0;
            if (!inputDone)
            {
                fromInput = reader.readMono(in.data(), block, options.channel);
                inputDone = fromInput < block;
                inputFrames += static_cast<int64_t>(fromInput);
            }
            size_t count = fromInput;
            if (inputDone && count < block)
            {
                const size_t pad = static_cast<size_t>(
                    std::min<int64_t>(tailLeft, static_cast<int64_t>(block - count)));
                std::fill(in.begin() + static_cast<long>(count),
                          in.begin() + static_cast<long>(count + pad), 0.0f);
                tailLeft -= static_cast<int64_t>(pad);
                count += pad;
            }
            if (count == 0) break;
            if (plot)
                plotInput.insert(plotInput.end(), in.begin(),
                                 in.begin() + static_cast<long>(fromInput));

            host.process(in.data(), out.data(), static_cast<VstInt32>(count));

            const size_t dropped = static_cast<size_t>(std::min<int64_t>(toDrop, count));
            toDrop -= static_cast<int64_t>(dropped);
            const size_t keep = static_cast<size_t>(
                std::min<int64_t>(static_cast<int64_t>(count - dropped), inputFrames - written));
            writer.write(out.data() + dropped, keep);
            if (plot)
                plotOutput.insert(plotOutput.end(), out.begin() + static_cast<long>(dropped),
                                  out.begin() + static_cast<long>(dropped + keep));
            written += static_cast<int64_t>(keep);

            const int64_t micros = static_cast<int64_t>(static_cast<double>(inputFrames) * 1e6 /
                                                        static_cast<double>(rate));
            progress += micros - reportedMicros;
            reportedMicros = micros;
        }
        host.suspend();
        if (inputFrames < reader.frames())
            throw RenderError(input + ": could read only " + std::to_string(inputFrames) + " of " +
                              std::to_string(reader.frames()) + " frames; the file looks damaged");

        result.audioSeconds = static_cast<double>(inputFrames) / rate;
        result.clippedSamples = writer.clippedSamples();
        result.nonFiniteSamples = writer.nonFiniteSamples();
        result.clipBits = writer.encoding().bits;

        if (plot)
        {
            std::string title = baseName(input);
            if (options.scale.given) title += "  -  scale " + options.scale.description;
            if (options.pitchGiven) title += "  -  pitch " + formatStep(options.pitchSemitones);
            if (options.formantGiven)
                title += "  -  formant " + formatStep(options.formantSemitones);
            writer.commit(options.force);
            try
            {
                writePitchPlot(options.pitchPlot, trackPitch(plotInput, rate),
                               trackPitch(plotOutput, rate), result.audioSeconds,
                               guideNotes(options), title, options.force);
            }
            catch (const std::exception& error)
            {
                throw RenderError(output +
                                  " was written, but the pitch plot was not: " + error.what());
            }
            result.plotPath = options.pitchPlot;
        }
        else
        {
            writer.commit(options.force);
        }
        result.ok = true;
    }
    catch (const std::bad_alloc&)
    {
        result.error = input + ": out of memory";
    }
    catch (const std::exception& error)
    {
        result.error = error.what();
    }
    result.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    return result;
}

} // namespace render
