// The LV2 UI in a small host under a private Xvfb: the UI found through lilv and its binary
// loaded, opened into a top-level window given as ui:parent and idled through its idle interface
// every 10 ms, while xdotool clicks and drags from another process. The host records what reaches
// its write function and its ui:touch feature; the screen is compared with the headless drawing
// of the editor with the same settings.
// gtest first: Xlib's macros (None, Bool) would break its headers
#include <gtest/gtest.h>

#include "xvfbtest.h"

#include <lilv/lilv.h>
#include <lv2/ui/ui.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace x11test;

namespace
{

constexpr int kHostX = 41;
constexpr int kHostY = 29;
constexpr int kWidth = 512;
constexpr int kHeight = 128;
constexpr int kPitchCentreX = 84;
constexpr int kPitchCentreY = 44;

struct Write
{
    uint32_t port;
    float value;
};

struct Touch
{
    uint32_t port;
    bool grabbed;
};

// The UI's binary as lilv names it, and the features its description requires.
struct UiDescription
{
    std::string uri;
    std::string binary;
    bool x11 = false;
    std::vector<std::string> requiredFeatures;
};

UiDescription describeUi()
{
    UiDescription d;
    LilvWorld* world = lilv_world_new();
    LilvNode* bundle = lilv_new_uri(world, "file://" HALVERN_LV2_BUNDLE "/");
    lilv_world_load_bundle(world, bundle);
    LilvNode* pluginUri = lilv_new_uri(world, "urn:brakk:halvern");
    const LilvPlugin* plugin =
        lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), pluginUri);
    if (plugin)
    {
        LilvUIs* uis = lilv_plugin_get_uis(plugin);
        if (lilv_uis_size(uis) == 1)
        {
            const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
            d.uri = lilv_node_as_uri(lilv_ui_get_uri(ui));
            char* path = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);
            d.binary = path;
            lilv_free(path);
            LilvNode* x11 = lilv_new_uri(world, LV2_UI__X11UI);
            d.x11 = lilv_ui_is_a(ui, x11);
            lilv_node_free(x11);
            LilvNode* required = lilv_new_uri(world, LV2_CORE__requiredFeature);
            LilvNodes* features =
                lilv_world_find_nodes(world, lilv_ui_get_uri(ui), required, nullptr);
            LILV_FOREACH(nodes, i, features)
            d.requiredFeatures.push_back(lilv_node_as_uri(lilv_nodes_get(features, i)));
            lilv_nodes_free(features);
            lilv_node_free(required);
        }
        lilv_uis_free(uis);
    }
    lilv_node_free(pluginUri);
    lilv_node_free(bundle);
    lilv_world_free(world);
    return d;
}

std::string xdotoolPoint(int x, int y)
{
    return std::to_string(kHostX + x) + " " + std::to_string(kHostY + y);
}

class Lv2Ui : public XvfbTest
{
protected:
    Lv2Ui() : XvfbTest("") {}

