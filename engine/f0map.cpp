// The only platform-dependent code of the engine: where the dump goes and how it is opened.
#include "f0map.h"

#include "fixedtext.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
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

void formatF0Map(std::string& text, int bands, int m, const double* const* f0Map,
                 const double* const* stabilityMap, const F0ContourTrace& trace)
{
    char field[kFixed6MaxChars + 16];
    const auto appendInt = [&](const char* prefix, int value)
    {
        const size_t length = std::strlen(prefix);
        std::memcpy(field, prefix, length);
        const auto end = std::to_chars(field + length, field + sizeof field, value).ptr;
        text.append(field, static_cast<size_t>(end - field));
    };
    const auto appendValue = [&](double v)
    {
        field[0] = ',';
        text.append(field, static_cast<size_t>(appendFixed6(field + 1, v) - field));
    };
    for (int b = 1; b < bands; ++b)
        appendInt(",map", b);
    for (int b = 1; b < bands; ++b)
        appendInt(",stab", b);
    text += ",BEST,base,step1,step2,step3,step4\n";
    for (int i = 0; i < m; ++i)
    {
        appendInt("", i);
        for (int b = 1; b < bands; ++b)
            appendValue(f0Map[b][i]);
        for (int b = 1; b < bands; ++b)
            appendValue(stabilityMap[b][i]);
        for (const double* column :
             {trace.best, trace.base, trace.step1, trace.step2, trace.step3, trace.step4})
            appendValue(column[i]);
        text += '\n';
    }
}

