// Drawing contexts: a surface with its current pen, brush, font and clip rectangle, and the
// offscreen buffer the frame paints its window from.
#pragma once

#include "creferencecounter.h"
#include "vstguibase.h"

#include <memory>

namespace VSTGUI
{

namespace platform
{
class DrawSurface;
class Window;
} // namespace platform

class CFrame;

// Font ids of the font table; any other id is taken as kSystemFont.
enum CFont : int32_t
{
    kSystemFont = 0, // Arial 12, always bold
    kNormalFontVeryBig = 1,
    kNormalFontBig = 2,
    kNormalFont = 3,
    kNormalFontSmall = 4,
    kNormalFontSmaller = 5,
    kNormalFontVerySmall = 6,
    kSymbolFont = 7,
    kNumStandardFonts = 8,
};

class CDrawContext : public CReferenceCounter
{
public:
    // Draws on surface; without one, on a surface fetched from window (given back on
    // destruction). A context made for a frame clips to the frame's size, else to 1000 x 1000.
    CDrawContext(CFrame* frame, platform::DrawSurface* surface, platform::Window* window);
    ~CDrawContext() override;

    void moveTo(const CPoint& point);
    void lineTo(const CPoint& point);
    // Outline through left .. right - 1 and top .. bottom - 1, in the frame colour.
    void drawRect(const CRect& rect);
    // Fills left + 1 .. right - 1 by top + 1 .. bottom - 1: the top and left edges stay uncovered.
    void fillRect(const CRect& rect);
    // One vertically centred line; left alignment starts one pixel right of rect.left.
    void drawString(const char* text, const CRect& rect, bool opaque = false,
                    CHoriTxtAlign align = kCenterText);

    void setLineStyle(CLineStyle style);
    CLineStyle getLineStyle() const { return lineStyle; }
    void setLineWidth(int32_t width);
    int32_t getLineWidth() const { return frameWidth; }
    // Stored only: every drawing copies.
    void setDrawMode(CDrawMode mode) { drawMode = mode; }
    CDrawMode getDrawMode() const { return drawMode; }

    void setFrameColor(const CColor& color);
    CColor getFrameColor() const { return frameColor; }
    void setFillColor(const CColor& color);
    CColor getFillColor() const { return fillColor; }
    void setFontColor(const CColor& color);
    CColor getFontColor() const { return fontColor; }
    // size is not used: the font table gives the height.
    void setFont(int32_t fontID, int32_t size = 0, int32_t style = 0);
    int32_t getFont() const { return fontId; }
    int32_t getFontSize() const;
    int32_t getFontStyle() const { return fontStyle; }

    // In the coordinates of the view being drawn (offset taken off).
    void getClipRect(CRect& clip) const;
    CRect getClipRect() const;
    void setClipRect(const CRect& clip);

    // Button state word now, and the pointer in the frame's coordinates (zero without a frame).
    int32_t getMouseButtons();
    void getMouseLocation(CPoint& point);

    CFrame* getFrame() const { return frame; }
    platform::DrawSurface* getSurface() const { return surface; }
    platform::Window* getWindow() const { return window; }
    // How many platform pens, brushes and fonts this context made.
    int32_t getNbCreatedObjects() const { return createdObjects; }

    CPoint offsetScreen; // screen position of the window's top-left corner
    CPoint offset;       // origin of the view being drawn, added to every coordinate

protected:
    // For contexts that bring their own surface.
    void adoptSurface(std::unique_ptr<platform::DrawSurface> owned);
    void applyDefaults();

    CFrame* frame;
    platform::DrawSurface* surface;
    platform::Window* window;

private:
    void makePen();

    std::unique_ptr<platform::DrawSurface> ownedSurface;
    CColor frameColor = kWhiteCColor;
    CColor fillColor = kBlackCColor;
    CColor fontColor = kWhiteCColor;
    int32_t frameWidth = 1;
    CLineStyle lineStyle = kLineSolid;
    CDrawMode drawMode = kCopyMode;
    int32_t fontId = kSystemFont;
    int32_t fontStyle = 0;
    bool havePen = false;
    bool haveBrush = false;
    bool haveFont = false;
    int32_t createdObjects = 0;
    CRect clipRect;
    bool clipApplied = false;
    CPoint penPosition;
};

// A memory surface, e.g. the frame's back buffer.
class COffscreenContext : public CDrawContext
{
public:
    // Filled and outlined in background; compatible with the frame's window when it has one.
    COffscreenContext(CFrame* frame, int32_t width, int32_t height,
                      const CColor& background = kBlackCColor);
    ~COffscreenContext() override;

    // Plain copy of destRect's size from srcOffset of this buffer to destRect of dest.
    void copyFrom(CDrawContext* dest, const CRect& destRect, const CPoint& srcOffset = CPoint());

    int32_t getWidth() const { return width; }
    int32_t getHeight() const { return height; }
    bool isValid() const { return surface != nullptr; }

private:
    int32_t width;
    int32_t height;
    CColor backgroundColor;
};

} // namespace VSTGUI
