// The toolkit's platform layer in the LV2 plug-in's DSP library. The effect makes its editor there
// as everywhere, but LV2 shows editors through the separate UI library, so this one never opens:
// its pictures are kept in memory, and no window or drawing surface can be made. The DSP library
// thereby loads neither Xlib nor cairo.
#include "platform/platform.h"

#include <vector>

namespace VSTGUI
{
namespace platform
{

namespace
{

class MemoryPicture : public Picture
{
public:
    MemoryPicture(int32_t width, int32_t height, bool alpha)
        : w(width), h(height), alpha(alpha), pixels(static_cast<size_t>(width) * height * 4, 0)
    {
    }
    int32_t width() const override { return w; }
    int32_t height() const override { return h; }
    bool hasAlpha() const override { return alpha; }
    uint8_t* row(int32_t bottomUpY) override
    {
        return pixels.data() + static_cast<size_t>(bottomUpY) * w * 4;
    }
    const uint8_t* row(int32_t bottomUpY) const override
    {
        return pixels.data() + static_cast<size_t>(bottomUpY) * w * 4;
    }
    void pixelsChanged() override {}

private:
    int32_t w;
    int32_t h;
    bool alpha;
    std::vector<uint8_t> pixels;
};

const char moduleMarker = 0;

} // namespace

std::unique_ptr<Picture> createPicture(int32_t width, int32_t height, bool alpha)
{
    if (width <= 0 || height <= 0) return nullptr;
    return std::make_unique<MemoryPicture>(width, height, alpha);
}

std::unique_ptr<DrawSurface> createImageSurface(int32_t, int32_t)
{
    return nullptr;
}

const void* moduleHandle()
{
    return &moduleMarker;
}

bool registerWindowClass(const char*)
{
    return false;
}

void unregisterWindowClass(const char*) {}

bool systemButtonsSwapped()
{
    return false;
}

std::unique_ptr<Window> createChildWindow(const WindowSpec&, WindowClient&)
{
    return nullptr;
}

bool dispatchPendingPaint()
{
    return false;
}

} // namespace platform
} // namespace VSTGUI
