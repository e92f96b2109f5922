// Geometry, colours and input words shared by every part of the editor toolkit.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace VSTGUI
{

// A value the parameter thread may write while the user-interface thread reads it: relaxed
// loads and stores, no tearing, no lock. Read-modify-write is for one writer at a time.
template <typename T> class CRelaxed
{
public:
    CRelaxed(T initial = T()) : v(initial) {}
    CRelaxed(const CRelaxed& other) : v(other) {}
    CRelaxed& operator=(const CRelaxed& other) { return *this = T(other); }
    CRelaxed& operator=(T x)
    {
        v.store(x, std::memory_order_relaxed);
        return *this;
    }
    operator T() const { return v.load(std::memory_order_relaxed); }
    CRelaxed& operator+=(T x) { return *this = T(*this) + x; }

private:
    std::atomic<T> v;
};

struct CPoint
{
    CPoint() = default;
    CPoint(int32_t h, int32_t v) : h(h), v(v) {}

    CPoint& offset(int32_t dh, int32_t dv)
    {
        h += dh;
        v += dv;
        return *this;
    }
    bool operator==(const CPoint& other) const { return h == other.h && v == other.v; }
    bool operator!=(const CPoint& other) const { return !(*this == other); }

    int32_t h = 0; // x, pixels
    int32_t v = 0; // y, pixels, growing downwards
};

// Right and bottom are one past the last pixel drawn.
struct CRect
{
    CRect() = default;
    CRect(int32_t left, int32_t top, int32_t right, int32_t bottom)
        : left(left), top(top), right(right), bottom(bottom)
    {
    }

    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    CPoint topLeft() const { return CPoint(left, top); }
    bool isEmpty() const { return right <= left || bottom <= top; }

    CRect& offset(int32_t dh, int32_t dv)
    {
        left += dh;
        right += dh;
        top += dv;
        bottom += dv;
        return *this;
    }
    CRect& moveTo(int32_t h, int32_t v) { return offset(h - left, v - top); }

    // Cuts this rectangle to other; an empty result keeps right >= left and bottom >= top.
    CRect& bound(const CRect& other)
    {
        left = std::max(left, other.left);
        top = std::max(top, other.top);
        right = std::max(left, std::min(right, other.right));
        bottom = std::max(top, std::min(bottom, other.bottom));
        return *this;
    }

    // Mouse rule: all four edges belong to the rectangle.
    bool containsWithEdges(const CPoint& p) const
    {
        return p.h >= left && p.h <= right && p.v >= top && p.v <= bottom;
    }
    // Touching edges count as overlap.
    bool touches(const CRect& other) const
    {
        return other.left <= right && other.right >= left && other.top <= bottom &&
               other.bottom >= top;
    }

    bool operator==(const CRect& other) const
    {
        return left == other.left && top == other.top && right == other.right &&
               bottom == other.bottom;
    }
    bool operator!=(const CRect& other) const { return !(*this == other); }

    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct CColor
{
    bool operator==(const CColor& other) const
    {
        return red == other.red && green == other.green && blue == other.blue &&
               alpha == other.alpha;
    }
    bool operator!=(const CColor& other) const { return !(*this == other); }

    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 0;
};

constexpr CColor kWhiteCColor{255, 255, 255, 255};
constexpr CColor kBlackCColor{0, 0, 0, 255};
constexpr CColor kGreyCColor{127, 127, 127, 255};
constexpr CColor kRedCColor{255, 0, 0, 255};
constexpr CColor kTransparentCColor{255, 255, 255, 0};

// The button state word.
enum CButton : int32_t
{
    kLButton = 1,
    kMButton = 2,
    kRButton = 4,
    kShift = 8,
    kControl = 16,
    kAlt = 32,
};
constexpr int32_t kReadButtons = -1; // "no state at hand": the receiver reads it

// A key as the host hands it over: virtual key and modifier bits (1 = Shift).
struct CKeyCode
{
    int32_t character = 0;
    uint8_t virt = 0;
    uint8_t modifier = 0;
};

enum CVirtualKey : uint8_t
{
    kKeyTab = 2,
    kKeyLeft = 11,
    kKeyUp = 12,
    kKeyRight = 13,
    kKeyDown = 14,
};
constexpr uint8_t kKeyModifierShift = 1;

enum CHoriTxtAlign : int32_t
{
    kLeftText = 0,
    kCenterText = 1,
    kRightText = 2,
};

enum CLineStyle : int32_t
{
    kLineSolid = 0,
    kLineOnOffDash = 1,
};

enum CDrawMode : int32_t
{
    kCopyMode = 0,
    kOrMode = 1,
    kXorMode = 2,
};

// Face flags of a font.
enum CTxtFace : int32_t
{
    kNormalFace = 0,
    kBoldFace = 1,
    kItalicFace = 2,
    kUnderlineFace = 4,
};

enum CCursorType : int32_t
{
    kCursorDefault = 0,
    kCursorWait = 1,
    kCursorHSize = 2,
    kCursorVSize = 3,
    kCursorSizeAll = 4,
    kCursorNESWSize = 5,
    kCursorNWSESize = 6,
    kCursorNotAllowed = 8,
    kCursorHand = 9,
};

} // namespace VSTGUI
