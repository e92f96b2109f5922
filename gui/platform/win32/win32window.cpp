#include "win32window.h"

#include "gdisurface.h"

#include <ole2.h>
#include <shellapi.h>
#include <windowsx.h>

namespace VSTGUI
{
namespace platform
{

// ---- OLE

OleThreadScope::OleThreadScope() : thread(GetCurrentThreadId())
{
    // S_FALSE (already initialised here) also counts and must be balanced; a thread that runs
    // in the multithreaded apartment refuses, and then there is nothing to undo.
    const HRESULT result = OleInitialize(nullptr);
    initialised = result == S_OK || result == S_FALSE;
}

OleThreadScope::~OleThreadScope()
{
    // Uninitialising another thread's apartment count would break that thread's COM.
    if (initialised && GetCurrentThreadId() == thread) OleUninitialize();
}

namespace
{

class EditorThreadSetup : public ThreadSetup
{
    OleThreadScope ole;
};

} // namespace

std::unique_ptr<ThreadSetup> setUpEditorThread()
{
    return std::make_unique<EditorThreadSetup>();
}

// ---- drop target

// Accepts nothing: it reports each step to the frame, which hands it to the view under the
// pointer. The object counts its own references; the window holds one while registered.
class DropTarget final : public IDropTarget
{
public:
    explicit DropTarget(Win32Window* window) : window(window) {}
    void detach() { window = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropTarget))
        {
            *object = static_cast<IDropTarget*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&references));
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL pt, DWORD* effect) override
    {
        WindowClient* client = window ? window->windowClient() : nullptr;
        const DWORD answer =
            client ? static_cast<DWORD>(client->windowDragEnter(itemCount(data), where(pt))) : 0;
        if (effect) *effect &= answer; // only what the source offers
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL pt, DWORD* effect) override
    {
        WindowClient* client = window ? window->windowClient() : nullptr;
        const DWORD answer = client ? static_cast<DWORD>(client->windowDragMove(where(pt))) : 0;
        if (effect) *effect &= answer;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override
    {
        if (WindowClient* client = window ? window->windowClient() : nullptr)
            client->windowDragLeave();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject*, DWORD, POINTL pt, DWORD* effect) override
    {
        if (WindowClient* client = window ? window->windowClient() : nullptr)
            client->windowDrop(where(pt));
        // Nothing was taken. Answering "moved" would let the source delete what was dragged.
        if (effect) *effect = DROPEFFECT_NONE;
        return S_OK;
    }

    // Dropped files are counted; anything else is one item.
    static int32_t itemCount(IDataObject* data)
    {
        if (!data) return 1;
        FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        if (data->GetData(&format, &medium) != S_OK) return 1;
        int32_t count = 1;
        if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal)
            count = static_cast<int32_t>(
                DragQueryFileA(static_cast<HDROP>(medium.hGlobal), 0xFFFFFFFF, nullptr, 0));
        ReleaseStgMedium(&medium);
        return count;
    }

private:
    // Only Release deletes it; final, so no derived destructor is skipped.
    ~DropTarget() = default;

    CPoint where(const POINTL& pt) const
    {
        const POINT screen{pt.x, pt.y};
        return window ? window->fromScreen(screen) : CPoint(pt.x, pt.y);
    }

    Win32Window* window;
    LONG references = 1;
};

// ---- window

HINSTANCE moduleInstance()
{
    static const HINSTANCE instance = []
    {
        HMODULE module = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&moduleInstance), &module);
        return module;
    }();
    return instance;
}

