// The editor in a real window system (wine under Xvfb): opened into a top-level window of this
// host, its picture taken from the screen and compared with the headless snapshot of the Linux
// build, then driven by a user's hand from outside (the test script moves the X pointer with
// xdotool while this host runs its message loop and gives the editor idle time).
#include "hostcases.h"

#include <windows.h>

#include <ole2.h>
#include <shlobj.h>

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hostcheck
{

namespace
{

constexpr int32_t effEditGetRect = 13;
constexpr int32_t effEditOpen = 14;
constexpr int32_t effEditClose = 15;
constexpr int32_t effEditIdle = 19;
constexpr int32_t audioMasterAutomate = 0;
constexpr int32_t audioMasterBeginEdit = 43;
constexpr int32_t audioMasterEndEdit = 44;

// Where this host puts its window on the screen.
constexpr int kWindowX = 40;
constexpr int kWindowY = 40;

// Read-out boxes of the editor, where text is drawn by the system's own rasteriser.
const RECT kReadouts[] = {{112, 42, 144, 54}, {112, 90, 144, 102}};

// The snapshot's settings: the renderer's mapping of semitones to the middle of a 10-cent step.
float hostValueOfSteps(int steps)
{
    return static_cast<float>(0.5 + (steps > 0 ? steps + 0.5 : steps - 0.5) / 240.0);
}

struct Image
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra; // top row first
};

bool readPng(const std::string& path, Image& image)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_BGRA;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.bgra.assign(PNG_IMAGE_SIZE(png), 0);
    if (!png_image_finish_read(&png, nullptr, image.bgra.data(), 0, nullptr))
    {
        png_image_free(&png);
        return false;
    }
    return true;
}

bool writePng(const std::string& path, const Image& image)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_BGRA;
    return png_image_write_to_file(&png, path.c_str(), 0, image.bgra.data(), 0, nullptr) != 0;
}

// What is on the screen at the window's client area, read back through the screen's context.
Image screenshot(HWND window, int width, int height)
{
    Image image;
    POINT corner{0, 0};
    ClientToScreen(window, &corner);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits)
    {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, corner.x, corner.y, SRCCOPY);
        GdiFlush();
        image.width = width;
        image.height = height;
        image.bgra.assign(static_cast<uint8_t*>(bits),
                          static_cast<uint8_t*>(bits) + static_cast<size_t>(width) * height * 4);
        for (size_t i = 3; i < image.bgra.size(); i += 4)
            image.bgra[i] = 255;
        SelectObject(memory, old);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return image;
}

bool inReadout(int x, int y)
{
    for (const RECT& r : kReadouts)
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
    return false;
}

// Pictures and lines must match to rounding of the blend; text may differ in its glyphs, so the
// read-out boxes are judged by how much light they hold (the digits must be there) and by how
// many of their pixels differ strongly.
void compareWithSnapshot(const Image& shot, const Image& reference, const std::string& folder)
{
    check(reference.width == 512 && reference.height == 128,
          "the headless snapshot is 512 x 128 (" + std::to_string(reference.width) + " x " +
              std::to_string(reference.height) + ")");
    check(shot.width == reference.width && shot.height == reference.height,
          "the screenshot has the snapshot's size");
    if (shot.width != reference.width || shot.height != reference.height) return;

    int worstOutside = 0;
    long differentOutside = 0;
    long readoutPixels = 0, readoutDifferent = 0;
    double readoutLightShot = 0.0, readoutLightReference = 0.0;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
        {
            const uint8_t* a = &shot.bgra[(static_cast<size_t>(y) * shot.width + x) * 4];
            const uint8_t* b = &reference.bgra[(static_cast<size_t>(y) * shot.width + x) * 4];
            int worst = 0;
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(int(a[c]) - int(b[c])));
            if (inReadout(x, y))
            {
                ++readoutPixels;
                if (worst > 96) ++readoutDifferent;
                readoutLightShot += (a[0] + a[1] + a[2]) / 765.0;
                readoutLightReference += (b[0] + b[1] + b[2]) / 765.0;
            }
            else
            {
                worstOutside = std::max(worstOutside, worst);
                if (worst > 2) ++differentOutside;
            }
        }
    writePng(folder + "/editor-screenshot.png", shot);
    check(differentOutside == 0,
          "outside the read-outs the screenshot matches the snapshot within 2 levels (" +
              std::to_string(differentOutside) + " pixels beyond, largest difference " +
              std::to_string(worstOutside) + ")");
    const double lightRatio = readoutLightShot / std::max(readoutLightReference, 1e-9);
    check(lightRatio > 0.6 && lightRatio < 1.6,
          "the read-outs hold as much text as in the snapshot (ratio " +
              std::to_string(lightRatio) + ")");
    const double differentShare = static_cast<double>(readoutDifferent) / readoutPixels;
    check(differentShare < 0.15, "glyph pixels that differ strongly in the read-outs: " +
                                     std::to_string(readoutDifferent) + " of " +
                                     std::to_string(readoutPixels));
}

