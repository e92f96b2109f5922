#include "render_job.h"

#include "render_audio.h"
#include "render_key.h"
#include "render_notes.h"
#include "render_pitch.h"
#include "render_plot.h"
#include "samplerates.h"

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

bool rateRefused(int fileRate, int delayBeforeRateCall, int delayAfterRateCall,
                 bool delayChangeAnnounced)
{
    return fileRate != kPluginFixedRate && delayAfterRateCall == delayBeforeRateCall &&
           !delayChangeAnnounced;
}

std::string refusedRateMessage(const std::string& input, int fileRate)
{
    const std::string rate = std::to_string(fileRate) + " Hz";
    if (fileRate < kHalvernMinRate || fileRate > kHalvernMaxRate)
        return input + ": the file's sample rate is " + rate +
               "; the plug-in renders 11 kHz to 384 kHz: convert the file to a rate in that "
               "range, such as 44100 Hz";
    return input + ": the plug-in did not take the file's sample rate, " + rate +
           ", and keeps processing at " + std::to_string(kPluginFixedRate) +
           " Hz: convert the file to " + std::to_string(kPluginFixedRate) + " Hz first";
}

std::string applyScale(PluginHost& host, const NoteSet& notes, const std::string& description)
{
    host.setParameter(kScaleParameter, 1.0f);
    for (int p = 0; p < 12; ++p)
        host.setParameter(kFirstNoteParameter + p, notes[p] ? 1.0f : 0.0f);
    NoteSet taken{};
    for (int p = 0; p < 12; ++p)
        taken[p] = host.getParameter(kFirstNoteParameter + p) == 1.0f;
    if (host.getParameter(kScaleParameter) != 1.0f || taken != notes)
        throw RenderError("the plug-in did not take the scale: it holds " + describeNotes(taken) +
                          " with Scale " + trimmed(host.parameterDisplay(kScaleParameter)));
    return "scale: " + description + " = " + describeNotes(taken) + " (Scale " +
           trimmed(host.parameterDisplay(kScaleParameter)) + ")";
}

std::vector<std::string> applyVoiceSettings(PluginHost& host, const RenderOptions& options,
                                            const Melody* melody)
{
    std::vector<std::string> lines;
    if (options.pitchGiven)
        lines.push_back(setShift(host, kPitchParameter, "pitch", options.pitchSemitones));
    if (options.formantGiven)
        lines.push_back(setShift(host, kFormantParameter, "formant", options.formantSemitones));
    if (options.engine == Engine::Live)
    {
        const double ms = options.retuneGiven ? options.retuneMs : 50.0;
        host.setParameter(kRetuneParameter, static_cast<float>(ms / kMaxRetuneMs));
        lines.push_back("retune: " + host.parameterDisplay(kRetuneParameter) + " ms");
    }
    if (options.scale.given && options.scale.automatic)
        lines.push_back("scale: auto, from the key of each input");
    else if (options.scale.given)
        lines.push_back(applyScale(host, options.scale.notes, options.scale.description));
    if (melody)
    {
        char text[96];
        std::snprintf(text, sizeof text, ": %zu notes over %.2f s (", melody->notes.size(),
                      melody->notes.back().end);
        std::string line = "melody: " + melody->path + ", track " + std::to_string(melody->track) +
                           text + describeNotes(melodyNotes(*melody)) + ")";
        if (melody->offset != 0.0)
        {
            std::snprintf(text, sizeof text, "; its time 0 at %+.3f s of the take", melody->offset);
            line += text;
        }
        lines.push_back(line);
    }
    return lines;
}

namespace
{

// Sets the switches a melody asks for from this sample on.
// The controls as the plug-in holds them, for finding the notes under the same ones.
ControlState controlsOf(PluginHost& host)
{
    ControlState c;
    c.pitchCents = std::round((host.getParameter(kPitchParameter) - 0.5f) * 240.0f) * 10.0f;
    c.scaleOn = host.getParameter(kScaleParameter) >= 0.5f;
    for (int p = 0; p < 12; ++p) // noteOn counts from A, the parameters from C
        c.noteOn[(p + 3) % 12] = host.getParameter(kFirstNoteParameter + p) >= 0.5f;
    return c;
}

void applySwitch(PluginHost& host, const SwitchChange& change)
{
    if (change.pitchClass < 0)
    {
        host.setParameter(kScaleParameter, 0.0f);
        return;
    }
    for (int p = 0; p < 12; ++p)
        host.setParameter(kFirstNoteParameter + p, p == change.pitchClass ? 1.0f : 0.0f);
    host.setParameter(kScaleParameter, 1.0f);
}

PitchTrack trackFile(const std::string& input, int channel)
{
    AudioReader reader(input);
    std::vector<float> samples(static_cast<size_t>(std::max<int64_t>(0, reader.frames())));
    samples.resize(reader.readMono(samples.data(), samples.size(), channel));
    return trackPitch(samples, reader.rate());
}

} // namespace

