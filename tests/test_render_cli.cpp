// halvern-render end to end: the built tool run as a user runs it, against the real plug-in and
// against stand-in plug-ins whose output is known exactly.
#include "render_melody.h"
#include "render_notes.h"
#include "render_testsupport.h"
#include "tuning_takes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cairo.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using rendertest::listFolder;
using rendertest::readAudio;
using rendertest::voicedTone;
using rendertest::writeAudio;

namespace
{

struct ToolRun
{
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Starts the tool with its output captured in files beside (not inside) the scratch folder.
pid_t startTool(const std::vector<std::string>& args, const std::string& capture)
{
    const pid_t pid = fork();
    if (pid == 0)
    {
        const int out = open((capture + ".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((capture + ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(HALVERN_RENDER_PATH));
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(HALVERN_RENDER_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

ToolRun finish(pid_t pid, const std::string& capture)
{
    int status = 0;
    waitpid(pid, &status, 0);
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = slurp(capture + ".stdout");
    run.err = slurp(capture + ".stderr");
    return run;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class RenderCli : public ::testing::Test
{
protected:
    void SetUp() override { dir = rendertest::scratchFolder(); }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    ToolRun render(std::vector<std::string> args)
    {
        const std::string capture = dir + ".run";
        return finish(startTool(args, capture), capture);
    }

    // A voiced signal in irregular bursts with a wide vibrato, so that no two neighbouring
    // periods look alike and the alignment is unambiguous.
    static std::vector<float> bursts(double rate, double f0)
    {
        auto tone = voicedTone([f0](double t)
                               { return f0 * (1.0 + 0.06 * std::sin(2.0 * M_PI * 4.0 * t)); },
                               rate, 1.5);
        const double on[][2] = {{0.05, 0.40}, {0.55, 0.80}, {1.00, 1.45}};
        for (size_t k = 0; k < tone.size(); ++k)
        {
            const double t = k / rate;
            bool inside = false;
            for (const auto& span : on)
                inside = inside || (t >= span[0] && t < span[1]);
            if (!inside) tone[k] = 0.0f;
        }
        return tone;
    }

    std::string dir;
};

// Lag at which out best matches in (out[k + lag] ~ in[k]), searched over -maxLag..maxLag.
long correlationPeak(const std::vector<float>& in, const std::vector<float>& out, long maxLag)
{
    const long n = static_cast<long>(std::min(in.size(), out.size()));
    long bestLag = 0;
    double best = -INFINITY;
    for (long lag = -maxLag; lag <= maxLag; ++lag)
    {
        const long from = std::max(0L, -lag);
        const long to = std::min(n, n - lag);
        // Eight running sums keep the adder busy; this search covers a quarter second of lags.
        float sums[8] = {};
        long k = from;
        for (; k + 8 <= to; k += 8)
            for (int u = 0; u < 8; ++u)
                sums[u] += in[k + u] * out[k + u + lag];
        float sum = 0.0f;
        for (; k < to; ++k)
            sum += in[k] * out[k + lag];
        for (float partial : sums)
            sum += partial;
        if (sum > best)
        {
            best = sum;
            bestLag = lag;
        }
    }
    return bestLag;
}

} // namespace

TEST_F(RenderCli, HelpIsPrinted)
{
    const ToolRun run = render({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("Usage: halvern-render", 0), 0u) << run.out;
    EXPECT_TRUE(contains(run.out, "--scale"));
}

TEST_F(RenderCli, DelayIsRemovedSampleForSample)
{
    // The stand-in plug-in delays by rate/100 samples and reports it; aligned output must equal
    // the input exactly (16-bit in, 16-bit out) whatever the host block size.
    const auto input = voicedTone([](double) { return 180.0; }, 44100, 0.5);
    writeAudio(path("in.wav"), input, 1, 44100);
    const auto original = readAudio(path("in.wav"));
    for (const char* block : {"512", "1", "333", "4096"})
    {
        const std::string out = path(std::string("out") + block + ".wav");
        const ToolRun run =
            render({"--plugin", FIXTURE_DELAY_PLUGIN, "--block", block, path("in.wav"), "-o", out});
        ASSERT_EQ(run.status, 0) << run.err;
        const auto output = readAudio(out);
        ASSERT_TRUE(output.ok);
        EXPECT_EQ(output.rate, 44100);
        EXPECT_EQ(output.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        EXPECT_EQ(output.samples, original.samples) << "block " << block;
    }
}

TEST_F(RenderCli, KeepLatencyWritesTheRawStream)
{
    const auto input = voicedTone([](double) { return 150.0; }, 44100, 0.3);
    writeAudio(path("in.wav"), input, 1, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const ToolRun run = render({"--plugin", FIXTURE_DELAY_PLUGIN, "--keep-latency", path("in.wav"),
                                "-o", path("raw.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto output = readAudio(path("raw.wav"));
    ASSERT_EQ(output.samples.size(), input.size());
    const size_t delay = 441;
    for (size_t k = 0; k < delay; ++k)
        ASSERT_EQ(output.samples[k], 0.0f) << k;
    for (size_t k = delay; k < input.size(); ++k)
        ASSERT_EQ(output.samples[k], input[k - delay]) << k;
}

TEST_F(RenderCli, PluginThatFollowsTheRateGetsOtherRates)
{
    const auto input = voicedTone([](double) { return 200.0; }, 48000, 0.4);
    writeAudio(path("in48.wav"), input, 1, 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const ToolRun run =
        render({"--plugin", FIXTURE_DELAY_PLUGIN, path("in48.wav"), "-o", path("out48.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto output = readAudio(path("out48.wav"));
    EXPECT_EQ(output.rate, 48000);
    EXPECT_EQ(output.samples, input);
}

TEST_F(RenderCli, PluginFixedAt44100RefusesA48kFile)
{
    const auto input = voicedTone([](double) { return 200.0; }, 48000, 0.4);
    writeAudio(path("in48.wav"), input, 1, 48000);
    const auto before = listFolder(dir);
    const ToolRun run =
        render({"--plugin", FIXTURE_FIXED_PLUGIN, path("in48.wav"), "-o", path("out.wav")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "48000 Hz")) << run.err;
    EXPECT_TRUE(contains(run.err, "44100 Hz")) << run.err;
    EXPECT_EQ(listFolder(dir), before);

    // At its own rate the same plug-in is fine.
    writeAudio(path("in44.wav"), input, 1, 44100);
    EXPECT_EQ(
        render({"--plugin", FIXTURE_FIXED_PLUGIN, path("in44.wav"), "-o", path("ok.wav")}).status,
        0);
}

class RealPluginAlignment : public RenderCli,
                            public ::testing::WithParamInterface<std::tuple<int, const char*>>
{
};

TEST_P(RealPluginAlignment, OutputLinesUpWithTheInput)
{
    const auto [rate, engine] = GetParam();
    const double f0 = 180.0;
    const auto input = bursts(rate, f0);
    writeAudio(path("voice.wav"), input, 1, rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const ToolRun run =
        render({"--engine", engine, path("voice.wav"), "-o", path("aligned.wav"), "-f"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto output = readAudio(path("aligned.wav"));
    ASSERT_TRUE(output.ok);
    ASSERT_EQ(output.samples.size(), input.size());

    double inEnergy = 0.0, outEnergy = 0.0;
    for (size_t k = 0; k < input.size(); ++k)
    {
        inEnergy += input[k] * input[k];
        outEnergy += output.samples[k] * output.samples[k];
    }
    ASSERT_GT(outEnergy, 0.1 * inEnergy) << "the plug-in's output is (nearly) silent";

    // Search well past the plug-in's delay, so a missing or doubled compensation would show.
    const long period = std::lround(rate / f0);
    const long lag = correlationPeak(input, output.samples, std::lround(0.25 * rate));
    EXPECT_LE(std::labs(lag), period) << "correlation peak at lag " << lag;
}

INSTANTIATE_TEST_SUITE_P(RatesAndEngines, RealPluginAlignment,
                         ::testing::Combine(::testing::Values(44100, 48000),
                                            ::testing::Values("halvern", "live")));

TEST_F(RenderCli, SettingsAreReadBackFromThePlugin)
{
    writeAudio(path("in.wav"), voicedTone([](double) { return 200.0; }, 44100, 0.1), 1, 44100);
    ToolRun run = render({path("in.wav"), "-o", path("a.wav"), "--pitch", "3.5", "--formant",
                          "-0.33", "--scale", "F# minor"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "pitch: +3.5 semitones\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "formant: -0.3 semitones (asked for -0.33")) << run.out;
    EXPECT_TRUE(contains(run.out, "scale: F# minor = C# D E F# G# A B (Scale ON)")) << run.out;
    EXPECT_TRUE(contains(run.out, "-> " + path("a.wav"))) << run.out;
    EXPECT_TRUE(contains(run.out, "realtime")) << run.out;

    run = render({path("in.wav"), "-o", path("b.wav"), "--pitch", "-12", "-q"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");

    run = render({"--engine", "live", "--retune", "120", "--scale", "auto", path("in.wav"), "-o",
                  path("c.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "HalvernLive.so")) << run.out;
    EXPECT_TRUE(contains(run.out, "retune: 120 ms\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "delay 512 samples at 44100 Hz")) << run.out;
}

TEST_F(RenderCli, BadFlagValuesAreRefusedBeforeAnyWork)
{
    writeAudio(path("in.wav"), voicedTone([](double) { return 200.0; }, 44100, 0.1), 1, 44100);
    const auto before = listFolder(dir);
    const struct
    {
        std::vector<std::string> flags;
        const char* message;
    } cases[] = {
        {{"--pitch", "13"}, "between -12 and +12"},
        {{"--pitch", "x"}, "--pitch needs a number"},
        {{"--formant", "-12.5"}, "--formant must lie between"},
        {{"--scale", "H major"}, "\"H\" is not a note name"},
        {{"--scale", "C lydian"}, "major or minor"},
        {{"--block", "0"}, "--block needs a whole number"},
        {{"--format", "mp3"}, "--format must be"},
        {{"-j", "0"}, "--jobs needs a whole number"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"--quiet=yes"}, "--quiet takes no value"},
        {{"--out-dir", "d"}, "--output excludes --out-dir"},
        {{"--scale", "auto", "--melody", "m.mid"}, "--scale excludes --melody"},
        {{"--melody-track", "2"}, "--melody-track requires --melody"},
        {{"--pitch"}, "--pitch needs a value"},
        {{"--engine", "slow"}, "--engine takes halvern or live"},
        {{"--retune", "20"}, "add --engine live"},
        {{"--engine", "live", "--retune", "401"}, "0 to 400 ms"},
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> args = {path("in.wav"), "-o", path("out.wav")};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        const ToolRun run = render(args);
        EXPECT_EQ(run.status, 2) << c.flags[0];
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        EXPECT_TRUE(contains(run.err, "--help")) << run.err;
        EXPECT_EQ(listFolder(dir), before) << c.flags[0];
    }
    const ToolRun noOutput = render({path("in.wav")});
    EXPECT_EQ(noOutput.status, 2);
    EXPECT_TRUE(contains(noOutput.err, "-o OUTPUT")) << noOutput.err;
}

TEST_F(RenderCli, BadInputsFailCleanly)
{
    writeAudio(path("stereo.wav"), std::vector<float>(2000, 0.1f), 2, 44100);
    writeAudio(path("noframes.wav"), {}, 1, 44100);
    std::ofstream(path("text.wav")) << "RIFF? no, just words that are not audio at all\n";
    std::ofstream(path("zero.wav"));
    mkdir(path("folder.wav").c_str(), 0777);
    const auto before = listFolder(dir);
    const struct
    {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{path("missing.wav")}, "no such file"},
        {{path("folder.wav")}, "is a folder"},
        {{path("text.wav")}, "not an audio file"},
        {{path("zero.wav")}, "empty"},
        {{path("noframes.wav")}, "holds no audio"},
        {{path("stereo.wav"), "--channel", "3"}, "--channel 3 does not exist"},
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", path("out.wav")});
        const ToolRun run = render(args);
        EXPECT_EQ(run.status, 1) << c.args[0];
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        EXPECT_EQ(listFolder(dir), before) << c.args[0];
    }
}

TEST_F(RenderCli, UnwritableOutputsFailCleanly)
{
    writeAudio(path("in.wav"), voicedTone([](double) { return 200.0; }, 44100, 0.1), 1, 44100);
    std::ofstream(path("plainfile")) << "x";
    const auto before = listFolder(dir);
    const struct
    {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"-o", path("nowhere/out.wav")}, "does not exist"},
        {{"-o", path("plainfile/out.wav")}, "not a folder"},
        {{"--out-dir", path("nowhere")}, "does not exist"},
        {{"--out-dir", path("plainfile")}, "is not a folder"},
        {{"-o", path("out.xyz")}, "cannot tell the output format"},
        {{"-o", path("out.flac"), "--format", "float"}, "cannot hold"},
        {{"-o", path("in.wav"), "--force"}, "is the input itself"},
        {{"--out-dir", dir, "--force"}, "is the input itself"},
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> args = {path("in.wav")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun run = render(args);
        EXPECT_EQ(run.status, 1) << c.args[1];
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        EXPECT_EQ(listFolder(dir), before) << c.args[1];
    }
}

TEST_F(RenderCli, PluginsThatCannotBeUsedAreRefused)
{
    writeAudio(path("in.wav"), voicedTone([](double) { return 200.0; }, 44100, 0.1), 1, 44100);
    std::ofstream(path("fake.so")) << "not a library";
    const auto before = listFolder(dir);
    const struct
    {
        std::string plugin;
        const char* message;
    } cases[] = {
        {path("missing.so"), "cannot load plug-in library"},
        {path("fake.so"), "cannot load plug-in library"},
        {FIXTURE_NULL_PLUGIN, "returned no effect"},
        {FIXTURE_STEREO_PLUGIN, "1 in, 1 out"},
    };
    for (const auto& c : cases)
    {
        const ToolRun run = render({"--plugin", c.plugin, path("in.wav"), "-o", path("out.wav")});
        EXPECT_EQ(run.status, 1) << c.plugin;
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        EXPECT_EQ(listFolder(dir), before) << c.plugin;
    }
}

TEST_F(RenderCli, ExistingOutputNeedsForce)
{
    writeAudio(path("in.wav"), voicedTone([](double) { return 200.0; }, 44100, 0.2), 1, 44100);
    std::ofstream(path("out.wav")) << "precious";
    std::ofstream(path("plot.png")) << "precious";
    const auto before = listFolder(dir);

    ToolRun run = render({"--plugin", FIXTURE_DELAY_PLUGIN, path("in.wav"), "-o", path("out.wav")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "already exists")) << run.err;
    EXPECT_EQ(slurp(path("out.wav")), "precious");

    run = render({"--plugin", FIXTURE_DELAY_PLUGIN, path("in.wav"), "-o", path("new.wav"),
                  "--pitch-plot", path("plot.png")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(slurp(path("plot.png")), "precious");
    EXPECT_EQ(listFolder(dir), before);

    run = render(
        {"--plugin", FIXTURE_DELAY_PLUGIN, path("in.wav"), "-o", path("out.wav"), "--force"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readAudio(path("out.wav")).samples, readAudio(path("in.wav")).samples);
    EXPECT_EQ(listFolder(dir), before);
}

TEST_F(RenderCli, ParallelBatchEqualsOneByOne)
{
    mkdir(path("parallel").c_str(), 0777);
    mkdir(path("serial").c_str(), 0777);
    mkdir(path("single").c_str(), 0777);
    std::vector<std::string> inputs;
    for (int k = 0; k < 3; ++k)
    {
        const double start = 160.0 + 45.0 * k;
        const std::string name = path("take" + std::to_string(k) + ".wav");
        writeAudio(name,
                   voicedTone([start](double t) { return start * (1.0 + 0.08 * t); }, 44100, 1.2),
                   1, 44100);
        inputs.push_back(name);
    }
    auto batch = [&](const std::string& jobs, const std::string& folder)
    {
        std::vector<std::string> args = {"-j", jobs, "--scale", "C major", "--out-dir", folder};
        args.insert(args.end(), inputs.begin(), inputs.end());
        return render(args);
    };
    ToolRun run = batch("3", path("parallel"));
    ASSERT_EQ(run.status, 0) << run.err;
    run = batch("1", path("serial"));
    ASSERT_EQ(run.status, 0) << run.err;
    for (int k = 0; k < 3; ++k)
    {
        const std::string name = "take" + std::to_string(k) + ".wav";
        const std::string parallel = slurp(path("parallel/" + name));
        ASSERT_FALSE(parallel.empty());
        EXPECT_EQ(parallel, slurp(path("serial/" + name))) << name;
    }
    run = render({"--scale", "C major", inputs[1], "-o", path("single/take1.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(slurp(path("single/take1.wav")), slurp(path("parallel/take1.wav")));
    // The takes are not silent, so equality means something.
    const auto out = readAudio(path("parallel/take1.wav"));
    EXPECT_GT(*std::max_element(out.samples.begin(), out.samples.end()), 0.05f);
}

TEST_F(RenderCli, BatchWithClashingNamesIsRefused)
{
    mkdir(path("a").c_str(), 0777);
    mkdir(path("b").c_str(), 0777);
    mkdir(path("out").c_str(), 0777);
    const auto tone = voicedTone([](double) { return 200.0; }, 44100, 0.1);
    writeAudio(path("a/take.wav"), tone, 1, 44100);
    writeAudio(path("b/take.wav"), tone, 1, 44100);
    const ToolRun run = render({path("a/take.wav"), path("b/take.wav"), "--out-dir", path("out")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "would both be written")) << run.err;
    EXPECT_TRUE(listFolder(path("out")).empty());
}

TEST_F(RenderCli, FloatOutputIsNotClippedAndPcmReportsClipping)
{
    std::vector<float> loud(4410);
    for (size_t k = 0; k < loud.size(); ++k)
        loud[k] = static_cast<float>(1.6 * std::sin(2.0 * M_PI * 220.0 * k / 44100.0));
    writeAudio(path("loud.wav"), loud, 1, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    ToolRun run = render({"--plugin", FIXTURE_DELAY_PLUGIN, path("loud.wav"), "-o", path("f.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readAudio(path("f.wav")).samples, loud);
    EXPECT_FALSE(contains(run.err, "clipped")) << run.err;

    run = render({"--plugin", FIXTURE_DELAY_PLUGIN, path("loud.wav"), "-o", path("p.wav"),
                  "--format", "pcm16"});
    ASSERT_EQ(run.status, 0) << run.err;
    size_t beyond = 0;
    for (float v : loud)
        beyond += std::nearbyint(v * 32768.0) > 32767.0 || std::nearbyint(v * 32768.0) < -32768.0;
    ASSERT_GT(beyond, 0u);
    EXPECT_TRUE(contains(run.err, std::to_string(beyond) + " samples clipped at 16-bit"))
        << run.err;
    const auto pcm = readAudio(path("p.wav"));
    EXPECT_EQ(pcm.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(*std::max_element(pcm.samples.begin(), pcm.samples.end()), 32767.0f / 32768.0f);
}

TEST_F(RenderCli, ChannelsAreMixedOrPicked)
{
    std::vector<float> stereo;
    const auto left = voicedTone([](double) { return 200.0; }, 44100, 0.2);
    const auto right = voicedTone([](double) { return 310.0; }, 44100, 0.2, 0.2);
    for (size_t k = 0; k < left.size(); ++k)
    {
        stereo.push_back(left[k]);
        stereo.push_back(right[k]);
    }
    writeAudio(path("stereo.wav"), stereo, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ToolRun run = render({"--plugin", FIXTURE_DELAY_PLUGIN, path("stereo.wav"), "-o",
                          path("pick.wav"), "--channel", "2"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readAudio(path("pick.wav")).samples, right);

    run = render({"--plugin", FIXTURE_DELAY_PLUGIN, path("stereo.wav"), "-o", path("mix.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto mix = readAudio(path("mix.wav"));
    ASSERT_EQ(mix.channels, 1);
    ASSERT_EQ(mix.samples.size(), left.size());
    for (size_t k = 0; k < left.size(); ++k)
        ASSERT_NEAR(mix.samples[k], 0.5f * (left[k] + right[k]), 1e-7f) << k;
}

TEST_F(RenderCli, PitchPlotIsWritten)
{
    writeAudio(path("in.wav"), voicedTone([](double) { return 220.0; }, 44100, 0.5), 1, 44100);
    const ToolRun run =
        render({"--plugin", FIXTURE_DELAY_PLUGIN, path("in.wav"), "-o", path("out.wav"),
                "--pitch-plot", path("plot.png"), "--scale", "A minor"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "pitch plot -> " + path("plot.png"))) << run.out;
    cairo_surface_t* image = cairo_image_surface_create_from_png(path("plot.png").c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(image), 1200);
    EXPECT_EQ(cairo_image_surface_get_height(image), 600);
    cairo_surface_destroy(image);
    EXPECT_EQ(listFolder(dir), (std::set<std::string>{"in.wav", "out.wav", "plot.png"}));
}

TEST_F(RenderCli, InterruptionLeavesNoPartialFile)
{
    // Long enough that the run is still going when the temporary output appears.
    std::vector<float> tone(44100 * 30);
    for (size_t k = 0; k < tone.size(); ++k)
        tone[k] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 200.0 * k / 44100.0));
    writeAudio(path("long.wav"), tone, 1, 44100);
    const auto before = listFolder(dir);
    const std::string capture = dir + ".run";
    const pid_t pid = startTool({path("long.wav"), "-o", path("out.wav"), "-q"}, capture);
    bool sawTemporary = false;
    for (int tries = 0; tries < 20000 && !sawTemporary; ++tries)
    {
        for (const auto& name : listFolder(dir))
            sawTemporary = sawTemporary || name.find(".part") != std::string::npos;
        if (!sawTemporary) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    kill(pid, SIGINT);
    const ToolRun run = finish(pid, capture);
    ASSERT_TRUE(sawTemporary);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(listFolder(dir), before);
}

TEST_F(RenderCli, AutoScaleNamesTheKeyOrSaysWhyNot)
{
    const auto take = tuningtest::singTune(tuningtest::tunes()[1], 2, 30.0, false, 5);
    writeAudio(path("tune.wav"), take.samples, 1, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    writeAudio(path("held.wav"), voicedTone([](double) { return 196.0; }, 44100, 3.0), 1, 44100);
    mkdir(path("out").c_str(), 0777);
    const ToolRun run = render({"--scale", "auto", path("tune.wav"), path("held.wav"), "--out-dir",
                                path("out"), "-j", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, path("out/tune.wav") + "\nkey: D major (confidence ")) << run.out;
    EXPECT_TRUE(contains(run.out, path("out/held.wav") +
                                      "\nkey: undecided (1 distinct note in 3.0 s); tuning "
                                      "chromatic\n"))
        << run.out;
    const auto errors =
        tuningtest::noteErrors(readAudio(path("out/tune.wav")).samples, 44100, take.notes);
    EXPECT_GE(tuningtest::shareWithin(errors, 20.0), 0.9);
}

TEST_F(RenderCli, MelodyTunesEachNoteAndLeavesTheRestAsSung)
{
    // Sung up to 75 cents off; the melody leaves out the sixth note (a rest) and the last three.
    const auto take = tuningtest::singTune(tuningtest::tunes()[0], 5, 75.0, false, 9);
    writeAudio(path("take.wav"), take.samples, 1, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<tuningtest::SungNote> written(take.notes.begin(), take.notes.end() - 3);
    written.erase(written.begin() + 5);
    ASSERT_TRUE(tuningtest::writeMidi(path("melody.mid"), written, true, 1));
    const ToolRun run =
        render({path("take.wav"), "--melody", path("melody.mid"), "-o", path("out.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto output = readAudio(path("out.wav")).samples;
    const auto meant = tuningtest::noteErrors(output, 44100, take.notes);
    const auto sung = tuningtest::noteErrors(output, 44100, take.notes, true);
    for (size_t n = 0; n < take.notes.size(); ++n)
    {
        const bool inMelody = n != 5 && n + 3 < take.notes.size();
        EXPECT_LE(std::fabs(inMelody ? meant[n] : sung[n]), 20.0)
            << "note " << n << (inMelody ? " against the melody" : " left as sung");
    }

    // Files that cannot give a melody are refused with the command line, and nothing is written.
    std::ofstream(path("text.mid")) << "not a MIDI file";
    ASSERT_TRUE(tuningtest::writeMidi(path("empty.mid"), {}));
    {
        smf_t* drums = smf_new();
        smf_track_t* track = smf_track_new();
        smf_add_track(drums, track);
        smf_track_add_event_seconds(track, smf_event_new_from_bytes(0x99, 36, 100), 0.5);
        smf_track_add_event_seconds(track, smf_event_new_from_bytes(0x89, 36, 0), 0.6);
        ASSERT_EQ(smf_save(drums, path("drums.mid").c_str()), 0);
        smf_delete(drums);
    }
    const auto before = listFolder(dir);
    const struct
    {
        std::vector<std::string> flags;
        const char* message;
    } cases[] = {
        {{"--melody", path("text.mid")}, "cannot read it as a MIDI file"},
        {{"--melody", path("missing.mid")}, "cannot read it as a MIDI file"},
        {{"--melody", path("empty.mid")}, "holds no notes"},
        {{"--melody", path("drums.mid")}, "no notes but drums (channel 10)"},
        {{"--melody", path("melody.mid"), "--melody-track", "1"}, "track 1 of"},
        {{"--melody", path("melody.mid"), "--melody-track", "3"}, "has 2 track(s)"},
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> args = {path("take.wav"), "-o", path("new.wav")};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        const ToolRun bad = render(args);
        EXPECT_EQ(bad.status, 2) << c.flags[1];
        EXPECT_TRUE(contains(bad.err, c.message)) << bad.err;
        EXPECT_EQ(listFolder(dir), before) << c.flags[1];
    }
}

// The take's sung notes out as a MIDI file and back in as its melody: the notes found are those
// sung, and three notes moved in the file land where they were moved to. A take with no voice
// writes no notes file.
TEST_F(RenderCli, NotesFileRoundTrip)
{
    auto take = tuningtest::singTune(tuningtest::tunes()[1], 2, 40.0, false, 5);
    writeAudio(path("take.wav"), take.samples, 1, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ToolRun run = render({"--engine", "live", "--notes-out", path("sung.mid"), path("take.wav"),
                          "-o", path("copy.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, std::to_string(take.notes.size()) + " sung notes -> "))
        << run.out;
    const render::Melody found = render::loadMelody(path("sung.mid"), 0);
    ASSERT_EQ(found.notes.size(), take.notes.size());
    std::vector<render::FoundNote> moved;
    for (size_t n = 0; n < take.notes.size(); ++n)
    {
        EXPECT_EQ(found.notes[n].midi, take.notes[n].midi) << n;
        EXPECT_NEAR(found.notes[n].start, take.notes[n].start, 0.05) << n;
        const int by = n == 2 || n == 5 || n == 9 ? 2 : 0;
        moved.push_back({found.notes[n].start, found.notes[n].end, found.notes[n].midi + by, 90});
        take.notes[n].midi += by;
    }
    render::writeNotesFile(path("moved.mid"), moved, false);
    run = render({path("take.wav"), "--melody", path("moved.mid"), "-o", path("back.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto errors =
        tuningtest::noteErrors(readAudio(path("back.wav")).samples, 44100, take.notes);
    for (size_t n : {2, 5, 9})
        EXPECT_LE(std::fabs(errors[n]), 20.0) << "moved note " << n;

    writeAudio(path("silence.wav"), std::vector<float>(44100, 0.0f), 1, 44100);
    run = render({"--notes-out", path("none.mid"), path("silence.wav"), "-o", path("s.wav")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "no sung notes found")) << run.err;
    EXPECT_FALSE(std::ifstream(path("none.mid")).good());
}

// What the renderer says, and its exit status, for the files and folders a user brings: rates it
// cannot and can render, encodings a container cannot hold, MP3 in, 8-bit samples into AIFF,
// output folders, a batch, -q with --scale auto. Whatever it writes, sox opens.
TEST_F(RenderCli, MessagesAndExitStatusesSayWhatHappened)
{
    const auto tone = [](double rate, double seconds)
    { return voicedTone([](double) { return 196.0; }, rate, seconds); };
    for (int rate : {8000, 10999, 400000, 48000, 44101})
        writeAudio(path(std::to_string(rate) + ".wav"), tone(rate, 0.3), 1, rate);
    writeAudio(path("take.mp3"), tone(44100, 0.5), 1, 44100,
               SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    writeAudio(path("take8.wav"), tone(44100, 0.3), 1, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
    writeAudio(path("held.wav"), tone(44100, 3.0), 1, 44100);
    std::string noise;
    for (unsigned k = 0, x = 1; k < 3000; ++k, x = x * 1103515245u + 12345u)
        noise += static_cast<char>(x >> 24);
    std::ofstream(path("noise.mp3")) << noise;
    mkdir(path("out").c_str(), 0777);
    mkdir(path("batch").c_str(), 0777);
    ASSERT_TRUE(tuningtest::writeMidi(path("tune.mid"), {{0.0, 1.0, 55}}));

    const std::string refused = "the plug-in renders 11 kHz to 384 kHz: convert the file";
    const struct
    {
        std::vector<std::string> args;
        int status;
        std::string said; // on standard output when the status is 0, else on standard error
        std::string written;
        int format;
    } cases[] = {
        {{path("8000.wav"), "-o", path("out/a.wav")}, 1, refused, "", 0},
        {{path("10999.wav"), "-o", path("out/a.wav")}, 1, refused, "", 0},
        {{path("400000.wav"), "-o", path("out/a.wav")}, 1, refused, "", 0},
        {{path("48000.wav"), "-o", path("out/48.wav")},
         0,
         "delay 10448 samples at 48000 Hz removed -> " + path("out/48.wav"),
         path("out/48.wav"),
         SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {{path("44101.wav"), "-o", path("out/44.wav")},
         0,
         "delay 9765 samples at 44101 Hz",
         path("out/44.wav"),
         SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {{path("48000.wav"), "-o", path("out/f.flac"), "--format", "float"},
         1,
         "f.flac: FLAC cannot hold 32-bit float samples; use pcm16 or pcm24",
         "",
         0},
        {{path("48000.wav"), "-o", path("out/v.ogg"), "--format", "pcm24"},
         1,
         "v.ogg: Ogg cannot hold 24-bit PCM samples; leave --format out",
         "",
         0},
        {{path("take.mp3"), "-o", path("out/mp3.wav")},
         0,
         "take.mp3: 0.50 s of audio",
         path("out/mp3.wav"),
         SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {{path("take.mp3"), "-o", path("out/mp3.flac"), "--format", "pcm16"},
         0,
         "-> ",
         path("out/mp3.flac"),
         SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {{path("noise.mp3"), "-o", path("out/n.wav")}, 1, "noise.mp3: not an audio file", "", 0},
        {{path("take8.wav"), "-o", path("out/8.aiff")},
         0,
         "-> " + path("out/8.aiff"),
         path("out/8.aiff"),
         SF_FORMAT_AIFF | SF_FORMAT_PCM_S8},
        {{path("48000.wav"), "--out-dir", path("none")},
         1,
         "output folder " + path("none") + " does not exist; create it first",
         "",
         0},
        {{path("48000.wav"), "-o", path("none/x.wav")}, 1, "folder " + path("none"), "", 0},
        {{path("held.wav"), path("48000.wav"), "-j", "2", "--out-dir", path("batch") + "//"},
         0,
         "-> " + path("batch/held.wav") + "\n" + path("48000.wav") + ": ",
         path("batch/48000.wav"),
         SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {{"-q", "--scale", "auto", path("held.wav"), "-o", path("out/held.wav")},
         0,
         "key: undecided (1 distinct note in 3.0 s); tuning chromatic\n",
         path("out/held.wav"),
         SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {{path("held.wav"), "-o", path("out/m.wav"), "--melody", path("tune.mid"),
          "--melody-offset", "-1"},
         2,
         "every note of " + path("tune.mid") + " would end before the take starts",
         "",
         0},
        {{"--version"}, 0, "halvern-render 1.", "", 0},
    };
    const bool sox = std::system("command -v sox > /dev/null") == 0;
    for (const auto& c : cases)
    {
        const auto before = listFolder(path("out"));
        const ToolRun run = render(c.args);
        SCOPED_TRACE(c.args.front() + " ... " + c.args.back());
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(contains(c.status == 0 ? run.out : run.err, c.said)) << run.out << run.err;
        if (c.status != 0)
        {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            EXPECT_EQ(listFolder(path("out")), before);
        }
        if (c.args[0] == "-q")
        {
            EXPECT_EQ(run.out, c.said);
        }
        if (c.written.empty()) continue;
        EXPECT_EQ(readAudio(c.written).format, c.format);
        if (sox)
        {
            EXPECT_EQ(std::system(("sox --i '" + c.written + "' > /dev/null 2>&1").c_str()), 0);
        }
    }
    EXPECT_EQ(slurp(path("out/8.aiff")).substr(8, 4), "AIFF"); // plain AIFF, not AIFC
}
