#include "headlesswindow.h"

#include "../cairo/cairosurface.h"

#include <algorithm>
#include <set>

namespace VSTGUI
{
namespace platform
{

namespace
{

// A tracking loop that polls this often past the end of its script with the button down
// would otherwise never end.
constexpr int32_t kMaxIdleReads = 100000;

const CColor kButtonFace{240, 240, 240, 255};

struct HeadlessSystem
{
    uint32_t ticks = 0;
    bool buttonsSwapped = false;
    std::set<std::string> classes;
    int32_t registrations = 0;
    int32_t unregistrations = 0;
    std::vector<HeadlessWindow*> windows;
};

HeadlessSystem& sys()
{
    static HeadlessSystem state;
    return state;
}

cairo_surface_t* makeScreen(int32_t width, int32_t height)
{
    cairo_surface_t* image =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(width, 1), std::max(height, 1));
    cairo_t* cr = cairo_create(image);
    cairo_set_source_rgb(cr, kButtonFace.red / 255.0, kButtonFace.green / 255.0,
                         kButtonFace.blue / 255.0);
    cairo_paint(cr);
    cairo_destroy(cr);
    return image;
}

// The library's own address stands in for a module handle.
const char moduleMarker = 0;

} // namespace

HeadlessWindow::HeadlessWindow(const WindowSpec& params, WindowClient& client)
    : client(&client), classNameText(params.className ? params.className : ""),
      titleText(params.title ? params.title : ""), parentWindow(params.parent),
      screen(makeScreen(params.width, params.height)), pending(0, 0, params.width, params.height)
{
    sys().windows.push_back(this);
}

HeadlessWindow::~HeadlessWindow()
{
    auto& windows = sys().windows;
    windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
    cairo_surface_destroy(screen);
}

void* HeadlessWindow::nativeHandle() const
{
    return const_cast<HeadlessWindow*>(this);
}

HeadlessWindow* HeadlessWindow::fromHandle(void* handle)
{
    for (HeadlessWindow* w : sys().windows)
        if (w == handle) return w;
    return nullptr;
}

int32_t HeadlessWindow::width() const
{
    return cairo_image_surface_get_width(screen);
}

int32_t HeadlessWindow::height() const
{
    return cairo_image_surface_get_height(screen);
}

void HeadlessWindow::invalidate(const CRect& r)
{
    CRect area(r);
    area.bound(CRect(0, 0, width(), height()));
    if (area.isEmpty()) return;
    if (pending.isEmpty())
    {
        pending = area;
        return;
    }
    pending = CRect(std::min(pending.left, area.left), std::min(pending.top, area.top),
                    std::max(pending.right, area.right), std::max(pending.bottom, area.bottom));
}

void HeadlessWindow::setPosition(const CPoint& topLeftInParent)
{
    positionInParent = topLeftInParent;
}

void HeadlessWindow::setSize(int32_t width, int32_t height)
{
    cairo_surface_destroy(screen);
    screen = makeScreen(width, height);
    pending = CRect(0, 0, width, height);
}

CPoint HeadlessWindow::screenPosition() const
{
    CPoint p(parentOnScreen);
    return p.offset(positionInParent.h, positionInParent.v);
}

CPoint HeadlessWindow::pointerPosition()
{
    ++reads;
    if (!script.empty())
    {
        current = script.front();
        script.pop_front();
        idleReads = 0;
    }
    else if ((current.buttons & (kLButton | kRButton)) && ++idleReads > kMaxIdleReads)
    {
        overrun = true;
        current.buttons &= ~(kLButton | kMButton | kRButton);
    }
    CPoint p(current.where);
    const CPoint corner = screenPosition();
    return p.offset(corner.h, corner.v);
}

int32_t HeadlessWindow::buttonState()
{
    return current.buttons;
}

std::unique_ptr<DrawSurface> HeadlessWindow::createSurface()
{
    return std::make_unique<CairoSurface>(screen);
}

std::unique_ptr<DrawSurface> HeadlessWindow::createCompatibleSurface(int32_t width, int32_t height)
{
    return createImageSurface(width, height);
}

void HeadlessWindow::saveCursor()
{
    savedCursor = cursorType;
}

void HeadlessWindow::setInput(const CPoint& where, int32_t buttons)
{
    current.where = where;
    current.buttons = buttons;
    idleReads = 0;
}

void HeadlessWindow::queueInput(const std::vector<InputState>& states)
{
    script.insert(script.end(), states.begin(), states.end());
}

void HeadlessWindow::press(const CPoint& where, int32_t buttons,
                           const std::vector<InputState>& states)
{
    setInput(where, buttons);
    queueInput(states);
    if (client) client->windowButtonDown(where);
}

void HeadlessWindow::wheel(const CPoint& where, float notches, int32_t buttons)
{
    setInput(where, buttons);
    CPoint p(where);
    const CPoint corner = screenPosition();
    if (client) client->windowWheel(p.offset(corner.h, corner.v), notches);
}

bool HeadlessWindow::paint()
{
    if (pending.isEmpty() || !client) return false;
    const CRect area = pending;
    pending = CRect();
    CairoSurface surface(screen);
    client->windowPaint(surface, area);
    return true;
}

void HeadlessWindow::parentDestroyed()
{
    if (client) client->windowDestroyed();
}

int32_t HeadlessWindow::dragEnter(int32_t itemCount, const CPoint& where)
{
    if (!dropTarget || !client) return 0;
    return client->windowDragEnter(itemCount, where);
}

void HeadlessWindow::drop(const CPoint& where)
{
    if (dropTarget && client) client->windowDrop(where);
}

CColor HeadlessWindow::pixel(const CPoint& p) const
{
    CairoSurface surface(screen);
    return surface.pixel(p);
}

// ---- the window layer's free functions

const void* moduleHandle()
{
    return &moduleMarker;
}

bool registerWindowClass(const char* name)
{
    if (!name || !sys().classes.insert(name).second) return false;
    ++sys().registrations;
    return true;
}

void unregisterWindowClass(const char* name)
{
    if (name && sys().classes.erase(name)) ++sys().unregistrations;
}

bool systemButtonsSwapped()
{
    return sys().buttonsSwapped;
}

std::unique_ptr<Window> createChildWindow(const WindowSpec& params, WindowClient& client)
{
    if (!params.parent || !params.className || !sys().classes.count(params.className)) return nullptr;
    return std::make_unique<HeadlessWindow>(params, client);
}

bool dispatchPendingPaint()
{
    for (HeadlessWindow* w : sys().windows)
        if (w->hasPendingPaint()) return w->paint();
    return false;
}

uint32_t tickCount()
{
    return sys().ticks;
}

void sleepMilliseconds(uint32_t ms)
{
    sys().ticks += ms;
}

namespace headless
{
void setTicks(uint32_t ms)
{
    sys().ticks = ms;
}
void setButtonsSwapped(bool swapped)
{
    sys().buttonsSwapped = swapped;
}
int32_t classRegistrations()
{
    return sys().registrations;
}
int32_t classUnregistrations()
{
    return sys().unregistrations;
}
bool isClassRegistered(const std::string& name)
{
    return sys().classes.count(name) != 0;
}
int32_t liveWindows()
{
    return static_cast<int32_t>(sys().windows.size());
}
} // namespace headless

} // namespace platform
} // namespace VSTGUI
