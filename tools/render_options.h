// Command line of halvern-render: the options, their parsers and the mapping of musical values
// onto the plug-in's host values.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace render
{

// A bad command line: reported with the usage hint, exit status 2.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum class SampleFormat
{
    FollowInput,
    Pcm16,
    Pcm24,
    Float,
};

// Pitch classes counted from C: 0 = C, 1 = C#, ... 11 = B.
using NoteSet = std::array<bool, 12>;

struct ScaleChoice
{
    bool given = false;
    bool automatic = false; // --scale auto: the notes come from each input's key
    NoteSet notes{};
    std::string description; // as the user wrote it, for messages and the plot
};

// Which plug-in renders: Halvern (its look-ahead, the most accurate) or Halvern Live.
enum class Engine
{
    Halvern,
    Live,
};

struct RenderOptions
{
    std::vector<std::string> inputs;
    std::string output; // -o
    std::string outDir; // --out-dir
    std::string pluginPath;
    Engine engine = Engine::Halvern;
    bool retuneGiven = false;
    double retuneMs = 50.0; // --retune, Halvern Live only
    bool pitchGiven = false;
    double pitchSemitones = 0.0;
    bool formantGiven = false;
    double formantSemitones = 0.0;
    ScaleChoice scale;
    std::string melodyPath;    // --melody
    int melodyTrack = 0;       // 1-based; 0 takes the first track with notes
    double melodyOffset = 0.0; // seconds into the take where the MIDI file's time 0 falls
    int channel = 0;           // 1-based; 0 mixes all channels down to mono
    SampleFormat format = SampleFormat::FollowInput;
    int blockSize = 512;
    bool keepLatency = false;
    bool quiet = false;
    bool force = false;
    int jobs = 0; // 0: one per core
    std::string pitchPlot;
    std::string notesOut; // --notes-out: the take's sung notes as a MIDI file
    bool help = false;
    bool version = false;
};

constexpr int kMaxBlockSize = 1 << 20;
constexpr double kMaxShiftSemitones = 12.0;

// Parameter indices of the plug-in.
constexpr int kPitchParameter = 0;
constexpr int kFormantParameter = 1;
constexpr int kScaleParameter = 2;
constexpr int kFirstNoteParameter = 3; // Scale C; pitch class p is parameter 3 + p
constexpr int kRetuneParameter = 15;   // Halvern Live: 0..1 spans 0..400 ms
constexpr double kMaxRetuneMs = 400.0;

// Parses argv[1..] with CLI11; throws UsageError. Checks the combination of options too.
RenderOptions parseCommandLine(const std::vector<std::string>& args);

// "--pitch" values: a finite number of semitones within ±12.
double parseSemitones(const std::string& flag, const std::string& text);

// "--melody-offset" values: a finite number of seconds, either sign.
double parseSeconds(const std::string& flag, const std::string& text);

// A positive integer no larger than maxValue.
int parsePositiveInt(const std::string& flag, const std::string& text, int maxValue);

SampleFormat parseSampleFormat(const std::string& text);

// A note name with optional sharps or flats ("C", "F#", "Bb", "e"): pitch class 0..11, or -1.
int parseNoteName(const std::string& text);

// "C major", "F# minor", "chromatic", or a comma-separated list of notes ("C,D,E,G,A").
NoteSet parseScale(const std::string& text);

// Name of a pitch class with sharps: "C", "C#", ... "B".
std::string noteName(int pitchClass);

// "C D E F G A B" for the enabled notes, "(none)" when empty.
std::string describeNotes(const NoteSet& notes);

// Host value for a shift in semitones. The plug-in keeps 10-cent steps and truncates toward zero,
// so the value lies in the middle of the step nearest to the request, where rounding in the
// plug-in's single-precision arithmetic cannot push it into the neighbouring step.
float semitonesToHostValue(double semitones);

// The step that semitonesToHostValue aims at, in tenths of a semitone.
int nearestTenthSemitone(double semitones);

// The help text, from the same option definitions.
std::string usageText();

} // namespace render