FileResult renderFile(const RenderOptions& options, const std::string& pluginPath,
                      const std::string& input, const std::string& output,
                      ProgressCounter& progress, const Melody* melody)
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
        host.clearHostCalls();
        host.setSampleRate(static_cast<float>(rate));
        bool delayChangeAnnounced = false;
        for (const PluginHost::HostCall& call : host.hostCalls())
            delayChangeAnnounced = delayChangeAnnounced || call.opcode == audioMasterIOChanged;
        host.dispatch(effSetBlockSize, 0, options.blockSize);
        applyVoiceSettings(host, options);

        // The key is the input's as a whole, found before any of it is processed.
        KeyEstimate key;
        PitchTrack inputTrack;
        if (options.scale.automatic)
        {
            inputTrack = trackFile(input, options.channel);
            key = findKey(inputTrack);
            result.keyLines.push_back(describeKey(key));
            if (key.decided)
            {
                result.keyLines.push_back(applyScale(host, key.notes, keyName(key)));
            }
            else
            {
                applyScale(host, key.notes, "chromatic");
            }
        }
        std::vector<SwitchChange> switches;
        if (melody) switches = melodySwitches(*melody, rate);
        std::unique_ptr<NoteFinder> finder;
        if (!options.notesOut.empty())
        {
            finder = std::make_unique<NoteFinder>(rate);
            finder->setControls(controlsOf(host));
        }
        size_t nextSwitch = 0;
        int64_t fed = 0; // samples given to the plug-in so far

        host.resume();
        const int latency = host.effect()->initialDelay;
        if (rateRefused(rate, delayBefore, latency, delayChangeAnnounced))
            throw RenderError(refusedRateMessage(input, rate));
        if (latency < 0 || latency > (1 << 26))
            throw RenderError(pluginPath + " reports an unusable delay of " +
                              std::to_string(latency) + " samples");
        result.rate = rate;
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

            // Host calls end where the melody changes note, so that each switch change lands
            // on its sample.
            for (size_t done = 0; done < count;)
            {
                bool switched = false;
                while (nextSwitch < switches.size() && switches[nextSwitch].at <= fed)
                {
                    applySwitch(host, switches[nextSwitch++]);
                    switched = true;
                }
                if (finder && switched) finder->setControls(controlsOf(host));
                size_t part = count - done;
                if (nextSwitch < switches.size())
                    part = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(part),
                                                                 switches[nextSwitch].at - fed));
                if (finder && done < fromInput)
                    finder->feed(in.data() + done,
                                 static_cast<int>(std::min(part, fromInput - done)));
                host.process(in.data() + done, out.data() + done, static_cast<VstInt32>(part));
                done += part;
                fed += static_cast<int64_t>(part);
            }

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
        if (inputFrames < reader.frames() && !reader.lengthIsEstimate())
            throw RenderError(input + ": could read only " + std::to_string(inputFrames) + " of " +
                              std::to_string(reader.frames()) + " frames; the file looks damaged");

        std::vector<FoundNote> sungNotes;
        if (finder) sungNotes = finder->finish();

        result.audioSeconds = static_cast<double>(inputFrames) / rate;
        result.clippedSamples = writer.clippedSamples();
        result.nonFiniteSamples = writer.nonFiniteSamples();
        result.clipBits = writer.encoding().bits;

        if (plot)
        {
            std::string title = baseName(input);
            NoteSet guides;
            guides.fill(true);
            if (options.scale.automatic)
            {
                title += "  -  " + (key.decided ? "key " + keyName(key) : std::string("no key"));
                guides = key.notes;
            }
            else if (options.scale.given)
            {
                title += "  -  scale " + options.scale.description;
                guides = options.scale.notes;
            }
            if (melody)
            {
                title += "  -  melody " + baseName(melody->path);
                guides = melodyNotes(*melody);
            }
            if (options.pitchGiven) title += "  -  pitch " + formatStep(options.pitchSemitones);
            if (options.formantGiven)
                title += "  -  formant " + formatStep(options.formantSemitones);
            // The notes found, or the melody's, as bars under the tracks.
            std::vector<PlotNote> bars;
            for (const FoundNote& n : sungNotes)
                bars.push_back({n.start, n.end, n.midi});
            if (!finder && melody)
                for (const MelodyNote& n : melody->notes)
                    bars.push_back({n.start, n.end, n.midi});
            writer.commit(options.force);
            try
            {
                if (inputTrack.f0.empty()) inputTrack = trackPitch(plotInput, rate);
                writePitchPlot(options.pitchPlot, inputTrack, trackPitch(plotOutput, rate),
                               result.audioSeconds, guides, title, options.force, bars,
                               finder ? "notes sung" : "melody");
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
        if (finder)
        {
            if (sungNotes.empty())
                throw RenderError(output + " was written, but " + options.notesOut +
                                  " was not: no sung notes found in " + input);
            writeNotesFile(options.notesOut, sungNotes, options.force);
            result.notesPath = options.notesOut;
            result.notesFound = static_cast<int>(sungNotes.size());
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
