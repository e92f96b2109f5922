// The view tree: reference counts and ownership, hit tests, drawing order, dirty tracking.
#include "gui_support.h"

#include "cview.h"

#include <gtest/gtest.h>

using namespace VSTGUI;
using namespace guitest;

namespace
{

// A view that logs what happens to it and fills its rectangle with its colour.
class ProbeView : public CView
{
public:
    ProbeView(const CRect& size, const std::string& name, std::vector<std::string>* log,
              bool* destroyed = nullptr, CColor colour = kWhiteCColor)
        : CView(size), name(name), log(log), destroyed(destroyed), colour(colour)
    {
    }
    ~ProbeView() override
    {
        if (destroyed) *destroyed = true;
    }
    void draw(CDrawContext* context) override
    {
        if (log) log->push_back("draw " + name);
        context->setFillColor(colour);
        context->fillRect(CRect(size.left - 1, size.top - 1, size.right, size.bottom));
        CView::draw(context);
    }
    void mouse(CDrawContext*, CPoint where, int32_t buttons) override
    {
        if (log) log->push_back("mouse " + name);
        presses.push_back(where);
        pressButtons.push_back(buttons);
    }

    std::string name;
    std::vector<std::string>* log;
    bool* destroyed;
    CColor colour;
    std::vector<CPoint> presses;
    std::vector<int32_t> pressButtons;
};

} // namespace

TEST(ReferenceCounter, CountsAndDestroysWhenTheLastReferenceGoes)
{
    bool destroyed = false;
    ProbeView* view = new ProbeView(CRect(0, 0, 1, 1), "v", nullptr, &destroyed);
    EXPECT_EQ(view->getNbReference(), 1);
    view->remember();
    EXPECT_EQ(view->getNbReference(), 2);
    view->forget();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(view->getNbReference(), 1);
    view->forget();
    EXPECT_TRUE(destroyed);
}

TEST(Ownership, ViewCreatedAndAddedDiesWithItsContainer)
{
    bool destroyed = false;
    CViewContainer* container = new CViewContainer(CRect(0, 0, 100, 100), nullptr);
    ProbeView* view = new ProbeView(CRect(0, 0, 10, 10), "v", nullptr, &destroyed);
    EXPECT_TRUE(container->addView(view));
    EXPECT_EQ(view->getNbReference(), 2);
    EXPECT_EQ(view->getParentView(), container);
    container->forget();
    EXPECT_TRUE(destroyed);
}

TEST(Ownership, AnExtraReferenceOutlivesTheContainer)
{
    bool destroyed = false;
    CViewContainer* container = new CViewContainer(CRect(0, 0, 100, 100), nullptr);
    ProbeView* view = new ProbeView(CRect(0, 0, 10, 10), "v", nullptr, &destroyed);
    container->addView(view);
    view->remember();
    container->forget();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(view->getNbReference(), 1);
    EXPECT_EQ(view->getParentView(), nullptr);
    view->forget();
    EXPECT_TRUE(destroyed);
}

TEST(Ownership, RemovingWithReleaseDestroysAndWithoutHandsItBack)
{
    bool firstGone = false, secondGone = false;
    CViewContainer* container = new CViewContainer(CRect(0, 0, 100, 100), nullptr);
    ProbeView* first = new ProbeView(CRect(0, 0, 10, 10), "a", nullptr, &firstGone);
    ProbeView* second = new ProbeView(CRect(0, 0, 10, 10), "b", nullptr, &secondGone);
    container->addView(first);
    container->addView(second);
    EXPECT_EQ(container->getNbViews(), 2);

    EXPECT_TRUE(container->removeView(second, false));
    EXPECT_FALSE(secondGone);
    EXPECT_EQ(second->getNbReference(), 1);
    EXPECT_FALSE(container->isChild(second));
    EXPECT_FALSE(container->removeView(second));

    EXPECT_TRUE(container->removeAll(true));
    EXPECT_TRUE(firstGone);
    EXPECT_EQ(container->getNbViews(), 0);
    second->forget();
    EXPECT_TRUE(secondGone);
    container->forget();
}

