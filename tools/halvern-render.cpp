// halvern-render: runs recorded voices through the Halvern plug-in, hosting the built library the
// way a DAW does, one plug-in instance per file.
#include "pluginhost.h"
#include "render_audio.h"
#include "render_job.h"
#include "render_melody.h"
#include "render_options.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace render;

namespace
{

bool exists(const std::string& path)
{
    struct stat st
    {
    };
    return stat(path.c_str(), &st) == 0;
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa
    {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// An installed tool uses the plug-in installed with it: in a prefix (PREFIX/bin beside
// PREFIX/lib/vst), or for one user (~/.local/bin and ~/.vst). In the build tree there is none
// beside it, and the one built with it is used.
std::string defaultPluginPath(Engine engine)
{
    const bool live = engine == Engine::Live;
    const std::string name = live ? "HalvernLive.so" : "Halvern.so";
    char exe[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length > 0)
    {
        exe[length] = '\0';
        const std::string folder = folderOf(exe);
        for (const std::string& relative : {std::string(HALVERN_INSTALLED_PLUGIN_DIR) + "/" + name,
                                            "../lib/vst/" + name, "../../.vst/" + name})
        {
            const std::string candidate = folder + "/" + relative;
            char resolved[PATH_MAX];
            if (exists(candidate))
                return realpath(candidate.c_str(), resolved) ? resolved : candidate;
        }
    }
    return live ? HALVERN_BUILD_LIVE_PLUGIN : HALVERN_BUILD_PLUGIN;
}

std::string formatClock(double seconds)
{
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

// Shared by the workers and the progress display; output lines go through it so that a summary
// never lands in the middle of the progress bar.
class Console
{
public:
    explicit Console(bool progressBar) : progressBar_(progressBar) {}

    void printLine(FILE* stream, const std::string& line)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clearBar();
        std::fputs(line.c_str(), stream);
        std::fputc('\n', stream);
        std::fflush(stream);
    }

    // Each file's lines: warnings and errors on standard error, the rest on standard output.
    void printResult(const std::vector<std::pair<FILE*, std::string>>& lines)
    {
        for (const auto& line : lines)
            printLine(line.first, line.second);
    }

    void drawBar(double fraction, double realtime, double etaSeconds, size_t filesDone,
                 size_t files)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!progressBar_) return;
        const int width = 30;
        const int filled = static_cast<int>(std::lround(fraction * width));
        std::string bar(static_cast<size_t>(filled), '#');
        bar.resize(width, '.');
        char text[160];
        std::snprintf(text, sizeof text,
                      "\r\033[K[%s] %3d%%  %5.1fx realtime  ETA %s  %zu/%zu files", bar.c_str(),
                      static_cast<int>(fraction * 100.0), realtime,
                      realtime > 0.0 ? formatClock(etaSeconds).c_str() : "--:--", filesDone, files);
        std::fputs(text, messageStream());
        barShown_ = true;
    }

    void finish()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clearBar();
    }

private:
    void clearBar()
    {
        if (barShown_)
        {
            std::fputs("\r\033[K", messageStream());
            barShown_ = false;
        }
    }

    std::mutex mutex_;
    bool progressBar_;
    bool barShown_ = false;
};

std::string summaryOf(const FileResult& r, bool keepLatency)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "%.2f s of audio in %.2f s (%.1fx realtime), delay %d samples at %d Hz %s",
                  r.audioSeconds, r.wallSeconds,
                  r.wallSeconds > 0.0 ? r.audioSeconds / r.wallSeconds : 0.0, r.latencySamples,
                  r.rate, keepLatency ? "kept" : "removed");
    return r.input + ": " + text + " -> " + r.output;
}

