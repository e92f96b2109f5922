// The view tree: views that draw themselves into a rectangle and take input, and containers that
// hold an ordered list of them. Nothing here redraws on its own: views mark themselves dirty and
// the frame's idle pass redraws them.
#pragma once

#include "creferencecounter.h"
#include "vstguibase.h"

namespace VSTGUI
{

class CBitmap;
class CDrawContext;
class CFrame;
class CFrameEditor;
class COffscreenContext;
class CViewContainer;

// What is being dragged over a view: only the number of items is known here.
class CDragContainer : public CReferenceCounter
{
public:
    explicit CDragContainer(int32_t itemCount) : itemCount(itemCount) {}
    int32_t getCount() const { return itemCount; }

private:
    int32_t itemCount;
};

class CView : public CReferenceCounter
{
public:
    // size is in the parent container's coordinates, as are all points a view is given.
    explicit CView(const CRect& size);
    ~CView() override;

    virtual void draw(CDrawContext* context);
    virtual void drawRect(CDrawContext* context, const CRect& updateRect);
    // updateRect and the view overlap; touching edges count.
    virtual bool checkUpdate(const CRect& updateRect) const;
    virtual void mouse(CDrawContext* context, CPoint where, int32_t buttons = kReadButtons);

    virtual void setBackground(CBitmap* background);
    virtual CBitmap* getBackground() const { return pBackground; }

    // -1 when the key is not handled.
    virtual int32_t onKeyDown(CKeyCode& key);
    virtual int32_t onKeyUp(CKeyCode& key);
    virtual bool onWheel(CDrawContext* context, const CPoint& where, int32_t axis, float distance);
    virtual bool onWheel(CDrawContext* context, const CPoint& where, float distance);
    virtual bool onDrop(CDrawContext* context, CDragContainer* drag, const CPoint& where);
    virtual void onDragEnter(CDrawContext* context, CDragContainer* drag, const CPoint& where);
    virtual void onDragLeave(CDrawContext* context, CDragContainer* drag, const CPoint& where);
    virtual void onDragMove(CDrawContext* context, CDragContainer* drag, const CPoint& where);
    virtual void looseFocus(CDrawContext* context = nullptr);
    virtual void takeFocus(CDrawContext* context = nullptr);

    virtual bool isDirty() const { return bDirty; }
    virtual void setDirty(bool dirty = true) { bDirty = dirty; }
    virtual void setMouseEnabled(bool enabled) { bMouseEnabled = enabled; }
    virtual bool getMouseEnabled() const { return bMouseEnabled; }
    virtual void setMouseableArea(const CRect& area) { mouseableArea = area; }
    virtual CRect getMouseableArea() const { return mouseableArea; }
    // where lies in the mouseable area, all four edges included.
    virtual bool hitTest(const CPoint& where, int32_t buttons = kReadButtons);
    virtual void setTransparency(bool transparent) { bTransparencyEnabled = transparent; }
    virtual bool getTransparency() const { return bTransparencyEnabled; }
    virtual void setViewSize(const CRect& rect);
    virtual CRect getViewSize() const { return size; }

    virtual bool removed(CView* parent);
    virtual bool attached(CView* parent);

    // The pointer now, in the coordinates of this view's size.
    virtual void getMouseLocation(CDrawContext* context, CPoint& point);
    // Between frame coordinates and the coordinates of this view's size.
    virtual CPoint& frameToLocal(CPoint& point) const;
    virtual CPoint& localToFrame(CPoint& point) const;

    virtual CFrameEditor* getEditor() const;
    virtual int32_t notify(CView* sender, const char* message);
    // Redraws rect (in this view's coordinates) with everything that overlaps it.
    virtual void redrawRect(CDrawContext* context, const CRect& rect);
    virtual bool wantsFocus() const { return bWantsFocus; }
    virtual void setWantsFocus(bool wants) { bWantsFocus = wants; }
    virtual bool isTypeOf(const char* className) const;
    // Redraws the view if it is dirty and clears the dirty state.
    virtual void update(CDrawContext* context);

    CFrame* getFrame() const { return pParentFrame; }
    CView* getParentView() const { return pParentView; }

protected:
    friend class CViewContainer;

