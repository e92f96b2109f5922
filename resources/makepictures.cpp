// Draws the editors' six pictures and writes them as PNG files into the folder given on the
// command line. Run by hand (the "pictures" target) when the design changes; the build only
// embeds the committed files.
//
//   100 knob.png        40 x 40  RGB   knob body
//   101 handle.png       8 x 8   RGBA  green handle dot
//   102 background.png 512 x 128 RGB   the editor's background
//   103 scale.png       48 x 32  RGBA  Scale switch: off state above, on state below
//   104 note.png        16 x 128 RGBA  note switch: off state above, on state below
//   110 live-background.png 512 x 168 RGB  Halvern Live's background: Retune below Formant
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace
{

struct Rgb
{
    int r, g, b;
};

// The panel colour: the knob body's corners must match it.
const Rgb kPanel{0x1d, 0x20, 0x25};
const Rgb kTitleBand{0x16, 0x18, 0x1c};
const Rgb kLine{0x2e, 0x33, 0x3a};
const Rgb kText{0xec, 0xef, 0xf3};
const Rgb kCaption{0xc9, 0xce, 0xd6};
const Rgb kDim{0x8a, 0x91, 0x9c};
const Rgb kNaturalKey{0xd9, 0xdd, 0xe3};
const Rgb kNaturalEdge{0x9a, 0xa0, 0xa8};
const Rgb kSharpKey{0x2a, 0x2e, 0x35};
const Rgb kSharpTop{0x40, 0x45, 0x4e};
const Rgb kSocket{0x12, 0x14, 0x17};

// Lamp: a core of pure colour and a ring around it.
const Rgb kLampOn{0, 255, 0};
const Rgb kLampOnRing{0, 130, 0};
const Rgb kLampOff{0, 0, 0};
const Rgb kLampOffRing{0x5a, 0x60, 0x6a};
constexpr double kLampCore = 3.2;
constexpr double kLampOuter = 4.6;

constexpr double kPi = 3.14159265358979323846;

void setColor(cairo_t* cr, const Rgb& c)
{
    cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

void fillRect(cairo_t* cr, double x, double y, double w, double h, const Rgb& c)
{
    setColor(cr, c);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

enum class Align
{
    left,
    centre,
    right
};

// Text with its vertical centre (of the capital letters) at cy.
void text(cairo_t* cr, const char* s, double x, double cy, double size, bool bold, const Rgb& c,
          Align align)
{
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t te;
    cairo_text_extents(cr, s, &te);
    cairo_text_extents_t cap;
    cairo_text_extents(cr, "H", &cap);
    double left = x;
    if (align == Align::centre)
        left = x - te.x_advance / 2.0;
    else if (align == Align::right)
        left = x - te.x_advance;
    setColor(cr, c);
    cairo_move_to(cr, std::round(left), std::round(cy - cap.y_bearing / 2.0));
    cairo_show_text(cr, s);
}

// Writes premultiplied pixels straight into an ARGB surface: a disk (and ring) with its
// coverage measured on a 16 x 16 grid per pixel, so edges are smooth and the colour stays pure.
void lamp(cairo_surface_t* surface, double cx, double cy, const Rgb& core, const Rgb& ring,
          double coreRadius, double outerRadius)
{
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    const int n = 16;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < n; ++sy)
                for (int sx = 0; sx < n; ++sx)
                {
                    const double px = x + (sx + 0.5) / n - cx;
                    const double py = y + (sy + 0.5) / n - cy;
                    const double d = std::sqrt(px * px + py * py);
                    const Rgb* c = d <= coreRadius ? &core : d <= outerRadius ? &ring : nullptr;
                    if (!c) continue;
                    r += c->r;
                    g += c->g;
                    b += c->b;
                    a += 255.0;
                }
            if (a == 0) continue;
            const double samples = n * n;
            uint32_t* p = reinterpret_cast<uint32_t*>(data + y * stride) + x;
            const uint32_t A = static_cast<uint32_t>(std::lround(a / samples));
            // premultiplied: the colour sums already carry the coverage
            const uint32_t R = static_cast<uint32_t>(std::lround(r / samples));
            const uint32_t G = static_cast<uint32_t>(std::lround(g / samples));
            const uint32_t B = static_cast<uint32_t>(std::lround(b / samples));
            *p = (A << 24) | (R << 16) | (G << 8) | B;
        }
    cairo_surface_mark_dirty(surface);
}

bool save(cairo_surface_t* surface, const std::string& folder, const char* name)
{
    const std::string path = folder + "/" + name;
    const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
    cairo_surface_destroy(surface);
    return ok;
}

cairo_surface_t* knob()
{
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 40, 40);
    cairo_t* cr = cairo_create(s);
    fillRect(cr, 0, 0, 40, 40, kPanel);
    const double c = 20.0;

    // the groove the handle dot runs in: 270 degrees from lower left over the top
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, 7.0);
    setColor(cr, kSocket);
    cairo_arc(cr, c, c, 16.0, 0.75 * kPi, 2.25 * kPi);
    cairo_stroke(cr);

    // ticks just outside the groove at both ends and at the top
    cairo_set_line_width(cr, 1.2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    setColor(cr, kDim);
    for (double angle : {0.75 * kPi, 1.5 * kPi, 2.25 * kPi})
    {
        cairo_move_to(cr, c + 19.8 * std::cos(angle), c + 19.8 * std::sin(angle));
        cairo_line_to(cr, c + 18.0 * std::cos(angle), c + 18.0 * std::sin(angle));
        cairo_stroke(cr);
    }

    // the cap, lit from the upper left
    cairo_pattern_t* shade = cairo_pattern_create_radial(c - 4, c - 5, 1.0, c, c, 12.0);
    cairo_pattern_add_color_stop_rgb(shade, 0.0, 0x5a / 255.0, 0x61 / 255.0, 0x6c / 255.0);
    cairo_pattern_add_color_stop_rgb(shade, 1.0, 0x26 / 255.0, 0x2a / 255.0, 0x31 / 255.0);
    cairo_arc(cr, c, c, 11.0, 0, 2 * kPi);
    cairo_set_source(cr, shade);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(shade);
    cairo_set_line_width(cr, 1.0);
    setColor(cr, kSocket);
    cairo_stroke(cr);
    cairo_arc(cr, c, c, 9.5, 1.05 * kPi, 1.7 * kPi);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.18);
    cairo_stroke(cr);

    cairo_destroy(cr);
    return s;
}

