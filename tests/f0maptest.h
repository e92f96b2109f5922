// Candidate maps built by hand for the contour tests, and reading back the dump file.
#pragma once

#include "f0contour.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace f0test
{

constexpr double kNone = 1e13; // stability of a band without a candidate

// bands rows of m frames, every cell empty until set.
struct CandidateMap
{
    int bands;
    int m;
    std::vector<std::vector<double>> f0;
    std::vector<std::vector<double>> stability;
    std::vector<const double*> f0Rows;
    std::vector<const double*> stabilityRows;

    CandidateMap(int bandCount, int frames)
        : bands(bandCount), m(frames), f0(bandCount, std::vector<double>(frames, 0.0)),
          stability(bandCount, std::vector<double>(frames, kNone))
    {
    }

    void set(int band, int frame, double value, double stab)
    {
        f0[band][frame] = value;
        stability[band][frame] = stab;
    }
    void setRange(int band, int first, int last, double value, double stab)
    {
        for (int i = first; i <= last; ++i)
            set(band, i, value, stab);
    }

    const double* const* f0Map()
    {
        f0Rows.clear();
        for (auto& r : f0)
            f0Rows.push_back(r.data());
        return f0Rows.data();
    }
    const double* const* stabilityMap()
    {
        stabilityRows.clear();
        for (auto& r : stability)
            stabilityRows.push_back(r.data());
        return stabilityRows.data();
    }
};

// Every contour of one selection, owned.
struct Trace
{
    std::vector<double> best, base, step1, step2, step3, step4;
    explicit Trace(int m) : best(m), base(m), step1(m), step2(m), step3(m), step4(m) {}
    F0ContourTrace view()
    {
        return {best.data(), base.data(), step1.data(), step2.data(), step3.data(), step4.data()};
    }
};

inline Trace trace(CandidateMap& map)
{
    Trace t(map.m);
    traceF0Contour(map.bands, map.m, map.f0Map(), map.stabilityMap(), t.view());
    return t;
}

// value on frames first ... last and 0 elsewhere, m frames.
inline std::vector<double> voicedOn(int m, int first, int last, double value)
{
    std::vector<double> v(m, 0.0);
    for (int i = first; i <= last; ++i)
        v[i] = value;
    return v;
}

// A fresh, empty folder under the test output folder.
inline std::string freshFolder(const std::string& name)
{
    const std::string root = std::string(HALVERN_TEST_OUTPUT_DIR) + "/f0";
    ::mkdir(root.c_str(), 0700);
    std::string pattern = root + "/" + name + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    return std::string(buf.data());
}

inline bool fileExists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

inline std::vector<std::string> readLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

inline std::vector<std::string> splitFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, ','))
        fields.push_back(field);
    if (!line.empty() && line.back() == ',') fields.push_back("");
    return fields;
}

// Column named name of the dump at path, one value per frame line.
inline std::vector<double> dumpColumn(const std::string& path, const std::string& name)
{
    const auto lines = readLines(path);
    if (lines.empty()) return {};
    const auto header = splitFields(lines[0]);
    size_t column = 0;
    while (column < header.size() && header[column] != name)
        ++column;
    if (column == header.size()) throw std::runtime_error("no column " + name + " in " + path);
    std::vector<double> values;
    for (size_t k = 1; k < lines.size(); ++k)
        values.push_back(std::strtod(splitFields(lines[k]).at(column).c_str(), nullptr));
    return values;
}

} // namespace f0test