TEST(Ownership, AddRefusesNullAndViewsAlreadyThere)
{
    CViewContainer* container = new CViewContainer(CRect(0, 0, 100, 100), nullptr);
    ProbeView* view = new ProbeView(CRect(0, 0, 10, 10), "v", nullptr);
    EXPECT_FALSE(container->addView(nullptr));
    EXPECT_TRUE(container->addView(view));
    EXPECT_FALSE(container->addView(view));
    EXPECT_EQ(view->getNbReference(), 2);
    EXPECT_EQ(container->getNbViews(), 1);
    EXPECT_EQ(container->getView(0), view);
    EXPECT_EQ(container->getView(1), nullptr);
    container->forget();
}

TEST(Ownership, BackgroundBitmapIsSharedByReference)
{
    CBitmap* bitmap = new CBitmap(101);
    ProbeView* a = new ProbeView(CRect(0, 0, 8, 8), "a", nullptr);
    ProbeView* b = new ProbeView(CRect(0, 0, 8, 8), "b", nullptr);
    a->setBackground(bitmap);
    b->setBackground(bitmap);
    EXPECT_EQ(bitmap->getNbReference(), 3);
    EXPECT_TRUE(a->isDirty());
    a->forget();
    b->setBackground(nullptr);
    EXPECT_EQ(bitmap->getNbReference(), 1);
    b->forget();
    bitmap->forget();
}

TEST(HitTest, AllFourEdgesBelongToTheView)
{
    ProbeView view(CRect(10, 20, 30, 40), "v", nullptr);
    EXPECT_TRUE(view.hitTest(CPoint(10, 20)));
    EXPECT_TRUE(view.hitTest(CPoint(30, 40)));
    EXPECT_TRUE(view.hitTest(CPoint(30, 20)));
    EXPECT_TRUE(view.hitTest(CPoint(10, 40)));
    EXPECT_FALSE(view.hitTest(CPoint(9, 30)));
    EXPECT_FALSE(view.hitTest(CPoint(31, 30)));
    EXPECT_FALSE(view.hitTest(CPoint(20, 19)));
    EXPECT_FALSE(view.hitTest(CPoint(20, 41)));
    view.setMouseableArea(CRect(0, 0, 5, 5));
    EXPECT_TRUE(view.hitTest(CPoint(5, 5)));
    EXPECT_FALSE(view.hitTest(CPoint(20, 30)));
}

TEST(HitTest, SharedEdgeGoesToTheLaterView)
{
    std::vector<std::string> log;
    CViewContainer* container = new CViewContainer(CRect(0, 0, 400, 128), nullptr);
    // two note-switch cells touching at x = 208
    ProbeView* c = new ProbeView(CRect(192, 48, 208, 112), "C", &log);
    ProbeView* cSharp = new ProbeView(CRect(208, 48, 224, 112), "C#", &log);
    container->addView(c);
    container->addView(cSharp);
    container->mouse(nullptr, CPoint(208, 80), kLButton);
    container->mouse(nullptr, CPoint(207, 112), kLButton);
    container->mouse(nullptr, CPoint(224, 112), kLButton);
    container->mouse(nullptr, CPoint(225, 80), kLButton);
    EXPECT_EQ(log, (std::vector<std::string>{"mouse C#", "mouse C", "mouse C#"}));
    EXPECT_EQ(container->getViewAt(CPoint(208, 48)), cSharp);
    EXPECT_EQ(container->getViewAt(CPoint(192, 48)), c);
    EXPECT_EQ(container->getViewAt(CPoint(191, 48)), nullptr);
    container->forget();
}