namespace
{
// A temporary name no other writer uses at the same time: process id and a running count.
std::string temporaryName()
{
    static std::atomic<unsigned> serial{0};
#ifdef _WIN32
    const unsigned long process = GetCurrentProcessId();
#else
    const unsigned long process = static_cast<unsigned long>(getpid());
#endif
    return std::string(kFileName) + "." + std::to_string(process) + "." +
           std::to_string(serial.fetch_add(1, std::memory_order_relaxed)) + ".tmp";
}

#ifndef _WIN32
// Writes all of text at the start of fd.
bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size())
    {
        const ssize_t n =
            pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// True when nothing but a regular file (or nothing) stands at the dump's name: a link, a folder
// or a FIFO there is left alone and the dump skipped.
bool nameIsFree(int dirFd)
{
    struct stat st;
    return fstatat(dirFd, kFileName, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISREG(st.st_mode);
}
#endif
} // namespace

bool replaceF0MapFile(const std::string& text)
{
    const std::string temporary8 = temporaryName();
#ifdef _WIN32
    wchar_t folder[MAX_PATH + 1];
    const DWORD len = GetTempPathW(MAX_PATH + 1, folder);
    if (len == 0 || len > MAX_PATH) return false;
    std::wstring path(folder, len);
    for (const char* c = kFileName; *c; ++c)
        path += static_cast<wchar_t>(*c);
    std::wstring temporary(folder, len);
    for (const char c : temporary8)
        temporary += static_cast<wchar_t>(c);
    std::FILE* file = _wfopen(temporary.c_str(), L"wb");
    if (!file) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written ||
        !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    {
        _wremove(temporary.c_str());
        return false;
    }
    return true;
#else
    const int dirFd = openDumpFolder();
    if (dirFd < 0) return false;
    const std::string& temporary = temporary8;
    if (!nameIsFree(dirFd))
    {
        close(dirFd);
        return false;
    }
    const int fd = openat(dirFd, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
    {
        close(dirFd);
        return false;
    }
    const bool written = writeAll(fd, text);
    const bool ok =
        close(fd) == 0 && written && renameat(dirFd, temporary.c_str(), dirFd, kFileName) == 0;
    if (!ok) unlinkat(dirFd, temporary.c_str(), 0);
    close(dirFd);
    return ok;
#endif
}

bool exchangeF0MapFile(const std::string& text, const std::string& spare)
{
#ifdef _WIN32
    static_cast<void>(spare);
    return replaceF0MapFile(text);
#else
    const int dirFd = openDumpFolder();
    if (dirFd < 0) return false;
    if (!nameIsFree(dirFd))
    {
        close(dirFd);
        return false;
    }
    // The spare is rewritten in place: no new file, no blocks to allocate or free.
    const int fd = openat(dirFd, spare.c_str(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
    {
        close(dirFd);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && writeAll(fd, text) &&
              ftruncate(fd, static_cast<off_t>(text.size())) == 0;
    ok = close(fd) == 0 && ok;
    if (ok)
    {
        // One atomic swap of the two names; where there is no dump yet, or the file system
        // cannot swap, the spare takes the name instead.
        ok = renameat2(dirFd, spare.c_str(), dirFd, kFileName, RENAME_EXCHANGE) == 0 ||
             ((errno == ENOENT || errno == EINVAL || errno == ENOSYS) &&
              renameat(dirFd, spare.c_str(), dirFd, kFileName) == 0);
    }
    close(dirFd);
    return ok;
#endif
}

void removeF0MapSpare(const std::string& spare)
{
#ifndef _WIN32
    const int dirFd = openDumpFolder();
    if (dirFd < 0) return;
    unlinkat(dirFd, spare.c_str(), 0);
    close(dirFd);
#else
    static_cast<void>(spare);
#endif
}

std::string f0MapSpareName(unsigned writer)
{
#ifdef _WIN32
    const unsigned long process = GetCurrentProcessId();
#else
    const unsigned long process = static_cast<unsigned long>(getpid());
#endif
    return std::string(kFileName) + "." + std::to_string(process) + "." + std::to_string(writer) +
           ".spare";
}

namespace
{
// The process id in a name f0map.txt.PID.N.spare or f0map.txt.PID.N.tmp, or 0 for any other name.
unsigned long leftoverOwner(const std::string& name)
{
    const std::string prefix = std::string(kFileName) + ".";
    if (name.compare(0, prefix.size(), prefix) != 0) return 0;
    const char* p = name.c_str() + prefix.size();
    const char* end = name.c_str() + name.size();
    unsigned long process = 0;
    unsigned long writer = 0;
    auto parsed = std::from_chars(p, end, process);
    if (parsed.ec != std::errc() || parsed.ptr == end || *parsed.ptr != '.') return 0;
    parsed = std::from_chars(parsed.ptr + 1, end, writer);
    if (parsed.ec != std::errc()) return 0;
    const std::string suffix(parsed.ptr, end);
    return suffix == ".spare" || suffix == ".tmp" ? process : 0;
}

#ifdef _WIN32
bool processRuns(unsigned long process)
{
    const HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process));
    // Any other refusal (access denied) means the process is there.
    if (!handle) return GetLastError() != ERROR_INVALID_PARAMETER;
    const bool running = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    CloseHandle(handle);
    return running;
}
#else
bool processRuns(unsigned long process)
{
    if (process > static_cast<unsigned long>(INT_MAX)) return true;
    return kill(static_cast<pid_t>(process), 0) == 0 || errno != ESRCH;
}
#endif
} // namespace

void sweepF0MapLeftovers()
{
#ifdef _WIN32
    const unsigned long self = GetCurrentProcessId();
    wchar_t folder[MAX_PATH + 1];
    const DWORD len = GetTempPathW(MAX_PATH + 1, folder);
    if (len == 0 || len > MAX_PATH) return;
    const std::wstring base(folder, len);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((base + L"f0map.txt.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do
    {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        std::string name;
        for (const wchar_t* c = found.cFileName; *c && *c < 128; ++c)
            name += static_cast<char>(*c);
        if (name.size() != std::wcslen(found.cFileName)) continue; // not a name of ours
        const unsigned long process = leftoverOwner(name);
        if (process != 0 && process != self && !processRuns(process))
            DeleteFileW((base + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
#else
    const int dirFd = openDumpFolder();
    if (dirFd < 0) return;
    DIR* dir = fdopendir(dirFd);
    if (!dir)
    {
        close(dirFd);
        return;
    }
    const unsigned long self = static_cast<unsigned long>(getpid());
    while (const dirent* entry = readdir(dir))
    {
        const unsigned long process = leftoverOwner(entry->d_name);
        if (process == 0 || process == self) continue;
        struct stat st;
        if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid() || processRuns(process))
            continue;
        unlinkat(dirFd, entry->d_name, 0);
    }
    closedir(dir);
#endif
}

void dumpF0Map(int bands, int m, const double* const* f0Map, const double* const* stabilityMap,
               const F0ContourTrace& trace)
{
    std::string text;
    formatF0Map(text, bands, m, f0Map, stabilityMap, trace);
    replaceF0MapFile(text);
}
