// The LV2 plug-in as an LV2 host loads it through lilv: its description, its latency port, and its
// audio against the VST 2.x library's for the same input, settings and block sizes, which must be
// identical sample for sample.
#include "f0signals.h"
#include "measure.h"
#include "render_options.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <lilv/lilv.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace
{

constexpr uint32_t kControlPorts = 15;
constexpr uint32_t kInputPort = 15;
constexpr uint32_t kOutputPort = 16;
constexpr uint32_t kLatencyPort = 17;

const char* const kSymbols[] = {"pitch",   "formant",  "scale",   "scale_c",  "scale_cs",
                                "scale_d", "scale_ds", "scale_e", "scale_f",  "scale_fs",
                                "scale_g", "scale_gs", "scale_a", "scale_as", "scale_b",
                                "in",      "out",      "latency"};

std::string fileUri(const std::string& folder)
{
    return "file://" + folder + "/";
}

// LV2's core vocabulary bundle and a built bundle, loaded as hosts load explicit bundles.
class Lv2World
{
public:
    explicit Lv2World(const char* builtBundle = HALVERN_LV2_BUNDLE,
                      const char* pluginUri = "urn:brakk:halvern")
        : world(lilv_world_new())
    {
        for (const std::string& bundle :
             {std::string(HALVERN_LV2_SPEC_DIR) + "/core.lv2", std::string(builtBundle)})
        {
            LilvNode* uri = lilv_new_uri(world, fileUri(bundle).c_str());
            lilv_world_load_bundle(world, uri);
            lilv_node_free(uri);
        }
        lilv_world_load_specifications(world);
        lilv_world_load_plugin_classes(world);
        LilvNode* uri = lilv_new_uri(world, pluginUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    ~Lv2World() { lilv_world_free(world); }
    Lv2World(const Lv2World&) = delete;
    Lv2World& operator=(const Lv2World&) = delete;

    LilvNode* uri(const char* text) { return lilv_new_uri(world, text); }

    LilvWorld* world;
    const LilvPlugin* plugin = nullptr;
};

// A node the test owns.
struct Node
{
    explicit Node(LilvNode* n) : node(n) {}
    ~Node() { lilv_node_free(node); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    LilvNode* node;
};

// Settings at one point of the stream, in the units of the LV2 ports.
struct Settings
{
    float pitch = 0.0f;
    float formant = 0.0f;
    bool scale = false;
    std::string notes = "chromatic";
};

// The settings from one run call on (the call's index in the block schedule).
struct Change
{
    size_t call;
    Settings settings;
};

// One LV2 instance with its ports connected to buffers of its own.
class Lv2Instance
{
public:
    Lv2Instance(const LilvPlugin* plugin, double rate)
    {
        instance = lilv_plugin_instantiate(plugin, rate, nullptr);
        if (!instance) return;
        for (uint32_t k = 0; k < kControlPorts; ++k)
            lilv_instance_connect_port(instance, k, &controls[k]);
        lilv_instance_connect_port(instance, kLatencyPort, &latency);
    }
    ~Lv2Instance()
    {
        if (instance) lilv_instance_free(instance);
    }
    Lv2Instance(const Lv2Instance&) = delete;
    Lv2Instance& operator=(const Lv2Instance&) = delete;

    void set(const Settings& s)
    {
        controls[0] = s.pitch;
        controls[1] = s.formant;
        controls[2] = s.scale ? 1.0f : 0.0f;
        const render::NoteSet notes = render::parseScale(s.notes);
        for (int p = 0; p < 12; ++p)
            controls[3 + p] = notes[p] ? 1.0f : 0.0f;
    }

    void run(const float* in, float* out, uint32_t frames)
    {
        lilv_instance_connect_port(instance, kInputPort, const_cast<float*>(in));
        lilv_instance_connect_port(instance, kOutputPort, out);
        lilv_instance_run(instance, frames);
    }

    LilvInstance* instance = nullptr;
    // The port defaults, as a host sets them before the first run.
    float controls[kControlPorts] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    float latency = -1.0f;
};

// Calls of irregular lengths, as hosts make them when the buffer size or the transport changes.
std::vector<uint32_t> schedule(size_t total)
{
    static const uint32_t pattern[] = {512, 64, 1, 333, 1024, 4096, 17, 2048, 128, 700};
    std::vector<uint32_t> calls;
    size_t done = 0;
    for (size_t k = 0; done < total; ++k)
    {
        const uint32_t n = static_cast<uint32_t>(
            std::min<size_t>(pattern[k % (sizeof pattern / sizeof pattern[0])], total - done));
        calls.push_back(n);
        done += n;
    }
    return calls;
}

const Settings* settingsAt(const std::vector<Change>& changes, size_t call)
{
    for (const Change& c : changes)
        if (c.call == call) return &c.settings;
    return nullptr;
}

// initialControls, where given, are the control ports' values before activation (a preset's).
std::vector<float> renderLv2(const LilvPlugin* plugin, double rate, const std::vector<float>& input,
                             const std::vector<Change>& changes,
                             const float* initialControls = nullptr)
{
    Lv2Instance lv2(plugin, rate);
    EXPECT_NE(lv2.instance, nullptr);
    if (!lv2.instance) return {};
    if (initialControls) std::copy(initialControls, initialControls + kControlPorts, lv2.controls);
    lilv_instance_activate(lv2.instance);
    std::vector<float> output(input.size());
    size_t at = 0;
    const auto calls = schedule(input.size());
    for (size_t k = 0; k < calls.size(); ++k)
    {
        if (const Settings* s = settingsAt(changes, k)) lv2.set(*s);
        lv2.run(input.data() + at, output.data() + at, calls[k]);
        at += calls[k];
    }
    lilv_instance_deactivate(lv2.instance);
    return output;
}

// The same through the VST 2.x library: the semitones mapped to host values by the renderer's
// own mapping, set before the processReplacing call that starts where the LV2 run call starts.
std::vector<float> renderVst(double rate, const std::vector<float>& input,
                             const std::vector<Change>& changes)
{
    auto host = testsupport::loadPlugin();
    host->setSampleRate(static_cast<float>(rate));
    host->resume();
    std::vector<float> output(input.size());
    size_t at = 0;
    const auto calls = schedule(input.size());
    for (size_t k = 0; k < calls.size(); ++k)
    {
        if (const Settings* s = settingsAt(changes, k))
        {
            host->setParameter(render::kPitchParameter, render::semitonesToHostValue(s->pitch));
            host->setParameter(render::kFormantParameter, render::semitonesToHostValue(s->formant));
            host->setParameter(render::kScaleParameter, s->scale ? 1.0f : 0.0f);
            const render::NoteSet notes = render::parseScale(s->notes);
            for (int p = 0; p < 12; ++p)
                host->setParameter(render::kFirstNoteParameter + p, notes[p] ? 1.0f : 0.0f);
        }
        host->process(input.data() + at, output.data() + at, static_cast<VstInt32>(calls[k]));
        at += calls[k];
    }
    return output;
}

// A sung line: a glide and a vibrato, so that shifts and scale snapping have work to do.
std::vector<float> voice(double rate, double seconds)
{
    const size_t length = static_cast<size_t>(seconds * rate);
    const auto f0 = [](double t)
    {
        return (t < 1.2 ? 170.0 + 60.0 * t : 242.0) *
               (1.0 + 0.02 * std::sin(2 * f0signal::kPi * 5.3 * t));
    };
    const auto v = f0signal::vowel(f0, rate, length);
    return std::vector<float>(v.begin(), v.end());
}

// Every note from C3 up to B3, each held 0.15 s and sung 30 cents sharp or flat by turns, so that
// a key with one note wrong sounds different from the key.
std::vector<float> chromaticVoice(double rate)
{
    const auto f0 = [](double t)
    {
        const int note = std::min(11, static_cast<int>(t / 0.15));
        const double cents = note % 2 ? -30.0 : 30.0;
        return 130.81 * std::exp2((note + cents / 100.0) / 12.0);
    };
    const auto v = f0signal::vowel(f0, rate, static_cast<size_t>(12 * 0.15 * rate));
    return std::vector<float>(v.begin(), v.end());
}

size_t differingSamples(const std::vector<float>& a, const std::vector<float>& b)
{
    if (a.size() != b.size()) return std::max(a.size(), b.size());
    size_t n = 0;
    for (size_t k = 0; k < a.size(); ++k)
        if (std::memcmp(&a[k], &b[k], sizeof(float)) != 0) ++n;
    return n;
}

double rms(const std::vector<float>& x)
{
    double sum = 0.0;
    for (float v : x)
        sum += static_cast<double>(v) * v;
    return x.empty() ? 0.0 : std::sqrt(sum / x.size());
}

std::vector<std::string> commandOutputLines(const std::string& command)
{
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return lines;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe))
    {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        lines.push_back(text);
    }
    pclose(pipe);
    return lines;
}

class Lv2Plugin : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(world.plugin, nullptr) << "no urn:brakk:halvern in the bundle";
    }
    Lv2World world;
};