TEST(HitTest, DisabledViewsLetThePressThroughAndOnlyOneViewGetsIt)
{
    std::vector<std::string> log;
    CViewContainer* container = new CViewContainer(CRect(0, 0, 100, 100), nullptr);
    ProbeView* below = new ProbeView(CRect(0, 0, 50, 50), "below", &log);
    ProbeView* above = new ProbeView(CRect(0, 0, 50, 50), "above", &log);
    container->addView(below);
    container->addView(above);
    container->mouse(nullptr, CPoint(10, 10), kLButton | kShift);
    above->setMouseEnabled(false);
    container->mouse(nullptr, CPoint(10, 10), kLButton);
    EXPECT_EQ(log, (std::vector<std::string>{"mouse above", "mouse below"}));
    EXPECT_EQ(above->pressButtons.front(), kLButton | kShift);
    container->forget();
}

TEST(Coordinates, NestedContainersPassLocalPoints)
{
    CViewContainer* outer = new CViewContainer(CRect(0, 0, 300, 200), nullptr);
    CViewContainer* inner = new CViewContainer(CRect(100, 50, 200, 150), nullptr);
    ProbeView* view = new ProbeView(CRect(10, 20, 30, 40), "v", nullptr);
    inner->addView(view);
    outer->addView(inner);
    outer->mouse(nullptr, CPoint(115, 75), kLButton);
    ASSERT_EQ(view->presses.size(), 1u);
    EXPECT_EQ(view->presses[0], CPoint(15, 25));

    CPoint p(115, 75);
    view->frameToLocal(p);
    EXPECT_EQ(p, CPoint(15, 25));
    view->localToFrame(p);
    EXPECT_EQ(p, CPoint(115, 75));
    EXPECT_EQ(outer->getViewAt(CPoint(115, 75)), inner);
    EXPECT_EQ(outer->getViewAt(CPoint(115, 75), true), view);
    EXPECT_EQ(outer->getViewAt(CPoint(190, 140), true), inner);
    outer->forget();
}

TEST(Drawing, ChildrenDrawInListOrderOverTheBackground)
{
    std::vector<std::string> log;
    Canvas canvas(100, 100, kRedCColor);
    CViewContainer* container = new CViewContainer(CRect(0, 0, 100, 100), nullptr);
    const CColor grey{50, 50, 50, 255};
    container->setBackgroundColor(grey);
    const CColor blue{0, 0, 255, 255};
    container->addView(new ProbeView(CRect(10, 10, 60, 60), "first", &log, nullptr, kWhiteCColor));
    container->addView(new ProbeView(CRect(40, 40, 90, 90), "second", &log, nullptr, blue));
    container->addView(new ProbeView(CRect(200, 200, 210, 210), "outside", &log));
    container->draw(canvas.context);
    EXPECT_EQ(log, (std::vector<std::string>{"draw first", "draw second"}));
    EXPECT_EQ(canvas.pixel(20, 20), kWhiteCColor);
    EXPECT_EQ(canvas.pixel(50, 50), blue); // drawn later, on top
    // the background covers the whole area, edges included
    EXPECT_EQ(canvas.pixel(0, 0), grey);
    EXPECT_EQ(canvas.pixel(99, 0), grey);
    EXPECT_EQ(canvas.pixel(0, 99), grey);
    EXPECT_FALSE(container->isDirty());
    container->forget();
}

