#include "render_audio.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace render
{

namespace
{

// Temporary files to remove if the process is interrupted; a signal handler may only walk a
// fixed table.
constexpr int kTempSlots = 1024;
std::atomic<char*> tempSlots[kTempSlots];

extern "C" void removeTempFilesAndDie(int signalNumber)
{
    for (auto& slot : tempSlots)
        if (char* path = slot.load()) unlink(path);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

int registerTemp(const std::string& path)
{
    char* copy = strdup(path.c_str());
    for (int k = 0; k < kTempSlots; ++k)
    {
        char* expected = nullptr;
        if (tempSlots[k].compare_exchange_strong(expected, copy)) return k;
    }
    std::free(copy); // table full: still removed on failure, only not on a signal
    return -1;
}

void unregisterTemp(int slot)
{
    if (slot >= 0) std::free(tempSlots[slot].exchange(nullptr));
}

std::string lowerExtension(const std::string& path)
{
    const std::string base = baseName(path);
    const size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string ext = base.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

struct Container
{
    const char* ext;
    int format;
    const char* name;
};

constexpr Container kContainers[] = {
    {"wav", SF_FORMAT_WAV, "WAV"},    {"wave", SF_FORMAT_WAV, "WAV"},
    {"flac", SF_FORMAT_FLAC, "FLAC"}, {"aif", SF_FORMAT_AIFF, "AIFF"},
    {"aiff", SF_FORMAT_AIFF, "AIFF"}, {"aifc", SF_FORMAT_AIFF, "AIFF"},
    {"ogg", SF_FORMAT_OGG, "Ogg"},    {"oga", SF_FORMAT_OGG, "Ogg"},
    {"mp3", SF_FORMAT_MPEG, "MP3"},   {"au", SF_FORMAT_AU, "AU"},
    {"snd", SF_FORMAT_AU, "AU"},      {"caf", SF_FORMAT_CAF, "CAF"},
    {"w64", SF_FORMAT_W64, "W64"},    {"rf64", SF_FORMAT_RF64, "RF64"},
};

int containerForExtension(const std::string& ext)
{
    for (const auto& entry : kContainers)
        if (ext == entry.ext) return entry.format;
    return 0;
}

std::string containerName(int container)
{
    for (const auto& entry : kContainers)
        if (container == entry.format) return entry.name;
    return "this container";
}

// The --format values, in the words of the messages.
struct Encoding
{
    const char* option;
    int subtype;
    const char* words;
};
constexpr Encoding kEncodings[] = {
    {"pcm16", SF_FORMAT_PCM_16, "16-bit PCM"},
    {"pcm24", SF_FORMAT_PCM_24, "24-bit PCM"},
    {"float", SF_FORMAT_FLOAT, "32-bit float"},
};

// Sample formats the output can keep as the input has them; others (MP3, Vorbis, ADPCM...) are
// compressed, and their samples are written anew.
bool followable(int subtype)
{
    switch (subtype)
    {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        return true;
    default:
        return false;
    }
}

// Standard error is muted while any file is being opened or decoded; see messageStream().
std::mutex quietMutex;
int quietUsers = 0;
int savedStderr = -1;

class QuietStderr
{
public:
    explicit QuietStderr(bool active) : active_(active)
    {
        if (!active_) return;
        messageStream(); // taken before the first mute
        std::lock_guard<std::mutex> lock(quietMutex);
        if (quietUsers++ > 0) return;
        std::fflush(stderr);
        savedStderr = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0)
        {
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
    }
    ~QuietStderr()
    {
        if (!active_) return;
        std::lock_guard<std::mutex> lock(quietMutex);
        if (--quietUsers > 0 || savedStderr < 0) return;
        ::dup2(savedStderr, STDERR_FILENO);
        ::close(savedStderr);
        savedStderr = -1;
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    bool active_;
};

bool formatValid(int format, int rate)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    return sf_format_check(&info) != 0;
}

std::string formatName(int format, int command)
{
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, command, &info, sizeof(info)) != 0 || !info.name)
    {
        char text[32];
        std::snprintf(text, sizeof text, "format 0x%x", static_cast<unsigned>(format));
        return text;
    }
    return info.name;
}

std::string errnoText(int error)
{
    return std::strerror(error);
}

} // namespace

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FILE* messageStream()
{
    static FILE* const stream = []
    {
        const int fd = ::dup(STDERR_FILENO);
        FILE* f = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
        if (!f) return stderr;
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        std::setvbuf(f, nullptr, _IONBF, 0);
        return f;
    }();
    return stream;
}

void installCleanupOnSignals()
{
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signalNumber, removeTempFilesAndDie);
}

