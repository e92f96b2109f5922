#include "cframe.h"

#include "cdrawcontext.h"

#include <cstdio>
#include <cstring>

namespace VSTGUI
{

namespace
{

// Process-wide: one window class for all frames, registered while any frame uses it.
char windowClassName[64] = "";
int32_t windowClassUseCount = 0;
bool buttonsSwapped = false;
CDragContainer* currentDrag = nullptr;

bool useWindowClass()
{
    if (windowClassUseCount == 0)
    {
        std::snprintf(windowClassName, sizeof windowClassName, "Plugin%p",
                      platform::moduleHandle());
        if (!platform::registerWindowClass(windowClassName)) return false;
        buttonsSwapped = platform::systemButtonsSwapped();
    }
    ++windowClassUseCount;
    return true;
}

void releaseWindowClass()
{
    if (windowClassUseCount > 0 && --windowClassUseCount == 0)
        platform::unregisterWindowClass(windowClassName);
}

bool isInside(CView* view, CView* ancestor)
{
    for (CView* v = view; v; v = v->getParentView())
        if (v == ancestor) return true;
    return false;
}

} // namespace

const char* CFrame::getWindowClassName()
{
    return windowClassName;
}

int32_t CFrame::getWindowClassUseCount()
{
    return windowClassUseCount;
}

CFrame::CFrame(const CRect& size, void* systemWindow, CFrameEditor* editor)
    : CViewContainer(size, nullptr), pEditor(editor), pSystemWindow(systemWindow)
{
    pParentFrame = this;
    if (!systemWindow) return;
    usesWindowClass = useWindowClass();
    if (!usesWindowClass) return;
    platform::WindowSpec params;
    params.className = windowClassName;
    params.title = "Window";
    params.parent = systemWindow;
    params.width = size.width();
    params.height = size.height();
    window = platform::createChildWindow(params, *this);
    if (window) setDropActive(true);
}

CFrame::~CFrame()
{
    setModalView(nullptr);
    if (window)
    {
        if (!cursorSaved) window->saveCursor();
        window->restoreCursor();
        if (bDropActive) window->setDropTarget(false);
    }
    bDropActive = false;
    if (pFrameContext) pFrameContext->forget();
    pFrameContext = nullptr;
    if (pBackBuffer) pBackBuffer->forget();
    pBackBuffer = nullptr;
    if (window)
    {
        window->detachClient();
        window.reset();
    }
    if (usesWindowClass) releaseWindowClass();
    removeAll(true);
}

CDrawContext* CFrame::makeWindowContext()
{
    return new CDrawContext(this, nullptr, window.get());
}

COffscreenContext* CFrame::getBackBuffer()
{
    if (!pBackBuffer)
        pBackBuffer = new COffscreenContext(this, size.width(), size.height(), kBlackCColor);
    return pBackBuffer;
}

int32_t CFrame::getButtonState()
{
    if (!window) return 0;
    int32_t state = window->buttonState();
    if (buttonsSwapped)
    {
        const int32_t left = state & kLButton;
        const int32_t right = state & kRButton;
        state &= ~(kLButton | kRButton);
        state |= (left ? kRButton : 0) | (right ? kLButton : 0);
    }
    return state;
}

bool CFrame::getCurrentLocation(CPoint& where)
{
    if (!window)
    {
        where = CPoint();
        return false;
    }
    where = window->pointerPosition();
    const CPoint corner = window->screenPosition();
    where.offset(-corner.h, -corner.v);
    return true;
}

// ---- drawing

void CFrame::draw(CDrawContext* context)
{
    drawRect(context, size);
}

void CFrame::drawRect(CDrawContext* context, const CRect& updateRect)
{
    bFirstDraw = false;
    CDrawContext* c = context ? context : pFrameContext;
    if (!c) return;
    const CRect oldClip = c->getClipRect();
    CRect clip(updateRect);
    c->setClipRect(clip.bound(oldClip));
    if (updateRect.width() > 0 && updateRect.height() > 0) CViewContainer::drawRect(c, updateRect);
    c->setClipRect(oldClip);
}

void CFrame::update(CDrawContext* context)
{
    if (!bOpenFlag || bInDraw) return;
    COffscreenContext* backBuffer = getBackBuffer();
    CDrawContext* target = backBuffer->isValid() ? backBuffer : context;
    if (!target) return;
    CDrawContext* previous = pFrameContext;
    pFrameContext = target;

    if (bDirty)
    {
        draw(target);
        setDirty(false);
    }
    else
    {
        if (pModalView && pModalView->isDirty()) pModalView->update(target);
        for (Node* node = firstChild; node; node = node->next)
        {
            const CRect oldClip = target->getClipRect();
            target->setClipRect(node->view->getViewSize());
            node->view->update(target);
            target->setClipRect(oldClip);
        }
    }
    if (target == backBuffer && context)
        backBuffer->copyFrom(context, CRect(0, 0, size.width(), size.height()));
    pFrameContext = previous;
}

void CFrame::idle()
{
    // The first paint itself may be among the events waiting here.
    if (window) window->pumpEvents();
    if (!bOpenFlag || bFirstDraw) return;
    if (!isDirty()) return;
    CDrawContext* context = pFrameContext;
    if (context)
        context->remember();
    else
        context = makeWindowContext();
    update(context);
    context->forget();
}

void CFrame::updateView(CView* view)
{
    CDrawContext* windowContext = makeWindowContext();
    COffscreenContext* backBuffer = getBackBuffer();
    // drawn into the back buffer too, so a later paint does not bring back the old picture
    CDrawContext* target = backBuffer->isValid() ? backBuffer : windowContext;
    const CRect area = view ? view->getViewSize() : size;
    if (view)
        view->redrawRect(target, area);
    else
        draw(target);
    if (target == backBuffer)
    {
        CPoint corner(area.left, area.top);
        if (view && view->getParentView()) view->getParentView()->localToFrame(corner);
        const CRect frameArea(corner.h, corner.v, corner.h + area.width(),
                              corner.v + area.height());
        backBuffer->copyFrom(windowContext, frameArea, corner);
    }
    windowContext->forget();
}

void CFrame::invalidate(const CRect& rect)
{
    for (Node* node = firstChild; node; node = node->next)
        if (node->view->checkUpdate(rect)) node->view->setDirty(true);
}

// ---- input

void CFrame::mouse(CDrawContext* context, CPoint where, int32_t buttons)
{
    CDrawContext* c = context ? context : pFrameContext;
    if (pFocusView) setFocusView(nullptr);
    if (buttons == kReadButtons) buttons = getButtonState();
    if (pModalView)
    {
        if (pModalView->hitTest(where, buttons)) pModalView->mouse(c, where, buttons);
        return;
    }
    CViewContainer::mouse(c, where, buttons);
}

int32_t CFrame::onKeyDown(CKeyCode& key)
{
    int32_t result = -1;
    if (pFocusView) result = pFocusView->onKeyDown(key);
    if (result == -1 && pModalView) result = pModalView->onKeyDown(key);
    if (result != -1) return result;
    if (key.virt == kKeyTab)
        return advanceNextFocusView(pFocusView, (key.modifier & kKeyModifierShift) != 0) ? 1 : -1;
    return -1;
}

int32_t CFrame::onKeyUp(CKeyCode& key)
{
    int32_t result = -1;
    if (pFocusView) result = pFocusView->onKeyUp(key);
    if (result == -1 && pModalView) result = pModalView->onKeyUp(key);
    return result;
}

bool CFrame::onWheel(CDrawContext* context, const CPoint& where, float distance)
{
    return onWheel(context, where, 0, distance);
}

bool CFrame::onWheel(CDrawContext* context, const CPoint& where, int32_t axis, float distance)
{
    CDrawContext* own = context ? nullptr : makeWindowContext();
    CDrawContext* c = context ? context : own;
    bool result = false;
    if (pModalView)
        result = pModalView->onWheel(c, where, axis, distance);
    else if (CView* view = getViewAt(where))
        result = view->onWheel(c, where, axis, distance);
    if (own) own->forget();
    return result;
}

bool CFrame::advanceNextFocusView(CView* current, bool reverse)
{
    if (pModalView) return false;
    if (!current) current = pFocusView;
    if (CViewContainer::advanceNextFocusView(current, reverse)) return true;
    setFocusView(nullptr);
    return false;
}

void CFrame::setFocusView(CView* view)
{
    CView* old = pFocusView;
    pFocusView = view;
    if (view && view->wantsFocus()) view->setDirty();
    if (old)
    {
        old->looseFocus();
        if (old->wantsFocus()) old->setDirty();
    }
}

void CFrame::viewRemoved(CView* view)
{
    if (isInside(pFocusView, view)) pFocusView = nullptr;
    if (isInside(pModalView, view)) pModalView = nullptr;
}

bool CFrame::setModalView(CView* view)
{
    if (view && pModalView) return false;
    pModalView = view;
    return true;
}

// ---- editor link

void CFrame::doIdleStuff()
{
    if (pEditor) pEditor->doIdleStuff();
}

uint32_t CFrame::getTicks() const
{
    return pEditor ? platform::tickCount() : 0;
}

int32_t CFrame::getKnobMode() const
{
    return pEditor ? pEditor->getKnobMode() : 0;
}

void CFrame::beginEdit(int32_t index)
{
    if (pEditor) pEditor->beginEdit(index);
}

void CFrame::endEdit(int32_t index)
{
    if (pEditor) pEditor->endEdit(index);
}

// ---- window

bool CFrame::open()
{
    bOpenFlag = window != nullptr;
    return bOpenFlag;
}

bool CFrame::close()
{
    bOpenFlag = false;
    return true;
}

bool CFrame::setPosition(int32_t x, int32_t y)
{
    if (!window) return false;
    window->setPosition(CPoint(x, y));
    return true;
}

bool CFrame::getPosition(int32_t& x, int32_t& y) const
{
    const CPoint p = window ? window->position() : CPoint();
    x = p.h;
    y = p.v;
    return window != nullptr;
}

bool CFrame::setSize(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0) return false;
    size.right = size.left + width;
    size.bottom = size.top + height;
    mouseableArea = size;
    if (window) window->setSize(width, height);
    // the back buffer follows the size
    if (pBackBuffer) pBackBuffer->forget();
    pBackBuffer = nullptr;
    setDirty(true);
    return true;
}

