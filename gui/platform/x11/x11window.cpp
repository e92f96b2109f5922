#include "x11window.h"

#include "../cairo/cairosurface.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <cairo-xlib.h>

#include <algorithm>
#include <cstdint>
#include <dlfcn.h>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace VSTGUI
{
namespace platform
{

namespace x11
{

// One display connection per window: its events, errors and resources are the window's alone,
// and closing it takes back on the server whatever might still be left.
struct Connection
{
    Display* display = nullptr;
    ::Window window = 0;
    bool windowAlive = false;
    GC gc = nullptr;       // for copies of the back buffer onto the window
    bool putImage = false; // the window's pixels are laid out as cairo's RGB24 ones
    uint64_t errors = 0;   // errors met inside traps

    ~Connection();
};

} // namespace x11

namespace
{

using x11::Connection;

uint64_t swallowed = 0;
XErrorHandler previousHandler = nullptr;

// Connections whose errors are being kept from the host right now.
std::vector<Connection*>& trapped()
{
    static std::vector<Connection*> connections;
    return connections;
}

int onXError(Display* display, XErrorEvent* event)
{
    for (Connection* c : trapped())
        if (c->display == display)
        {
            ++c->errors;
            ++swallowed;
            if (event->resourceid == c->window &&
                (event->error_code == BadWindow || event->error_code == BadDrawable))
                c->windowAlive = false;
            return 0;
        }
    return previousHandler ? previousHandler(display, event) : 0;
}

// Our error handler for the lifetime of the object; the end waits for the server's answer to
// everything sent before it, so the errors those requests cause arrive while we listen.
class Trap
{
public:
    explicit Trap(Connection& c) : connection(c), errorsBefore(c.errors)
    {
        if (trapped().empty()) previousHandler = XSetErrorHandler(onXError);
        trapped().push_back(&c);
    }
    ~Trap()
    {
        if (connection.display) XSync(connection.display, False);
        release();
    }
    Trap(const Trap&) = delete;
    Trap& operator=(const Trap&) = delete;

    // True when nothing sent so far inside the trap failed.
    bool ok()
    {
        XSync(connection.display, False);
        return connection.errors == errorsBefore;
    }

    // Closes the display inside the trap (its last requests may still fail).
    void closeDisplay()
    {
        XCloseDisplay(connection.display);
        connection.display = nullptr;
    }

private:
    void release()
    {
        auto& list = trapped();
        auto last = std::find(list.rbegin(), list.rend(), &connection);
        if (last != list.rend()) list.erase(std::next(last).base());
        if (list.empty())
        {
            XSetErrorHandler(previousHandler);
            previousHandler = nullptr;
        }
    }

    Connection& connection;
    uint64_t errorsBefore;
};

// The windows of this thread, for the paint dispatched while a control tracks the mouse.
thread_local std::vector<X11Window*> threadWindows;

std::set<std::string>& registeredClasses()
{
    static std::set<std::string> classes;
    return classes;
}

// The library's own address finds its load address, the module handle of a shared object.
const char moduleMarker = 0;

CRect unite(const CRect& a, const CRect& b)
{
    if (a.isEmpty()) return b;
    if (b.isEmpty()) return a;
    return CRect(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                 std::max(a.bottom, b.bottom));
}

// Nearest shapes of the core cursor font.
unsigned int cursorShape(CCursorType type)
{
    switch (type)
    {
    case kCursorWait:
        return XC_watch;
    case kCursorHSize:
        return XC_sb_h_double_arrow;
    case kCursorVSize:
        return XC_sb_v_double_arrow;
    case kCursorSizeAll:
        return XC_fleur;
    case kCursorNESWSize:
        return XC_bottom_left_corner;
    case kCursorNWSESize:
        return XC_bottom_right_corner;
    case kCursorNotAllowed:
        return XC_X_cursor;
    case kCursorHand:
        return XC_hand2;
    default:
        return XC_left_ptr;
    }
}

// Draws on the window through a cairo Xlib surface. Every call runs inside a trap, so a window
// that the host destroyed meanwhile fails quietly; once it is known to be gone nothing is sent.
class WindowSurface : public DrawSurface
{
public:
    WindowSurface(std::shared_ptr<Connection> c, cairo_surface_t* target)
        : connection(std::move(c)), inner(std::make_unique<CairoSurface>(target))
    {
    }
    ~WindowSurface() override
    {
        Trap trap(*connection);
        inner.reset();
    }

    void selectPen(const CColor& color, int32_t width, CLineStyle style) override
    {
        inner->selectPen(color, width, style);
    }
    void selectBrush(const CColor& color) override { inner->selectBrush(color); }
    void selectFont(const FontSpec& font) override { inner->selectFont(font); }
    void setTextColor(const CColor& color) override { inner->setTextColor(color); }
    void setTextBackground(const CColor& color) override { inner->setTextBackground(color); }
    void setClip(const CRect& clip) override
    {
        clipRect = clip;
        inner->setClip(clip);
    }
    void moveTo(const CPoint& p) override { inner->moveTo(p); }
    void lineTo(const CPoint& p) override
    {
        trapped([&] { inner->lineTo(p); });
    }
    void fillRect(const CRect& r) override
    {
        trapped([&] { inner->fillRect(r); });
    }
    void drawText(const char* text, const CRect& box, CHoriTxtAlign align, bool opaque) override
    {
        trapped([&] { inner->drawText(text, box, align, opaque); });
    }
    void blendPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                      uint8_t alpha) override
    {
        trapped([&] { inner->blendPicture(picture, dest, source, alpha); });
    }
    void copyPicture(const Picture& picture, const CRect& dest, const CPoint& source) override
    {
        trapped([&] { inner->copyPicture(picture, dest, source); });
    }
    void keyPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                    const CColor& key) override
    {
        trapped([&] { inner->keyPicture(picture, dest, source, key); });
    }
    // The back buffer onto the window.
    void copyFrom(const DrawSurface& from, const CRect& dest, const CPoint& source) override
    {
        trapped([&] { copyImage(from, dest, source); });
    }
    // A window keeps no pixels of its own to read back.
    CColor pixel(const CPoint&) const override { return CColor{}; }

private:
    template <typename Draw> void trapped(Draw draw)
    {
        if (!connection->windowAlive) return;
        Trap trap(*connection);
        draw();
        cairo_surface_flush(inner->target());
    }

    // Where the window's visual holds pixels as cairo's RGB24 images do (true colour, 8 bits
    // each of red, green, blue), the area is put straight from the image's memory. Otherwise
    // cairo converts; its upload path for parts of an image leaks 32 bytes per copy (1.16,
    // through MIT-SHM), which the Expose events of a long session would add up.
    void copyImage(const DrawSurface& from, const CRect& dest, const CPoint& source)
    {
        const auto* other = dynamic_cast<const CairoSurface*>(&from);
        if (!other || cairo_surface_get_type(other->target()) != CAIRO_SURFACE_TYPE_IMAGE) return;
        cairo_surface_t* image = other->target();
        if (!connection->putImage || cairo_image_surface_get_format(image) != CAIRO_FORMAT_RGB24)
        {
            inner->copyFrom(from, dest, source);
            return;
        }
        cairo_surface_flush(image);
        const int32_t w = cairo_image_surface_get_width(image);
        const int32_t h = cairo_image_surface_get_height(image);
        CRect area(dest.left - source.h, dest.top - source.v, dest.left - source.h + w,
                   dest.top - source.v + h);
        area.bound(dest);
        if (clipRect) area.bound(*clipRect);
        if (area.isEmpty()) return;
        XImage xi{};
        xi.width = w;
        xi.height = h;
        xi.format = ZPixmap;
        xi.data = reinterpret_cast<char*>(cairo_image_surface_get_data(image));
        xi.byte_order = LSBFirst; // cairo's pixels are native words on a little-endian machine
        xi.bitmap_unit = 32;
        xi.bitmap_bit_order = LSBFirst;
        xi.bitmap_pad = 32;
        xi.depth = 24;
        xi.bytes_per_line = cairo_image_surface_get_stride(image);
        xi.bits_per_pixel = 32;
        xi.red_mask = 0xFF0000;
        xi.green_mask = 0x00FF00;
        xi.blue_mask = 0x0000FF;
        if (!XInitImage(&xi)) return;
        XPutImage(connection->display, connection->window, connection->gc, &xi,
                  source.h + area.left - dest.left, source.v + area.top - dest.top, area.left,
                  area.top, static_cast<unsigned>(area.width()),
                  static_cast<unsigned>(area.height()));
    }

    std::shared_ptr<Connection> connection;
    std::unique_ptr<CairoSurface> inner;
    std::optional<CRect> clipRect; // none until set: the whole window
};

} // namespace