// What a user is told about one file, in order; with quiet, only what went wrong and the key.
std::vector<std::pair<FILE*, std::string>> reportOf(const FileResult& r, bool quiet,
                                                    bool keepLatency)
{
    FILE* const err = messageStream();
    if (!r.ok) return {{err, "halvern-render: " + r.error}};
    std::vector<std::pair<FILE*, std::string>> lines;
    if (r.clippedSamples > 0)
        lines.push_back(
            {err, "halvern-render: warning: " + r.output + ": " + std::to_string(r.clippedSamples) +
                      " samples clipped" +
                      (r.clipBits > 0 ? " at " + std::to_string(r.clipBits) + "-bit full scale"
                                      : " at full scale") +
                      " (--format float keeps them)"});
    if (r.nonFiniteSamples > 0)
        lines.push_back({err, "halvern-render: warning: " + r.output + ": " +
                                  std::to_string(r.nonFiniteSamples) +
                                  " samples were not finite and were written as 0"});
    if (!quiet) lines.push_back({stdout, summaryOf(r, keepLatency)});
    for (const std::string& line : r.keyLines)
        lines.push_back({stdout, line});
    if (!quiet && !r.plotPath.empty()) lines.push_back({stdout, "pitch plot -> " + r.plotPath});
    if (!quiet && !r.notesPath.empty())
        lines.push_back({stdout, std::to_string(r.notesFound) + " sung notes -> " + r.notesPath});
    return lines;
}

int fail(const std::string& message)
{
    std::fprintf(messageStream(), "halvern-render: %s\n", message.c_str());
    return 1;
}

// DIR/NAME without doubled slashes, whatever DIR ends with.
std::string joinPath(std::string folder, const std::string& name)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder == "/" ? "/" + name : folder + "/" + name;
}

} // namespace

