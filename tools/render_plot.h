// The pitch plot of halvern-render: input and output f0 over time on a logarithmic pitch axis,
// with the enabled notes as guide lines, drawn with cairo into a PNG.
#pragma once

#include <cairo.h>

#include "render_options.h"
#include "render_pitch.h"

#include <string>

namespace render
{

// MIDI note number of a frequency (A4 = 440 Hz = 69), not rounded.
double midiOfFrequency(double hz);
double frequencyOfMidi(double midi);
// "A4", "C#5" for a MIDI note number.
std::string midiNoteLabel(int midi);

struct PlotGeometry
{
    int width = 1200;
    int height = 600;
    int left = 110; // room for the note and Hz labels
    int right = 30;
    int top = 50;
    int bottom = 60;
    double duration = 1.0; // seconds shown
    int lowMidi = 48;      // the pitch axis runs from this note ...
    int highMidi = 72;     // ... to this one

    double xForTime(double seconds) const;
    double yForFrequency(double hz) const;
};

// Fits the pitch axis to the voiced frames of both tracks, at least one octave, whole notes.
PlotGeometry plotGeometryFor(const PitchTrack& input, const PitchTrack& output, double duration);

// A note drawn under the tracks as a bar a semitone high, as in a piano roll.
struct PlotNote
{
    double start = 0.0, end = 0.0; // seconds
    int midi = 60;
};

// Draws the plot and writes it as PNG through a temporary file; throws RenderError. notes, when
// not empty, are drawn as bars and named in the legend as notesLabel.
void writePitchPlot(const std::string& path, const PitchTrack& input, const PitchTrack& output,
                    double duration, const NoteSet& guideNotes, const std::string& title,
                    bool replace, const std::vector<PlotNote>& notes = {},
                    const std::string& notesLabel = "");

// Writes an image surface as PNG through a temporary file beside path; throws RenderError.
void writeSurfaceAsPng(cairo_surface_t* surface, const std::string& path, bool replace);

} // namespace render
