#include "uieffect.h"

#include "lv2ports.h"
#include "vstgui.h"

#include <cmath>
#include <cstdio>
#include <cstring>

using namespace halvernlv2;

namespace
{

bool sameValue(float a, float b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

// On when the value rounds to a non-zero integer, as the effect reads a switch; NaN is off.
bool switchOfHostValue(float value)
{
    return std::fabs(static_cast<double>(value) + 0.5) >= 1.0;
}

} // namespace

UiEffect::UiEffect(LV2UI_Write_Function write, LV2UI_Controller controller,
                   const LV2UI_Touch* touch, int numParams, int heldPort)
    : AudioEffectX(nullptr, 1, numParams), write(write), controller(controller), touch(touch),
      numParams(numParams), heldPort(heldPort)
{
    // the effect's defaults: no shift, Scale off, every note on, Retune 50 ms
    for (int k = kPortFirstNote; k < kNumParams; ++k)
    {
        switches[k] = true;
        portValues[k] = 1.0f;
    }
    portValues[kPortRetune] = halvernparams::kDefaultRetuneMs;
}

void UiEffect::portChanged(uint32_t port, float portValue)
{
    if (heldPort >= 0 && port == static_cast<uint32_t>(heldPort))
    {
        const float mask = portValue >= 0.0f ? std::fmin(portValue, 4095.0f) : 0.0f; // NaN: 0
        heldNotes.store(static_cast<uint16_t>(mask), std::memory_order_relaxed);
        return;
    }
    if (port >= static_cast<uint32_t>(numParams) || sameValue(portValue, portValues[port])) return;
    portValues[port] = portValue;
    setParameter(static_cast<VstInt32>(port), hostValueOfPort(port, portValue));
}

void UiEffect::setParameter(VstInt32 index, float value)
{
    if (index < 0 || index >= numParams) return;
    if (isShiftPort(static_cast<uint32_t>(index)))
        steps[index] = stepOfHostValue(value);
    else if (index == kPortRetune)
        retuneMs = halvernparams::retuneMsFromHost(value);
    else
        switches[index] = switchOfHostValue(value);
    if (auto* gui = dynamic_cast<VstGui*>(editor)) gui->updateControl(index, value);
}

float UiEffect::getParameter(VstInt32 index)
{
    if (index < 0 || index >= numParams) return 0.0f;
    if (isShiftPort(static_cast<uint32_t>(index))) return hostValueOfStep(steps[index]);
    if (index == kPortRetune) return halvernparams::hostFromRetuneMs(retuneMs);
    return switches[index] ? 1.0f : 0.0f;
}

void UiEffect::getParameterDisplay(VstInt32 index, char* text)
{
    if (index < 0 || index >= numParams) return;
    if (index == kPortRetune)
    {
        halvernparams::retuneDisplay(retuneMs, text);
        return;
    }
    if (!isShiftPort(static_cast<uint32_t>(index)))
    {
        std::strcpy(text, switches[index] ? "ON" : "OFF");
        return;
    }
    const float cents = static_cast<float>(steps[index]) * 10.0f;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%+3.1f", static_cast<double>(cents) * 0.01);
    buffer[kVstMaxParamStrLen] = 0;
    std::strcpy(text, buffer);
}

void UiEffect::setParameterAutomated(VstInt32 index, float value)
{
    if (index < 0 || index >= numParams) return;
    setParameter(index, value);
    const uint32_t port = static_cast<uint32_t>(index);
    float portValue;
    if (isShiftPort(port))
        portValue = static_cast<float>(steps[index]) / 10.0f;
    else if (port == kPortRetune)
        portValue = retuneMs;
    else
        portValue = switches[index] ? 1.0f : 0.0f;
    portValues[port] = portValue;
    write(controller, port, sizeof portValue, 0, &portValue);
}

bool UiEffect::beginEdit(VstInt32 index)
{
    if (!touch || index < 0 || index >= numParams) return false;
    touch->touch(touch->handle, static_cast<uint32_t>(index), true);
    return true;
}

bool UiEffect::endEdit(VstInt32 index)
{
    if (!touch || index < 0 || index >= numParams) return false;
    touch->touch(touch->handle, static_cast<uint32_t>(index), false);
    return true;
}
