// halvern-x11host: the test host as a program. Opens the plug-in's editor in a window on $DISPLAY
// and idles it every 10 ms, the way a Linux DAW does, until the window is closed or the given
// time has passed; optionally saves what the screen shows of the editor.
//
//   halvern-x11host [--plugin PATH] [--seconds N] [--screenshot FILE.png]
#include "editorhost.h"

#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    std::string plugin = HALVERN_PLUGIN_PATH;
    double seconds = -1.0;
    std::string screenshot;
    for (int k = 1; k < argc; ++k)
    {
        const std::string a = argv[k];
        if (a == "--plugin" && k + 1 < argc)
            plugin = argv[++k];
        else if (a == "--seconds" && k + 1 < argc)
            seconds = std::atof(argv[++k]);
        else if (a == "--screenshot" && k + 1 < argc)
            screenshot = argv[++k];
        else
        {
            std::fprintf(stderr, "usage: halvern-x11host [--plugin PATH] [--seconds N] "
                                 "[--screenshot FILE.png]\n");
            return 2;
        }
    }
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
    {
        std::fprintf(stderr, "halvern-x11host: DISPLAY is not set\n");
        return 1;
    }
    try
    {
        x11test::EditorHost host(display, plugin);
        ERect* rect = nullptr;
        host.plugin().dispatch(effEditGetRect, 0, 0, &rect);
        const int width = rect ? rect->right - rect->left : 512;
        const int height = rect ? rect->bottom - rect->top : 128;
        const int x = 40;
        const int y = 40;
        const ::Window top = host.createTopLevel(x, y, width, height, true);
        Atom deleteWindow = XInternAtom(host.display(), "WM_DELETE_WINDOW", False);
        XSetWMProtocols(host.display(), top, &deleteWindow, 1);
        host.openEditor(top);

        const auto start = std::chrono::steady_clock::now();
        bool closed = false;
        while (!closed)
        {
            host.plugin().dispatch(effEditIdle);
            while (XPending(host.display()) > 0)
            {
                XEvent e;
                XNextEvent(host.display(), &e);
                if (e.type == ClientMessage &&
                    static_cast<Atom>(e.xclient.data.l[0]) == deleteWindow)
                    closed = true;
            }
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (seconds >= 0.0 && elapsed >= seconds) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!screenshot.empty())
        {
            int sx = 0;
            int sy = 0;
            ::Window child = 0;
            XTranslateCoordinates(host.display(), top, host.root(), 0, 0, &sx, &sy, &child);
            if (!host.screenshot(sx, sy, width, height).writePng(screenshot))
                std::fprintf(stderr, "halvern-x11host: cannot write %s\n", screenshot.c_str());
        }
        host.closeEditor();
        host.destroyWindow(top);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "halvern-x11host: %s\n", e.what());
        return 1;
    }
    return 0;
}
