// Measures how well halvern-render tunes generated takes: the share of notes within 20 cents
// of the note meant with --scale auto and --scale chromatic (notes sung up to 80 cents towards
// notes the tune never uses), the share of keys named right, and the share with --melody (notes
// sung up to 75 cents off either way). A take sings its tune REPEATS times over (default once).
// Usage: tuning_bench [FOLDER] [TAKES PER TUNE] [REPEATS]
#include "render_key.h"
#include "tuning_takes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

using namespace tuningtest;

namespace
{

std::string folder = "tuning-bench";

void writeWav(const std::string& path, const std::vector<float>& samples, double rate)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

std::vector<float> runTool(const std::string& input, const std::string& flags, std::string& key)
{
    const std::string output = folder + "/out.wav";
    const std::string log = folder + "/log.txt";
    const std::string command = std::string(HALVERN_RENDER_PATH) + " -f " + flags + " " + input +
                                " -o " + output + " > " + log + " 2>&1";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    key.clear();
    if (FILE* f = std::fopen(log.c_str(), "r"))
    {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::string(line).rfind("key: ", 0) == 0) key = line;
        std::fclose(f);
    }
    return rendertest::readAudio(output).samples;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) folder = argv[1];
    const int perTune = argc > 2 ? std::atoi(argv[2]) : 6;
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    mkdir(folder.c_str(), 0777);
    size_t notes = 0, autoGood = 0, chromaticGood = 0, melodyGood = 0, takes = 0, keysRight = 0;
    uint32_t seed = 1;
    for (const Tune& once : tunes())
        for (int k = 0; k < perTune; ++k, ++seed)
        {
            std::string steps;
            for (int r = 0; r < repeats; ++r)
                steps += once.steps;
            const Tune tune{once.name, once.minor, steps.c_str()};
            const int tonic = static_cast<int>((seed * 5) % 12);
            const Take stray = singTune(tune, tonic, 80.0, true, seed);
            const std::string input = folder + "/take.wav";
            writeWav(input, stray.samples, stray.rate);
            std::string key;
            const auto tunedChromatic = runTool(input, "--scale chromatic", key);
            const auto tunedAuto = runTool(input, "--scale auto", key);
            const std::string named = key;
            const std::string meant = render::noteName(tonic) + (tune.minor ? " minor" : " major");
            const std::string relative = render::noteName(tune.minor ? tonic + 3 : tonic + 9) +
                                         (tune.minor ? " major" : " minor");
            const bool right = named.find(meant + " (") != std::string::npos ||
                               named.find(relative + " (") != std::string::npos;
            const auto a = noteErrors(tunedAuto, stray.rate, stray.notes);
            const auto c = noteErrors(tunedChromatic, stray.rate, stray.notes);

            const Take off = singTune(tune, tonic, 75.0, false, seed + 1000);
            writeWav(input, off.samples, off.rate);
            writeMidi(folder + "/melody.mid", off.notes);
            const auto m = noteErrors(runTool(input, "--melody " + folder + "/melody.mid", key),
                                      off.rate, off.notes);
            for (size_t n = 0; n < a.size(); ++n)
            {
                autoGood += std::fabs(a[n]) <= 20.0;
                chromaticGood += std::fabs(c[n]) <= 20.0;
                melodyGood += std::fabs(m[n]) <= 20.0;
            }
            notes += a.size();
            keysRight += right;
            ++takes;
            std::printf("%-10s %-3s %s: auto %.0f%%, chromatic %.0f%%, melody %.0f%%%s", tune.name,
                        render::noteName(tonic).c_str(), tune.minor ? "minor" : "major",
                        100.0 * shareWithin(a, 20.0), 100.0 * shareWithin(c, 20.0),
                        100.0 * shareWithin(m, 20.0),
                        right ? "\n" : ("  key named: " + named).c_str());
        }
    std::printf("%zu takes, %zu notes: within 20 cents with --scale auto %.1f%%, with --scale "
                "chromatic %.1f%%, with --melody %.1f%%; keys named right (or the relative) "
                "%.1f%%\n",
                takes, notes, 100.0 * autoGood / notes, 100.0 * chromaticGood / notes,
                100.0 * melodyGood / notes, 100.0 * keysRight / takes);
    return 0;
}