LRESULT CALLBACK hostWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Messages for ms milliseconds, the editor's idle every 20 ms, as a host's user-interface loop.
void runLoop(Effect& effect, DWORD ms, const std::string& until = "")
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms)
    {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        effect.dispatch(effEditIdle);
        if (!until.empty() && fileExists(until)) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

struct ChildInfo
{
    HWND window = nullptr;
    int count = 0;
};

BOOL CALLBACK countChild(HWND child, LPARAM data)
{
    auto* info = reinterpret_cast<ChildInfo*>(data);
    if (GetParent(child) != nullptr) ++info->count;
    if (!info->window) info->window = child;
    return TRUE;
}

// A drop target that is never used: registering it tells whether the window already has one.
class DropProbe final : public IDropTarget
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDropTarget))
            return E_NOINTERFACE;
        *object = static_cast<IDropTarget*>(this);
        return S_OK;
    }
    // Lives on the stack for the probe only.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override
    {
        *effect = DROPEFFECT_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override
    {
        *effect = DROPEFFECT_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject*, DWORD, POINTL, DWORD* effect) override
    {
        *effect = DROPEFFECT_NONE;
        return S_OK;
    }
};

// Two dropped files, as the shell's file list.
class FileList final : public IDataObject
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDataObject))
            return E_NOINTERFACE;
        *object = static_cast<IDataObject*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (QueryGetData(format) != S_OK) return DV_E_FORMATETC;
        static const char names[] = "C:\\take1.wav\0C:\\take2.wav\0";
        HGLOBAL memory =
            GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + sizeof names);
        if (!memory) return E_OUTOFMEMORY;
        auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
        files->pFiles = sizeof(DROPFILES);
        std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), names, sizeof names);
        GlobalUnlock(memory);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory;
        medium->pUnkForRelease = nullptr;
        ++reads;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override
    {
        return format && format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL)
                   ? S_OK
                   : DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override
    {
        if (out) out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override
    {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override
    {
        return OLE_E_ADVISENOTSUPPORTED;
    }

    int reads = 0; // how often the target asked for the files
};

// A drag that is released over the editor after a few polls, noting what the target answered.
class ScriptedSource final : public IDropSource
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDropSource))
            return E_NOINTERFACE;
        *object = static_cast<IDropSource*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL, DWORD) override
    {
        return ++polls >= 8 ? DRAGDROP_S_DROP : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD effect) override
    {
        feedback.push_back(effect);
        return DRAGDROP_S_USEDEFAULTCURSORS;
    }

    int polls = 0;
    std::vector<DWORD> feedback;
};

// Calls for one parameter index, in order.
std::vector<HostCall> callsFor(int32_t index)
{
    std::vector<HostCall> out;
    for (const HostCall& c : hostCalls())
        if ((c.opcode == audioMasterBeginEdit || c.opcode == audioMasterEndEdit ||
             c.opcode == audioMasterAutomate) &&
            c.index == index)
            out.push_back(c);
    return out;
}

