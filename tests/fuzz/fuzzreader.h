// The fuzzer's input read as a stream of bytes, words and floats; past its end every read is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzReader
{
public:
    FuzzReader(const uint8_t* data, size_t size) : data(data), size(size) {}
    bool empty() const { return pos >= size; }
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    uint32_t uint32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | byte();
        return v;
    }
    int32_t int32() { return static_cast<int32_t>(uint32()); }
    float real()
    {
        const uint32_t bits = uint32();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
};
