// Helpers for the renderer's tests: audio files with known content, scratch folders, and a
// listing of a folder to prove that nothing was left behind.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace rendertest
{

struct AudioData
{
    std::vector<float> samples; // interleaved
    int rate = 0;
    int channels = 0;
    int format = 0;
    bool ok = false;
};

// A voiced tone whose f0 follows f0At(seconds): harmonics with a 1/h slope up to 5 kHz, the
// phase integrating f0 so that glides are exact.
inline std::vector<float> voicedTone(const std::function<double(double)>& f0At, double rate,
                                     double seconds, double amplitude = 0.3)
{
    const size_t length = static_cast<size_t>(seconds * rate);
    std::vector<float> out(length);
    double phase = 0.0;
    for (size_t k = 0; k < length; ++k)
    {
        const double f0 = f0At(static_cast<double>(k) / rate);
        double v = 0.0;
        for (int h = 1; h * f0 < 5000.0 && h * f0 < 0.45 * rate; ++h)
            v += std::sin(h * phase) / h;
        out[k] = static_cast<float>(amplitude * 0.6 * v);
        phase = std::fmod(phase + 2.0 * M_PI * f0 / rate, 2.0 * M_PI);
    }
    return out;
}

inline void writeAudio(const std::string& path, const std::vector<float>& interleaved, int channels,
                       int rate, int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    ASSERT_EQ(sf_writef_float(file, interleaved.data(), frames), frames);
    ASSERT_EQ(sf_close(file), 0);
}

inline AudioData readAudio(const std::string& path)
{
    AudioData data;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return data;
    data.rate = info.samplerate;
    data.channels = info.channels;
    data.format = info.format;
    data.samples.resize(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(file, data.samples.data(), info.frames);
    sf_close(file);
    data.ok = got == info.frames;
    return data;
}

// Every entry of a folder, hidden ones included.
inline std::set<std::string> listFolder(const std::string& path)
{
    std::set<std::string> names;
    if (DIR* dir = opendir(path.c_str()))
    {
        while (dirent* entry = readdir(dir))
        {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        closedir(dir);
    }
    return names;
}

inline void removeTree(const std::string& path)
{
    struct stat st
    {
    };
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode))
    {
        for (const std::string& name : listFolder(path))
            removeTree(path + "/" + name);
        rmdir(path.c_str());
    }
    else
    {
        unlink(path.c_str());
    }
}

// An empty folder under the test output folder, named after the running test.
inline std::string scratchFolder()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string base = std::string(HALVERN_TEST_OUTPUT_DIR) + "/render";
    mkdir(HALVERN_TEST_OUTPUT_DIR, 0777);
    mkdir(base.c_str(), 0777);
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_'); // parameterised tests
    const std::string path = base + "/" + name;
    removeTree(path);
    mkdir(path.c_str(), 0777);
    return path;
}

} // namespace rendertest
