// A small X11 host for the plug-in's editor: a connection of its own to an X server, top-level
// windows to open the editor into, and the plug-in loaded through its entry point. Like a Linux
// DAW it hands the window's XID to effEditOpen and then gives the editor idle time every 10 ms;
// input comes from other processes (xdotool) while it idles.
#pragma once

#include "pluginhost.h"
#include "xserver.h"

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace x11test
{

// RGB pixels of a screen area, 0xRRGGBB each, row by row.
struct Image
{
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // Pixels that differ from other inside the given area (both images must cover it).
    int differences(const Image& other, int x0, int y0, int x1, int y1) const;
    bool writePng(const std::string& path) const;
};

// A PNG file as an Image (empty on failure).
Image readPng(const std::string& path);

// Calls idle about every 10 ms until done() (true) or timeout (done()'s last answer).
bool idleUntil(const std::function<void()>& idle, const std::function<bool()>& done,
               std::chrono::milliseconds timeout);

class EditorHost
{
public:
    // Connects to displayName and counts every X error this process meets from then on that
    // nobody else handles. An empty pluginPath loads no plug-in.
    explicit EditorHost(const std::string& displayName, const std::string& pluginPath);
    ~EditorHost();
    EditorHost(const EditorHost&) = delete;
    EditorHost& operator=(const EditorHost&) = delete;

    Display* display() const { return dpy; }
    ::Window root() const;
    PluginHost& plugin() { return *host; }

    // A mapped top-level window, placed where asked: out of a window manager's hands unless
    // managed (tests run without one).
    ::Window createTopLevel(int x, int y, int width, int height, bool managed = false);
    void destroyWindow(::Window window);

    // effEditOpen with window's XID as the parent, effEditClose, effEditIdle.
    intptr_t openEditor(::Window parent);
    void closeEditor();
    void idle();

    // Idles every 10 ms until done() holds or timeout passes; the result is done()'s last answer.
    bool idleUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Idles until the child has ended (or timeout), then returns whether it ended with 0.
    bool idleWhile(ChildProcess& child,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

    Image screenshot(int x, int y, int width, int height) const;
    std::vector<::Window> children(::Window window) const;
    // Every window under root, root itself not counted.
    int countWindows() const;
    // WM_CLASS instance name and WM_NAME of a window.
    std::string className(::Window window) const;
    std::string title(::Window window) const;

    // Host callbacks of one opcode since the last clear.
    std::vector<PluginHost::HostCall> calls(int opcode) const;

    // Swaps the left and right buttons for every client of the server, as left-handed users do.
    bool swapButtons(bool swapped);

    static int xErrors();

private:
    Display* dpy = nullptr;
    std::unique_ptr<PluginHost> host;
};

} // namespace x11test