x11::Connection::~Connection()
{
    if (!display) return;
    Trap trap(*this);
    trap.closeDisplay();
}

// ---- the window

std::unique_ptr<X11Window> X11Window::create(const WindowSpec& params, WindowClient& client)
{
    auto connection = std::make_shared<Connection>();
    connection->display = XOpenDisplay(nullptr);
    if (!connection->display) return nullptr;
    std::unique_ptr<X11Window> window(new X11Window(params, client, connection));
    if (!connection->windowAlive) return nullptr;
    return window;
}

X11Window::X11Window(const WindowSpec& params, WindowClient& client, std::shared_ptr<Connection> c)
    : client(&client), connection(std::move(c)), width(std::max(params.width, 1)),
      height(std::max(params.height, 1))
{
    Display* d = connection->display;
    const auto parent = static_cast<::Window>(reinterpret_cast<uintptr_t>(params.parent));
    Trap trap(*connection);
    XWindowAttributes parentAttributes;
    if (!XGetWindowAttributes(d, parent, &parentAttributes) || !trap.ok() ||
        parentAttributes.c_class != InputOutput)
        return;

    // No background: every exposed pixel is painted from the back buffer, so the server need
    // not clear anything first (which would flicker).
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None;
    attributes.bit_gravity = NorthWestGravity;
    attributes.event_mask = ExposureMask | ButtonPressMask | StructureNotifyMask;
    const ::Window w =
        XCreateWindow(d, parent, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                      0, CopyFromParent, InputOutput, CopyFromParent,
                      CWBackPixmap | CWBitGravity | CWEventMask, &attributes);
    // The window class travels as WM_CLASS, the title as WM_NAME.
    std::string className = params.className ? params.className : "";
    XClassHint hint;
    hint.res_name = className.data();
    hint.res_class = className.data();
    XSetClassHint(d, w, &hint);
    XStoreName(d, w, params.title ? params.title : "");
    XMapWindow(d, w);
    if (!trap.ok())
    {
        XDestroyWindow(d, w);
        return;
    }

    const int mapped = XGetPointerMapping(d, pointerMap, sizeof pointerMap);
    for (int k = mapped; k < static_cast<int>(sizeof pointerMap); ++k)
        pointerMap[k] = static_cast<unsigned char>(k + 1);

    const Visual* visual = parentAttributes.visual;
    connection->putImage = parentAttributes.depth == 24 && visual->c_class == TrueColor &&
                           visual->red_mask == 0xFF0000 && visual->green_mask == 0x00FF00 &&
                           visual->blue_mask == 0x0000FF;
    XGCValues values{};
    values.graphics_exposures = False;
    connection->gc = XCreateGC(d, w, GCGraphicsExposures, &values);

    root = parentAttributes.root;
    connection->window = w;
    connection->windowAlive = true;
    surface = cairo_xlib_surface_create(d, w, parentAttributes.visual, width, height);
    threadWindows.push_back(this);
}

