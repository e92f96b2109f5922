#include "hostcheck.h"

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace hostcheck
{

namespace
{

int passCount = 0;
int failCount = 0;
intptr_t versionAnswer = 2400;

constexpr int32_t kEffClose = 1;
constexpr int32_t kAudioMasterVersion = 1;

using Dispatcher = intptr_t(HOSTCHECK_CDECL*)(void*, int32_t, int32_t, intptr_t, void*, float);
using SetParameter = void(HOSTCHECK_CDECL*)(void*, int32_t, float);
using GetParameter = float(HOSTCHECK_CDECL*)(void*, int32_t);
using Process = void(HOSTCHECK_CDECL*)(void*, float**, float**, int32_t);
using Entry = void*(HOSTCHECK_CDECL*)(HostCallback);

intptr_t HOSTCHECK_CDECL recordingCallback(void* effect, int32_t opcode, int32_t index,
                                           intptr_t value, void*, float opt)
{
    hostCalls().push_back({opcode, index, value, opt, effect == nullptr});
    return opcode == kAudioMasterVersion ? versionAnswer : 0;
}

// Function pointers are read from the record as bytes: the host knows only the layout.
template <typename F> F functionAt(const unsigned char* record, size_t offset)
{
    F f = nullptr;
    std::memcpy(&f, record + offset, sizeof f);
    return f;
}

} // namespace

void check(bool ok, const std::string& what)
{
    if (ok)
        ++passCount;
    else
        ++failCount;
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
}

int failures()
{
    return failCount;
}

int passes()
{
    return passCount;
}

int summary(const std::string& command)
{
    std::printf("halvern-wintest %s: %d checks passed, %d failed\n", command.c_str(), passCount,
                failCount);
    std::fflush(stdout);
    return failCount == 0 && passCount > 0 ? 0 : 1;
}

const RecordLayout& recordLayout()
{
    // Offsets as the interface fixes them; pointer-sized fields align to their size.
    static const RecordLayout layout32{0,  4,  8,  12, 16, 20, 24, 28, 32, 36, 40, 44,
                                       48, 52, 56, 60, 64, 68, 72, 76, 80, 84, 88, 144};
    static const RecordLayout layout64{0,  8,  16, 24, 32, 40,  44,  48,  52,  56,  64,  72,
                                       80, 84, 88, 92, 96, 104, 112, 116, 120, 128, 136, 192};
    return sizeof(void*) == 4 ? layout32 : layout64;
}

std::vector<HostCall>& hostCalls()
{
    static std::vector<HostCall> calls;
    return calls;
}

void setVersionAnswer(intptr_t answer)
{
    versionAnswer = answer;
}

HostCallback hostCallback()
{
    return recordingCallback;
}

// ---- library

Library::Library(const std::string& path)
{
#if defined(_WIN32)
    handle = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (!handle) why = "LoadLibrary failed with error " + std::to_string(GetLastError());
#else
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
    {
        const char* e = dlerror();
        why = e ? e : "dlopen failed";
    }
#endif
}

Library::~Library()
{
    if (!handle) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
}

void* Library::symbol(const char* name) const
{
    if (!handle) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

// ---- effect

Effect::Effect(const Library& library, const char* entryName)
{
    auto entry = reinterpret_cast<Entry>(library.symbol(entryName));
    if (!entry) return;
    bytes = static_cast<unsigned char*>(entry(recordingCallback));
}

Effect::~Effect()
{
    close();
}

int32_t Effect::i32(size_t offset) const
{
    int32_t v = 0;
    std::memcpy(&v, bytes + offset, sizeof v);
    return v;
}

float Effect::f32(size_t offset) const
{
    float v = 0.0f;
    std::memcpy(&v, bytes + offset, sizeof v);
    return v;
}

void* Effect::pointer(size_t offset) const
{
    void* v = nullptr;
    std::memcpy(&v, bytes + offset, sizeof v);
    return v;
}

intptr_t Effect::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    if (opcode == kEffClose) return close();
    return functionAt<Dispatcher>(bytes, recordLayout().dispatcher)(bytes, opcode, index, value,
                                                                    ptr, opt);
}

void Effect::setParameter(int32_t index, float value)
{
    functionAt<SetParameter>(bytes, recordLayout().setParameter)(bytes, index, value);
}

float Effect::getParameter(int32_t index)
{
    return functionAt<GetParameter>(bytes, recordLayout().getParameter)(bytes, index);
}

std::string Effect::text(int32_t opcode, int32_t index, size_t capacity)
{
    std::vector<char> buffer(capacity + 16, 0);
    dispatch(opcode, index, 0, buffer.data());
    size_t length = 0;
    while (length <= capacity && buffer[length] != 0)
        ++length;
    return std::string(buffer.data(), length);
}

void Effect::process(const float* in, float* out, int32_t frames)
{
    float* inputs[1] = {const_cast<float*>(in)};
    float* outputs[1] = {out};
    functionAt<Process>(bytes, recordLayout().processReplacing)(bytes, inputs, outputs, frames);
}

intptr_t Effect::close()
{
    if (!bytes) return 0;
    const intptr_t answer = functionAt<Dispatcher>(bytes, recordLayout().dispatcher)(
        bytes, kEffClose, 0, 0, nullptr, 0.0f);
    bytes = nullptr;
    return answer;
}

std::vector<float> processInBlocks(Effect& effect, const std::vector<float>& input,
                                   size_t blockSize)
{
    std::vector<float> output(input.size());
    for (size_t k = 0; k < input.size(); k += blockSize)
    {
        const size_t n = std::min(blockSize, input.size() - k);
        effect.process(input.data() + k, output.data() + k, static_cast<int32_t>(n));
    }
    return output;
}

// ---- files

bool writeFloats(const std::string& path, const std::vector<float>& samples)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok =
        std::fwrite(samples.data(), sizeof(float), samples.size(), file) == samples.size();
    return std::fclose(file) == 0 && ok;
}

bool readFloats(const std::string& path, std::vector<float>& samples)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    samples.clear();
    float chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, sizeof(float), 4096, file)) > 0)
        samples.insert(samples.end(), chunk, chunk + n);
    std::fclose(file);
    return true;
}

} // namespace hostcheck
