#include "pluginhost.h"

#include <cstring>
#include <dlfcn.h>

namespace
{
// The host whose effect is being created: the version query arrives before the record exists.
thread_local PluginHost* creatingHost = nullptr;
thread_local VstIntPtr creatingVersion = 0;
} // namespace

PluginHost::PluginHost(const std::string& libraryPath, const std::string& entryName,
                       VstIntPtr versionAnswer)
    : versionAnswer_(versionAnswer)
{
    // Kept mapped after close, as long-running hosts keep plug-ins: the libraries it pulls in
    // stay loaded, and leak reports at exit can still name its code.
    library_ = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!library_)
    {
        const char* why = dlerror();
        throw PluginLoadError("cannot load plug-in library " + libraryPath + ": " +
                              (why ? why : "unknown error"));
    }
    using Entry = AEffect*(HALVERN_CALLBACK*)(audioMasterCallback);
    auto entry = reinterpret_cast<Entry>(dlsym(library_, entryName.c_str()));
    if (!entry)
    {
        dlclose(library_);
        throw PluginLoadError(libraryPath + " has no entry point " + entryName +
                              ": not a VST 2.x plug-in");
    }
    creatingHost = this;
    creatingVersion = versionAnswer;
    effect_ = entry(hostCallback);
    creatingHost = nullptr;
    if (!effect_ || effect_->magic != kEffectMagic)
    {
        effect_ = nullptr;
        dlclose(library_);
        throw PluginLoadError(libraryPath + ": the plug-in's entry point returned no effect");
    }
    effect_->user = this;
}

PluginHost::~PluginHost()
{
    close();
    if (library_)
        dlclose(library_);
}

VstIntPtr PluginHost::close()
{
    if (!effect_)
        return 0;
    VstIntPtr result = effect_->dispatcher(effect_, effClose, 0, 0, nullptr, 0.0f);
    effect_ = nullptr;
    return result;
}

VstIntPtr HALVERN_CALLBACK PluginHost::hostCallback(AEffect* effect, VstInt32 opcode,
                                                    VstInt32 index, VstIntPtr value, void* ptr,
                                                    float opt)
{
    PluginHost* host = effect ? static_cast<PluginHost*>(effect->user) : creatingHost;
    const auto* events = static_cast<const VstEvents*>(ptr);
    if (opcode == audioMasterProcessEvents && host && events)
    {
        VstEvent* const* all = events->events; // numEvents of them, past the declared two
        for (VstInt32 k = 0; k < events->numEvents; ++k)
        {
            const size_t n = host->sentMidiCount_.load(std::memory_order_relaxed);
            if (n == host->sentMidi_.size() || all[k]->type != kVstMidiType) continue;
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(all[k]);
            host->sentMidi_[n].frame = host->framesProcessed_ + midi->deltaFrames;
            std::memcpy(host->sentMidi_[n].bytes.data(), midi->midiData, 3);
            host->sentMidiCount_.store(n + 1, std::memory_order_release);
        }
        return 1;
    }
    if (host)
    {
        std::lock_guard<std::mutex> lock(host->callsMutex_);
        host->calls_.push_back({opcode, index, value, opt});
    }
    if (opcode == audioMasterVersion)
        return host ? host->versionAnswer_ : creatingVersion;
    return 0;
}

VstIntPtr PluginHost::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                               float opt)
{
    if (opcode == effClose)
        return close();
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void PluginHost::setParameter(VstInt32 index, float value)
{
    effect_->setParameter(effect_, index, value);
}

float PluginHost::getParameter(VstInt32 index) { return effect_->getParameter(effect_, index); }

std::string PluginHost::textQuery(VstInt32 opcode, VstInt32 index, size_t capacity)
{
    std::vector<char> buffer(capacity + 16, 0);
    dispatch(opcode, index, 0, buffer.data());
    return std::string(buffer.data(), strnlen(buffer.data(), capacity + 1));
}

std::string PluginHost::parameterName(VstInt32 index)
{
    return textQuery(effGetParamName, index, kVstMaxParamStrLen);
}

std::string PluginHost::parameterDisplay(VstInt32 index)
{
    return textQuery(effGetParamDisplay, index, kVstMaxParamStrLen);
}

std::string PluginHost::parameterLabel(VstInt32 index)
{
    return textQuery(effGetParamLabel, index, kVstMaxParamStrLen);
}

std::string PluginHost::effectName() { return textQuery(effGetEffectName, 0, kVstMaxEffectNameLen); }

std::string PluginHost::vendorString()
{
    return textQuery(effGetVendorString, 0, kVstMaxVendorStrLen);
}

std::string PluginHost::productString()
{
    return textQuery(effGetProductString, 0, kVstMaxProductStrLen);
}

void PluginHost::setSampleRate(float rate) { dispatch(effSetSampleRate, 0, 0, nullptr, rate); }

void PluginHost::resume() { dispatch(effMainsChanged, 0, 1); }

void PluginHost::suspend() { dispatch(effMainsChanged, 0, 0); }

void PluginHost::process(const float* in, float* out, VstInt32 frames)
{
    float* inputs[1] = {const_cast<float*>(in)};
    float* outputs[1] = {out};
    effect_->processReplacing(effect_, inputs, outputs, frames);
    framesProcessed_ += frames > 0 ? frames : 0;
}

std::vector<PluginHost::SentMidi> PluginHost::sentMidi() const
{
    return {sentMidi_.begin(), sentMidi_.begin() + static_cast<long>(sentMidiCount_.load())};
}

std::vector<PluginHost::HostCall> PluginHost::hostCalls() const
{
    std::lock_guard<std::mutex> lock(callsMutex_);
    return calls_;
}

void PluginHost::clearHostCalls()
{
    std::lock_guard<std::mutex> lock(callsMutex_);
    calls_.clear();
}
