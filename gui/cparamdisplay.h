// Read-outs: a value drawn as text (CParamDisplay) and a stored text (CTextLabel).
#pragma once

#include "ccontrol.h"

#include <memory>

namespace VSTGUI
{

// Style bits that change the drawing.
enum CParamDisplayStyle : int32_t
{
    kShadowText = 0x4,
    k3DIn = 0x80,
    k3DOut = 0x100,
    kNoTextStyle = 0x800,
    kNoDrawStyle = 0x1000,
    kNoFrame = 0x4000,
};

// Converters write at most 255 characters and the terminating zero.
typedef void (*CParamDisplayConvert)(float value, char* text);
typedef void (*CParamDisplayConvert2)(float value, char* text, void* userData);
typedef float (*CParamDisplayString2Float)(const char* text);

class CParamDisplay : public CControl
{
public:
    CParamDisplay(const CRect& size, CBitmap* background = nullptr, int32_t style = 0);

    // The value through the converter, else as "%2.2f".
    void draw(CDrawContext* context) override;
    bool isTypeOf(const char* className) const override;

    // The setters of the look mark the display dirty only when something changes.
    virtual void setFont(int32_t fontID);
    virtual void setFontColor(const CColor& color);
    virtual void setBackColor(const CColor& color);
    virtual void setFrameColor(const CColor& color);
    virtual void setShadowColor(const CColor& color);
    virtual void setHoriAlign(int32_t align);
    virtual void setStringConvert2(CParamDisplayConvert2 convert, void* userData);
    virtual void setStringConvert(CParamDisplayConvert convert) { stringConvert = convert; }
    virtual void setString2FloatConvert(CParamDisplayString2Float convert)
    {
        string2FloatConvert = convert;
    }
    virtual void setStyle(int32_t val);
    virtual void setTxtFace(int32_t val);
    virtual void setTextTransparency(bool transparent) { bTextTransparencyEnabled = transparent; }

    int32_t getFont() const { return fontID; }
    int32_t getStyle() const { return style; }
    int32_t getHoriAlign() const { return horiTxtAlign; }

protected:
    // Background or box and frame, then the text clipped to the display's rectangle.
    void drawText(CDrawContext* context, const char* text, CBitmap* bitmap = nullptr);

    CParamDisplayConvert stringConvert = nullptr;
    CParamDisplayConvert2 stringConvert2 = nullptr;
    CParamDisplayString2Float string2FloatConvert = nullptr;
    void* userData = nullptr;
    int32_t horiTxtAlign = kCenterText;
    int32_t style;
    int32_t fontID = 3;
    int32_t txtFace = kNormalFace;
    CColor fontColor = kWhiteCColor;
    CColor backColor = kBlackCColor;
    CColor frameColor = kBlackCColor;
    CColor shadowColor = kRedCColor;
    bool bTextTransparencyEnabled = true;
};

class CTextLabel : public CParamDisplay
{
public:
    CTextLabel(const CRect& size, const char* text = nullptr, CBitmap* background = nullptr,
               int32_t style = 0);

    void draw(CDrawContext* context) override;
    bool isTypeOf(const char* className) const override;

    // Keeps its own copy; null stays null. User-interface thread: frees the previous copy,
    // which a draw running at the same time could still be reading.
    virtual void setText(const char* txt);
    virtual const char* getText() const { return text.get(); }

protected:
    std::unique_ptr<char[]> text;
};

} // namespace VSTGUI
