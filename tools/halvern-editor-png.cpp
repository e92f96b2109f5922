// halvern-editor-png: draws the plug-in's editor as a host would show it, with the given parameter
// values, into a 512 x 128 PNG (Halvern Live's, 512 x 168, with --live). The effect and its editor
// are built from the same sources as the plug-in and drawn through the toolkit's headless window.
#include "livevst.h"
#include "platform/headless/headlesswindow.h"
#include "render_audio.h"
#include "render_options.h"
#include "render_plot.h"
#include "vexilvst.h"
#include "vstgui.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

using namespace render;

namespace
{

const char* const kUsage =
    "Usage: halvern-editor-png [--live [--retune MS]] [--pitch SEMITONES] [--formant SEMITONES]\n"
    "                          [--scale KEY|NOTES] [--force] -o FILE.png\n"
    "Draws Halvern's editor with the given settings into FILE.png (512 x 128).\n"
    "  --live              Halvern Live's editor instead (512 x 168)\n"
    "  --retune            Halvern Live's Retune, 0 ... 400 ms\n"
    "  --pitch, --formant  -12 ... +12 semitones, in the plug-in's 10-cent steps\n"
    "  --scale             \"C major\", \"F# minor\", chromatic, or notes such as C,D,E,G,A:\n"
    "                      turns Scale on with those notes\n"
    "  --force             replace FILE.png if it exists\n";

VstIntPtr host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

struct Settings
{
    double pitch = 0.0;
    double formant = 0.0;
    ScaleChoice scale;
    std::string output;
    bool force = false;
    bool live = false;
    double retuneMs = halvernparams::kDefaultRetuneMs;
    bool retuneGiven = false;
};

Settings parse(const std::vector<std::string>& args)
{
    Settings s;
    for (size_t i = 0; i < args.size(); ++i)
    {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string&
        {
            if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
            return args[++i];
        };
        if (a == "--pitch")
            s.pitch = parseSemitones(a, value());
        else if (a == "--formant")
            s.formant = parseSemitones(a, value());
        else if (a == "--scale")
        {
            s.scale.description = value();
            s.scale.notes = parseScale(s.scale.description);
            s.scale.given = true;
        }
        else if (a == "--live")
            s.live = true;
        else if (a == "--retune")
        {
            const std::string& text = value();
            char* end = nullptr;
            s.retuneMs = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end || !(s.retuneMs >= 0.0 && s.retuneMs <= 400.0))
                throw UsageError("--retune takes 0 ... 400 ms, not " + text);
            s.retuneGiven = true;
        }
        else if (a == "-o")
            s.output = value();
        else if (a == "--force")
            s.force = true;
        else
            throw UsageError("unknown argument " + a);
    }
    if (s.output.empty()) throw UsageError("-o FILE.png is required");
    if (s.retuneGiven && !s.live) throw UsageError("--retune needs --live");
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const auto& a : args)
        if (a == "--help" || a == "-h")
        {
            std::fputs(kUsage, stdout);
            return EXIT_SUCCESS;
        }
    Settings settings;
    try
    {
        settings = parse(args);
    }
    catch (const UsageError& e)
    {
        std::fprintf(stderr, "halvern-editor-png: %s\n%s", e.what(), kUsage);
        return 2;
    }

    try
    {
        installCleanupOnSignals();
        if (!settings.force && ::access(settings.output.c_str(), F_OK) == 0)
            throw RenderError(settings.output + " already exists (--force replaces it)");
        std::unique_ptr<AudioEffectX> effect;
        if (settings.live)
            effect = std::make_unique<LiveVST>(host);
        else
            effect = std::make_unique<VexilVST>(host);
        AEffect* record = effect->getAeffect();
        if (settings.live)
            record->setParameter(
                record, LiveVST::kRetune,
                halvernparams::hostFromRetuneMs(static_cast<float>(settings.retuneMs)));
        record->setParameter(record, kPitchParameter, semitonesToHostValue(settings.pitch));
        record->setParameter(record, kFormantParameter, semitonesToHostValue(settings.formant));
        if (settings.scale.given)
        {
            record->setParameter(record, kScaleParameter, 1.0f);
            for (int p = 0; p < 12; ++p)
                record->setParameter(record, kFirstNoteParameter + p,
                                     settings.scale.notes[p] ? 1.0f : 0.0f);
        }

        int parent = 0; // the headless window needs no real parent
        record->dispatcher(record, effEditOpen, 0, 0, &parent, 0.0f);
        auto* gui = dynamic_cast<VstGui*>(effect->getEditor());
        auto* window = gui && gui->getFrame() ? static_cast<VSTGUI::platform::HeadlessWindow*>(
                                                    gui->getFrame()->getPlatformWindow())
                                              : nullptr;
        if (!window) throw RenderError("the editor could not be opened");
        window->invalidate(VSTGUI::CRect(0, 0, window->width(), window->height()));
        window->paint();
        record->dispatcher(record, effEditIdle, 0, 0, nullptr, 0.0f);

        writeSurfaceAsPng(window->image(), settings.output, settings.force);
        record->dispatcher(record, effEditClose, 0, 0, nullptr, 0.0f);
        std::printf("editor -> %s\n", settings.output.c_str());
    }
    catch (const RenderError& e)
    {
        std::fprintf(stderr, "halvern-editor-png: %s\n", e.what());
        return 1;
    }
    return EXIT_SUCCESS;
}