TEST_F(Lv2Plugin, DescribesItselfAsTheEffectReportsItself)
{
    const LilvPlugin* p = world.plugin;
    auto host = testsupport::loadPlugin();

    Node name(lilv_plugin_get_name(p));
    EXPECT_STREQ(lilv_node_as_string(name.node), host->productString().c_str());
    EXPECT_EQ(host->productString(), "Halvern");
    Node author(lilv_plugin_get_author_name(p));
    ASSERT_NE(author.node, nullptr);
    EXPECT_STREQ(lilv_node_as_string(author.node), host->vendorString().c_str());
    EXPECT_EQ(host->vendorString(), "Brakk");
    EXPECT_STREQ(lilv_node_as_uri(lilv_plugin_class_get_uri(lilv_plugin_get_class(p))),
                 LV2_CORE__PitchPlugin);

    Node bundle(world.uri(fileUri(HALVERN_LV2_BUNDLE).c_str()));
    EXPECT_TRUE(lilv_node_equals(lilv_plugin_get_bundle_uri(p), bundle.node))
        << "loaded from " << lilv_node_as_uri(lilv_plugin_get_bundle_uri(p));

    // hard real-time capable, and needs nothing from the host
    LilvNodes* required = lilv_plugin_get_required_features(p);
    EXPECT_EQ(lilv_nodes_size(required), 0u);
    lilv_nodes_free(required);
    Node hardRT(world.uri(LV2_CORE__hardRTCapable));
    EXPECT_TRUE(lilv_plugin_has_feature(p, hardRT.node));

    // the project's version, as the release and as LV2's minor and micro version
    int major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(HALVERN_VERSION, "%d.%d.%d", &major, &minor, &patch), 3);
    Node minorPredicate(world.uri(LV2_CORE__minorVersion));
    Node microPredicate(world.uri(LV2_CORE__microVersion));
    LilvNodes* minors = lilv_plugin_get_value(p, minorPredicate.node);
    LilvNodes* micros = lilv_plugin_get_value(p, microPredicate.node);
    ASSERT_EQ(lilv_nodes_size(minors), 1u);
    ASSERT_EQ(lilv_nodes_size(micros), 1u);
    EXPECT_EQ(lilv_node_as_int(lilv_nodes_get_first(minors)), 2 * (100 * major + minor));
    EXPECT_EQ(lilv_node_as_int(lilv_nodes_get_first(micros)), 2 * patch);
    lilv_nodes_free(minors);
    lilv_nodes_free(micros);
    Node release(world.uri("http://usefulinc.com/ns/doap#release"));
    Node revision(world.uri("http://usefulinc.com/ns/doap#revision"));
    LilvNode* releaseNode =
        lilv_world_get(world.world, lilv_plugin_get_uri(p), release.node, nullptr);
    ASSERT_NE(releaseNode, nullptr);
    Node revisionNode(lilv_world_get(world.world, releaseNode, revision.node, nullptr));
    lilv_node_free(releaseNode);
    ASSERT_NE(revisionNode.node, nullptr);
    EXPECT_STREQ(lilv_node_as_string(revisionNode.node), HALVERN_VERSION);
}