std::string describe(const std::vector<HostCall>& calls)
{
    std::string text;
    for (const HostCall& c : calls)
    {
        char item[64];
        if (c.opcode == audioMasterAutomate)
            std::snprintf(item, sizeof item, " automate(%.4f)", static_cast<double>(c.opt));
        else
            std::snprintf(item, sizeof item, " %s",
                          c.opcode == audioMasterBeginEdit ? "begin" : "end");
        text += item;
    }
    return text.empty() ? " nothing" : text;
}

// The host's top-level window for an editor of width x height.
HWND makeHostWindow(int width, int height)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = hostWindowProcedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "HalvernTestHost";
    RegisterClassA(&wc);
    return CreateWindowExA(WS_EX_TOPMOST, "HalvernTestHost", "Halvern test host",
                           WS_POPUP | WS_VISIBLE, kWindowX, kWindowY, width, height, nullptr,
                           nullptr, wc.hInstance, nullptr);
}

} // namespace

void runEditorSmokeCase(const std::string& pluginPath)
{
    Library library(pluginPath);
    Effect effect(library, "VSTPluginMain");
    check(effect.record() != nullptr, "creates an effect");
    HWND host = makeHostWindow(512, 168);
    if (!effect.record() || !host) return;
    check(effect.dispatch(effEditOpen, 0, 0, host) == 1, "effEditOpen answers 1");
    runLoop(effect, 500);
    ChildInfo child;
    EnumChildWindows(host, countChild, reinterpret_cast<LPARAM>(&child));
    RECT r{};
    if (child.window) GetClientRect(child.window, &r);
    check(child.count == 1 && r.right == 512 && r.bottom == 168, "one child window of 512 x 168");
    effect.dispatch(effEditClose);
    ChildInfo after;
    EnumChildWindows(host, countChild, reinterpret_cast<LPARAM>(&after));
    check(after.count == 0, "effEditClose removes it");
    DestroyWindow(host);
}

