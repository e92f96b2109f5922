#include "render_options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>

#include <CLI/CLI.hpp>

namespace render
{

namespace
{

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

// Major and natural minor, in semitones above the key note.
constexpr std::array<int, 7> kMajorSteps = {0, 2, 4, 5, 7, 9, 11};
constexpr std::array<int, 7> kMinorSteps = {0, 2, 3, 5, 7, 8, 10};

} // namespace

double parseSemitones(const std::string& flag, const std::string& text)
{
    const std::string value = trim(text);
    char* end = nullptr;
    errno = 0;
    const double semitones = value.empty() ? NAN : std::strtod(value.c_str(), &end);
    if (value.empty() || errno != 0 || *end != '\0' || !std::isfinite(semitones))
        throw UsageError(flag + " needs a number of semitones, got \"" + text + "\"");
    if (std::fabs(semitones) > kMaxShiftSemitones)
        throw UsageError(flag + " must lie between -12 and +12 semitones, got " + value);
    return semitones;
}

double parseSeconds(const std::string& flag, const std::string& text)
{
    const std::string value = trim(text);
    char* end = nullptr;
    errno = 0;
    const double seconds = value.empty() ? NAN : std::strtod(value.c_str(), &end);
    if (value.empty() || errno != 0 || *end != '\0' || !std::isfinite(seconds))
        throw UsageError(flag + " needs a number of seconds, got \"" + text + "\"");
    return seconds;
}

int parsePositiveInt(const std::string& flag, const std::string& text, int maxValue)
{
    const std::string value = trim(text);
    char* end = nullptr;
    errno = 0;
    const long number = value.empty() ? 0 : std::strtol(value.c_str(), &end, 10);
    if (value.empty() || errno != 0 || *end != '\0' || number < 1 || number > maxValue)
        throw UsageError(flag + " needs a whole number from 1 to " + std::to_string(maxValue) +
                         ", got \"" + text + "\"");
    return static_cast<int>(number);
}

SampleFormat parseSampleFormat(const std::string& text)
{
    const std::string value = lowerCase(trim(text));
    if (value == "pcm16") return SampleFormat::Pcm16;
    if (value == "pcm24") return SampleFormat::Pcm24;
    if (value == "float") return SampleFormat::Float;
    throw UsageError("--format must be pcm16, pcm24 or float, got \"" + text + "\"");
}

int parseNoteName(const std::string& text)
{
    if (text.empty()) return -1;
    static const int letterClass[7] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (letter < 'A' || letter > 'G') return -1;
    int pitchClass = letterClass[letter - 'A'];
    for (size_t k = 1; k < text.size(); ++k)
    {
        if (text[k] == '#')
            ++pitchClass;
        else if (text[k] == 'b')
            --pitchClass;
        else
            return -1;
    }
    return ((pitchClass % 12) + 12) % 12;
}

NoteSet parseScale(const std::string& text)
{
    const std::string value = trim(text);
    NoteSet notes{};
    if (lowerCase(value) == "chromatic")
    {
        notes.fill(true);
        return notes;
    }

    const size_t space = value.find_first_of(" \t");
    if (value.find(',') == std::string::npos && space != std::string::npos)
    {
        const std::string key = value.substr(0, space);
        const std::string mode = lowerCase(trim(value.substr(space)));
        const int tonic = parseNoteName(key);
        if (tonic < 0)
            throw UsageError("--scale: \"" + key +
                             "\" is not a note name (use A to G with # or b, e.g. \"F# minor\")");
        const std::array<int, 7>* steps = nullptr;
        if (mode == "major")
            steps = &kMajorSteps;
        else if (mode == "minor")
            steps = &kMinorSteps;
        else
            throw UsageError("--scale: the mode must be major or minor, got \"" + mode + "\"");
        for (int step : *steps)
            notes[(tonic + step) % 12] = true;
        return notes;
    }

    // A list of notes; a single key name alone is a one-note list.
    size_t begin = 0;
    while (true)
    {
        const size_t comma = value.find(',', begin);
        const std::string item = trim(value.substr(begin, comma - begin));
        const int pitchClass = parseNoteName(item);
        if (pitchClass < 0)
            throw UsageError("--scale: \"" + item +
                             "\" is not a note name; give a key such as \"C major\" or "
                             "\"F# minor\", chromatic, or notes such as C,D,E,G,A");
        notes[pitchClass] = true;
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    return notes;
}

std::string noteName(int pitchClass)
{
    static const char* names[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                    "F#", "G",  "G#", "A",  "A#", "B"};
    return names[((pitchClass % 12) + 12) % 12];
}

std::string describeNotes(const NoteSet& notes)
{
    std::string text;
    for (int p = 0; p < 12; ++p)
        if (notes[p]) text += (text.empty() ? "" : " ") + noteName(p);
    return text.empty() ? "(none)" : text;
}

int nearestTenthSemitone(double semitones)
{
    const double clamped = std::fmax(-kMaxShiftSemitones, std::fmin(kMaxShiftSemitones, semitones));
    return static_cast<int>(std::lround(clamped * 10.0));
}

float semitonesToHostValue(double semitones)
{
    const int steps = nearestTenthSemitone(semitones);
    // The end steps are hit exactly by 0 and 1; the middle of their interval lies outside 0..1.
    if (steps >= 120) return 1.0f;
    if (steps <= -120) return 0.0f;
    if (steps == 0) return 0.5f;
    const double middle = steps > 0 ? steps + 0.5 : steps - 0.5;
    return static_cast<float>(0.5 + middle / 240.0);
}

namespace
{

constexpr size_t kHelpColumn = 25;

// The usage line first, then the one-line description, then the option groups.
class UsageFormatter : public CLI::Formatter
{
public:
    std::string make_usage(const CLI::App*, std::string) const override
    {
        return "Usage: halvern-render [OPTIONS] INPUT... (-o OUTPUT | --out-dir DIR)\n\n"
               "Runs recorded voices through the Halvern plug-in, loaded as a host loads it.\n";
    }
    std::string make_description(const CLI::App*) const override { return ""; }
    // The value's name only; the combinations allowed are the README's to tell.
    std::string make_option_opts(const CLI::Option* option) const override
    {
        return option->get_type_name().empty() ? "" : " " + option->get_type_name();
    }
};

void nonEmptyPath(const std::string& flag, const std::string& value)
{
    if (value.empty()) throw UsageError(flag + " needs a non-empty path");
}

// Every option of the tool, writing into options as the command line is read.
void defineOptions(CLI::App& app, RenderOptions& options)
{
    app.formatter(std::make_shared<UsageFormatter>());
    app.get_formatter()->column_width(kHelpColumn);
    app.set_help_flag();
    app.allow_extras(); // reported below as unknown options, by name
    app.footer("Files: WAV, FLAC, AIFF, Ogg Vorbis, MP3, AU, CAF, W64 and RF64 in and out (the\n"
               "output's extension names its format); Ogg Opus in only.\n"
               "\n"
               "Examples:\n"
               "  halvern-render take.wav --scale \"A minor\" -o take-tuned.wav\n"
               "  halvern-render --scale auto --out-dir tuned takes/*.wav\n"
               "\n"
               "Exit status: 0 when every file was written, 1 when any failed, 2 for a bad command "
               "line\nor a --melody file that cannot be used.");

    auto path = [&](const std::string& names, std::string& target, const std::string& flag,
                    const std::string& help, const std::string& group, const std::string& type)
    {
        return app
            .add_option_function<std::string>(
                names,
                [&target, flag](const std::string& value)
                {
                    nonEmptyPath(flag, value);
                    target = value;
                },
                help)
            ->group(group)
            ->type_name(type)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    };
    auto number = [&](const std::string& names, const std::string& help, const std::string& group,
                      const std::string& type, std::function<void(const std::string&)> take)
    {
        return app.add_option_function<std::string>(names, std::move(take), help)
            ->group(group)
            ->type_name(type)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    };
    auto flag = [&](const std::string& names, bool& target, const std::string& help,
                    const std::string& group)
    { return app.add_flag(names, target, help)->group(group)->disable_flag_override(); };

    app.add_option("INPUT", options.inputs, "audio files to render")->type_name("");

    const std::string output = "Output";
    CLI::Option* single = path("-o,--output", options.output, "--output",
                               "write the one input's result to FILE", output, "FILE");
    CLI::Option* folder = path(
        "--out-dir", options.outDir, "--out-dir",
        "write each input's result under its own name into\nDIR, which must exist", output, "DIR");
    single->excludes(folder);
    number("--format", "sample format pcm16, pcm24 or float (default: the input's)", output, "FMT",
           [&](const std::string& v) { options.format = parseSampleFormat(v); });
    flag("-f,--force", options.force, "replace existing output files", output);
    flag("--keep-latency", options.keepLatency,
         "write the plug-in's raw, delayed stream (default: aligned)", output);
    path("--pitch-plot", options.pitchPlot, "--pitch-plot",
         "plot the input's and the output's pitch over time", output, "PNG");
    path("--notes-out", options.notesOut, "--notes-out",
         "write the notes sung in the take as a MIDI file\n(the corrected notes with a scale or "
         "melody)",
         output, "FILE.mid");

    const std::string voice = "Voice";
    number("--pitch", "pitch shift in semitones, -12 to +12 (10-cent steps)", voice, "ST",
           [&](const std::string& v)
           {
               options.pitchSemitones = parseSemitones("--pitch", v);
               options.pitchGiven = true;
           });
    number("--formant", "formant shift in semitones, -12 to +12 (10-cent steps)", voice, "ST",
           [&](const std::string& v)
           {
               options.formantSemitones = parseSemitones("--formant", v);
               options.formantGiven = true;
           });
    number("--engine",
           "halvern (default: looks 221 ms ahead, the most\naccurate) or live (Halvern Live, "
           "11.6 ms late, with\na Retune time)",
           voice, "NAME",
           [&](const std::string& v)
           {
               const std::string name = lowerCase(trim(v));
               if (name == "halvern")
                   options.engine = Engine::Halvern;
               else if (name == "live")
                   options.engine = Engine::Live;
               else
                   throw UsageError("--engine takes halvern or live, not \"" + v + "\"");
           });
    number("--retune", "Halvern Live's Retune time, 0 to 400 ms (default 50;\n0 corrects at once)",
           voice, "MS",
           [&](const std::string& v)
           {
               const std::string value = trim(v);
               char* end = nullptr;
               const double ms = value.empty() ? NAN : std::strtod(value.c_str(), &end);
               if (value.empty() || *end != '\0' || !(ms >= 0.0 && ms <= kMaxRetuneMs))
                   throw UsageError("--retune takes 0 to 400 ms, not \"" + v + "\"");
               options.retuneMs = ms;
               options.retuneGiven = true;
           });
    CLI::Option* scale =
        number("--scale",
               "snap to a scale: \"C major\", \"F# minor\", chromatic,\n"
               "a list of notes such as C,D,E,G,A, or auto: the key\n"
               "found in each input (it needs a tune: 2 s of steady\n"
               "notes on 3 notes or more; else chromatic)",
               voice, "SCALE",
               [&](const std::string& v)
               {
                   options.scale.description = trim(v);
                   options.scale.automatic = lowerCase(options.scale.description) == "auto";
                   options.scale.notes =
                       options.scale.automatic ? NoteSet{} : parseScale(options.scale.description);
                   options.scale.given = true;
               });
    CLI::Option* melody =
        path("--melody", options.melodyPath, "--melody",
             "tune to the melody of a Standard MIDI File, note by\nnote (not with --scale)", voice,
             "FILE.mid");
    melody->excludes(scale);
    number("--melody-track",
           "take the melody from track N (from 1; default:\nthe first track with notes)", voice,
           "N",
           [&](const std::string& v)
           { options.melodyTrack = parsePositiveInt("--melody-track", v, 65535); })
        ->needs(melody);
    number("--melody-offset",
           "the point of the take, in seconds, where the MIDI\nfile's time 0 falls (may be "
           "negative)",
           voice, "SECONDS",
           [&](const std::string& v) { options.melodyOffset = parseSeconds("--melody-offset", v); })
        ->needs(melody);

    const std::string processing = "Input and processing";
    number("--channel", "use channel N (from 1) instead of mixing all channels", processing, "N",
           [&](const std::string& v) { options.channel = parsePositiveInt("--channel", v, 1024); });
    number("--block", "host block size in samples (default 512)", processing, "N",
           [&](const std::string& v)
           { options.blockSize = parsePositiveInt("--block", v, kMaxBlockSize); });
    path("--plugin", options.pluginPath, "--plugin",
         "plug-in library to load (default: the one built or\ninstalled with this tool)",
         processing, "PATH");
    number("-j,--jobs", "files processed in parallel (default: all cores)", processing, "N",
           [&](const std::string& v) { options.jobs = parsePositiveInt("--jobs", v, 1024); });
    flag("-q,--quiet", options.quiet,
         "no progress bar, settings or summary; errors,\nwarnings and the keys found still show",
         processing);
    flag("-h,--help", options.help, "show this help", processing);
    flag("--version", options.version, "show the version", processing);
}

// CLI11's words for a missing value or a value given to a flag, in the tool's own.
std::string usageMessage(const CLI::ParseError& error)
{
    const std::string text = error.what();
    const size_t colon = text.find(':');
    if (text.find("required") != std::string::npos && text.find("missing") != std::string::npos &&
        colon != std::string::npos)
        return text.substr(0, colon) + " needs a value";
    const size_t given = text.find(" was given a disallowed flag override");
    if (given != std::string::npos) return "--" + text.substr(0, given) + " takes no value";
    return text;
}

} // namespace

RenderOptions parseCommandLine(const std::vector<std::string>& args)
{
    RenderOptions options;
    CLI::App app;
    defineOptions(app, options);
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 reads from the back
    try
    {
        app.parse(reversed);
    }
    catch (const CLI::ParseError& error)
    {
        throw UsageError(usageMessage(error));
    }
    for (const std::string& extra : app.remaining())
        if (extra != "--") throw UsageError("unknown option " + extra);
    if (options.help || options.version) return options;

    if (options.inputs.empty()) throw UsageError("no input file given");
    if (options.output.empty() && options.outDir.empty())
        throw UsageError("give -o OUTPUT for one input or --out-dir DIR for several");
    if (!options.output.empty() && options.inputs.size() > 1)
        throw UsageError("-o names one output; use --out-dir DIR for several inputs");
    if (!options.pitchPlot.empty() && options.inputs.size() > 1)
        throw UsageError("--pitch-plot draws one file; give a single input");
    if (!options.notesOut.empty() && options.inputs.size() > 1)
        throw UsageError("--notes-out writes one file; give a single input");
    if (options.retuneGiven && options.engine != Engine::Live)
        throw UsageError("--retune sets Halvern Live's Retune time; add --engine live");
    return options;
}

std::string usageText()
{
    RenderOptions options;
    CLI::App app;
    defineOptions(app, options);
    return app.help();
}

} // namespace render