TEST_F(Lv2Plugin, PortsAreTheEffectsParametersInItsOrderThenAudioAndLatency)
{
    const LilvPlugin* p = world.plugin;
    auto host = testsupport::loadPlugin();
    ASSERT_EQ(lilv_plugin_get_num_ports(p), 18u);
    Node input(world.uri(LV2_CORE__InputPort));
    Node output(world.uri(LV2_CORE__OutputPort));
    Node control(world.uri(LV2_CORE__ControlPort));
    Node audio(world.uri(LV2_CORE__AudioPort));
    Node toggled(world.uri(LV2_CORE__toggled));
    Node reportsLatency(world.uri(LV2_CORE__reportsLatency));
    Node designation(world.uri(LV2_CORE__designation));
    Node latencyDesignation(world.uri(LV2_CORE__latency));

    std::vector<float> minimum(18), maximum(18), defaults(18);
    lilv_plugin_get_port_ranges_float(p, minimum.data(), maximum.data(), defaults.data());
    for (uint32_t k = 0; k < 18; ++k)
    {
        SCOPED_TRACE("port " + std::to_string(k));
        const LilvPort* port = lilv_plugin_get_port_by_index(p, k);
        ASSERT_NE(port, nullptr);
        EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(p, port)), kSymbols[k]);
        Node name(lilv_port_get_name(p, port));
        if (k < kControlPorts)
        {
            EXPECT_EQ(lilv_node_as_string(name.node),
                      host->parameterName(static_cast<VstInt32>(k)));
            EXPECT_TRUE(lilv_port_is_a(p, port, input.node));
            EXPECT_TRUE(lilv_port_is_a(p, port, control.node));
            // the defaults are the effect's own settings when it starts
            const float effectValue = host->getParameter(static_cast<VstInt32>(k));
            if (k < 2)
            {
                EXPECT_EQ(minimum[k], -12.0f);
                EXPECT_EQ(maximum[k], 12.0f);
                EXPECT_EQ(render::semitonesToHostValue(defaults[k]), effectValue);
                EXPECT_FALSE(lilv_port_has_property(p, port, toggled.node));
            }
            else
            {
                EXPECT_EQ(minimum[k], 0.0f);
                EXPECT_EQ(maximum[k], 1.0f);
                EXPECT_EQ(defaults[k], effectValue);
                EXPECT_TRUE(lilv_port_has_property(p, port, toggled.node));
            }
        }
        else if (k == kLatencyPort)
        {
            EXPECT_TRUE(lilv_port_is_a(p, port, output.node));
            EXPECT_TRUE(lilv_port_is_a(p, port, control.node));
            EXPECT_TRUE(lilv_port_has_property(p, port, reportsLatency.node));
            LilvNodes* d = lilv_port_get_value(p, port, designation.node);
            ASSERT_EQ(lilv_nodes_size(d), 1u);
            EXPECT_TRUE(lilv_node_equals(lilv_nodes_get_first(d), latencyDesignation.node));
            lilv_nodes_free(d);
        }
        else
        {
            EXPECT_TRUE(lilv_port_is_a(p, port, audio.node));
            EXPECT_TRUE(lilv_port_is_a(p, port, k == kInputPort ? input.node : output.node));
        }
    }
    EXPECT_EQ(lilv_plugin_get_latency_port_index(p), kLatencyPort);
}

TEST_F(Lv2Plugin, LatencyPortCarriesTheEffectsDelayAtTheHostsRate)
{
    for (double rate : {44100.0, 48000.0})
    {
        SCOPED_TRACE(rate);
        auto host = testsupport::loadPlugin();
        host->setSampleRate(static_cast<float>(rate));
        const int vstDelay = host->effect()->initialDelay;

        Lv2Instance lv2(world.plugin, rate);
        ASSERT_NE(lv2.instance, nullptr);
        lilv_instance_activate(lv2.instance);
        float in[1] = {0.0f};
        float out[1] = {0.0f};
        lv2.run(in, out, 0);
        EXPECT_EQ(lv2.latency, static_cast<float>(vstDelay));
        if (rate == 44100.0)
        {
            EXPECT_EQ(lv2.latency, 9765.0f);
        }
        lilv_instance_deactivate(lv2.instance);
    }
}

