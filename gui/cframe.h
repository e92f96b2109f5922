// The root of the view tree and the editor's window: owns the platform child window, the back
// buffer the window is painted from, the focus, and the link to the editor.
#pragma once

#include "cview.h"
#include "platform/platform.h"

#include <memory>

namespace VSTGUI
{

class COffscreenContext;

// What the frame needs from the editor that owns it; the editor implements it.
class CFrameEditor
{
public:
    // Keeps the window painted while a control holds the mouse.
    virtual void doIdleStuff() = 0;
    // Edit gestures of the parameter index.
    virtual void beginEdit(int32_t index) = 0;
    virtual void endEdit(int32_t index) = 0;
    // 0 circular, 1 relative circular, 2 linear.
    virtual int32_t getKnobMode() const = 0;

protected:
    ~CFrameEditor() = default;
};

class CFrame : public CViewContainer, private platform::WindowClient
{
public:
    // With a parent window, creates a child window of it at (0, 0) of size's width and height.
    CFrame(const CRect& size, void* systemWindow, CFrameEditor* editor);
    ~CFrame() override;

    void draw(CDrawContext* context) override;
    void drawRect(CDrawContext* context, const CRect& updateRect) override;
    void mouse(CDrawContext* context, CPoint where, int32_t buttons = kReadButtons) override;
    int32_t onKeyDown(CKeyCode& key) override;
    int32_t onKeyUp(CKeyCode& key) override;
    bool onWheel(CDrawContext* context, const CPoint& where, int32_t axis, float distance) override;
    bool onWheel(CDrawContext* context, const CPoint& where, float distance) override;
    bool isTypeOf(const char* className) const override;
    void update(CDrawContext* context) override;
    // No wrap-around: past the last view that wants the focus, the focus is cleared.
    bool advanceNextFocusView(CView* current, bool reverse = false) override;
    CFrameEditor* getEditor() const override { return pEditor; }

    virtual bool open();
    virtual bool close();
    virtual bool isOpen() const { return bOpenFlag; }
    // Redraws the dirty views once the window has been painted a first time.
    virtual void idle();
    virtual void doIdleStuff();
    // Milliseconds since system start while an editor is set, else 0.
    virtual uint32_t getTicks() const;
    virtual int32_t getKnobMode() const;
    virtual bool setPosition(int32_t x, int32_t y);
    virtual bool getPosition(int32_t& x, int32_t& y) const;
    virtual bool setSize(int32_t width, int32_t height);
    virtual bool getSize(CRect* rect) const;
    virtual bool getCurrentSize(CRect* rect) const;
    virtual bool setModalView(CView* view);
    virtual CView* getModalView() const { return pModalView; }
    virtual void beginEdit(int32_t index);
    virtual void endEdit(int32_t index);
    // Pointer position relative to the window.
    virtual bool getCurrentLocation(CPoint& where);
    virtual void setCursor(CCursorType type);
    virtual void setFocusView(CView* view);
    virtual CView* getFocusView() const { return pFocusView; }
    virtual bool setDropActive(bool active);
    virtual bool isDropActive() const { return bDropActive; }
    virtual void setOpenFlag(bool flag) { bOpenFlag = flag; }
    virtual bool getOpenFlag() const { return bOpenFlag; }
    // Marks every child that overlaps rect dirty.
    virtual void invalidate(const CRect& rect);
    virtual void setInDraw(bool flag) { bInDraw = flag; }
    virtual bool isInDraw() const { return bInDraw; }
    // Redraws one child (or everything) now and shows it in the window.
    virtual void updateView(CView* view = nullptr);

    // The button state word now, with left and right swapped when the system swaps them.
    int32_t getButtonState();
    platform::Window* getPlatformWindow() const { return window.get(); }
    void* getSystemWindow() const { return pSystemWindow; }
    // The back buffer, made black at the first use.
    COffscreenContext* getBackBuffer();
    bool isFirstDraw() const { return bFirstDraw; }
    // A view leaving the tree stops being the focus or modal view.
    void viewRemoved(CView* view);

    // Process-wide window class state.
    static const char* getWindowClassName();
    static int32_t getWindowClassUseCount();

private:
    void windowPaint(platform::DrawSurface& surface, const CRect& updateRect) override;
    void windowButtonDown(const CPoint& where) override;
    void windowWheel(const CPoint& screenPoint, float notches) override;
    void windowDestroyed() override;
    int32_t windowDragEnter(int32_t itemCount, const CPoint& where) override;
    int32_t windowDragMove(const CPoint& where) override;
    void windowDragLeave() override;
    void windowDrop(const CPoint& where) override;

    CDrawContext* makeWindowContext();

    CFrameEditor* pEditor;
    void* pSystemWindow;
    CView* pModalView = nullptr;
    CView* pFocusView = nullptr;
    bool bFirstDraw = true;
    bool bOpenFlag = true;
    bool bDropActive = false;
    bool bInDraw = false;
    bool usesWindowClass = false;
    bool cursorSaved = false;
    std::unique_ptr<platform::Window> window;
    COffscreenContext* pBackBuffer = nullptr;
    CDrawContext* pFrameContext = nullptr;
};

} // namespace VSTGUI
