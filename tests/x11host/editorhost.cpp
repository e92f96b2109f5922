#include "editorhost.h"

#include <X11/Xutil.h>
#include <cairo.h>

#include <stdexcept>
#include <thread>

namespace x11test
{

namespace
{

int errorCount = 0;

int countError(Display*, XErrorEvent*)
{
    ++errorCount;
    return 0;
}

int countTree(Display* dpy, ::Window window)
{
    ::Window rootReturn = 0;
    ::Window parent = 0;
    ::Window* list = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(dpy, window, &rootReturn, &parent, &list, &n)) return 0;
    int count = static_cast<int>(n);
    for (unsigned int k = 0; k < n; ++k)
        count += countTree(dpy, list[k]);
    if (list) XFree(list);
    return count;
}

} // namespace

int Image::differences(const Image& other, int x0, int y0, int x1, int y1) const
{
    int count = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (at(x, y) != other.at(x, y)) ++count;
    return count;
}

bool Image::writePng(const std::string& path) const
{
    if (width <= 0 || height <= 0) return false;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            reinterpret_cast<uint32_t*>(data + y * stride)[x] = at(x, y);
    cairo_surface_mark_dirty(s);
    const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

Image readPng(const std::string& path)
{
    Image image;
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS)
    {
        cairo_surface_flush(s);
        image.width = cairo_image_surface_get_width(s);
        image.height = cairo_image_surface_get_height(s);
        const unsigned char* data = cairo_image_surface_get_data(s);
        const int stride = cairo_image_surface_get_stride(s);
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                image.pixels.push_back(reinterpret_cast<const uint32_t*>(data + y * stride)[x] &
                                       0xFFFFFF);
    }
    cairo_surface_destroy(s);
    return image;
}

EditorHost::EditorHost(const std::string& displayName, const std::string& pluginPath)
{
    dpy = XOpenDisplay(displayName.c_str());
    if (!dpy) throw std::runtime_error("cannot connect to X display " + displayName);
    XSetErrorHandler(countError);
    if (!pluginPath.empty()) host = std::make_unique<PluginHost>(pluginPath);
}

EditorHost::~EditorHost()
{
    host.reset();
    if (dpy) XCloseDisplay(dpy);
}

::Window EditorHost::root() const
{
    return DefaultRootWindow(dpy);
}

::Window EditorHost::createTopLevel(int x, int y, int width, int height, bool managed)
{
    XSetWindowAttributes a{};
    a.background_pixel = 0x336699;
    a.override_redirect = managed ? False : True;
    const ::Window w = XCreateWindow(dpy, root(), x, y, static_cast<unsigned>(width),
                                     static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                                     CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
    XStoreName(dpy, w, "Halvern test host");
    XMapWindow(dpy, w);
    XSync(dpy, False);
    return w;
}

void EditorHost::destroyWindow(::Window window)
{
    XDestroyWindow(dpy, window);
    XSync(dpy, False);
}

intptr_t EditorHost::openEditor(::Window parent)
{
    return host->dispatch(effEditOpen, 0, 0,
                          reinterpret_cast<void*>(static_cast<uintptr_t>(parent)));
}

void EditorHost::closeEditor()
{
    host->dispatch(effEditClose);
}

void EditorHost::idle()
{
    host->dispatch(effEditIdle);
    // the host's own events are of no use here; keep its queue empty
    while (XPending(dpy) > 0)
    {
        XEvent e;
        XNextEvent(dpy, &e);
    }
}

bool idleUntil(const std::function<void()>& idle, const std::function<bool()>& done,
               std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done())
    {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool EditorHost::idleUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    return x11test::idleUntil([this] { idle(); }, done, timeout);
}

bool EditorHost::idleWhile(ChildProcess& child, std::chrono::milliseconds timeout)
{
    idleUntil([&] { return child.finished(); }, timeout);
    return child.finished() && child.exitCode() == 0;
}

Image EditorHost::screenshot(int x, int y, int width, int height) const
{
    Image image;
    XImage* xi = XGetImage(dpy, root(), x, y, static_cast<unsigned>(width),
                           static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!xi) return image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            image.pixels[static_cast<size_t>(row) * width + col] =
                static_cast<uint32_t>(XGetPixel(xi, col, row)) & 0xFFFFFF;
    XDestroyImage(xi);
    return image;
}

std::vector<::Window> EditorHost::children(::Window window) const
{
    std::vector<::Window> out;
    ::Window rootReturn = 0;
    ::Window parent = 0;
    ::Window* list = nullptr;
    unsigned int n = 0;
    if (XQueryTree(dpy, window, &rootReturn, &parent, &list, &n)) out.assign(list, list + n);
    if (list) XFree(list);
    return out;
}

int EditorHost::countWindows() const
{
    return countTree(dpy, root());
}

std::string EditorHost::className(::Window window) const
{
    XClassHint hint{};
    std::string name;
    if (XGetClassHint(dpy, window, &hint))
    {
        if (hint.res_name) name = hint.res_name;
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    return name;
}

std::string EditorHost::title(::Window window) const
{
    char* name = nullptr;
    std::string out;
    if (XFetchName(dpy, window, &name) && name) out = name;
    if (name) XFree(name);
    return out;
}

std::vector<PluginHost::HostCall> EditorHost::calls(int opcode) const
{
    std::vector<PluginHost::HostCall> out;
    for (const auto& c : host->hostCalls())
        if (c.opcode == opcode) out.push_back(c);
    return out;
}

bool EditorHost::swapButtons(bool swapped)
{
    unsigned char map[64];
    const int n = XGetPointerMapping(dpy, map, sizeof map);
    if (n < 3) return false;
    map[0] = swapped ? 3 : 1;
    map[2] = swapped ? 1 : 3;
    const bool ok = XSetPointerMapping(dpy, map, n) == MappingSuccess;
    XSync(dpy, False);
    return ok;
}

int EditorHost::xErrors()
{
    return errorCount;
}

} // namespace x11test