TEST_F(Lv2Plugin, RatesTheEffectCannotRunAtRefuseToInstantiate)
{
    for (double rate : {8000.0, 10999.0, 384001.0, 768000.0})
    {
        LilvInstance* instance = lilv_plugin_instantiate(world.plugin, rate, nullptr);
        EXPECT_EQ(instance, nullptr) << rate;
        if (instance) lilv_instance_free(instance);
    }
    LilvInstance* instance = lilv_plugin_instantiate(world.plugin, 11025.0, nullptr);
    EXPECT_NE(instance, nullptr);
    if (instance) lilv_instance_free(instance);
}

TEST_F(Lv2Plugin, OutputIsTheVstLibrarysSampleForSample)
{
    struct Case
    {
        const char* name;
        double rate;
        std::vector<Change> changes;
    };
    const std::vector<Case> cases = {
        {"44k1-shift-scale",
         44100.0,
         {{0, {3.5f, -2.0f, true, "A minor"}}, {40, {-7.3f, 4.5f, true, "A minor"}}}},
        {"48k-shift-then-scale",
         48000.0,
         {{0, {-5.0f, 1.2f, false, "chromatic"}},
          {25, {0.0f, 0.0f, true, "C major"}},
          {61, {12.0f, -12.0f, true, "C,D,E,G,A"}}}},
        {"44k1-defaults", 44100.0, {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto input = voice(c.rate, 3.0);
        const auto fromLv2 = renderLv2(world.plugin, c.rate, input, c.changes);
        const auto fromVst = renderVst(c.rate, input, c.changes);
        EXPECT_EQ(differingSamples(fromLv2, fromVst), 0u);
        // and there was something to compare: the voice came through
        EXPECT_GT(rms(fromVst), 0.3 * rms(input));
    }
}

TEST_F(Lv2Plugin, AControlChangeLandsOnTheFirstSampleOfTheRunCallThatCarriesIt)
{
    // The same change one call later is a different stream, so the comparison above sees when a
    // change lands.
    const auto input = voice(44100.0, 2.0);
    const Settings before{0.0f, 0.0f, false, "chromatic"};
    const Settings after{5.0f, 0.0f, false, "chromatic"};
    const auto vstAt30 = renderVst(44100.0, input, {{0, before}, {30, after}});
    const auto lv2At30 = renderLv2(world.plugin, 44100.0, input, {{0, before}, {30, after}});
    const auto lv2At31 = renderLv2(world.plugin, 44100.0, input, {{0, before}, {31, after}});
    EXPECT_EQ(differingSamples(lv2At30, vstAt30), 0u);
    EXPECT_GT(differingSamples(lv2At31, vstAt30), 0u);
}

TEST_F(Lv2Plugin, ReactivationStartsOverAsANewInstance)
{
    const double rate = 44100.0;
    const auto first = voice(rate, 1.0);
    const auto second = voice(rate, 2.0);
    const std::vector<Change> changes = {{0, {2.0f, 0.0f, true, "C major"}}};
    const auto fresh = renderLv2(world.plugin, rate, second, changes);

    Lv2Instance lv2(world.plugin, rate);
    ASSERT_NE(lv2.instance, nullptr);
    lv2.set(changes[0].settings);
    lilv_instance_activate(lv2.instance);
    std::vector<float> discarded(first.size());
    lv2.run(first.data(), discarded.data(), static_cast<uint32_t>(first.size()));
    lilv_instance_deactivate(lv2.instance);

    lilv_instance_activate(lv2.instance);
    std::vector<float> again(second.size());
    size_t at = 0;
    for (uint32_t n : schedule(second.size()))
    {
        lv2.run(second.data() + at, again.data() + at, n);
        at += n;
    }
    lilv_instance_deactivate(lv2.instance);
    EXPECT_EQ(differingSamples(again, fresh), 0u);
}

// Just enough of a URID map for lilv to build preset states.
class UridMap
{
public:
    LV2_URID_Map* feature() { return &map; }

private:
    static LV2_URID toUrid(LV2_URID_Map_Handle handle, const char* uri)
    {
        auto& uris = static_cast<UridMap*>(handle)->uris;
        const auto found = std::find(uris.begin(), uris.end(), uri);
        if (found != uris.end()) return static_cast<LV2_URID>(found - uris.begin() + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    std::vector<std::string> uris;
    LV2_URID_Map map{this, toUrid};
};

// A preset's port values as lilv restores them onto an instance (count: 16 with Live's retune);
// NaN where it sets none.
std::vector<float> presetControls(LilvWorld* world, UridMap& map, const LilvNode* preset,
                                  uint32_t count = kControlPorts)
{
    std::vector<float> controls(count, std::nanf(""));
    LilvState* state = lilv_state_new_from_world(world, map.feature(), preset);
    if (!state) return controls;
    const auto setValue =
        [](const char* symbol, void* user, const void* value, uint32_t size, uint32_t)
    {
        auto& c = *static_cast<std::vector<float>*>(user);
        for (uint32_t k = 0; k < c.size(); ++k)
            if (std::strcmp(symbol, k < 15 ? kSymbols[k] : "retune") == 0 && size == sizeof(float))
                std::memcpy(&c[k], value, sizeof(float));
    };
    lilv_state_restore(state, nullptr, setValue, &controls, 0, nullptr);
    lilv_state_free(state);
    return controls;
}

// Halvern's presets, and with count 16 Halvern Live's: the same with its natural Retune (50 ms),
// and Hard tune and Gentle (0 and 200 ms) with every note lit.
void checkPresets(Lv2World& world, uint32_t count)
{
    std::vector<float> minimum(22), maximum(22), defaults(22);
    lilv_plugin_get_port_ranges_float(world.plugin, minimum.data(), maximum.data(),
                                      defaults.data());
    Node presetClass(world.uri(LV2_PRESETS__Preset));
    Node labelPredicate(world.uri(LILV_NS_RDFS "label"));
    LilvNodes* presets = lilv_plugin_get_related(world.plugin, presetClass.node);
    UridMap map;
    const auto input = chromaticVoice(44100.0);
    std::set<std::string> labels;
    int keys = 0;
    LILV_FOREACH(nodes, i, presets)
    {
        const LilvNode* preset = lilv_nodes_get(presets, i);
        lilv_world_load_resource(world.world, preset);
        Node label(lilv_world_get(world.world, preset, labelPredicate.node, nullptr));
        ASSERT_NE(label.node, nullptr) << lilv_node_as_uri(preset);
        const std::string name = lilv_node_as_string(label.node);
        SCOPED_TRACE(name);
        EXPECT_TRUE(labels.insert(name).second) << "two presets share a label";

        const std::vector<float> controls = presetControls(world.world, map, preset, count);
        for (uint32_t k = 0; k < count; ++k)
        {
            EXPECT_GE(controls[k], minimum[k]) << k;
            EXPECT_LE(controls[k], maximum[k]) << k;
            if (k >= 2 && k < 15)
            {
                EXPECT_TRUE(controls[k] == 0.0f || controls[k] == 1.0f) << kSymbols[k];
            }
        }
        if (name == "Off")
        {
            EXPECT_TRUE(std::equal(controls.begin(), controls.end(), defaults.begin()));
        }
        if (count == 16)
        {
            EXPECT_EQ(controls[15], name == "Hard tune" ? 0.0f : name == "Gentle" ? 200.0f : 50.0f);
        }
        const bool isKey = name.size() > 6 && (name.compare(name.size() - 6, 6, " major") == 0 ||
                                               name.compare(name.size() - 6, 6, " minor") == 0);
        if (!isKey && name != "Chromatic" && name != "Hard tune" && name != "Gentle") continue;
        keys += isKey;

        // a key lights exactly its seven notes, with Scale on and no shift
        const render::NoteSet notes = render::parseScale(isKey ? name : "chromatic");
        EXPECT_EQ(controls[0], 0.0f);
        EXPECT_EQ(controls[1], 0.0f);
        EXPECT_EQ(controls[2], 1.0f);
        for (int p = 0; p < 12; ++p)
            EXPECT_EQ(controls[3 + p], notes[p] ? 1.0f : 0.0f) << kSymbols[3 + p];
        if (count == 16) continue; // Live's output: Lv2LivePlugin
        const Settings byHand{0.0f, 0.0f, true, isKey ? name : "chromatic"};
        EXPECT_EQ(differingSamples(renderLv2(world.plugin, 44100.0, input, {}, controls.data()),
                                   renderVst(44100.0, input, {{0, byHand}})),
                  0u);
    }
    lilv_nodes_free(presets);
    EXPECT_EQ(keys, 24);
    EXPECT_EQ(labels.size(), count == 16 ? 34u : 32u);
    EXPECT_TRUE(labels.count("Chromatic") && labels.count("Off"));
}

TEST_F(Lv2Plugin, FactoryPresetsAreInRangeKeysLightTheirNotesAndSoundAsSetByHand)
{
    checkPresets(world, kControlPorts);
}

TEST(Lv2LivePlugin, FactoryPresetsAreHalvernsWithRetuneAndTwoOfItsOwn)
{
    Lv2World world(HALVERN_LIVE_LV2_BUNDLE, "urn:brakk:halvern-live");
    checkPresets(world, 16);
}

// Halvern Live's bundle: its ports as its VST 2.x library reports its parameters (Halvern's
// fifteen, then retune in milliseconds, then audio and latency, then MIDI in and out and the held
// keys), its latency, and its output identical to that library's for the same input, settings and
// calls. It needs urid:map.
TEST(Lv2LivePlugin, PortsLatencyAndOutputAreTheVstLibrarys)
{
    Lv2World world(HALVERN_LIVE_LV2_BUNDLE, "urn:brakk:halvern-live");
    const LilvPlugin* p = world.plugin;
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(lilv_plugin_get_num_ports(p), 22u);
    PluginHost host(HALVERN_LIVE_PLUGIN_PATH);
    std::vector<float> minimum(22), maximum(22), defaults(22);
    lilv_plugin_get_port_ranges_float(p, minimum.data(), maximum.data(), defaults.data());
    const char* const midi[] = {"midi_in", "midi_out", "held"};
    for (uint32_t k = 0; k < 22; ++k)
    {
        const LilvPort* port = lilv_plugin_get_port_by_index(p, k);
        const char* symbol = lilv_node_as_string(lilv_port_get_symbol(p, port));
        EXPECT_STREQ(symbol, k < 15    ? kSymbols[k]
                             : k == 15 ? "retune"
                             : k < 19  ? kSymbols[k - 1]
                                       : midi[k - 19]);
        Node name(lilv_port_get_name(p, port));
        if (k < 16)
        {
            EXPECT_EQ(lilv_node_as_string(name.node), host.parameterName(k)) << k;
        }
    }
    EXPECT_EQ(minimum[15], 0.0f);
    EXPECT_EQ(maximum[15], 400.0f);
    EXPECT_EQ(defaults[15] / 400.0f, host.getParameter(15));
    EXPECT_EQ(lilv_plugin_get_latency_port_index(p), 18u);
    EXPECT_EQ(maximum[21], 4095.0f);
    EXPECT_EQ(lilv_plugin_instantiate(p, 44100.0, nullptr), nullptr);

    UridMap map;
    const LV2_Feature mapFeature{LV2_URID__map, map.feature()};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    for (double rate : {44100.0, 48000.0})
    {
        PluginHost vst(HALVERN_LIVE_PLUGIN_PATH);
        vst.setSampleRate(static_cast<float>(rate));
        vst.resume();
        LilvInstance* lv2 = lilv_plugin_instantiate(p, rate, features);
        ASSERT_NE(lv2, nullptr);
        float controls[22]; // the controls, then the latency port's output
        std::copy(defaults.begin(), defaults.end(), controls);
        for (uint32_t k : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 18})
            lilv_instance_connect_port(lv2, k, &controls[k]);
        lilv_instance_activate(lv2);
        const auto input = voice(rate, 1.5);
        std::vector<float> fromLv2(input.size()), fromVst(input.size());
        size_t at = 0, call = 0;
        for (uint32_t n : schedule(input.size()))
        {
            if (call % 20 == 0) // Pitch +3.5 and Retune 120 ms, then -1 and 0 ms, and so on
            {
                const bool second = call % 40 != 0;
                controls[0] = second ? -1.0f : 3.5f;
                controls[15] = second ? 0.0f : 120.0f;
                vst.setParameter(0, render::semitonesToHostValue(controls[0]));
                vst.setParameter(15, controls[15] / 400.0f);
            }
            lilv_instance_connect_port(lv2, 16, const_cast<float*>(input.data() + at));
            lilv_instance_connect_port(lv2, 17, fromLv2.data() + at);
            lilv_instance_run(lv2, n);
            vst.process(input.data() + at, fromVst.data() + at, static_cast<VstInt32>(n));
            at += n;
            ++call;
        }
        lilv_instance_free(lv2);
        EXPECT_EQ(controls[18], static_cast<float>(vst.effect()->initialDelay)) << rate;
        EXPECT_EQ(differingSamples(fromLv2, fromVst), 0u) << rate;
        EXPECT_GT(rms(fromVst), 0.1 * rms(input)) << rate; // something came through to compare
    }
    EXPECT_EQ(host.effect()->initialDelay, 512);
}

// ---- Halvern Live's MIDI through both entry points: effProcessEvents and audioMasterProcessEvents
// of its VST 2.x library, the atom ports of its LV2 one.

// A message for the block holding sample `at`, stamped `offset` from there (a VST 2.x event takes
// its first three bytes). kVstSysExType: a SysEx event (LV2: an atom of another type); a byteSize
// of 8: too small (LV2: two bytes).
struct MidiIn
{
    size_t at;
    std::vector<uint8_t> bytes;
    int32_t offset = 0;
    VstInt32 type = kVstMidiType, byteSize = sizeof(VstMidiEvent);
};
struct Played
{
    std::vector<float> output;
    std::vector<PluginHost::SentMidi> sent;
    float held; // LV2: the held port at the end
};

// input through Live's VST 2.x library (lv2: its LV2 one) in host blocks of the given lengths,
// Scale off, Retune 0; suspended and resumed (deactivated and activated) before block restart.
Played play(bool lv2, const std::vector<float>& input, const std::vector<uint32_t>& blocks,
            const std::vector<MidiIn>& events, size_t restart = SIZE_MAX)
{
    Played p{std::vector<float>(input.size()), {}, 0.0f};
    PluginHost vst(HALVERN_LIVE_PLUGIN_PATH);
    vst.setParameter(15, 0.0f);
    Lv2World world(HALVERN_LIVE_LV2_BUNDLE, "urn:brakk:halvern-live");
    UridMap map;
    const auto urid = [&](const char* uri)
    { return map.feature()->map(map.feature()->handle, uri); };
    const LV2_Feature feature{LV2_URID__map, map.feature()};
    const LV2_Feature* features[] = {&feature, nullptr};
    LilvInstance* plugin = lv2 ? lilv_plugin_instantiate(world.plugin, 44100.0, features) : nullptr;
    float ports[22] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
    std::vector<uint64_t> atoms(16384); // MIDI in, then out
    auto* in = reinterpret_cast<LV2_Atom_Sequence*>(atoms.data());
    auto* out = reinterpret_cast<LV2_Atom_Sequence*>(atoms.data() + 8192);
    for (uint32_t k = 0; plugin && k < 22; ++k)
        lilv_instance_connect_port(plugin, k, k == 19 ? in : k == 20 ? out : (void*)&ports[k]);
    plugin ? lilv_instance_activate(plugin) : vst.resume();
    auto e = events.begin();
    for (size_t b = 0, at = 0; b < blocks.size(); at += blocks[b++])
    {
        if (b == restart) plugin ? lilv_instance_deactivate(plugin) : vst.suspend();
        if (b == restart) plugin ? lilv_instance_activate(plugin) : vst.resume();
        MidiEvents<512> list;
        *in = {{sizeof(LV2_Atom_Sequence_Body), urid(LV2_ATOM__Sequence)}, {0, 0}};
        for (; e != events.end() && e->at < at + blocks[b]; ++e)
        {
            const int32_t frame = static_cast<int32_t>(e->at - at) + e->offset;
            list.add(frame, {e->bytes[0], e->bytes[1], e->bytes[2]}, e->type, e->byteSize);
            auto* atom = lv2_atom_sequence_end(&in->body, in->atom.size);
            *atom = {{frame},
                     {e->byteSize < 24 ? 2 : static_cast<uint32_t>(e->bytes.size()),
                      urid(e->type == kVstMidiType ? LV2_MIDI__MidiEvent : LV2_ATOM__Int)}};
            std::memcpy(atom + 1, e->bytes.data(), e->bytes.size());
            in->atom.size += lv2_atom_pad_size(sizeof(LV2_Atom_Event) + atom->body.size);
        }
        out->atom = {8192 * 8 - sizeof(LV2_Atom), 0};
        if (!plugin && list.list.numEvents) vst.dispatch(effProcessEvents, 0, 0, list.list.get());
        if (!plugin) vst.process(input.data() + at, p.output.data() + at, blocks[b]);
        if (!plugin) continue;
        lilv_instance_connect_port(plugin, 16, const_cast<float*>(input.data() + at));
        lilv_instance_connect_port(plugin, 17, p.output.data() + at);
        lilv_instance_run(plugin, blocks[b]);
        LV2_ATOM_SEQUENCE_FOREACH(out, m)
        {
            const auto* bytes = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&m->body));
            p.sent.push_back(
                {static_cast<int64_t>(at) + m->time.frames, {bytes[0], bytes[1], bytes[2]}});
        }
    }
    p.sent = plugin ? p.sent : vst.sentMidi();
    if (plugin) lilv_instance_free(plugin);
    p.held = ports[21];
    return p;
}

// A voice between A3 and A#3: A# pressed 3616 samples into a host block corrects it to A# from
// there, and released leaves it as sung; the same as the host cutting its blocks at the key's
// samples, through either entry point, and not the same as the key at the block's start.
TEST(LiveMidi, AKeyHeldMidBlockCorrectsFromItsSample)
{
    const auto v = f0signal::vowel(f0signal::steady(226.0), 44100.0, 65536);
    const std::vector<float> input(v.begin(), v.end());
    const std::vector<uint32_t> blocks(16, 4096);
    std::vector<uint32_t> cut = blocks; // blocks 4 and 10 cut at the keys
    cut[10] = 4040;
    cut.insert(cut.begin() + 11, 56);
    cut[4] = 3616;
    cut.insert(cut.begin() + 5, 480);
    const std::vector<MidiIn> keys = {{20000, {0x90, 58, 100}}, {45000, {0x80, 58, 0}}};
    const Played vst = play(false, input, blocks, keys);
    for (const auto& p : {play(true, input, blocks, keys), play(false, input, cut, keys),
                          play(true, input, cut, keys)})
        EXPECT_EQ(differingSamples(p.output, vst.output), 0u);
    const Played early = play(false, input, blocks, {{20000, {0x90, 58, 100}, -3616}, keys[1]});
    EXPECT_GT(differingSamples(early.output, vst.output), 0u);
    const auto f0 = [&](size_t from)
    { return measure::f0ByAutocorrelation(vst.output, from, from + 6000, 44100.0); };
    EXPECT_NEAR(measure::cents(f0(12000), 226.0), 0.0, 5.0);
    EXPECT_NEAR(measure::cents(f0(23000), 233.08), 0.0, 5.0);
    EXPECT_NEAR(measure::cents(f0(48000), 226.0), 0.0, 5.0);
}

// A sung melody (notes 20 to 40 cents off, some after a rest, some straight after another) goes
// out alike through either entry point in irregular host blocks: on channel 1, each note on
// (velocity > 0) then its note off, each note on within 50 ms of the note's start in the output
// plus the 50 ms that make it a note. A suspend in the last note ends it at the next block's start.
TEST(LiveMidi, TheNotesSungGoOutAtTheOutputsTime)
{
    const struct
    {
        int note;
        double cents, start, end; // seconds
    } melody[] = {{57, 30, 0.2, 0.5},  {60, -40, 0.5, 0.9}, {62, 20, 0.9, 1.2},
                  {64, -25, 1.5, 1.8}, {59, 35, 1.8, 2.3},  {67, -20, 2.6, 3.0}};
    std::vector<float> input(145530, 0.0f); // each note a vowel, rests where notes do not meet
    for (const auto& m : melody)
    {
        const auto f0 = 440.0 * std::exp2((m.note - 69 + m.cents / 100.0) / 12.0);
        const auto note = f0signal::vowel(f0signal::steady(f0), 44100.0, (m.end - m.start) * 44100);
        std::copy(note.begin(), note.end(), input.begin() + m.start * 44100);
    }
    const auto blocks = schedule(input.size());
    size_t restart = 0, at = 0;
    while (at < 2.8 * 44100)
        at += blocks[restart++];
    for (const size_t r : {SIZE_MAX, restart})
    {
        const Played vst = play(false, input, blocks, {}, r);
        EXPECT_EQ(vst.sent, play(true, input, blocks, {}, r).sent);
        ASSERT_EQ(vst.sent.size(), r == restart ? 14u : 12u); // the last note begun again
        for (size_t k = 0; k < vst.sent.size(); k += 2)
        {
            const auto& on = vst.sent[k];
            EXPECT_TRUE(on.bytes[0] == 0x90 && on.bytes[2] > 0) << k;
            EXPECT_EQ(vst.sent[k + 1].bytes, (std::array<unsigned char, 3>{0x80, on.bytes[1], 0}));
            if (k / 2 >= 6) continue;
            EXPECT_EQ(on.bytes[1], melody[k / 2].note) << k;
            EXPECT_NEAR(on.frame / 44100.0, melody[k / 2].start + 512 / 44100.0 + 0.05, 0.05) << k;
        }
    }
}

// What a careless host or keyboard may send, in one block of a voice between A and A#: harmless
// through either entry point (the same finite output from both), holding the keys it should.
TEST(LiveMidi, BadInputIsHarmless)
{
    std::vector<MidiIn> crowd; // 300 events: 149 keys pressed and released, then D and F# held
    for (size_t k = 0; k < 298; ++k)
        crowd.push_back(
            {6144 + 5 * k, {uint8_t(k % 2 ? 0x80 : 0x90), uint8_t(40 + k / 2 % 40), 90}});
    crowd.push_back({8000, {0x90, 62, 90}});
    crowd.push_back({8100, {0x90, 66, 90}});
    const MidiIn c4{6144, {0x90, 60, 100}};
    const struct
    {
        const char* name;
        std::vector<MidiIn> events;
        int held; // pitch classes, bit 0 = A: C 8, D 32, E 128, F# 512
        size_t restart = SIZE_MAX;
    } cases[] = {
        {"note off without note on", {{6144, {0x80, 60, 64}}}, 0},
        {"note on of velocity 0", {c4, {6150, {0x90, 60, 0}}}, 0},
        {"300 events", crowd, 32 + 512},
        {"running status", {c4, {6150, {64, 100, 0}}}, 8},
        {"SysEx, other messages and events, a key on channel 16",
         {{6144, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
          {6144, {0x90, 61, 100}, 0, kVstSysExType},
          {6145, {0xB0, 7, 100}},
          {6146, {0xE0, 0, 64}},
          {6147, {0xC0, 5, 0}},
          {6148, {0xA0, 60, 64}},
          {6149, {0xF8, 0, 0}},
          {6150, {0x9F, 64, 100}}},
         128},
        {"stamped before the block and past its end",
         {{6144, {0x90, 60, 100}, -5}, {6144, {0x90, 64, 100}, 100000}},
         8 + 128},
        {"all notes off", {c4, {6145, {0x91, 64, 100}}, {6146, {0xB5, 123, 0}}}, 0},
        {"too small", {{6144, {0x90, 60, 100}, 0, kVstMidiType, 8}}, 0},
        {"released by a suspend", {c4}, 0, 4},
    };
    const auto v = f0signal::vowel(f0signal::steady(226.0), 44100.0, 10240);
    const std::vector<float> input(v.begin(), v.end());
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Played vst = play(false, input, std::vector<uint32_t>(5, 2048), c.events, c.restart);
        const Played lv2 = play(true, input, std::vector<uint32_t>(5, 2048), c.events, c.restart);
        EXPECT_TRUE(std::all_of(vst.output.begin(), vst.output.end(),
                                [](float x) { return std::isfinite(x); }));
        EXPECT_EQ(differingSamples(vst.output, lv2.output), 0u);
        EXPECT_EQ(lv2.held, c.held);
    }
}

TEST(Lv2Libraries, DspLibraryLoadsNeitherXlibNorCairoAndExportsOnlyItsDescriptor)
{
    const std::string dsp = std::string(HALVERN_LV2_BUNDLE) + "/halvern.so";
    const std::string ui = std::string(HALVERN_LV2_BUNDLE) + "/halvern_ui.so";
    int libraries = 0;
    for (const std::string& line : commandOutputLines("ldd '" + dsp + "'"))
    {
        ++libraries;
        EXPECT_EQ(line.find("libX11"), std::string::npos) << line;
        EXPECT_EQ(line.find("libcairo"), std::string::npos) << line;
        EXPECT_EQ(line.find("not found"), std::string::npos) << line;
    }
    EXPECT_GT(libraries, 2);

    auto exported = [](const std::string& path)
    {
        std::set<std::string> names;
        for (const std::string& line : commandOutputLines("nm -D --defined-only '" + path + "'"))
        {
            char address[64], type[8], name[400];
            if (std::sscanf(line.c_str(), "%63s %7s %399s", address, type, name) == 3)
                names.insert(name);
        }
        return names;
    };
    EXPECT_EQ(exported(dsp), std::set<std::string>{"lv2_descriptor"});
    EXPECT_EQ(exported(ui), std::set<std::string>{"lv2ui_descriptor"});
    const std::string live = std::string(HALVERN_LIVE_LV2_BUNDLE) + "/halvern_live";
    EXPECT_EQ(exported(live + ".so"), std::set<std::string>{"lv2_descriptor"});
    EXPECT_EQ(exported(live + "_ui.so"), std::set<std::string>{"lv2ui_descriptor"});
}

} // namespace