X11Window::~X11Window()
{
    threadWindows.erase(std::remove(threadWindows.begin(), threadWindows.end(), this),
                        threadWindows.end());
    if (connection->display)
    {
        Trap trap(*connection);
        if (surface)
        {
            // Surfaces still held elsewhere turn into no-ops.
            cairo_surface_finish(surface);
            cairo_surface_destroy(surface);
        }
        if (connection->gc) XFreeGC(connection->display, connection->gc);
        connection->gc = nullptr;
        if (connection->windowAlive) XDestroyWindow(connection->display, connection->window);
    }
    connection->windowAlive = false;
    connection->window = 0;
}

void* X11Window::nativeHandle() const
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(connection->window));
}

unsigned long X11Window::xid() const
{
    return connection->window;
}

_XDisplay* X11Window::display() const
{
    return connection->display;
}

bool X11Window::isDestroyed() const
{
    return !connection->windowAlive;
}

void X11Window::addDamage(const CRect& r)
{
    CRect area(r);
    area.bound(CRect(0, 0, width, height));
    if (!area.isEmpty()) damage = unite(damage, area);
}

void X11Window::invalidate(const CRect& r)
{
    addDamage(r);
}

void X11Window::setPosition(const CPoint& topLeftInParent)
{
    positionInParent = topLeftInParent;
    if (!connection->windowAlive) return;
    Trap trap(*connection);
    XMoveWindow(connection->display, connection->window, topLeftInParent.h, topLeftInParent.v);
}

