// Audio files for halvern-render: reading any format libsndfile knows as mono, and writing
// through a temporary file that only takes the final name once it is complete.
#pragma once

#include "render_options.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <sndfile.h>

namespace render
{

// The folder part of a path ("." for a bare name) and the file name part.
std::string folderOf(const std::string& path);
std::string baseName(const std::string& path);

// A failure of one file (unreadable input, unwritable output, unsuitable plug-in): exit status 1.
class RenderError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Removes registered temporary files when the process is interrupted (SIGINT, SIGTERM, SIGHUP).
void installCleanupOnSignals();

// Standard error as it was first seen. The renderer's own messages go here: while libsndfile
// opens or decodes a file, standard error itself is muted, since its MPEG decoder prints notes of
// its own there.
FILE* messageStream();

// A hidden temporary file beside finalPath that becomes finalPath on commit and is removed if it
// never does.
class OutputFile
{
public:
    explicit OutputFile(const std::string& finalPath); // throws RenderError
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int fd() const { return fd_; }
    const std::string& finalPath() const { return finalPath_; }
    const std::string& tempPath() const { return tempPath_; }

    // Closes the file and gives it its final name. Without replace an existing file at that name
    // is left alone and the commit fails. Throws RenderError.
    void commit(bool replace);

private:
    void discard();

    std::string finalPath_;
    std::string tempPath_;
    int fd_ = -1;
    int slot_ = -1;
    bool committed_ = false;
};

class AudioReader
{
public:
    // Opens path; a missing, unreadable, unknown or empty file throws RenderError.
    explicit AudioReader(const std::string& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    int rate() const { return info_.samplerate; }
    int channels() const { return info_.channels; }
    int64_t frames() const { return info_.frames; }
    int format() const { return info_.format; }
    // MPEG files give an estimate of their length: fewer frames may come.
    bool lengthIsEstimate() const { return (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG; }

    // Reads up to count frames as mono: channel 0 averages all channels, channel c >= 1 takes
    // that one. Returns the number of frames read; 0 at the end.
    size_t readMono(float* out, size_t count, int channel);

private:
    std::string path_;
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    std::vector<float> interleaved_;
};

// The libsndfile format for the output: the container from outputPath's extension, the sample
// format from the input unless one is requested (from a compressed input, such as MP3, the most
// faithful the container holds). Throws RenderError when the container is unknown or cannot hold
// the sample format.
int chooseOutputFormat(int inputFormat, const std::string& outputPath, SampleFormat requested,
                       int rate);

// How samples reach a given output format.
struct SampleEncoding
{
    enum Kind
    {
        FloatSamples, // written as they are: nothing clips
        IntegerPcm,   // quantised here to `bits`, clipped at full scale
        Clamped,      // other encodings (a-law, Vorbis...): clipped at ±1 and left to libsndfile
    } kind;
    int bits = 0;
};

SampleEncoding encodingFor(int format);

// Quantises x for integer PCM of the given bit depth into libsndfile's left-aligned 32-bit
// integers; sets clipped when x lies outside what the depth holds.
int32_t quantiseSample(float x, int bits, bool& clipped);

std::string describeFormat(int format);

class AudioWriter
{
public:
    AudioWriter(const std::string& finalPath, int format, int rate); // throws RenderError
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    void write(const float* samples, size_t count);
    void commit(bool replace);

    int64_t clippedSamples() const { return clipped_; }
    int64_t nonFiniteSamples() const { return nonFinite_; }
    const SampleEncoding& encoding() const { return encoding_; }

private:
    OutputFile out_;
    SNDFILE* file_ = nullptr;
    SampleEncoding encoding_;
    std::vector<int32_t> integers_;
    std::vector<float> floats_;
    int64_t clipped_ = 0;
    int64_t nonFinite_ = 0;
};

} // namespace render