OutputFile::OutputFile(const std::string& finalPath) : finalPath_(finalPath)
{
    const std::string folder = folderOf(finalPath);
    struct stat st
    {
    };
    if (stat(folder.c_str(), &st) != 0)
        throw RenderError("cannot write " + finalPath + ": folder " + folder + " does not exist");
    if (!S_ISDIR(st.st_mode))
        throw RenderError("cannot write " + finalPath + ": " + folder + " is not a folder");
    if (stat(finalPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw RenderError("cannot write " + finalPath + ": it is a folder");

    // The name is registered for removal before the file exists, so an interruption at any
    // moment leaves nothing behind; O_EXCL makes the random name ours alone.
    std::random_device entropy;
    const char* const letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt)
    {
        std::string suffix;
        for (int k = 0; k < 8; ++k)
            suffix += letters[entropy() % 62];
        tempPath_ = folder + "/." + baseName(finalPath) + "." + suffix + ".part";
        slot_ = registerTemp(tempPath_);
        fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) break;
        const int error = errno;
        unregisterTemp(slot_);
        slot_ = -1;
        tempPath_.clear();
        if (error != EEXIST)
            throw RenderError("cannot write into " + folder + ": " + errnoText(error));
    }
    if (fd_ < 0) throw RenderError("cannot write into " + folder + ": no free temporary name");
}

OutputFile::~OutputFile()
{
    if (!committed_) discard();
}

void OutputFile::discard()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tempPath_.empty()) unlink(tempPath_.c_str());
    unregisterTemp(slot_);
    slot_ = -1;
}

void OutputFile::commit(bool replace)
{
    if (committed_) return;
    if (::close(fd_) != 0)
    {
        fd_ = -1;
        throw RenderError("cannot write " + finalPath_ + ": " + errnoText(errno));
    }
    fd_ = -1;
    if (replace)
    {
        if (rename(tempPath_.c_str(), finalPath_.c_str()) != 0)
            throw RenderError("cannot write " + finalPath_ + ": " + errnoText(errno));
    }
    else if (link(tempPath_.c_str(), finalPath_.c_str()) == 0)
    {
        // The link only succeeds when nothing has that name, so a file that appeared while we
        // worked is not replaced.
        unlink(tempPath_.c_str());
    }
    else
    {
        const int error = errno;
        if (error == EEXIST)
            throw RenderError(finalPath_ + " already exists (--force replaces it)");
        // Folders without hard links: check, then rename.
        if (access(finalPath_.c_str(), F_OK) == 0)
            throw RenderError(finalPath_ + " already exists (--force replaces it)");
        if (rename(tempPath_.c_str(), finalPath_.c_str()) != 0)
            throw RenderError("cannot write " + finalPath_ + ": " + errnoText(errno));
    }
    committed_ = true;
    unregisterTemp(slot_);
    slot_ = -1;
}