void X11Window::setSize(int32_t newWidth, int32_t newHeight)
{
    width = std::max(newWidth, 1);
    height = std::max(newHeight, 1);
    damage = CRect(0, 0, width, height);
    if (!connection->windowAlive) return;
    Trap trap(*connection);
    XResizeWindow(connection->display, connection->window, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    cairo_xlib_surface_set_size(surface, width, height);
}

CPoint X11Window::screenPosition() const
{
    if (!connection->windowAlive) return CPoint();
    Trap trap(*connection);
    int x = 0;
    int y = 0;
    ::Window child = 0;
    if (!XTranslateCoordinates(connection->display, connection->window, root, 0, 0, &x, &y, &child))
        return CPoint();
    return CPoint(x, y);
}

CPoint X11Window::pointerPosition()
{
    if (!connection->windowAlive) return CPoint();
    Trap trap(*connection);
    ::Window pointerRoot = 0;
    ::Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned int mask = 0;
    XQueryPointer(connection->display, connection->window, &pointerRoot, &child, &rootX, &rootY, &x,
                  &y, &mask);
    return CPoint(rootX, rootY);
}

int32_t X11Window::buttonWord(unsigned int mask) const
{
    // The server reports logical buttons; the frame wants the physical ones (it swaps left and
    // right itself when the system says they are swapped).
    static const int32_t physicalBits[3] = {kLButton, kMButton, kRButton};
    int32_t word = 0;
    for (int physical = 0; physical < 3; ++physical)
    {
        const int logical = pointerMap[physical];
        if (logical >= 1 && logical <= 5 && (mask & (Button1Mask << (logical - 1))))
            word |= physicalBits[physical];
    }
    if (mask & ShiftMask) word |= kShift;
    if (mask & ControlMask) word |= kControl;
    if (mask & Mod1Mask) word |= kAlt;
    return word;
}

int32_t X11Window::buttonState()
{
    // The press being handled may be one idle period old: its own state comes first, so a
    // click released before the host's idle still counts as a press.
    if (pressStatePending)
    {
        pressStatePending = false;
        return pressState;
    }
    if (!connection->windowAlive) return 0;
    Trap trap(*connection);
    ::Window pointerRoot = 0;
    ::Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(connection->display, connection->window, &pointerRoot, &child, &rootX,
                       &rootY, &x, &y, &mask) &&
        pointerRoot == 0)
        return 0;
    return buttonWord(mask);
}

std::unique_ptr<DrawSurface> X11Window::createSurface()
{
    if (!surface) return nullptr;
    return std::make_unique<WindowSurface>(connection, surface);
}

std::unique_ptr<DrawSurface> X11Window::createCompatibleSurface(int32_t w, int32_t h)
{
    // The back buffer is client memory: drawing it costs no round trips.
    return createImageSurface(w, h);
}

void X11Window::setCursor(CCursorType type)
{
    if (!connection->windowAlive) return;
    Trap trap(*connection);
    const Cursor cursor = XCreateFontCursor(connection->display, cursorShape(type));
    XDefineCursor(connection->display, connection->window, cursor);
    // the window keeps the cursor alive as long as it uses it
    XFreeCursor(connection->display, cursor);
}

void X11Window::restoreCursor()
{
    if (!connection->windowAlive) return;
    Trap trap(*connection);
    // back to the parent's cursor, which is where every window starts
    XUndefineCursor(connection->display, connection->window);
}

// ---- events

