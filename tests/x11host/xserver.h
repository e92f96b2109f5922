// A private X server for tests (Xvfb on a display number it picks itself) and the child processes
// that act on it (xdotool), run without blocking the caller.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace x11test
{

// True when name is an executable file in a folder of PATH.
bool programInstalled(const std::string& name);

// The argument list of xdotool running script (words separated by spaces).
std::vector<std::string> xdotool(const std::string& script);

// File descriptors this process holds open.
int openDescriptors();

// A program running beside the test; killed and reaped when the object goes.
class ChildProcess
{
public:
    // Starts argv[0] found through PATH; failure to start shows as a finished child with
    // exit code 127.
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Non-blocking: true once the child has ended.
    bool finished();
    int exitCode() const { return code; }
    pid_t id() const { return pid; }

private:
    pid_t pid = -1;
    int code = -1;
};

// Xvfb with one 24-bit screen, no TCP, started on the first free display number.
class XServer
{
public:
    XServer(int width = 1024, int height = 768);
    ~XServer(); // stops the server and waits for it
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool running() const { return pid > 0 && !name.empty(); }
    // ":N", or empty when the server did not come up.
    const std::string& displayName() const { return name; }
    // Why the server did not come up.
    const std::string& failure() const { return why; }

private:
    pid_t pid = -1;
    std::string name;
    std::string why;
};

} // namespace x11test