AudioReader::AudioReader(const std::string& path) : path_(path)
{
    struct stat st
    {
    };
    if (stat(path.c_str(), &st) != 0)
        throw RenderError(path + ": " + (errno == ENOENT ? "no such file" : errnoText(errno)));
    if (S_ISDIR(st.st_mode)) throw RenderError(path + ": is a folder, not an audio file");
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) throw RenderError(path + ": cannot read: " + errnoText(errno));
    ::close(fd);
    if (st.st_size == 0) throw RenderError(path + ": the file is empty");

    {
        QuietStderr quiet(true);
        file_ = sf_open(path.c_str(), SFM_READ, &info_);
    }
    if (!file_)
    {
        // libsndfile's own words for a file none of its readers takes can be misleading ("does
        // not exist"); the file was found above.
        const int error = sf_error(nullptr);
        if (error == SF_ERR_UNSUPPORTED_ENCODING)
            throw RenderError(path + ": its sample encoding is one libsndfile does not read");
        if (error == SF_ERR_MALFORMED_FILE)
            throw RenderError(path + ": the file is damaged (" + sf_strerror(nullptr) + ")");
        throw RenderError(path +
                          ": not an audio file in a format libsndfile reads (WAV, FLAC, AIFF, "
                          "Ogg, MP3, AU, CAF, W64, RF64...)");
    }
    if (info_.frames <= 0)
    {
        sf_close(file_);
        file_ = nullptr;
        throw RenderError(path + ": the file holds no audio");
    }
    if (info_.channels < 1 || info_.samplerate < 1)
    {
        sf_close(file_);
        file_ = nullptr;
        throw RenderError(path + ": the file's header is unusable");
    }
}

AudioReader::~AudioReader()
{
    if (file_) sf_close(file_);
}

size_t AudioReader::readMono(float* out, size_t count, int channel)
{
    QuietStderr quiet(lengthIsEstimate());
    const size_t channels = static_cast<size_t>(info_.channels);
    if (channels == 1)
        return static_cast<size_t>(sf_readf_float(file_, out, static_cast<sf_count_t>(count)));
    interleaved_.resize(count * channels);
    const size_t got = static_cast<size_t>(
        sf_readf_float(file_, interleaved_.data(), static_cast<sf_count_t>(count)));
    for (size_t k = 0; k < got; ++k)
    {
        const float* frame = interleaved_.data() + k * channels;
        if (channel >= 1)
        {
            out[k] = frame[channel - 1];
            continue;
        }
        double sum = 0.0;
        for (size_t c = 0; c < channels; ++c)
            sum += frame[c];
        out[k] = static_cast<float>(sum / static_cast<double>(channels));
    }
    return got;
}

int chooseOutputFormat(int inputFormat, const std::string& outputPath, SampleFormat requested,
                       int rate)
{
    const std::string ext = lowerExtension(outputPath);
    const int container = containerForExtension(ext);
    if (container == 0)
        throw RenderError(
            outputPath + ": cannot tell the output format from " +
            (ext.empty() ? std::string("a name without extension") : "\"." + ext + "\"") +
            " (use .wav, .flac, .aiff, .ogg, .au, .caf, .w64 or .rf64)");

    const std::string name = containerName(container);
    if (requested != SampleFormat::FollowInput)
    {
        const Encoding& asked = kEncodings[requested == SampleFormat::Pcm16   ? 0
                                           : requested == SampleFormat::Pcm24 ? 1
                                                                              : 2];
        if (formatValid(container | asked.subtype, rate)) return container | asked.subtype;
        std::vector<std::string> held;
        for (const Encoding& e : kEncodings)
            if (formatValid(container | e.subtype, rate)) held.push_back(e.option);
        std::string advice = "leave --format out";
        for (size_t k = 0; k < held.size(); ++k)
            advice = (k == 0 ? "use " : advice + (k + 1 == held.size() ? " or " : ", ")) + held[k];
        throw RenderError(outputPath + ": " + name + " cannot hold " + asked.words + " samples; " +
                          advice);
    }

    // Keep the input's samples where the container allows (8-bit ones signed where it holds
    // both: AIFF's unsigned bytes are a compressed kind sox cannot open), else the most faithful
    // samples it holds. A compressed input (MP3, Vorbis) is not followed: a container may accept
    // the encoding's name and still be unable to write it.
    const int input = inputFormat & SF_FORMAT_SUBMASK;
    std::vector<int> candidates;
    if (input == SF_FORMAT_PCM_S8 || input == SF_FORMAT_PCM_U8)
        candidates = {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_U8};
    else if (followable(input))
        candidates = {input};
    candidates.insert(candidates.end(), {SF_FORMAT_FLOAT, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16,
                                         SF_FORMAT_VORBIS, SF_FORMAT_MPEG_LAYER_III});
    for (int subtype : candidates)
        if (formatValid(container | subtype, rate)) return container | subtype;
    throw RenderError(outputPath + ": " + name + " cannot hold mono audio at " +
                      std::to_string(rate) + " Hz");
}