TEST(Drawing, APartlyRedrawnViewStaysDirtyUntilDrawnWhole)
{
    std::vector<std::string> log;
    Canvas canvas(100, 100);
    CViewContainer* container = new CViewContainer(CRect(0, 0, 100, 100), nullptr);
    ProbeView* whole = new ProbeView(CRect(0, 0, 40, 40), "whole", &log);
    ProbeView* part = new ProbeView(CRect(30, 0, 70, 40), "part", &log);
    ProbeView* clean = new ProbeView(CRect(35, 0, 45, 10), "clean", &log);
    container->addView(whole);
    container->addView(part);
    container->addView(clean);
    whole->setDirty(true);
    part->setDirty(true);
    container->drawRect(canvas.context, CRect(0, 0, 40, 40));
    EXPECT_EQ(log, (std::vector<std::string>{"draw whole", "draw part", "draw clean"}));
    EXPECT_FALSE(whole->isDirty());
    EXPECT_TRUE(part->isDirty());
    EXPECT_FALSE(clean->isDirty()); // it was not dirty before
    EXPECT_TRUE(container->isDirty());
    // only the overlapping columns were painted
    EXPECT_EQ(canvas.pixel(35, 20), kWhiteCColor);
    EXPECT_EQ(canvas.pixel(45, 20), kOpaqueBlack);

    container->drawRect(canvas.context, part->getViewSize());
    EXPECT_FALSE(part->isDirty());
    EXPECT_EQ(canvas.pixel(45, 20), kWhiteCColor);
    container->forget();
}

TEST(Drawing, AViewOnlyTouchingTheAreaIsVisitedButNotPainted)
{
    std::vector<std::string> log;
    Canvas canvas(100, 100);
    CViewContainer* container = new CViewContainer(CRect(0, 0, 100, 100), nullptr);
    ProbeView* neighbour = new ProbeView(CRect(40, 0, 80, 40), "neighbour", &log);
    container->addView(neighbour);
    EXPECT_TRUE(neighbour->checkUpdate(CRect(0, 0, 40, 40)));
    EXPECT_FALSE(neighbour->checkUpdate(CRect(0, 0, 39, 40)));
    neighbour->setDirty(true);
    container->drawRect(canvas.context, CRect(0, 0, 40, 40));
    EXPECT_EQ(log, (std::vector<std::string>{"draw neighbour"}));
    EXPECT_EQ(canvas.pixel(40, 10), kOpaqueBlack);
    EXPECT_TRUE(neighbour->isDirty());
    container->forget();
}

TEST(Drawing, ContainerDirtinessLooksAtChildrenInsideIt)
{
    CViewContainer* container = new CViewContainer(CRect(0, 0, 100, 100), nullptr);
    ProbeView* inside = new ProbeView(CRect(90, 90, 120, 120), "inside", nullptr);
    ProbeView* outside = new ProbeView(CRect(100, 0, 120, 20), "outside", nullptr);
    container->addView(inside);
    container->addView(outside);
    EXPECT_FALSE(container->isDirty());
    outside->setDirty(true);
    EXPECT_FALSE(container->isDirty()); // touching the edge is not inside
    inside->setDirty(true);
    EXPECT_TRUE(container->isDirty());
    inside->setDirty(false);
    container->setDirty(true);
    EXPECT_TRUE(container->isDirty());
    container->forget();
}

TEST(Drawing, OffscreenContainerDrawsTheSamePicture)
{
    Canvas direct(120, 80), buffered(120, 80);
    for (bool useOffscreen : {false, true})
    {
        Canvas& canvas = useOffscreen ? buffered : direct;
        CViewContainer* outer = new CViewContainer(CRect(0, 0, 120, 80), nullptr);
        CViewContainer* inner = new CViewContainer(CRect(20, 10, 100, 70), nullptr);
        inner->setBackgroundColor(CColor{40, 80, 120, 255});
        inner->addView(new ProbeView(CRect(5, 5, 30, 30), "a", nullptr));
        ProbeView* dot =
            new ProbeView(CRect(40, 30, 48, 38), "dot", nullptr, nullptr, CColor{200, 0, 0, 255});
        inner->addView(dot);
        inner->useOffscreen(useOffscreen);
        outer->addView(inner);
        outer->draw(canvas.context);
        outer->forget();
    }
    EXPECT_EQ(direct.pixel(30, 20), kWhiteCColor);
    EXPECT_EQ(direct.pixel(21, 11), (CColor{40, 80, 120, 255}));
    EXPECT_EQ(direct.pixel(110, 75), kOpaqueBlack);
    EXPECT_TRUE(direct.samePixels(buffered));
}
