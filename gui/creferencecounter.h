// Shared ownership for every toolkit object: views, bitmaps, draw contexts, drag containers.
#pragma once

#include <cstdint>

namespace VSTGUI
{

class CReferenceCounter
{
public:
    CReferenceCounter() = default;
    CReferenceCounter(const CReferenceCounter&) = delete;
    CReferenceCounter& operator=(const CReferenceCounter&) = delete;
    virtual ~CReferenceCounter() = default;

    // Destroys the object when the count was 1.
    virtual void forget()
    {
        if (nbReference == 1)
        {
            nbReference = 0;
            delete this;
            return;
        }
        --nbReference;
    }
    virtual void remember() { ++nbReference; }
    int32_t getNbReference() const { return nbReference; }

private:
    int32_t nbReference = 1;
};

} // namespace VSTGUI