SampleEncoding encodingFor(int format)
{
    switch (format & SF_FORMAT_SUBMASK)
    {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
        return {SampleEncoding::FloatSamples, 0};
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return {SampleEncoding::IntegerPcm, 8};
    case SF_FORMAT_PCM_16:
        return {SampleEncoding::IntegerPcm, 16};
    case SF_FORMAT_PCM_24:
        return {SampleEncoding::IntegerPcm, 24};
    case SF_FORMAT_PCM_32:
        return {SampleEncoding::IntegerPcm, 32};
    default:
        return {SampleEncoding::Clamped, 0};
    }
}

int32_t quantiseSample(float x, int bits, bool& clipped)
{
    const double fullScale = std::ldexp(1.0, bits - 1);
    double q = std::nearbyint(static_cast<double>(x) * fullScale);
    clipped = q > fullScale - 1.0 || q < -fullScale;
    q = std::min(fullScale - 1.0, std::max(-fullScale, q));
    // Left-aligned, as libsndfile takes integers for every bit depth.
    return static_cast<int32_t>(static_cast<int64_t>(q) * (int64_t(1) << (32 - bits)));
}

std::string describeFormat(int format)
{
    return formatName(format & SF_FORMAT_TYPEMASK, SFC_GET_FORMAT_MAJOR) + ", " +
           formatName(format & SF_FORMAT_SUBMASK, SFC_GET_FORMAT_SUBTYPE);
}

AudioWriter::AudioWriter(const std::string& finalPath, int format, int rate)
    : out_(finalPath), encoding_(encodingFor(format))
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    file_ = sf_open_fd(out_.fd(), SFM_WRITE, &info, SF_FALSE);
    if (!file_)
        throw RenderError("cannot write " + finalPath + " as " + describeFormat(format) + ": " +
                          sf_strerror(nullptr));
    if (encoding_.kind == SampleEncoding::Clamped)
        sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioWriter::~AudioWriter()
{
    if (file_) sf_close(file_);
}

void AudioWriter::write(const float* samples, size_t count)
{
    sf_count_t written = 0;
    if (encoding_.kind == SampleEncoding::IntegerPcm)
    {
        integers_.resize(count);
        for (size_t k = 0; k < count; ++k)
        {
            if (!std::isfinite(samples[k]))
            {
                ++nonFinite_;
                integers_[k] = 0;
                continue;
            }
            bool clipped = false;
            integers_[k] = quantiseSample(samples[k], encoding_.bits, clipped);
            clipped_ += clipped ? 1 : 0;
        }
        written = sf_writef_int(file_, integers_.data(), static_cast<sf_count_t>(count));
    }
    else
    {
        floats_.resize(count);
        for (size_t k = 0; k < count; ++k)
        {
            float v = samples[k];
            if (!std::isfinite(v))
            {
                ++nonFinite_;
                v = 0.0f;
            }
            else if (encoding_.kind == SampleEncoding::Clamped && std::fabs(v) > 1.0f)
            {
                ++clipped_;
                v = std::copysign(1.0f, v);
            }
            floats_[k] = v;
        }
        written = sf_writef_float(file_, floats_.data(), static_cast<sf_count_t>(count));
    }
    if (written != static_cast<sf_count_t>(count))
        throw RenderError("cannot write " + out_.finalPath() + ": " + sf_strerror(file_));
}

void AudioWriter::commit(bool replace)
{
    const int status = sf_close(file_);
    file_ = nullptr;
    if (status != 0)
        throw RenderError("cannot write " + out_.finalPath() + ": " + sf_error_number(status));
    out_.commit(replace);
}

} // namespace render