void X11Window::pumpEvents()
{
    if (dispatching || !connection->display) return;
    std::vector<XEvent> events;
    {
        Trap trap(*connection);
        while (XPending(connection->display) > 0)
        {
            XEvent event;
            XNextEvent(connection->display, &event);
            events.push_back(event);
        }
    }
    // Handled outside the trap: a press hands control to the toolkit (and through it to the
    // host) until the button is released.
    dispatching = true;
    for (const XEvent& event : events)
        handle(event);
    dispatching = false;
    paintDamage();
}

void X11Window::handle(const XEvent& event)
{
    if (event.xany.window != connection->window) return;
    switch (event.type)
    {
    case Expose:
        addDamage(CRect(event.xexpose.x, event.xexpose.y, event.xexpose.x + event.xexpose.width,
                        event.xexpose.y + event.xexpose.height));
        break;
    case ButtonPress:
    {
        const XButtonEvent& b = event.xbutton;
        if (!client) break;
        if (b.button >= Button1 && b.button <= Button3)
        {
            // Paint what is due first, so the window shows the state the press acts on.
            paintDamage();
            pressState = buttonWord(b.state | (Button1Mask << (b.button - Button1)));
            pressStatePending = true;
            client->windowButtonDown(CPoint(b.x, b.y));
            pressStatePending = false;
        }
        else if (b.button == Button4 || b.button == Button5)
        {
            // One notch per button event; buttons 6 and 7 scroll sideways and are ignored.
            CPoint where(b.x, b.y);
            const CPoint corner = screenPosition();
            where.offset(corner.h, corner.v);
            client->windowWheel(where, b.button == Button4 ? 1.0f : -1.0f);
        }
        break;
    }
    case DestroyNotify:
        if (event.xdestroywindow.window != connection->window) break;
        connection->windowAlive = false;
        damage = CRect();
        if (client) client->windowDestroyed();
        break;
    default:
        break;
    }
}

bool X11Window::paintDamage()
{
    if (damage.isEmpty() || !client || !connection->windowAlive || !surface) return false;
    const CRect area = damage;
    damage = CRect();
    WindowSurface target(connection, surface);
    client->windowPaint(target, area);
    return true;
}

bool X11Window::dispatchPaint()
{
    if (!connection->display) return false;
    {
        Trap trap(*connection);
        XEvent event;
        while (connection->windowAlive &&
               XCheckTypedWindowEvent(connection->display, connection->window, Expose, &event))
            handle(event);
        if (connection->windowAlive &&
            XCheckTypedWindowEvent(connection->display, connection->window, DestroyNotify, &event))
            handle(event);
    }
    return paintDamage();
}

// ---- the window layer's free functions

const void* moduleHandle()
{
    Dl_info info;
    if (dladdr(&moduleMarker, &info) && info.dli_fbase) return info.dli_fbase;
    return &moduleMarker;
}

bool registerWindowClass(const char* name)
{
    return name && registeredClasses().insert(name).second;
}

void unregisterWindowClass(const char* name)
{
    if (name) registeredClasses().erase(name);
}

bool systemButtonsSwapped()
{
    // Read through a short connection of its own: no window exists yet when this is asked.
    Connection connection;
    connection.display = XOpenDisplay(nullptr);
    if (!connection.display) return false;
    unsigned char map[3] = {1, 2, 3};
    Trap trap(connection);
    const int n = XGetPointerMapping(connection.display, map, 3);
    return n >= 3 && map[0] == 3 && map[2] == 1;
}

std::unique_ptr<Window> createChildWindow(const WindowSpec& params, WindowClient& client)
{
    if (!params.parent || !params.className || !registeredClasses().count(params.className))
        return nullptr;
    return X11Window::create(params, client);
}

bool dispatchPendingPaint()
{
    // a copy: painting may close a window of the list
    const std::vector<X11Window*> windows = threadWindows;
    for (X11Window* w : windows)
        if (std::find(threadWindows.begin(), threadWindows.end(), w) != threadWindows.end() &&
            w->dispatchPaint())
            return true;
    return false;
}

namespace x11
{
int32_t liveWindows()
{
    return static_cast<int32_t>(threadWindows.size());
}
uint64_t swallowedErrors()
{
    return swallowed;
}
} // namespace x11

} // namespace platform
} // namespace VSTGUI