Win32Window::Win32Window(const WindowSpec& params, WindowClient& client) : client(&client)
{
    msimg32Module = msimg32::lookUp();
    hwnd = CreateWindowExA(0, params.className, params.title,
                           WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                           params.width, params.height, static_cast<HWND>(params.parent), nullptr,
                           moduleInstance(), nullptr);
    if (hwnd) SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Window::~Win32Window()
{
    setDropTarget(false);
    if (hwnd)
    {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        DestroyWindow(hwnd);
        hwnd = nullptr;
    }
    msimg32::release(msimg32Module);
}

LRESULT CALLBACK Win32Window::windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (window && window->hwnd == hwnd && window->client)
    {
        // The client may destroy this window object from inside a call; nothing of it is
        // touched after a call returns.
        switch (message)
        {
        case WM_DESTROY:
            // The host destroyed its window, and so this one.
            window->setDropTarget(false);
            window->client->windowDestroyed();
            break;
        case WM_PAINT:
        {
            RECT update;
            if (!GetUpdateRect(hwnd, &update, FALSE)) break;
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (dc)
            {
                GdiSurface surface(dc, GdiSurface::Release::none, hwnd);
                window->client->windowPaint(surface, CRect(ps.rcPaint.left, ps.rcPaint.top,
                                                           ps.rcPaint.right, ps.rcPaint.bottom));
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            window->client->windowButtonDown(CPoint(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)));
            return 0;
        case WM_MOUSEWHEEL:
            window->client->windowWheel(CPoint(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)),
                                        GET_WHEEL_DELTA_WPARAM(wParam) / float(WHEEL_DELTA));
            break;
        default:
            break;
        }
    }
    if (message == WM_NCDESTROY && window && window->hwnd == hwnd) window->hwnd = nullptr;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Win32Window::invalidate(const CRect& r)
{
    if (!hwnd) return;
    const RECT rc{r.left, r.top, r.right, r.bottom};
    InvalidateRect(hwnd, &rc, FALSE);
}

void Win32Window::setPosition(const CPoint& topLeftInParent)
{
    if (hwnd)
        SetWindowPos(hwnd, nullptr, topLeftInParent.h, topLeftInParent.v, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CPoint Win32Window::position() const
{
    if (!hwnd) return CPoint();
    RECT r;
    GetWindowRect(hwnd, &r);
    POINT corner{r.left, r.top};
    ScreenToClient(GetParent(hwnd), &corner);
    return CPoint(corner.x, corner.y);
}

void Win32Window::setSize(int32_t width, int32_t height)
{
    if (hwnd)
        SetWindowPos(hwnd, nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CPoint Win32Window::screenPosition() const
{
    POINT corner{0, 0};
    if (hwnd) ClientToScreen(hwnd, &corner);
    return CPoint(corner.x, corner.y);
}

CPoint Win32Window::fromScreen(const POINT& screen) const
{
    POINT p = screen;
    if (hwnd) ScreenToClient(hwnd, &p);
    return CPoint(p.x, p.y);
}

CPoint Win32Window::pointerPosition()
{
    POINT p{0, 0};
    GetCursorPos(&p);
    return CPoint(p.x, p.y);
}

int32_t Win32Window::buttonState()
{
    // The physical buttons: the frame swaps left and right when the system does.
    auto down = [](int key) { return (GetAsyncKeyState(key) & 0x8000) != 0; };
    int32_t state = 0;
    if (down(VK_LBUTTON)) state |= kLButton;
    if (down(VK_MBUTTON)) state |= kMButton;
    if (down(VK_RBUTTON)) state |= kRButton;
    if (down(VK_SHIFT)) state |= kShift;
    if (down(VK_CONTROL)) state |= kControl;
    if (down(VK_MENU)) state |= kAlt;
    return state;
}

std::unique_ptr<DrawSurface> Win32Window::createSurface()
{
    if (!hwnd) return nullptr;
    HDC dc = GetDC(hwnd);
    if (!dc) return nullptr;
    return std::make_unique<GdiSurface>(dc, GdiSurface::Release::window, hwnd);
}

std::unique_ptr<DrawSurface> Win32Window::createCompatibleSurface(int32_t width, int32_t height)
{
    if (!hwnd || width <= 0 || height <= 0) return nullptr;
    HDC windowDC = GetDC(hwnd);
    if (!windowDC) return nullptr;
    HDC memory = CreateCompatibleDC(windowDC);
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(windowDC, width, height) : nullptr;
    ReleaseDC(hwnd, windowDC);
    if (!bitmap)
    {
        if (memory) DeleteDC(memory);
        return nullptr;
    }
    return std::make_unique<GdiSurface>(memory, GdiSurface::Release::memory, nullptr, bitmap);
}

void Win32Window::saveCursor()
{
    savedCursor = GetCursor();
}

void Win32Window::setCursor(CCursorType type)
{
    LPCSTR shape = nullptr;
    switch (type)
    {
    case kCursorWait:
        shape = IDC_WAIT;
        break;
    case kCursorHSize:
        shape = IDC_SIZEWE;
        break;
    case kCursorVSize:
        shape = IDC_SIZENS;
        break;
    case kCursorSizeAll:
        shape = IDC_SIZEALL;
        break;
    case kCursorNESWSize:
        shape = IDC_SIZENESW;
        break;
    case kCursorNWSESize:
        shape = IDC_SIZENWSE;
        break;
    case kCursorNotAllowed:
        shape = IDC_NO;
        break;
    case kCursorHand:
        shape = IDC_HAND;
        break;
    default:
        restoreCursor();
        return;
    }
    SetCursor(LoadCursorA(nullptr, shape));
}

void Win32Window::restoreCursor()
{
    SetCursor(savedCursor);
}

void Win32Window::setDropTarget(bool active)
{
    if (dropTarget)
    {
        if (hwnd) RevokeDragDrop(hwnd);
        dropTarget->detach();
        dropTarget->Release();
        dropTarget = nullptr;
    }
    if (!active || !hwnd || !ole.isInitialised()) return;
    dropTarget = new DropTarget(this);
    if (RegisterDragDrop(hwnd, dropTarget) != S_OK)
    {
        dropTarget->detach();
        dropTarget->Release();
        dropTarget = nullptr;
    }
}

// ---- the window layer's free functions

const void* moduleHandle()
{
    return moduleInstance();
}

bool registerWindowClass(const char* name)
{
    if (!name) return false;
    WNDCLASSA wc{};
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = Win32Window::windowProcedure;
    wc.hInstance = moduleInstance();
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = name;
    if (RegisterClassA(&wc)) return true;
    // left over from an unregistration that failed while a window still existed: still ours
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void unregisterWindowClass(const char* name)
{
    if (name) UnregisterClassA(name, moduleInstance());
}

bool systemButtonsSwapped()
{
    return GetSystemMetrics(SM_SWAPBUTTON) != 0;
}

std::unique_ptr<Window> createChildWindow(const WindowSpec& params, WindowClient& client)
{
    if (!params.parent || !params.className) return nullptr;
    auto window = std::make_unique<Win32Window>(params, client);
    if (!window->isValid()) return nullptr;
    return window;
}

bool dispatchPendingPaint()
{
    MSG message;
    if (!PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) return false;
    DispatchMessageA(&message);
    return true;
}

} // namespace platform
} // namespace VSTGUI
