#include "render_plot.h"

#include "render_audio.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace render
{

namespace
{

struct Colour
{
    double r, g, b;
};
constexpr Colour kInputColour = {0.20, 0.42, 0.85};
constexpr Colour kOutputColour = {0.92, 0.42, 0.08};
constexpr Colour kNoteColour = {0.70, 0.88, 0.70};

void setColour(cairo_t* cr, Colour c, double alpha = 1.0)
{
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void showText(cairo_t* cr, double x, double y, const std::string& text, double alignX,
              double alignY)
{
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    cairo_move_to(cr, x - alignX * extents.width - extents.x_bearing,
                  y - alignY * extents.height - extents.y_bearing);
    cairo_show_text(cr, text.c_str());
}

double niceTimeStep(double duration)
{
    static const double steps[] = {0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600};
    for (double step : steps)
        if (duration / step <= 12.0) return step;
    return std::ceil(duration / 12.0 / 600.0) * 600.0;
}

std::string formatSeconds(double seconds, double step)
{
    char text[32];
    std::snprintf(text, sizeof text, step < 0.1 ? "%.2f" : (step < 1.0 ? "%.1f" : "%.0f"), seconds);
    return text;
}

void drawTrack(cairo_t* cr, const PlotGeometry& g, const PitchTrack& track, Colour colour)
{
    setColour(cr, colour);
    cairo_set_line_width(cr, 2.0);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    const size_t n = track.f0.size();
    for (size_t i = 0; i < n; ++i)
    {
        if (track.f0[i] <= 0.0) continue;
        const bool startsRun = i == 0 || track.f0[i - 1] <= 0.0;
        const double x = g.xForTime(track.times[i]);
        const double y = g.yForFrequency(track.f0[i]);
        if (startsRun)
        {
            const bool endsRun = i + 1 >= n || track.f0[i + 1] <= 0.0;
            if (endsRun) // a lone voiced frame shows as a dot
            {
                cairo_arc(cr, x, y, 1.5, 0.0, 2.0 * M_PI);
                cairo_fill(cr);
                continue;
            }
            cairo_move_to(cr, x, y);
        }
        else
        {
            cairo_line_to(cr, x, y);
        }
        if (i + 1 >= n || track.f0[i + 1] <= 0.0) cairo_stroke(cr);
    }
}

cairo_status_t writeToFd(void* closure, const unsigned char* data, unsigned int length)
{
    const int fd = *static_cast<int*>(closure);
    while (length > 0)
    {
        const ssize_t written = ::write(fd, data, length);
        if (written <= 0) return CAIRO_STATUS_WRITE_ERROR;
        data += written;
        length -= static_cast<unsigned int>(written);
    }
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

double midiOfFrequency(double hz)
{
    return 69.0 + 12.0 * std::log2(hz / 440.0);
}

double frequencyOfMidi(double midi)
{
    return 440.0 * std::exp2((midi - 69.0) / 12.0);
}

std::string midiNoteLabel(int midi)
{
    const int octave = static_cast<int>(std::floor(midi / 12.0)) - 1;
    return noteName(midi) + std::to_string(octave);
}

double PlotGeometry::xForTime(double seconds) const
{
    const double plotWidth = width - left - right;
    return left + plotWidth * (duration > 0.0 ? seconds / duration : 0.0);
}

double PlotGeometry::yForFrequency(double hz) const
{
    const double plotHeight = height - top - bottom;
    const double fraction = (midiOfFrequency(hz) - lowMidi) / (highMidi - lowMidi);
    return top + plotHeight * (1.0 - fraction);
}

PlotGeometry plotGeometryFor(const PitchTrack& input, const PitchTrack& output, double duration)
{
    PlotGeometry g;
    g.duration = duration > 0.0 ? duration : 1.0;
    double low = INFINITY;
    double high = -INFINITY;
    for (const PitchTrack* track : {&input, &output})
        for (double f : track->f0)
            if (f > 0.0)
            {
                low = std::min(low, midiOfFrequency(f));
                high = std::max(high, midiOfFrequency(f));
            }
    if (!std::isfinite(low)) return g; // nothing voiced: C3 to C5
    g.lowMidi = static_cast<int>(std::floor(low)) - 1;
    g.highMidi = static_cast<int>(std::ceil(high)) + 1;
    while (g.highMidi - g.lowMidi < 12)
    {
        --g.lowMidi;
        if (g.highMidi - g.lowMidi < 12) ++g.highMidi;
    }
    return g;
}

void writePitchPlot(const std::string& path, const PitchTrack& input, const PitchTrack& output,
                    double duration, const NoteSet& guideNotes, const std::string& title,
                    bool replace, const std::vector<PlotNote>& notes, const std::string& notesLabel)
{
    const PlotGeometry g = plotGeometryFor(input, output, duration);
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, g.width, g.height), cairo_surface_destroy);
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> context(cairo_create(surface.get()),
                                                               cairo_destroy);
    cairo_t* cr = context.get();
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

    const double plotLeft = g.left;
    const double plotRight = g.width - g.right;
    const double plotTop = g.top;
    const double plotBottom = g.height - g.bottom;

    // Guide lines for the enabled notes, labelled where there is room.
    cairo_set_font_size(cr, 11.0);
    double lastLabelY = INFINITY;
    for (int midi = g.lowMidi; midi <= g.highMidi; ++midi)
    {
        if (!guideNotes[midi % 12]) continue;
        const double hz = frequencyOfMidi(midi);
        const double y = std::round(g.yForFrequency(hz)) + 0.5;
        cairo_set_line_width(cr, 1.0);
        cairo_set_source_rgb(cr, midi % 12 == 0 ? 0.70 : 0.85, midi % 12 == 0 ? 0.70 : 0.85,
                             midi % 12 == 0 ? 0.70 : 0.85);
        cairo_move_to(cr, plotLeft, y);
        cairo_line_to(cr, plotRight, y);
        cairo_stroke(cr);
        if (lastLabelY - y >= 13.0)
        {
            char hzText[16];
            std::snprintf(hzText, sizeof hzText, "%.0f Hz", hz);
            cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
            showText(cr, plotLeft - 8, y, midiNoteLabel(midi) + "  " + hzText, 1.0, 0.5);
            lastLabelY = y;
        }
    }

    // Time axis.
    const double step = niceTimeStep(g.duration);
    cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
    for (double t = 0.0; t <= g.duration + 1e-9; t += step)
    {
        const double x = std::round(g.xForTime(t)) + 0.5;
        cairo_move_to(cr, x, plotBottom);
        cairo_line_to(cr, x, plotBottom + 5);
        cairo_stroke(cr);
        showText(cr, x, plotBottom + 9, formatSeconds(t, step), 0.5, 0.0);
    }
    cairo_set_font_size(cr, 13.0);
    showText(cr, (plotLeft + plotRight) / 2, g.height - 8, "time (s)", 0.5, 1.0);
    cairo_save(cr);
    cairo_translate(cr, 14, (plotTop + plotBottom) / 2);
    cairo_rotate(cr, -M_PI / 2);
    showText(cr, 0, 0, "pitch (note, Hz)", 0.5, 0.5);
    cairo_restore(cr);

    // Frame and title.
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, plotLeft + 0.5, plotTop + 0.5, plotRight - plotLeft - 1,
                    plotBottom - plotTop - 1);
    cairo_stroke(cr);
    cairo_set_font_size(cr, 15.0);
    showText(cr, plotLeft, 18, title, 0.0, 0.5);

    cairo_save(cr);
    cairo_rectangle(cr, plotLeft, plotTop, plotRight - plotLeft, plotBottom - plotTop);
    cairo_clip(cr);
    for (const PlotNote& n : notes)
    {
        const double top = g.yForFrequency(frequencyOfMidi(n.midi + 0.5));
        const double bottom = g.yForFrequency(frequencyOfMidi(n.midi - 0.5));
        cairo_rectangle(cr, g.xForTime(n.start), top, g.xForTime(n.end) - g.xForTime(n.start),
                        bottom - top);
        setColour(cr, kNoteColour);
        cairo_fill(cr);
    }
    drawTrack(cr, g, input, kInputColour);
    drawTrack(cr, g, output, kOutputColour);
    cairo_restore(cr);

    // Legend, top right.
    cairo_set_font_size(cr, 12.0);
    const double legendX = plotRight - 150;
    const struct
    {
        const char* label;
        Colour colour;
    } entries[] = {{"input f0", kInputColour},
                   {"output f0", kOutputColour},
                   {notesLabel.c_str(), kNoteColour}};
    for (int k = 0; k < (notes.empty() ? 2 : 3); ++k)
    {
        const double y = notes.empty() ? plotTop - 30 + 14 * k : plotTop - 38 + 13 * k;
        setColour(cr, entries[k].colour);
        cairo_set_line_width(cr, 3.0);
        cairo_move_to(cr, legendX, y);
        cairo_line_to(cr, legendX + 24, y);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
        showText(cr, legendX + 30, y, entries[k].label, 0.0, 0.5);
    }

    writeSurfaceAsPng(surface.get(), path, replace);
}

void writeSurfaceAsPng(cairo_surface_t* surface, const std::string& path, bool replace)
{
    cairo_surface_flush(surface);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        throw RenderError("cannot draw " + path + ": " +
                          std::string(cairo_status_to_string(cairo_surface_status(surface))));
    OutputFile file(path);
    int fd = file.fd();
    const cairo_status_t status = cairo_surface_write_to_png_stream(surface, writeToFd, &fd);
    if (status != CAIRO_STATUS_SUCCESS)
        throw RenderError("cannot write " + path + ": " + cairo_status_to_string(status));
    file.commit(replace);
}

} // namespace render