    static void SetUpTestSuite()
    {
        XvfbTest::SetUpTestSuite();
        description = describeUi();
        library = dlopen(description.binary.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) return;
        auto entry = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(library, "lv2ui_descriptor"));
        descriptor = entry ? entry(0) : nullptr;
    }
    static void TearDownTestSuite()
    {
        if (library) dlclose(library);
        library = nullptr;
        descriptor = nullptr;
        XvfbTest::TearDownTestSuite();
    }

    void SetUp() override
    {
        XvfbTest::SetUp();
        if (!host) return;
        ASSERT_EQ(description.uri, "urn:brakk:halvern:ui");
        ASSERT_TRUE(description.x11);
        ASSERT_NE(library, nullptr) << dlerror();
        ASSERT_NE(descriptor, nullptr);
        ASSERT_STREQ(descriptor->URI, "urn:brakk:halvern:ui");
        ASSERT_EQ(reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(library, "lv2ui_descriptor"))(1),
                  nullptr);
    }

    void TearDown() override
    {
        if (!host) return;
        close();
        EXPECT_EQ(EditorHost::xErrors(), errorsBefore) << "X errors reached the host";
        host.reset();
    }

    // Instantiates the UI with parent as ui:parent and the host's other features; false when the
    // UI refused.
    bool open(::Window parent, bool withParent = true)
    {
        const LV2_Feature parentFeature = {LV2_UI__parent,
                                           reinterpret_cast<void*>(static_cast<uintptr_t>(parent))};
        const LV2_Feature idleFeature = {LV2_UI__idleInterface, nullptr};
        const LV2_Feature touchFeature = {LV2_UI__touch, &touch};
        const LV2_Feature resizeFeature = {LV2_UI__resize, &resize};
        std::vector<const LV2_Feature*> features = {&idleFeature, &touchFeature, &resizeFeature};
        if (withParent) features.push_back(&parentFeature);
        features.push_back(nullptr);
        widget = nullptr;
        handle = descriptor->instantiate(descriptor, "urn:brakk:halvern", HALVERN_LV2_BUNDLE,
                                         writeFunction, this, &widget, features.data());
        if (!handle) return false;
        idleInterface = static_cast<const LV2UI_Idle_Interface*>(
            descriptor->extension_data(LV2_UI__idleInterface));
        EXPECT_NE(idleInterface, nullptr);
        return idleInterface != nullptr;
    }

    void close()
    {
        if (!handle) return;
        descriptor->cleanup(handle);
        handle = nullptr;
        drain();
    }

    void portEvent(uint32_t port, float value)
    {
        descriptor->port_event(handle, port, sizeof value, 0, &value);
    }

    void idle()
    {
        EXPECT_EQ(idleInterface->idle(handle), 0);
        drain();
    }

    // The host's own events are of no use here; its queue is kept empty.
    void drain()
    {
        while (XPending(host->display()) > 0)
        {
            XEvent e;
            XNextEvent(host->display(), &e);
        }
    }

    bool idleUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return x11test::idleUntil([this] { idle(); }, done, timeout);
    }

    // Runs an xdotool script while the host idles the UI.
    void act(const std::string& script)
    {
        ChildProcess child(xdotool(script));
        idleUntil([&] { return child.finished(); }, std::chrono::seconds(10));
        EXPECT_TRUE(child.finished() && child.exitCode() == 0) << "xdotool " << script;
    }

    ::Window openInNewHostWindow()
    {
        const ::Window top = host->createTopLevel(kHostX, kHostY, kWidth, kHeight);
        EXPECT_TRUE(open(top));
        return top;
    }

    Image screen() { return host->screenshot(kHostX, kHostY, kWidth, kHeight); }

    ::testing::AssertionResult showsWithin(const Image& expected, const std::string& name, int x0,
                                           int y0, int x1, int y1)
    {
        return screenShows([this] { return screen(); },
                           [this](const std::function<bool()>& done) { return idleUntil(done); },
                           expected, name, "lv2", x0, y0, x1, y1);
    }
    ::testing::AssertionResult shows(const Image& expected, const std::string& name)
    {
        return showsWithin(expected, name, 0, 0, kWidth, kHeight);
    }

    static void writeFunction(LV2UI_Controller controller, uint32_t port, uint32_t size,
                              uint32_t protocol, const void* buffer)
    {
        auto* self = static_cast<Lv2Ui*>(controller);
        EXPECT_EQ(size, sizeof(float));
        EXPECT_EQ(protocol, 0u);
        float value = 0.0f;
        std::memcpy(&value, buffer, sizeof value);
        self->writes.push_back({port, value});
        self->events.push_back("write " + std::to_string(port));
    }
    static void touchFunction(LV2UI_Feature_Handle h, uint32_t port, bool grabbed)
    {
        auto* self = static_cast<Lv2Ui*>(h);
        self->touches.push_back({port, grabbed});
        self->events.push_back((grabbed ? "grab " : "release ") + std::to_string(port));
    }
    static int resizeFunction(LV2UI_Feature_Handle h, int width, int height)
    {
        static_cast<Lv2Ui*>(h)->requestedSize = {width, height};
        return 0;
    }

    static inline UiDescription description;
    static inline void* library = nullptr;
    static inline const LV2UI_Descriptor* descriptor = nullptr;

    LV2UI_Touch touch{this, touchFunction};
    LV2UI_Resize resize{this, resizeFunction};
    LV2UI_Handle handle = nullptr;
    LV2UI_Widget widget = nullptr;
    const LV2UI_Idle_Interface* idleInterface = nullptr;
    std::vector<Write> writes;
    std::vector<Touch> touches;
    std::vector<std::string> events; // writes and touches in the order they came
    std::pair<int, int> requestedSize{0, 0};
};