bool CFrame::getSize(CRect* rect) const
{
    if (!rect) return false;
    const CPoint p = window ? window->position() : CPoint();
    *rect = CRect(p.h, p.v, p.h + size.width(), p.v + size.height());
    return true;
}

bool CFrame::getCurrentSize(CRect* rect) const
{
    if (!rect) return false;
    *rect = size;
    return true;
}

void CFrame::setCursor(CCursorType type)
{
    if (!window) return;
    if (!cursorSaved)
    {
        window->saveCursor();
        cursorSaved = true;
    }
    switch (type)
    {
    case kCursorWait:
    case kCursorHSize:
    case kCursorVSize:
    case kCursorSizeAll:
    case kCursorNESWSize:
    case kCursorNWSESize:
    case kCursorNotAllowed:
    case kCursorHand:
        window->setCursor(type);
        break;
    default:
        window->restoreCursor();
        break;
    }
}

bool CFrame::setDropActive(bool active)
{
    if (!window) return false;
    window->setDropTarget(false);
    if (active) window->setDropTarget(true);
    bDropActive = active;
    return true;
}

bool CFrame::isTypeOf(const char* className) const
{
    return className &&
           (std::strcmp(className, "CFrame") == 0 || CViewContainer::isTypeOf(className));
}

// ---- what the window reports

