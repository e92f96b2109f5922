// The plug-in as a host sees it: a library loaded by name, an entry point looked up by name, and
// an effect record read at the byte offsets of the VST 2.x binary interface, not through the
// plug-in's own headers. Builds for Windows (LoadLibrary) and, for the reference run, for Linux
// (dlopen).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32) && !defined(_WIN64)
#define HOSTCHECK_CDECL __cdecl
#else
#define HOSTCHECK_CDECL
#endif

namespace hostcheck
{

// Counts and prints the result of every check; the summary line is what the scripts look for.
void check(bool ok, const std::string& what);
int failures();
int passes();
// "halvern-wintest <command>: N checks passed, M failed"; returns the exit status.
int summary(const std::string& command);

// Byte offsets of the effect record's fields on this target: the natural C layout, 144 bytes
// with 32-bit pointers, 192 with 64-bit ones.
struct RecordLayout
{
    size_t magic, dispatcher, process, setParameter, getParameter, numPrograms, numParams,
        numInputs, numOutputs, flags, reserved1, reserved2, initialDelay, realQualities,
        offQualities, ioRatio, object, user, uniqueID, version, processReplacing,
        processDoubleReplacing, future, size;
};
const RecordLayout& recordLayout();

struct HostCall
{
    int32_t opcode;
    int32_t index;
    intptr_t value;
    float opt;
    bool nullEffect;
};

// What the host callback saw, and what it answers to the version query.
std::vector<HostCall>& hostCalls();
void setVersionAnswer(intptr_t answer);

using HostCallback = intptr_t(HOSTCHECK_CDECL*)(void*, int32_t, int32_t, intptr_t, void*, float);
HostCallback hostCallback();

class Library
{
public:
    explicit Library(const std::string& path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool isLoaded() const { return handle != nullptr; }
    const std::string& error() const { return why; }
    void* symbol(const char* name) const;

private:
    void* handle = nullptr;
    std::string why;
};

class Effect
{
public:
    // Calls the entry point named entryName with the recording host callback; check record().
    Effect(const Library& library, const char* entryName);
    ~Effect(); // effClose unless closed
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    unsigned char* record() const { return bytes; }
    int32_t i32(size_t offset) const;
    float f32(size_t offset) const;
    void* pointer(size_t offset) const;

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);
    void setParameter(int32_t index, float value);
    float getParameter(int32_t index);
    // The text an opcode writes into a zeroed buffer of capacity + 16 bytes (the terminator is
    // searched for within capacity + 1).
    std::string text(int32_t opcode, int32_t index, size_t capacity);
    void process(const float* in, float* out, int32_t frames);
    // effClose through the record's dispatcher; its answer.
    intptr_t close();

private:
    unsigned char* bytes = nullptr;
};

// Mono audio in host blocks of blockSize frames, the last one shorter.
std::vector<float> processInBlocks(Effect& effect, const std::vector<float>& input,
                                   size_t blockSize);

// Raw little-endian 32-bit float files.
bool writeFloats(const std::string& path, const std::vector<float>& samples);
bool readFloats(const std::string& path, std::vector<float>& samples);

} // namespace hostcheck