TEST_F(Lv2Ui, DescriptionRequiresOnlyWhatThisHostOffers)
{
    ASSERT_FALSE(description.requiredFeatures.empty());
    for (const std::string& feature : description.requiredFeatures)
        EXPECT_TRUE(feature == LV2_UI__parent || feature == LV2_UI__idleInterface) << feature;
}

TEST_F(Lv2Ui, OpensIntoTheParentAsTheEditorDrawnWithTheDefaults)
{
    const ::Window top = openInNewHostWindow();
    const std::vector<::Window> kids = host->children(top);
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(widget), static_cast<uintptr_t>(kids[0]));
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(host->display(), kids[0], &a));
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(a.y, 0);
    EXPECT_EQ(a.width, kWidth);
    EXPECT_EQ(a.height, kHeight);
    EXPECT_EQ(a.map_state, IsViewable);
    EXPECT_EQ(requestedSize, std::make_pair(kWidth, kHeight));
    EXPECT_TRUE(shows(headlessEditor("", "lv2ui-open"), "lv2ui-open"));
    EXPECT_TRUE(writes.empty());

    close();
    EXPECT_TRUE(host->children(top).empty());
}

TEST_F(Lv2Ui, WithoutAParentItDoesNotInstantiate)
{
    const int windows = host->countWindows();
    EXPECT_FALSE(open(0, false));
    EXPECT_EQ(host->countWindows(), windows);
}

TEST_F(Lv2Ui, PortEventsFromTheHostUpdateTheDrawingAndAreNotWrittenBack)
{
    openInNewHostWindow();
    ASSERT_TRUE(shows(headlessEditor("", "lv2ui-events-before"), "lv2ui-events-before"));
    portEvent(0, 3.5f);
    portEvent(1, -2.0f);
    portEvent(2, 1.0f);
    // A minor: A B C D E F G on, C# D# F# G# A# off (ports 3 + pitch class)
    for (int p : {1, 3, 6, 8, 10})
        portEvent(3 + p, 0.0f);
    EXPECT_TRUE(shows(headlessEditor("--pitch 3.5 --formant -2 --scale 'A minor'", "lv2ui-events"),
                      "lv2ui-events"));
    // values between the effect's 10-cent steps show the step the plug-in takes
    portEvent(0, -7.26f);
    portEvent(1, 4.449f);
    EXPECT_TRUE(shows(headlessEditor("--pitch -7.3 --formant 4.4 --scale 'A minor'", "lv2ui-steps"),
                      "lv2ui-steps"));
    EXPECT_TRUE(writes.empty());
    EXPECT_TRUE(touches.empty());
}

TEST_F(Lv2Ui, ClicksOnANoteAndTheScaleSwitchReachTheWriteFunctionBetweenTouches)
{
    HALVERN_NEED_XDOTOOL();
    openInNewHostWindow();
    ASSERT_TRUE(shows(headlessEditor("", "lv2ui-click-before"), "lv2ui-click-before"));

    // Note switch E (port 7) spans x 256..272, y 48..112; the Scale switch (port 2) 192..240 x
    // 28..44. Every note starts on, Scale off.
    act("mousemove " + xdotoolPoint(264, 100) + " click 1");
    ASSERT_TRUE(idleUntil([&] { return touches.size() >= 2; }));
    act("mousemove " + xdotoolPoint(200, 36) + " click 1");
    ASSERT_TRUE(idleUntil([&] { return touches.size() >= 4; }));

    const std::vector<std::string> expected = {"grab 7", "write 7", "release 7",
                                               "grab 2", "write 2", "release 2"};
    EXPECT_EQ(events, expected);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].value, 0.0f);
    EXPECT_EQ(writes[1].value, 1.0f);
    EXPECT_TRUE(shows(headlessEditor("--scale C,C#,D,D#,F,F#,G,G#,A,A#,B", "lv2ui-click-after"),
                      "lv2ui-click-after"));

    // the host's echo of what the UI wrote changes nothing and is not written back
    portEvent(7, 0.0f);
    portEvent(2, 1.0f);
    idle();
    EXPECT_EQ(writes.size(), 2u);
}

