#include "cview.h"

#include "cbitmap.h"
#include "cdrawcontext.h"
#include "cframe.h"

#include <cstring>

namespace VSTGUI
{

// ---- CView

CView::CView(const CRect& size) : size(size), mouseableArea(size) {}

CView::~CView()
{
    if (pBackground) pBackground->forget();
}

void CView::draw(CDrawContext* context)
{
    if (pBackground)
    {
        if (bTransparencyEnabled)
            pBackground->drawTransparent(context, size);
        else
            pBackground->draw(context, size);
    }
    setDirty(false);
}

void CView::drawRect(CDrawContext* context, const CRect&)
{
    draw(context);
}

bool CView::checkUpdate(const CRect& updateRect) const
{
    return size.touches(updateRect);
}

void CView::mouse(CDrawContext*, CPoint, int32_t) {}

void CView::setBackground(CBitmap* background)
{
    if (pBackground) pBackground->forget();
    pBackground = background;
    if (pBackground) pBackground->remember();
    setDirty(true);
}

int32_t CView::onKeyDown(CKeyCode&)
{
    return -1;
}

int32_t CView::onKeyUp(CKeyCode&)
{
    return -1;
}

bool CView::onWheel(CDrawContext* context, const CPoint& where, int32_t, float distance)
{
    return onWheel(context, where, distance);
}

bool CView::onWheel(CDrawContext*, const CPoint&, float)
{
    return false;
}

bool CView::onDrop(CDrawContext*, CDragContainer*, const CPoint&)
{
    return false;
}

void CView::onDragEnter(CDrawContext*, CDragContainer*, const CPoint&) {}

void CView::onDragLeave(CDrawContext*, CDragContainer*, const CPoint&) {}

void CView::onDragMove(CDrawContext*, CDragContainer*, const CPoint&) {}

void CView::looseFocus(CDrawContext*) {}

void CView::takeFocus(CDrawContext*) {}

bool CView::hitTest(const CPoint& where, int32_t)
{
    return mouseableArea.containsWithEdges(where);
}

void CView::setViewSize(const CRect& rect)
{
    size = rect;
    setDirty(true);
}

bool CView::removed(CView*)
{
    pParentView = nullptr;
    pParentFrame = nullptr;
    return true;
}

bool CView::attached(CView* parent)
{
    pParentView = parent;
    return true;
}

void CView::getMouseLocation(CDrawContext* context, CPoint& point)
{
    if (context)
        context->getMouseLocation(point);
    else if (pParentFrame)
        pParentFrame->getCurrentLocation(point);
    else
        point = CPoint();
    if (pParentView) pParentView->frameToLocal(point);
}

CPoint& CView::frameToLocal(CPoint& point) const
{
    if (pParentView) pParentView->frameToLocal(point);
    return point;
}

CPoint& CView::localToFrame(CPoint& point) const
{
    if (pParentView) pParentView->localToFrame(point);
    return point;
}

CFrameEditor* CView::getEditor() const
{
    return pParentFrame ? pParentFrame->getEditor() : nullptr;
}

int32_t CView::notify(CView*, const char*)
{
    return 0;
}

void CView::redrawRect(CDrawContext* context, const CRect& rect)
{
    if (pParentView)
        pParentView->redrawRect(context, rect);
    else if (pParentFrame)
        pParentFrame->drawRect(context, rect);
}

bool CView::isTypeOf(const char* className) const
{
    return className && std::strcmp(className, "CView") == 0;
}

void CView::update(CDrawContext* context)
{
    if (!isDirty()) return;
    if (context)
        redrawRect(context, size);
    else if (pParentFrame)
        pParentFrame->updateView(this);
    setDirty(false);
}

// ---- CViewContainer

CViewContainer::CViewContainer(const CRect& size, CFrame* parent, CBitmap* background) : CView(size)
{
    pParentFrame = parent;
    if (background) setBackground(background);
    setDirty(false);
}

CViewContainer::~CViewContainer()
{
    removeAll(true);
    if (pOffscreenContext) pOffscreenContext->forget();
}

void CViewContainer::draw(CDrawContext* context)
{
    drawRect(context, size);
}

void CViewContainer::drawRect(CDrawContext* context, const CRect& updateRect)
{
    if (!context) return;
    const CRect oldClip = context->getClipRect();
    CRect clip(updateRect);
    clip.bound(size).bound(oldClip);
    CRect local(clip);
    local.offset(-size.left, -size.top);

    if (bDrawInOffscreen && !pOffscreenContext)
        pOffscreenContext = new COffscreenContext(pParentFrame, size.width(), size.height());
    if (bDrawInOffscreen && pOffscreenContext->isValid())
    {
        // the buffer's coordinates are the container's own
        pOffscreenContext->setClipRect(local);
        drawBackgroundRect(pOffscreenContext, local);
        drawChildren(pOffscreenContext, local);
        context->setClipRect(clip);
        pOffscreenContext->copyFrom(context, clip, local.topLeft());
    }
    else
    {
        context->setClipRect(clip);
        const CPoint oldOffset = context->offset;
        context->offset.offset(size.left, size.top);
        drawBackgroundRect(context, local);
        drawChildren(context, local);
        context->offset = oldOffset;
    }
    context->setClipRect(oldClip);
    setDirty(false);
}

void CViewContainer::drawChildren(CDrawContext* context, const CRect& localRect)
{
    const CRect clipNow = context->getClipRect();
    for (Node* node = firstChild; node; node = node->next)
    {
        CView* child = node->view;
        if (!child->checkUpdate(localRect)) continue;
        CRect childClip(child->size);
        childClip.bound(localRect).bound(clipNow);
        context->setClipRect(childClip);
        const bool wasDirty = child->isDirty();
        child->drawRect(context, localRect);
        // drawn only in part: draw it whole on the next pass
        if (wasDirty && childClip != child->size) child->setDirty(true);
    }
    context->setClipRect(clipNow);
}

void CViewContainer::drawBackgroundRect(CDrawContext* context, const CRect& rect)
{
    if (pBackground)
    {
        const CRect oldClip = context->getClipRect();
        CRect clip(rect);
        context->setClipRect(clip.bound(oldClip));
        const CRect whole(0, 0, pBackground->getWidth(), pBackground->getHeight());
        if (bTransparencyEnabled)
            pBackground->drawTransparent(context, whole, backgroundOffset);
        else
            pBackground->draw(context, whole, backgroundOffset);
        context->setClipRect(oldClip);
    }
    else if (!bTransparencyEnabled)
    {
        context->setFillColor(backgroundColor);
        // a fill leaves out its top and left edge; this one must cover all of rect
        context->fillRect(CRect(rect.left - 1, rect.top - 1, rect.right, rect.bottom));
    }
}

void CViewContainer::mouse(CDrawContext* context, CPoint where, int32_t buttons)
{
    where.offset(-size.left, -size.top);
    if (buttons == kReadButtons && context) buttons = context->getMouseButtons();
    for (Node* node = lastChild; node; node = node->previous)
    {
        CView* child = node->view;
        if (child->getMouseEnabled() && child->hitTest(where, buttons))
        {
            child->mouse(context, where, buttons);
            return;
        }
    }
}

int32_t CViewContainer::onKeyDown(CKeyCode& key)
{
    for (Node* node = lastChild; node; node = node->previous)
    {
        const int32_t result = node->view->onKeyDown(key);
        if (result != -1) return result;
    }
    return -1;
}

int32_t CViewContainer::onKeyUp(CKeyCode& key)
{
    for (Node* node = lastChild; node; node = node->previous)
    {
        const int32_t result = node->view->onKeyUp(key);
        if (result != -1) return result;
    }
    return -1;
}

bool CViewContainer::onWheel(CDrawContext* context, const CPoint& where, int32_t axis,
                             float distance)
{
    CView* view = getViewAt(where);
    if (!view) return false;
    CPoint local(where);
    local.offset(-size.left, -size.top);
    return view->onWheel(context, local, axis, distance);
}

bool CViewContainer::onDrop(CDrawContext* context, CDragContainer* drag, const CPoint& where)
{
    CView* view = getViewAt(where);
    CPoint local(where);
    local.offset(-size.left, -size.top);
    const bool taken = view ? view->onDrop(context, drag, local) : false;
    currentDragView = nullptr;
    return taken;
}

void CViewContainer::onDragEnter(CDrawContext* context, CDragContainer* drag, const CPoint& where)
{
    currentDragView = getViewAt(where);
    CPoint local(where);
    local.offset(-size.left, -size.top);
    if (currentDragView) currentDragView->onDragEnter(context, drag, local);
}

void CViewContainer::onDragLeave(CDrawContext* context, CDragContainer* drag, const CPoint& where)
{
    CPoint local(where);
    local.offset(-size.left, -size.top);
    if (currentDragView) currentDragView->onDragLeave(context, drag, local);
    currentDragView = nullptr;
}

void CViewContainer::onDragMove(CDrawContext* context, CDragContainer* drag, const CPoint& where)
{
    CView* view = getViewAt(where);
    CPoint local(where);
    local.offset(-size.left, -size.top);
    if (view != currentDragView)
    {
        if (currentDragView) currentDragView->onDragLeave(context, drag, local);
        currentDragView = view;
        if (view) view->onDragEnter(context, drag, local);
    }
    else if (view)
        view->onDragMove(context, drag, local);
}

void CViewContainer::looseFocus(CDrawContext* context)
{
    for (Node* node = firstChild; node; node = node->next)
        node->view->looseFocus(context);
}

void CViewContainer::takeFocus(CDrawContext* context)
{
    for (Node* node = firstChild; node; node = node->next)
        node->view->takeFocus(context);
}

bool CViewContainer::isDirty() const
{
    if (bDirty) return true;
    const CRect area(0, 0, size.width(), size.height());
    for (Node* node = firstChild; node; node = node->next)
    {
        if (!node->view->isDirty()) continue;
        CRect inside(node->view->size);
        if (!inside.bound(area).isEmpty()) return true;
    }
    return false;
}

void CViewContainer::setViewSize(const CRect& rect)
{
    CView::setViewSize(rect);
    // the buffer follows the size; made again at the next draw
    if (pOffscreenContext)
    {
        pOffscreenContext->forget();
        pOffscreenContext = nullptr;
    }
}

bool CViewContainer::removed(CView* parent)
{
    if (pOffscreenContext)
    {
        pOffscreenContext->forget();
        pOffscreenContext = nullptr;
    }
    for (Node* node = firstChild; node; node = node->next)
        node->view->pParentFrame = nullptr;
    return CView::removed(parent);
}

bool CViewContainer::attached(CView* parent)
{
    CView::attached(parent);
    for (Node* node = firstChild; node; node = node->next)
    {
        node->view->pParentFrame = pParentFrame;
        node->view->attached(this);
    }
    return true;
}

CPoint& CViewContainer::frameToLocal(CPoint& point) const
{
    if (pParentView) pParentView->frameToLocal(point);
    return point.offset(-size.left, -size.top);
}

CPoint& CViewContainer::localToFrame(CPoint& point) const
{
    point.offset(size.left, size.top);
    if (pParentView) pParentView->localToFrame(point);
    return point;
}

int32_t CViewContainer::notify(CView* sender, const char* message)
{
    for (Node* node = firstChild; node; node = node->next)
    {
        const int32_t result = node->view->notify(sender, message);
        if (result != 0) return result;
    }
    return 0;
}

void CViewContainer::redrawRect(CDrawContext* context, const CRect& rect)
{
    CRect r(rect);
    r.offset(size.left, size.top);
    if (pParentView)
        pParentView->redrawRect(context, r);
    else if (pParentFrame)
        pParentFrame->drawRect(context, r);
}

bool CViewContainer::isTypeOf(const char* className) const
{
    return className &&
           (std::strcmp(className, "CViewContainer") == 0 || CView::isTypeOf(className));
}

void CViewContainer::update(CDrawContext* context)
{
    if (bDirty)
    {
        if (context)
        {
            if (pParentView)
                pParentView->redrawRect(context, size);
            else if (pParentFrame)
                pParentFrame->drawRect(context, size);
        }
        else if (pParentFrame)
            pParentFrame->updateView(this);
        setDirty(false);
        return;
    }
    for (Node* node = firstChild; node; node = node->next)
        node->view->update(context);
}

bool CViewContainer::addView(CView* view, const CRect& area, bool mouseEnabled)
{
    if (!addView(view)) return false;
    view->setMouseableArea(area);
    view->setMouseEnabled(mouseEnabled);
    return true;
}

bool CViewContainer::addView(CView* view)
{
    if (!view || isChild(view)) return false;
    Node* node = new Node{view, nullptr, lastChild};
    if (lastChild)
        lastChild->next = node;
    else
        firstChild = node;
    lastChild = node;
    view->remember();
    view->pParentFrame = pParentFrame;
    view->attached(this);
    return true;
}

void CViewContainer::unlink(Node* node)
{
    if (node->previous)
        node->previous->next = node->next;
    else
        firstChild = node->next;
    if (node->next)
        node->next->previous = node->previous;
    else
        lastChild = node->previous;
    delete node;
}

CViewContainer::Node* CViewContainer::findNode(CView* view) const
{
    for (Node* node = firstChild; node; node = node->next)
        if (node->view == view) return node;
    return nullptr;
}

bool CViewContainer::removeView(CView* view, bool release)
{
    Node* node = findNode(view);
    if (!node) return false;
    unlink(node);
    if (currentDragView == view) currentDragView = nullptr;
    if (pParentFrame) pParentFrame->viewRemoved(view);
    view->removed(this);
    view->forget();              // the container's own reference
    if (release) view->forget(); // and the creator's
    return true;
}

bool CViewContainer::removeAll(bool release)
{
    while (lastChild)
        removeView(lastChild->view, release);
    return true;
}

bool CViewContainer::isChild(CView* view) const
{
    return view && findNode(view) != nullptr;
}

int32_t CViewContainer::getNbViews() const
{
    int32_t count = 0;
    for (Node* node = firstChild; node; node = node->next)
        ++count;
    return count;
}

CView* CViewContainer::getView(int32_t index) const
{
    for (Node* node = firstChild; node; node = node->next, --index)
        if (index == 0) return node->view;
    return nullptr;
}

void CViewContainer::setBackgroundColor(const CColor& color)
{
    backgroundColor = color;
    setDirty(true);
}

void CViewContainer::useOffscreen(bool enable)
{
    bDrawInOffscreen = enable;
    if (!enable && pOffscreenContext)
    {
        pOffscreenContext->forget();
        pOffscreenContext = nullptr;
    }
}

CView* CViewContainer::getCurrentView() const
{
    CPoint where;
    const_cast<CViewContainer*>(this)->getMouseLocation(nullptr, where);
    return getViewAt(where);
}

CView* CViewContainer::getViewAt(const CPoint& where, bool deep) const
{
    CPoint local(where);
    local.offset(-size.left, -size.top);
    for (Node* node = lastChild; node; node = node->previous)
    {
        CView* child = node->view;
        if (!child->getMouseableArea().containsWithEdges(local)) continue;
        if (deep)
            if (auto* container = dynamic_cast<CViewContainer*>(child))
                if (CView* inner = container->getViewAt(local, true)) return inner;
        return child;
    }
    return nullptr;
}

bool CViewContainer::advanceNextFocusView(CView* current, bool reverse)
{
    Node* start = reverse ? lastChild : firstChild;
    if (current)
    {
        for (Node* node = firstChild; node; node = node->next)
        {
            CView* child = node->view;
            bool holdsCurrent = child == current;
            auto* container = dynamic_cast<CViewContainer*>(child);
            if (!holdsCurrent && container)
                for (CView* v = current->getParentView(); v; v = v->getParentView())
                    if (v == container) holdsCurrent = true;
            if (!holdsCurrent) continue;
            // the rest of a container that holds the current view comes first
            if (container && child != current && container->advanceNextFocusView(current, reverse))
                return true;
            start = reverse ? node->previous : node->next;
            break;
        }
    }
    for (Node* node = start; node; node = reverse ? node->previous : node->next)
    {
        CView* child = node->view;
        if (auto* container = dynamic_cast<CViewContainer*>(child))
        {
            if (container->advanceNextFocusView(nullptr, reverse)) return true;
        }
        else if (child->wantsFocus())
        {
            if (pParentFrame) pParentFrame->setFocusView(child);
            return true;
        }
    }
    return false;
}

} // namespace VSTGUI
