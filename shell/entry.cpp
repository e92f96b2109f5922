// The library's only exported entry point, also exported as "main" at the same address. Each
// plug-in module links it with the one createEffectInstance that makes its effect.
#include "audioeffect.h"

#include <new>

#if defined(_WIN32)
#define HALVERN_EXPORT __declspec(dllexport)
#else
#define HALVERN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" HALVERN_EXPORT AEffect* HALVERN_CALLBACK VSTPluginMain(audioMasterCallback audioMaster)
{
    if (!audioMaster || audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
        return nullptr;
    try
    {
        AudioEffect* effect = createEffectInstance(audioMaster);
        return effect->getAeffect();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

// A C++ function cannot be called main: on Windows exports.def gives the entry point that second
// name; elsewhere an alias does.
#if !defined(_WIN32)
extern "C" HALVERN_EXPORT AEffect* vstPluginMainAlias(audioMasterCallback) __asm__("main")
    __attribute__((alias("VSTPluginMain")));
#endif