    CRect size;
    CRect mouseableArea;
    CFrame* pParentFrame = nullptr;
    CView* pParentView = nullptr;
    CRelaxed<bool> bDirty = false; // set from the parameter thread too
    bool bMouseEnabled = true;
    bool bTransparencyEnabled = false;
    bool bWantsFocus = false;
    CBitmap* pBackground = nullptr;
};

// Children are drawn in list order; the last child is on top for the mouse. Child rectangles
// are relative to the container's top-left corner.
//
// Ownership: addView takes a reference of its own. Destroying the container, or removing a child
// with release, drops that reference and the creator's too, so a view that was created and added
// dies with its container and its creator never releases it.
class CViewContainer : public CView
{
public:
    CViewContainer(const CRect& size, CFrame* parent, CBitmap* background = nullptr);
    ~CViewContainer() override;

    void draw(CDrawContext* context) override;
    void drawRect(CDrawContext* context, const CRect& updateRect) override;
    void mouse(CDrawContext* context, CPoint where, int32_t buttons = kReadButtons) override;
    int32_t onKeyDown(CKeyCode& key) override;
    int32_t onKeyUp(CKeyCode& key) override;
    using CView::onWheel;
    bool onWheel(CDrawContext* context, const CPoint& where, int32_t axis, float distance) override;
    bool onDrop(CDrawContext* context, CDragContainer* drag, const CPoint& where) override;
    void onDragEnter(CDrawContext* context, CDragContainer* drag, const CPoint& where) override;
    void onDragLeave(CDrawContext* context, CDragContainer* drag, const CPoint& where) override;
    void onDragMove(CDrawContext* context, CDragContainer* drag, const CPoint& where) override;
    void looseFocus(CDrawContext* context = nullptr) override;
    void takeFocus(CDrawContext* context = nullptr) override;
    // Its own flag, or a dirty child at least partly inside the container.
    bool isDirty() const override;
    void setViewSize(const CRect& rect) override;
    bool removed(CView* parent) override;
    bool attached(CView* parent) override;
    CPoint& frameToLocal(CPoint& point) const override;
    CPoint& localToFrame(CPoint& point) const override;
    int32_t notify(CView* sender, const char* message) override;
    void redrawRect(CDrawContext* context, const CRect& rect) override;
    bool isTypeOf(const char* className) const override;
    void update(CDrawContext* context) override;

    virtual bool addView(CView* view, const CRect& mouseableArea, bool mouseEnabled = true);
    // False for null or for a view that is already a child.
    virtual bool addView(CView* view);
    virtual bool removeView(CView* view, bool release = true);
    virtual bool removeAll(bool release = true);
    virtual bool isChild(CView* view) const;
    virtual int32_t getNbViews() const;
    virtual CView* getView(int32_t index) const;
    virtual void setBackgroundColor(const CColor& color);
    virtual CColor getBackgroundColor() const { return backgroundColor; }
    virtual void setBackgroundOffset(const CPoint& offset) { backgroundOffset = offset; }
    virtual CPoint getBackgroundOffset() const { return backgroundOffset; }
    // rect is in the container's own coordinates.
    virtual void drawBackgroundRect(CDrawContext* context, const CRect& rect);
    virtual void setMode(int32_t value) { mode = value; }
    virtual int32_t getMode() const { return mode; }
    // Draw through an offscreen buffer of the container's size.
    virtual void useOffscreen(bool enable);
    virtual CView* getCurrentView() const;
    // The child whose mouseable area holds where (last child first, edges included); with
    // deep, the view found inside a container child.
    virtual CView* getViewAt(const CPoint& where, bool deep = false) const;
    virtual bool advanceNextFocusView(CView* current, bool reverse = false);

protected:
    struct Node
    {
        CView* view;
        Node* next;
        Node* previous;
    };

    void unlink(Node* node);
    Node* findNode(CView* view) const;
    void drawChildren(CDrawContext* context, const CRect& localRect);

    Node* firstChild = nullptr;
    Node* lastChild = nullptr;
    CColor backgroundColor = kBlackCColor;
    CPoint backgroundOffset;
    int32_t mode = 0;
    bool bDrawInOffscreen = false;
    COffscreenContext* pOffscreenContext = nullptr;
    CView* currentDragView = nullptr;
};

} // namespace VSTGUI
