// Command lines for Debian's lv2file, the offline LV2 host the tests render through.
#pragma once

#include <dlfcn.h>

#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define HALVERN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HALVERN_ASAN 1
#endif
#endif

namespace lv2filetest
{

// lv2file with the bundles under lv2Path. In a sanitizer build the plug-in needs the sanitizer's
// runtime loaded first, which lv2file itself does not link: it gets the one this test program
// runs with, preloaded. Leaks are left to the tests that host the plug-in in their own process,
// not judged in lv2file's.
inline std::string lv2fileCommand(const std::string& lv2Path, const std::string& arguments)
{
    std::string environment = "LV2_PATH='" + lv2Path + "' ";
#if defined(HALVERN_ASAN)
    Dl_info info{};
    void* runtime = dlsym(RTLD_DEFAULT, "__asan_init");
    if (runtime && dladdr(runtime, &info) && info.dli_fname)
        environment += std::string("LD_PRELOAD='") + info.dli_fname +
                       "' ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 ";
#endif
    return environment + "lv2file " + arguments;
}

} // namespace lv2filetest
