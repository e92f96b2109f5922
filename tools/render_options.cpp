#include "render_options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

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

bool startsWithDash(const std::string& text)
{
    return text.size() > 1 && text[0] == '-';
}

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

RenderOptions parseCommandLine(const std::vector<std::string>& args)
{
    RenderOptions options;
    bool onlyInputs = false;
    for (size_t k = 0; k < args.size(); ++k)
    {
        const std::string& arg = args[k];
        if (onlyInputs || !startsWithDash(arg))
        {
            options.inputs.push_back(arg);
            continue;
        }
        // --name=value is accepted as well as --name value.
        std::string flag = arg;
        std::string inlineValue;
        bool hasInlineValue = false;
        const size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos)
        {
            flag = arg.substr(0, equals);
            inlineValue = arg.substr(equals + 1);
            hasInlineValue = true;
        }
        auto value = [&]() -> std::string
        {
            if (hasInlineValue) return inlineValue;
            if (k + 1 >= args.size()) throw UsageError(flag + " needs a value");
            return args[++k];
        };
        auto noValue = [&]()
        {
            if (hasInlineValue) throw UsageError(flag + " takes no value");
        };

        if (flag == "--")
            onlyInputs = true;
        else if (flag == "-h" || flag == "--help")
            noValue(), options.help = true;
        else if (flag == "-o" || flag == "--output")
            options.output = value();
        else if (flag == "--out-dir")
            options.outDir = value();
        else if (flag == "--plugin")
            options.pluginPath = value();
        else if (flag == "--pitch")
            options.pitchSemitones = parseSemitones(flag, value()), options.pitchGiven = true;
        else if (flag == "--formant")
            options.formantSemitones = parseSemitones(flag, value()), options.formantGiven = true;
        else if (flag == "--scale")
        {
            options.scale.description = trim(value());
            options.scale.notes = parseScale(options.scale.description);
            options.scale.given = true;
        }
        else if (flag == "--channel")
            options.channel = parsePositiveInt(flag, value(), 1024);
        else if (flag == "--format")
            options.format = parseSampleFormat(value());
        else if (flag == "--block")
            options.blockSize = parsePositiveInt(flag, value(), kMaxBlockSize);
        else if (flag == "--keep-latency")
            noValue(), options.keepLatency = true;
        else if (flag == "-q" || flag == "--quiet")
            noValue(), options.quiet = true;
        else if (flag == "-f" || flag == "--force")
            noValue(), options.force = true;
        else if (flag == "-j" || flag == "--jobs")
            options.jobs = parsePositiveInt(flag, value(), 1024);
        else if (flag == "--pitch-plot")
            options.pitchPlot = value();
        else
            throw UsageError("unknown option " + flag);

        if ((flag == "-o" || flag == "--output" || flag == "--out-dir" || flag == "--plugin" ||
             flag == "--pitch-plot") &&
            (hasInlineValue ? inlineValue : args[k]).empty())
            throw UsageError(flag + " needs a non-empty path");
    }
    if (options.help) return options;

    if (options.inputs.empty()) throw UsageError("no input file given");
    if (!options.output.empty() && !options.outDir.empty())
        throw UsageError("give either -o OUTPUT or --out-dir DIR, not both");
    if (options.output.empty() && options.outDir.empty())
        throw UsageError("give -o OUTPUT for one input or --out-dir DIR for several");
    if (!options.output.empty() && options.inputs.size() > 1)
        throw UsageError("-o names one output; use --out-dir DIR for several inputs");
    if (!options.pitchPlot.empty() && options.inputs.size() > 1)
        throw UsageError("--pitch-plot draws one file; give a single input");
    return options;
}

std::string usageText()
{
    return R"(Usage: halvern-render [OPTIONS] INPUT... (-o OUTPUT | --out-dir DIR)

Runs recorded voices through the Halvern plug-in, loaded as a host loads it.

Output:
  -o, --output FILE      write the one input's result to FILE
      --out-dir DIR      write each input's result under its own name into DIR
      --format FMT       sample format pcm16, pcm24 or float (default: the input's)
  -f, --force            replace existing output files
      --keep-latency     write the plug-in's raw, delayed stream (default: aligned)
      --pitch-plot PNG   plot the input's and the output's pitch over time

Voice:
      --pitch ST         pitch shift in semitones, -12 to +12 (10-cent steps)
      --formant ST       formant shift in semitones, -12 to +12 (10-cent steps)
      --scale SCALE      snap to a scale: "C major", "F# minor", chromatic,
                         or a list of notes such as C,D,E,G,A

Input and processing:
      --channel N        use channel N (from 1) instead of mixing all channels
      --block N          host block size in samples (default 512)
      --plugin PATH      plug-in library to load (default: the one built or
                         installed with this tool)
  -j, --jobs N           files processed in parallel (default: all cores)
  -q, --quiet            no progress bar, settings or summary; errors only
  -h, --help             show this help

Exit status: 0 when every file was written, 1 when any failed, 2 for a bad command line.
)";
}

} // namespace render
