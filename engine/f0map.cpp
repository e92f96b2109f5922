// The only platform-dependent code of the engine: where the dump goes and how it is opened.
#include "f0map.h"

#include <charconv>
#include <cstdio>
#include <initializer_list>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
const char* const kFileName = "f0map.txt";

#ifndef _WIN32
// An absolute path from the environment, or null (relative values are ignored, as XDG asks).
const char* absoluteEnv(const char* name)
{
    const char* v = std::getenv(name);
    return (v && v[0] == '/') ? v : nullptr;
}

// Opens (making it if missing) the folder that holds the dump. The user may point the cache base
// anywhere, links included; our own subfolder must be a real folder owned by us that no other
// user can write into, or a planted link inside it could redirect the write.
int openDumpFolder()
{
    char base[4096];
    if (const char* xdg = absoluteEnv("XDG_CACHE_HOME"))
    {
        if (std::snprintf(base, sizeof base, "%s", xdg) >= static_cast<int>(sizeof base)) return -1;
    }
    else if (const char* home = absoluteEnv("HOME"))
    {
        if (std::snprintf(base, sizeof base, "%s/.cache", home) >= static_cast<int>(sizeof base))
            return -1;
    }
    else
        return -1;

    if (mkdir(base, 0700) != 0 && errno != EEXIST) return -1;
    const int baseFd = open(base, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0) return -1;
    if (mkdirat(baseFd, "halvern", 0700) != 0 && errno != EEXIST)
    {
        close(baseFd);
        return -1;
    }
    const int dirFd = openat(baseFd, "halvern", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(baseFd);
    if (dirFd < 0) return -1;
    struct stat st;
    if (fstat(dirFd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)))
    {
        close(dirFd);
        return -1;
    }
    return dirFd;
}
#endif
} // namespace

std::FILE* openF0MapFile()
{
#ifdef _WIN32
    // The user's temporary folder, named in UTF-16: its ANSI name loses characters outside the
    // code page (a user name in another script), and the dump would never be written there.
    wchar_t path[MAX_PATH + 16];
    const DWORD len = GetTempPathW(MAX_PATH + 1, path);
    if (len == 0 || len > MAX_PATH) return nullptr;
    size_t end = len;
    for (const char* c = kFileName; *c; ++c)
        path[end++] = static_cast<wchar_t>(*c);
    path[end] = L'\0';
    return _wfopen(path, L"w");
#else
    const int dirFd = openDumpFolder();
    if (dirFd < 0) return nullptr;
    // O_NOFOLLOW: a link at the file name is refused, not written through. O_NONBLOCK keeps a
    // FIFO at the name from stalling the audio thread; it is refused below. No O_TRUNC: freeing
    // the old contents first can cost more than the whole dump, so dumpF0Map overwrites them and
    // cuts the file to the new length instead.
    const int fd =
        openat(dirFd, kFileName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    close(dirFd);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "w");
    if (!file) close(fd);
    return file;
#endif
}

namespace
{
// Writes ",%f" of v. std::to_chars with fixed precision 6 is defined to give printf's "%f" text
// exactly and is several times faster, which matters as the dump is written on the audio thread.
void putFixed(std::FILE* file, double v)
{
    char text[400];
    text[0] = ',';
    const auto result = std::to_chars(text + 1, text + sizeof text, v, std::chars_format::fixed, 6);
    if (result.ec == std::errc())
        std::fwrite(text, 1, static_cast<size_t>(result.ptr - text), file);
    else
        std::fprintf(file, ",%f", v);
}
} // namespace

void writeF0Map(std::FILE* file, int bands, int m, const double* const* f0Map,
                const double* const* stabilityMap, const F0ContourTrace& trace)
{
    for (int b = 1; b < bands; ++b)
        std::fprintf(file, ",map%d", b);
    for (int b = 1; b < bands; ++b)
        std::fprintf(file, ",stab%d", b);
    std::fputs(",BEST,base,step1,step2,step3,step4\n", file);
    for (int i = 0; i < m; ++i)
    {
        std::fprintf(file, "%d", i);
        for (int b = 1; b < bands; ++b)
            putFixed(file, f0Map[b][i]);
        for (int b = 1; b < bands; ++b)
            putFixed(file, stabilityMap[b][i]);
        for (const double* column :
             {trace.best, trace.base, trace.step1, trace.step2, trace.step3, trace.step4})
            putFixed(file, column[i]);
        std::fputc('\n', file);
    }
}

void dumpF0Map(int bands, int m, const double* const* f0Map, const double* const* stabilityMap,
               const F0ContourTrace& trace)
{
    std::FILE* file = openF0MapFile();
    if (!file) return;
    writeF0Map(file, bands, m, f0Map, stabilityMap, trace);
#ifndef _WIN32
    // Cut off what is left of the previous dump. The dump is best effort: a failure here only
    // leaves old lines after the new ones.
    const long end = std::fflush(file) == 0 ? std::ftell(file) : -1;
    if (end >= 0)
    {
        const int cut = ftruncate(fileno(file), end);
        static_cast<void>(cut);
    }
#endif
    std::fclose(file);
}