void CFrame::windowPaint(platform::DrawSurface& surface, const CRect& updateRect)
{
    CDrawContext* paintContext = new CDrawContext(this, &surface, window.get());
    COffscreenContext* backBuffer = getBackBuffer();
    if (backBuffer->isValid())
    {
        drawRect(backBuffer, updateRect);
        backBuffer->copyFrom(paintContext, updateRect, updateRect.topLeft());
    }
    else
        drawRect(paintContext, updateRect);
    paintContext->forget();
}

void CFrame::windowButtonDown(const CPoint& where)
{
    CDrawContext* context = makeWindowContext();
    mouse(context, where, kReadButtons);
    context->forget();
}

void CFrame::windowWheel(const CPoint& screenPoint, float notches)
{
    CDrawContext* context = makeWindowContext();
    CPoint where(screenPoint);
    const CPoint corner = window ? window->screenPosition() : CPoint();
    where.offset(-corner.h, -corner.v);
    onWheel(context, where, notches);
    context->forget();
}

void CFrame::windowDestroyed()
{
    bOpenFlag = false;
    pSystemWindow = nullptr;
}

int32_t CFrame::windowDragEnter(int32_t itemCount, const CPoint& where)
{
    if (currentDrag) currentDrag->forget();
    currentDrag = new CDragContainer(itemCount);
    CDrawContext* context = makeWindowContext();
    onDragEnter(context, currentDrag, where);
    context->forget();
    return 2;
}

int32_t CFrame::windowDragMove(const CPoint& where)
{
    CDrawContext* context = makeWindowContext();
    onDragMove(context, currentDrag, where);
    context->forget();
    return 2;
}

void CFrame::windowDragLeave()
{
    CDrawContext* context = makeWindowContext();
    onDragLeave(context, currentDrag, CPoint());
    context->forget();
    if (currentDrag) currentDrag->forget();
    currentDrag = nullptr;
}

void CFrame::windowDrop(const CPoint& where)
{
    CDrawContext* context = makeWindowContext();
    onDrop(context, currentDrag, where);
    context->forget();
    if (currentDrag) currentDrag->forget();
    currentDrag = nullptr;
}

} // namespace VSTGUI