TEST_F(Lv2Ui, DraggingThePitchKnobWritesSemitonesInTenCentSteps)
{
    HALVERN_NEED_XDOTOOL();
    openInNewHostWindow();
    ASSERT_TRUE(shows(headlessEditor("", "lv2ui-drag-before"), "lv2ui-drag-before"));

    // Press at the top of the knob (0 semitones), then 45 degrees, then its right side.
    const int r = 18;
    const int x45 = kPitchCentreX + static_cast<int>(std::lround(r * std::cos(M_PI / 4)));
    const int y45 = kPitchCentreY - static_cast<int>(std::lround(r * std::sin(M_PI / 4)));
    act("mousemove " + xdotoolPoint(kPitchCentreX, kPitchCentreY - r) + " mousedown 1 sleep 0.3" +
        " mousemove " + xdotoolPoint(x45, y45) + " sleep 0.3 mousemove " +
        xdotoolPoint(kPitchCentreX + r, kPitchCentreY) + " sleep 0.3 mouseup 1");
    ASSERT_TRUE(idleUntil([&] { return touches.size() >= 2; }));

    ASSERT_EQ(touches.size(), 2u);
    EXPECT_EQ(events.front(), "grab 0");
    EXPECT_EQ(events.back(), "release 0");
    ASSERT_GE(writes.size(), 3u);
    bool saw4 = false;
    for (size_t k = 0; k < writes.size(); ++k)
    {
        EXPECT_EQ(writes[k].port, 0u);
        const float tenths = writes[k].value * 10.0f;
        EXPECT_NEAR(tenths, std::round(tenths), 1e-4) << writes[k].value;
        if (k > 0)
        {
            EXPECT_GE(writes[k].value, writes[k - 1].value);
        }
        saw4 = saw4 || std::fabs(writes[k].value - 4.0f) < 0.3f; // 45 degrees: 0.6667 of the range
    }
    EXPECT_NEAR(writes.front().value, 0.0f, 0.25f);
    EXPECT_FLOAT_EQ(writes.back().value, 8.0f); // the right side: 0.8333 of the range
    EXPECT_TRUE(saw4);
    EXPECT_TRUE(showsWithin(headlessEditor("--pitch 8", "lv2ui-drag-after"), "lv2ui-drag-after",
                            112, 42, 144, 54));
}

TEST_F(Lv2Ui, OpeningAndClosingTwentyTimesLeavesNoWindowOrConnection)
{
    const ::Window top = host->createTopLevel(kHostX, kHostY, kWidth, kHeight);
    const Image expected = headlessEditor("", "lv2ui-cycles");
    auto cycle = [&](int k)
    {
        ASSERT_TRUE(open(top)) << "open " << k;
        EXPECT_TRUE(shows(expected, "lv2ui-cycles")) << "open " << k;
        close();
    };
    cycle(0);
    const int windows = host->countWindows();
    const int descriptors = openDescriptors();
    for (int k = 1; k <= 20; ++k)
        cycle(k);
    EXPECT_EQ(host->countWindows(), windows);
    EXPECT_TRUE(host->children(top).empty());
    EXPECT_EQ(openDescriptors(), descriptors) << "a display connection was left open";
    EXPECT_EQ(EditorHost::xErrors(), errorsBefore);
}

TEST_F(Lv2Ui, TheHostDestroyingItsWindowFirstLeavesNothingBehind)
{
    const int windows = host->countWindows();
    const int descriptors = openDescriptors();
    const ::Window top = openInNewHostWindow();
    idle();
    host->destroyWindow(top);
    for (int k = 0; k < 5; ++k)
        idle();
    close();
    EXPECT_EQ(host->countWindows(), windows);
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_EQ(EditorHost::xErrors(), errorsBefore);

    openInNewHostWindow();
    EXPECT_TRUE(shows(headlessEditor("", "lv2ui-reopen"), "lv2ui-reopen"));
}

} // namespace