cairo_surface_t* handle()
{
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
    lamp(s, 4.0, 4.0, kLampOn, kLampOn, 3.7, 3.7);
    return s;
}

cairo_surface_t* scaleSwitch()
{
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 48, 32);
    lamp(s, 8.0, 8.0, kLampOff, kLampOffRing, kLampCore, kLampOuter);
    lamp(s, 8.0, 24.0, kLampOn, kLampOnRing, kLampCore, kLampOuter);
    return s;
}

cairo_surface_t* noteSwitch()
{
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 16, 128);
    lamp(s, 8.0, 55.0, kLampOff, kLampOffRing, kLampCore, kLampOuter);
    lamp(s, 8.0, 64.0 + 55.0, kLampOn, kLampOnRing, kLampCore, kLampOuter);
    return s;
}

void socket(cairo_t* cr, double cx, double cy)
{
    setColor(cr, kSocket);
    cairo_arc(cr, cx, cy, 5.6, 0, 2 * kPi);
    cairo_fill(cr);
}

void readoutPlace(cairo_t* cr, int top, const char* unit)
{
    // frame one pixel outside the read-out's box (112, top) - (144, top + 12)
    cairo_set_line_width(cr, 1.0);
    setColor(cr, kLine);
    cairo_rectangle(cr, 111.5, top - 0.5, 33.0, 13.0);
    cairo_stroke(cr);
    text(cr, unit, 149, top + 6, 10, false, kDim, Align::left);
}

// Halvern's background, or with live set Halvern Live's: 40 pixels taller, a Retune row below
// Formant.
cairo_surface_t* background(bool live)
{
    const int height = live ? 168 : 128;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 512, height);
    cairo_t* cr = cairo_create(s);
    fillRect(cr, 0, 0, 512, height, kPanel);

    // title line
    fillRect(cr, 0, 0, 512, 21, kTitleBand);
    fillRect(cr, 0, 21, 512, 1, kLine);
    text(cr, live ? "Halvern Live" : "Halvern", 10, 10.5, 15, true, kText, Align::left);
    text(cr, live ? "live voice pitch and formant" : "voice pitch and formant", 502, 10.5, 10,
         false, kDim, Align::right);

    // knobs: captions to their left, read-outs to their right
    text(cr, "Pitch", 57, 44, 12, false, kCaption, Align::right);
    text(cr, "Formant", 57, 92, 12, false, kCaption, Align::right);
    readoutPlace(cr, 42, "st");
    readoutPlace(cr, 90, "st");
    if (live)
    {
        text(cr, "Retune", 57, 140, 12, false, kCaption, Align::right);
        readoutPlace(cr, 138, "ms");
    }

    // divider between the shifter and the scale
    fillRect(cr, 176, 30, 1, live ? 132 : 84, kLine);

    // Scale lamp (drawn by the switch at 192, 28) and its caption
    socket(cr, 200, 36);
    text(cr, "Scale", 212, 36, 11, false, kCaption, Align::left);
    text(cr, "snap to the lit notes", 384, 36, 9, false, kDim, Align::right);

    // one octave, one 16-pixel column per note switch: names, keys, lamps
    const char* names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    const bool sharp[12] = {false, true,  false, true,  false, false,
                            true,  false, true,  false, true,  false};
    for (int i = 0; i < 12; ++i)
    {
        const int x = 192 + 16 * i;
        text(cr, names[i], x + 8, 54, 9, false, sharp[i] ? kDim : kCaption, Align::centre);
        if (sharp[i])
        {
            fillRect(cr, x + 1, 61, 14, 34, kSharpKey);
            fillRect(cr, x + 1, 61, 14, 2, kSharpTop);
        }
        else
        {
            fillRect(cr, x + 1, 61, 14, 34, kNaturalKey);
            fillRect(cr, x + 14, 61, 1, 34, kNaturalEdge);
        }
        socket(cr, x + 8, 103);
    }

    text(cr, "A = 440 Hz", 502, height - 9, 9, false, kDim, Align::right);
    cairo_destroy(cr);
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: makepictures <output folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = save(knob(), folder, "knob.png");
    ok = save(handle(), folder, "handle.png") && ok;
    ok = save(background(false), folder, "background.png") && ok;
    ok = save(background(true), folder, "live-background.png") && ok;
    ok = save(scaleSwitch(), folder, "scale.png") && ok;
    ok = save(noteSwitch(), folder, "note.png") && ok;
    return ok ? 0 : 1;
}
