// The LV2 UI: the plug-in's editor as an X11 child of the host's window (ui:parent), idled through
// ui:idleInterface. The editor talks to a UiEffect, which turns its changes into port writes.
// Which editor is the bundle's UiKind (lv2kinds.h).
#include "lv2kinds.h"
#include "uieffect.h"
#include "vstgui.h"

#include <lv2/ui/ui.h>

#include <cstring>
#include <memory>
#include <new>

namespace
{

struct Ui
{
    std::unique_ptr<UiEffect> effect; // owns the editor
    VstGui* editor = nullptr;
};

const void* featureData(const LV2_Feature* const* features, const char* uri)
{
    for (const LV2_Feature* const* f = features; f && *f; ++f)
        if (std::strcmp((*f)->URI, uri) == 0) return (*f)->data;
    return nullptr;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char*, const char*,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features)
{
    void* parent = const_cast<void*>(featureData(features, LV2_UI__parent));
    if (!parent || !write || !widget) return nullptr;
    const auto* touch = static_cast<const LV2UI_Touch*>(featureData(features, LV2_UI__touch));
    const auto* resize = static_cast<const LV2UI_Resize*>(featureData(features, LV2_UI__resize));
    try
    {
        auto ui = std::make_unique<Ui>();
        ui->effect = std::make_unique<UiEffect>(
            write, controller, touch, halvernlv2::kUi.parameters, halvernlv2::kUi.heldPort);
        ui->editor = halvernlv2::kUi.make(ui->effect.get());
        ui->editor->open(parent);
        // Without a display, or with a parent that is no window of it, there is nothing to show.
        VSTGUI::CFrame* frame = ui->editor->getFrame();
        if (!frame || !frame->getPlatformWindow())
        {
            ui->editor->close();
            return nullptr;
        }
        *widget = frame->getPlatformWindow()->nativeHandle();
        ERect* rect = nullptr;
        if (resize && ui->editor->getRect(&rect))
            resize->ui_resize(resize->handle, rect->right - rect->left, rect->bottom - rect->top);
        return ui.release();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

void cleanup(LV2UI_Handle handle)
{
    auto* ui = static_cast<Ui*>(handle);
    ui->editor->close();
    delete ui;
}

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t bufferSize, uint32_t format,
               const void* buffer)
{
    // format 0: a control port's float value
    if (format != 0 || bufferSize != sizeof(float) || !buffer) return;
    float value;
    std::memcpy(&value, buffer, sizeof value);
    static_cast<Ui*>(handle)->effect->portChanged(port, value);
}

int idle(LV2UI_Handle handle)
{
    static_cast<Ui*>(handle)->editor->idle();
    return 0;
}

const LV2UI_Idle_Interface idleInterface = {idle};

const void* extensionData(const char* uri)
{
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0) return &idleInterface;
    return nullptr;
}

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index)
{
    static const LV2UI_Descriptor descriptor = {halvernlv2::kUi.uri, instantiate, cleanup,
                                                portEvent, extensionData};
    return index == 0 ? &descriptor : nullptr;
}