int main(int argc, char** argv)
{
    RenderOptions options;
    try
    {
        options = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    }
    catch (const UsageError& error)
    {
        std::fprintf(messageStream(),
                     "halvern-render: %s\nTry 'halvern-render --help' for more information.\n",
                     error.what());
        return 2;
    }
    if (options.help)
    {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (options.version)
    {
        std::puts("halvern-render " HALVERN_VERSION);
        return 0;
    }
    // A melody that cannot be used is refused with the command line, before any work.
    std::unique_ptr<Melody> melody;
    if (!options.melodyPath.empty())
    {
        try
        {
            melody = std::make_unique<Melody>(loadMelody(options.melodyPath, options.melodyTrack));
            if (options.melodyOffset != 0.0) shiftMelody(*melody, options.melodyOffset);
        }
        catch (const MelodyError& error)
        {
            std::fprintf(messageStream(), "halvern-render: %s\n", error.what());
            return 2;
        }
    }
    installCleanupOnSignals();
    const std::string pluginPath =
        options.pluginPath.empty() ? defaultPluginPath(options.engine) : options.pluginPath;

    // Where each input goes; everything that can be refused is refused before any work starts.
    struct Job
    {
        std::string input;
        std::string output;
    };
    std::vector<Job> jobs;
    if (!options.outDir.empty())
    {
        struct stat st
        {
        };
        if (stat(options.outDir.c_str(), &st) != 0)
            return fail("output folder " + options.outDir + " does not exist; create it first");
        if (!S_ISDIR(st.st_mode)) return fail(options.outDir + " is not a folder");
    }
    else
    {
        struct stat st
        {
        };
        const std::string folder = folderOf(options.output);
        if (stat(folder.c_str(), &st) != 0)
            return fail("cannot write " + options.output + ": folder " + folder +
                        " does not exist; create it first");
        if (!S_ISDIR(st.st_mode))
            return fail("cannot write " + options.output + ": " + folder + " is not a folder");
    }
    std::map<std::string, std::string> claimed; // output -> input
    for (const std::string& input : options.inputs)
    {
        if (input == "-") return fail("reading from standard input is not supported; name a file");
        const std::string output =
            options.output.empty() ? joinPath(options.outDir, baseName(input)) : options.output;
        if (claimed.count(output))
            return fail(claimed[output] + " and " + input + " would both be written to " + output);
        claimed[output] = input;
        if (sameFile(input, output))
            return fail(output + " is the input itself; choose another output");
        if (!options.pitchPlot.empty() &&
            (options.pitchPlot == output || sameFile(options.pitchPlot, input)))
            return fail("--pitch-plot " + options.pitchPlot + " would replace an audio file");
        if (!options.notesOut.empty() &&
            (options.notesOut == output || options.notesOut == options.pitchPlot ||
             sameFile(options.notesOut, input)))
            return fail("--notes-out " + options.notesOut + " would replace another file");
        jobs.push_back({input, output});
    }
    if (!options.force)
    {
        std::vector<std::string> taken;
        for (const Job& job : jobs)
            if (exists(job.output)) taken.push_back(job.output);
        if (!options.pitchPlot.empty() && exists(options.pitchPlot))
            taken.push_back(options.pitchPlot);
        if (!options.notesOut.empty() && exists(options.notesOut))
            taken.push_back(options.notesOut);
        if (!taken.empty())
        {
            for (const std::string& path : taken)
                std::fprintf(messageStream(), "halvern-render: %s already exists\n", path.c_str());
            return fail("nothing written; --force replaces existing files");
        }
    }

    // One instance up front proves the library and shows what the controls became.
    std::vector<std::string> settings;
    try
    {
        PluginHost probe(pluginPath);
        checkPluginRecord(probe, pluginPath);
        settings = applyVoiceSettings(probe, options, melody.get());
    }
    catch (const std::exception& error)
    {
        return fail(error.what());
    }
    if (!options.quiet)
    {
        // The delay depends on each file's rate: it is in each file's summary.
        std::printf("plug-in: %s\n", pluginPath.c_str());
        for (const std::string& line : settings)
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    // Total length for the progress bar; unreadable files count as nothing and fail later.
    int64_t totalMicros = 0;
    for (const Job& job : jobs)
    {
        try
        {
            AudioReader reader(job.input);
            totalMicros +=
                static_cast<int64_t>(static_cast<double>(reader.frames()) * 1e6 / reader.rate());
        }
        catch (const std::exception&)
        {
        }
    }

    const bool progressBar = !options.quiet && isatty(STDERR_FILENO);
    Console console(progressBar);
    ProgressCounter progress{0};
    std::atomic<size_t> nextJob{0};
    std::atomic<size_t> filesDone{0};
    std::atomic<bool> anyFailed{false};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t workerCount =
        std::min<size_t>(jobs.size(), options.jobs > 0 ? static_cast<size_t>(options.jobs) : cores);

    // Reports follow the inputs' order: each is printed once it and all before it are done.
    std::vector<std::unique_ptr<FileResult>> results(jobs.size());
    std::mutex resultsMutex;
    size_t nextReport = 0;
    auto worker = [&]()
    {
        for (size_t k = nextJob++; k < jobs.size(); k = nextJob++)
        {
            auto r = std::make_unique<FileResult>(renderFile(
                options, pluginPath, jobs[k].input, jobs[k].output, progress, melody.get()));
            ++filesDone;
            if (!r->ok) anyFailed = true;
            std::lock_guard<std::mutex> lock(resultsMutex);
            results[k] = std::move(r);
            for (; nextReport < jobs.size() && results[nextReport]; ++nextReport)
                console.printResult(
                    reportOf(*results[nextReport], options.quiet, options.keepLatency));
        }
    };

    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool allDone = false;
    std::thread display;
    const auto started = std::chrono::steady_clock::now();
    if (progressBar)
        display = std::thread(
            [&]()
            {
                std::unique_lock<std::mutex> lock(doneMutex);
                while (!doneSignal.wait_for(lock, std::chrono::milliseconds(200),
                                            [&] { return allDone; }))
                {
                    const double elapsed =
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                            .count();
                    const double doneSeconds = static_cast<double>(progress.load()) / 1e6;
                    const double totalSeconds = static_cast<double>(totalMicros) / 1e6;
                    const double fraction =
                        totalSeconds > 0.0 ? std::min(1.0, doneSeconds / totalSeconds) : 0.0;
                    const double realtime = elapsed > 0.0 ? doneSeconds / elapsed : 0.0;
                    const double eta =
                        realtime > 0.0 ? (totalSeconds - doneSeconds) / realtime : 0.0;
                    console.drawBar(fraction, realtime, eta, filesDone.load(), jobs.size());
                }
            });

    std::vector<std::thread> workers;
    for (size_t k = 1; k < workerCount; ++k)
        workers.emplace_back(worker);
    worker();
    for (auto& t : workers)
        t.join();
    if (display.joinable())
    {
        {
            std::lock_guard<std::mutex> lock(doneMutex);
            allDone = true;
        }
        doneSignal.notify_all();
        display.join();
    }
    console.finish();
    return anyFailed ? 1 : 0;
}
