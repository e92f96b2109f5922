// The editor's child window on Win32: window class, window procedure, input polling, cursors
// and the OLE drop target.
#pragma once

#include "../platform.h"

#include <windows.h>

namespace VSTGUI
{
namespace platform
{

class DropTarget;

// OLE for the calling thread, undone on destruction, and only on the thread that set it up
// (an editor may be destroyed on another thread than the one that built it).
class OleThreadScope
{
public:
    OleThreadScope();
    ~OleThreadScope();
    OleThreadScope(const OleThreadScope&) = delete;
    OleThreadScope& operator=(const OleThreadScope&) = delete;

    bool isInitialised() const { return initialised; }

private:
    DWORD thread;
    bool initialised;
};

class Win32Window : public Window
{
public:
    Win32Window(const WindowSpec& params, WindowClient& client);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    bool isValid() const { return hwnd != nullptr; }

    void* nativeHandle() const override { return hwnd; }
    void detachClient() override { client = nullptr; }
    void invalidate(const CRect& r) override;
    void setPosition(const CPoint& topLeftInParent) override;
    CPoint position() const override;
    void setSize(int32_t width, int32_t height) override;
    CPoint screenPosition() const override;
    CPoint pointerPosition() override;
    int32_t buttonState() override;
    std::unique_ptr<DrawSurface> createSurface() override;
    std::unique_ptr<DrawSurface> createCompatibleSurface(int32_t width, int32_t height) override;
    void saveCursor() override;
    void setCursor(CCursorType type) override;
    void restoreCursor() override;
    void setDropTarget(bool active) override;

    // What the drop target reports, in client coordinates.
    WindowClient* windowClient() const { return client; }
    CPoint fromScreen(const POINT& screen) const;

    static LRESULT CALLBACK windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    OleThreadScope ole; // before the window: drag and drop needs it
    WindowClient* client;
    HWND hwnd = nullptr;
    HMODULE msimg32Module = nullptr;
    HCURSOR savedCursor = nullptr;
    DropTarget* dropTarget = nullptr;
};

// The module (this DLL) whose resources and window class are used.
HINSTANCE moduleInstance();

} // namespace platform
} // namespace VSTGUI