void runEditorCase(const std::string& pluginPath, const std::string& referencePng,
                   const std::string& folder)
{
    Library library(pluginPath);
    check(library.isLoaded(), "loads " + pluginPath);
    if (!library.isLoaded()) return;
    Effect effect(library, "VSTPluginMain");
    check(effect.record() != nullptr, "creates an effect");
    if (!effect.record()) return;

    // The snapshot's settings: Pitch +3.5, Formant -2.0, Scale on with the notes of A minor.
    effect.setParameter(0, hostValueOfSteps(35));
    effect.setParameter(1, hostValueOfSteps(-20));
    effect.setParameter(2, 1.0f);
    const bool aMinor[12] = {true,  false, true,  false, true,  true,
                             false, true,  false, true,  false, true};
    for (int note = 0; note < 12; ++note)
        effect.setParameter(3 + note, aMinor[note] ? 1.0f : 0.0f);

    int16_t* rect = nullptr;
    effect.dispatch(effEditGetRect, 0, 0, &rect);
    check(rect && rect[2] == 128 && rect[3] == 512, "the editor asks for 512 x 128");
    if (!rect) return;
    const int width = rect[3] - rect[1];
    const int height = rect[2] - rect[0];

    HWND host = makeHostWindow(width, height);
    const HINSTANCE self = GetModuleHandleA(nullptr);
    check(host != nullptr, "the host's window exists");
    if (!host) return;
    SetForegroundWindow(host);

    hostCalls().clear();
    check(effect.dispatch(effEditOpen, 0, 0, host) == 1, "effEditOpen answers 1");
    ChildInfo child;
    std::string editorClass;
    EnumChildWindows(host, countChild, reinterpret_cast<LPARAM>(&child));
    check(child.count == 1, "the editor made one child window of the host's window");
    if (child.window)
    {
        char className[64] = {};
        char title[64] = {};
        GetClassNameA(child.window, className, sizeof className);
        GetWindowTextA(child.window, title, sizeof title);
        char expected[64];
        std::snprintf(expected, sizeof expected, "Plugin%p",
                      static_cast<void*>(GetModuleHandleA(pluginPath.c_str())));
        editorClass = className;
        check(std::strcmp(className, expected) == 0,
              std::string("its class is \"") + className + "\" (Plugin and the module handle)");
        check(std::strcmp(title, "Window") == 0, std::string("its title is \"") + title + "\"");
        RECT r;
        GetClientRect(child.window, &r);
        check(r.right == width && r.bottom == height, "it covers 512 x 128");
    }

    runLoop(effect, 1500);
    Image reference;
    check(readPng(referencePng, reference), "reads the snapshot " + referencePng);
    compareWithSnapshot(screenshot(host, width, height), reference, folder);

    // The hand: the script clicks the Scale switch and drags the Pitch knob, then says done.
    const float pitchBefore = effect.getParameter(0);
    hostCalls().clear();
    {
        POINT corner{0, 0};
        ClientToScreen(host, &corner);
        std::FILE* ready = std::fopen((folder + "/ready").c_str(), "wb");
        if (ready)
        {
            std::fprintf(ready, "%ld %ld\n", static_cast<long>(corner.x),
                         static_cast<long>(corner.y));
            std::fclose(ready);
        }
        std::printf("editor ready at %ld,%ld\n", static_cast<long>(corner.x),
                    static_cast<long>(corner.y));
        std::fflush(stdout);
    }
    runLoop(effect, 90000, folder + "/done");
    check(fileExists(folder + "/done"), "the script's hand is done within 90 s");

    const auto scale = callsFor(2);
    check(scale.size() == 3 && scale[0].opcode == audioMasterBeginEdit &&
              scale[1].opcode == audioMasterAutomate && scale[1].opt == 0.0f &&
              scale[2].opcode == audioMasterEndEdit,
          "a click on the Scale switch reaches the host as begin, automate(0), end:" +
              describe(scale));
    check(effect.getParameter(2) == 0.0f, "Scale is off after the click");

    const auto pitch = callsFor(0);
    std::vector<float> values;
    for (const HostCall& c : pitch)
        if (c.opcode == audioMasterAutomate) values.push_back(c.opt);
    const bool bracketed = pitch.size() >= 3 && pitch.front().opcode == audioMasterBeginEdit &&
                           pitch.back().opcode == audioMasterEndEdit &&
                           values.size() + 2 == pitch.size();
    const bool moving = values.size() >= 2 && *std::min_element(values.begin(), values.end()) !=
                                                  *std::max_element(values.begin(), values.end());
    check(bracketed && moving,
          "a drag on the Pitch knob reaches the host as begin, automations of changing values, "
          "end (" +
              std::to_string(values.size()) + " automations)");
    check(effect.getParameter(0) != pitchBefore, "the drag moved Pitch from " +
                                                     std::to_string(pitchBefore) + " to " +
                                                     std::to_string(effect.getParameter(0)));
    bool notesUntouched = true;
    for (int32_t note = 3; note < 15; ++note)
        notesUntouched = notesUntouched && callsFor(note).empty();
    check(notesUntouched && callsFor(1).empty(), "nothing else was edited");

    // Wheel notches as the system delivers them, with the pointer in screen coordinates: over
    // the Formant knob a tenth of its range, over the Scale switch nothing.
    if (child.window)
    {
        // the knob opened at the effect's quantised value
        const float want = effect.getParameter(1) + 0.1f;
        hostCalls().clear();
        POINT knob{84, 92};
        ClientToScreen(child.window, &knob);
        SendMessageA(child.window, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA),
                     MAKELPARAM(knob.x, knob.y));
        const auto formant = callsFor(1);
        check(formant.size() == 3 && formant[0].opcode == audioMasterBeginEdit &&
                  formant[1].opcode == audioMasterAutomate &&
                  std::fabs(formant[1].opt - want) < 1e-4f &&
                  formant[2].opcode == audioMasterEndEdit,
              "a wheel notch over the Formant knob moves it by a tenth:" + describe(formant));
        hostCalls().clear();
        POINT lamp{200, 36};
        ClientToScreen(child.window, &lamp);
        SendMessageA(child.window, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA),
                     MAKELPARAM(lamp.x, lamp.y));
        check(hostCalls().empty(), "a wheel notch over the Scale switch changes nothing");
    }

    effect.dispatch(effEditClose);
    ChildInfo after;
    EnumChildWindows(host, countChild, reinterpret_cast<LPARAM>(&after));
    check(after.count == 0, "effEditClose removes the editor's window");
    const HINSTANCE plugin = GetModuleHandleA(pluginPath.c_str());
    WNDCLASSA found;
    check(!GetClassInfoA(plugin, editorClass.c_str(), &found),
          "the window class goes with the last window");

    // Opened again: the class comes back, and the window takes part in drag and drop.
    const HRESULT ole = OleInitialize(nullptr);
    check(effect.dispatch(effEditOpen, 0, 0, host) == 1, "the editor opens a second time");
    ChildInfo again;
    EnumChildWindows(host, countChild, reinterpret_cast<LPARAM>(&again));
    check(again.count == 1 && GetClassInfoA(plugin, editorClass.c_str(), &found),
          "with one window, its class registered again");
    if (again.window)
    {
        DropProbe probe;
        const HRESULT result = RegisterDragDrop(again.window, &probe);
        check(result == DRAGDROP_E_ALREADYREGISTERED,
              "the editor's window is registered as an OLE drop target");
        if (result == S_OK) RevokeDragDrop(again.window);

        // Two files dragged over the background and let go: the editor is told (the drop
        // target reads the file list) and shows a move while they hover, but takes nothing,
        // so the source must not delete what it dragged.
        runLoop(effect, 300);
        POINT over{300, 100};
        ClientToScreen(again.window, &over);
        SetCursorPos(over.x, over.y);
        FileList files;
        ScriptedSource source;
        DWORD effectDone = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        const HRESULT drag =
            DoDragDrop(&files, &source, DROPEFFECT_COPY | DROPEFFECT_MOVE, &effectDone);
        std::string seen;
        for (DWORD e : source.feedback)
            seen += " " + std::to_string(e);
        check(files.reads > 0, "the drop target read the dragged file list (" +
                                   std::to_string(files.reads) + " reads)");
        check(std::find(source.feedback.begin(), source.feedback.end(), DROPEFFECT_MOVE) !=
                  source.feedback.end(),
              "while hovering the editor answers move (feedback:" + seen + ")");
        check((drag == DRAGDROP_S_DROP || drag == DRAGDROP_S_CANCEL) &&
                  effectDone == DROPEFFECT_NONE,
              "the drop ends with nothing taken (result " + std::to_string(drag) + ", effect " +
                  std::to_string(effectDone) + ")");
    }
    runLoop(effect, 300);

    // The host destroys its window first; the editor must live on without one.
    DestroyWindow(host);
    runLoop(effect, 300);
    effect.dispatch(effEditClose);
    check(!GetClassInfoA(plugin, editorClass.c_str(), &found),
          "after the host destroyed its window and closed the editor, the class is gone");
    HWND second =
        CreateWindowExA(0, "HalvernTestHost", "Halvern test host", WS_POPUP | WS_VISIBLE, kWindowX,
                        kWindowY, width, height, nullptr, nullptr, self, nullptr);
    check(effect.dispatch(effEditOpen, 0, 0, second) == 1, "the editor opens into a new window");
    runLoop(effect, 300);
    ChildInfo third;
    EnumChildWindows(second, countChild, reinterpret_cast<LPARAM>(&third));
    check(third.count == 1, "and shows there");
    effect.dispatch(effEditClose);
    DestroyWindow(second);
    if (ole == S_OK || ole == S_FALSE) OleUninitialize();
    UnregisterClassA("HalvernTestHost", self);
}

} // namespace hostcheck
