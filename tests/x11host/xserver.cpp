#include "xserver.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace x11test
{

namespace
{

std::vector<char*> cArgs(std::vector<std::string>& args)
{
    std::vector<char*> out;
    for (auto& a : args)
        out.push_back(a.data());
    out.push_back(nullptr);
    return out;
}

void stop(pid_t pid)
{
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    // a server that ignores the request for two seconds is killed
    for (int k = 0; k < 200; ++k)
    {
        if (waitpid(pid, &status, WNOHANG) == pid) return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

} // namespace

bool programInstalled(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size())
    {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
{
    std::vector<std::string> args(argv);
    std::vector<char*> c = cArgs(args);
    if (posix_spawnp(&pid, c[0], nullptr, nullptr, c.data(), environ) != 0)
    {
        pid = -1;
        code = 127;
    }
}

ChildProcess::~ChildProcess()
{
    if (pid > 0 && code < 0)
    {
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

bool ChildProcess::finished()
{
    if (code >= 0) return true;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) return false;
    code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

XServer::XServer(int width, int height)
{
    int fds[2];
    if (pipe(fds) != 0)
    {
        why = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    // Xvfb writes the display number it took to this descriptor once it accepts clients.
    std::vector<std::string> args = {
        "Xvfb",      "-displayfd", std::to_string(fds[1]),
        "-screen",   "0",          std::to_string(width) + "x" + std::to_string(height) + "x24",
        "-nolisten", "tcp",        "-noreset"};
    std::vector<char*> c = cArgs(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    // its chatter about fonts and extensions is of no interest
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&pid, "Xvfb", &actions, nullptr, c.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0)
    {
        pid = -1;
        close(fds[0]);
        why = "cannot start Xvfb";
        return;
    }

    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline)
    {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char ch = 0;
        const ssize_t n = read(fds[0], &ch, 1);
        if (n <= 0 || ch == '\n') break;
        number += ch;
    }
    close(fds[0]);
    if (number.empty())
    {
        why = "Xvfb did not report a display";
        stop(pid);
        pid = -1;
        return;
    }
    name = ":" + number;
}

XServer::~XServer()
{
    stop(pid);
}

std::vector<std::string> xdotool(const std::string& script)
{
    std::vector<std::string> argv = {"xdotool"};
    size_t start = 0;
    while (start < script.size())
    {
        size_t end = script.find(' ', start);
        if (end == std::string::npos) end = script.size();
        if (end > start) argv.push_back(script.substr(start, end - start));
        start = end + 1;
    }
    return argv;
}

int openDescriptors()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd"))
    {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

} // namespace x11test
