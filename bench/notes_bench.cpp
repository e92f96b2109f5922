// Halvern Live's MIDI figures on generated takes (tunes sung up to three quarters of a semitone
// off, with glides and vibrato): notes corrected to keys held on a keyboard, the sung notes found
// against those sung, the same through halvern-render --notes-out, and the notes file's round
// trip (three notes moved in the file, rendered back with --melody).
// Usage: notes_bench [FOLDER] [TAKES PER TUNE]
#include "livevoice.h"
#include "render_melody.h"
#include "render_notes.h"
#include "tuning_takes.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

using namespace tuningtest;

namespace
{

std::string folder = "notes-bench";

bool run(const std::string& arguments)
{
    const std::string command =
        std::string(HALVERN_RENDER_PATH) + " -q -f " + arguments + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Found notes that start within 50 ms of a sung note on the note expected there; returns the
// number matched and counts the found notes in extra that match none.
size_t matchNotes(const std::vector<render::FoundNote>& found, const std::vector<SungNote>& sung,
                  const std::vector<int>& expected, size_t& extra)
{
    std::vector<bool> used(found.size(), false);
    size_t matched = 0;
    for (size_t n = 0; n < sung.size(); ++n)
        for (size_t f = 0; f < found.size(); ++f)
            if (!used[f] && std::fabs(found[f].start - sung[n].start) <= 0.05 &&
                found[f].midi == expected[n])
            {
                used[f] = true;
                ++matched;
                break;
            }
    for (bool u : used)
        extra += !u;
    return matched;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) folder = argv[1];
    const int perTune = argc > 2 ? std::atoi(argv[2]) : 4;
    mkdir(folder.c_str(), 0777);
    size_t notes = 0, heldGood = 0, found = 0, extra = 0, cliFound = 0, cliExtra = 0;
    size_t moved = 0, movedGood = 0, sungNotes = 0, repeated = 0, outOfRange = 0;
    uint32_t seed = 1;
    for (const Tune& tune : tunes())
        for (int k = 0; k < perTune; ++k, ++seed)
        {
            const int tonic = static_cast<int>((seed * 7) % 12);
            const Take take = singTune(tune, tonic, 75.0, false, seed);
            const int rate = static_cast<int>(take.rate);

            // A keyboard plays the melody as written: each note's key held from its start.
            LiveVoice voice(rate);
            LiveControls held;
            held.retuneMs = 0.0f;
            std::vector<float> out(take.samples.size());
            size_t next = 0;
            for (size_t i = 0; i < take.samples.size(); i += 64)
            {
                while (next < take.notes.size() && take.notes[next].start * rate <= i)
                    held.heldNotes =
                        static_cast<uint16_t>(1u << ((take.notes[next++].midi + 3) % 12));
                const int count = static_cast<int>(std::min<size_t>(64, take.samples.size() - i));
                voice.process(take.samples.data() + i, out.data() + i, count, held);
            }
            const auto errors = noteErrors(out, rate, take.notes);
            for (double e : errors)
                heldGood += std::fabs(e) <= 20.0;
            notes += errors.size();

            // The sung notes, nothing corrected: the semitone the voice is on.
            render::NoteFinder finder(rate);
            for (size_t i = 0; i < take.samples.size(); i += 64)
                finder.feed(take.samples.data() + i,
                            static_cast<int>(std::min<size_t>(64, take.samples.size() - i)));
            const std::vector<render::FoundNote> heard = finder.finish();
            // The notes a listener can tell apart: a note sung legato on the semitone of the one
            // before it continues that one; notes above the voice range (640 Hz) are left out.
            std::vector<SungNote> distinct;
            std::vector<int> sungSemitones;
            for (const SungNote& n : take.notes)
            {
                const int semitone = static_cast<int>(std::lround(n.midi + n.cents / 100.0));
                if (440.0 * std::exp2((n.midi + n.cents / 100.0 - 69.0) / 12.0) > 640.0)
                {
                    ++outOfRange;
                    continue;
                }
                if (!sungSemitones.empty() && sungSemitones.back() == semitone)
                {
                    ++repeated;
                    continue;
                }
                distinct.push_back(n);
                sungSemitones.push_back(semitone);
            }
            sungNotes += distinct.size();
            const size_t foundHere = matchNotes(heard, distinct, sungSemitones, extra);
            found += foundHere;

            // The same through the renderer, then three notes moved and rendered back.
            const std::string input = folder + "/take.wav", notesFile = folder + "/sung.mid";
            rendertest::writeAudio(input, take.samples, 1, rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
            if (!run("--notes-out " + notesFile + " " + input + " -o " + folder + "/copy.wav"))
            {
                std::fprintf(stderr, "halvern-render --notes-out failed\n");
                return 1;
            }
            const render::Melody written = render::loadMelody(notesFile, 0);
            std::vector<render::FoundNote> fromFile;
            for (const render::MelodyNote& n : written.notes)
                fromFile.push_back({n.start, n.end, n.midi, 90});
            cliFound += matchNotes(fromFile, distinct, sungSemitones, cliExtra);

            std::vector<SungNote> meant = take.notes;
            std::vector<size_t> movedNotes;
            for (size_t f = 0; f < fromFile.size(); ++f)
                for (size_t n = 0; n < meant.size(); ++n)
                    if (f % 4 == 1 && movedNotes.size() < 3 &&
                        std::fabs(fromFile[f].start - meant[n].start) <= 0.05)
                    {
                        fromFile[f].midi += 2;
                        meant[n].midi = fromFile[f].midi;
                        meant[n].cents = 0.0;
                        movedNotes.push_back(n);
                    }
            render::writeNotesFile(folder + "/moved.mid", fromFile, true);
            run("--melody " + folder + "/moved.mid " + input + " -o " + folder + "/back.wav");
            const auto back =
                noteErrors(rendertest::readAudio(folder + "/back.wav").samples, take.rate, meant);
            for (size_t n : movedNotes)
                movedGood += std::fabs(back[n]) <= 20.0;
            moved += movedNotes.size();
            std::printf("%-10s take %d: held keys %.0f%% within 20 cents, %zu of %zu notes found\n",
                        tune.name, k + 1, 100.0 * shareWithin(errors, 20.0), foundHere,
                        take.notes.size());
        }
    std::printf("\n%zu notes sung up to 75 cents off:\n", notes);
    std::printf("- keys held (MIDI in), Retune 0: %.1f%% of notes within 20 cents of the key\n",
                100.0 * heldGood / notes);
    std::printf("- sung notes found (MIDI out), of %zu told apart (%zu sung legato on the semitone "
                "before and %zu above 640 Hz left out): %.1f%% found (onset within 50 ms, the "
                "semitone sung), %.1f%% extra\n",
                sungNotes, repeated, outOfRange, 100.0 * found / sungNotes,
                100.0 * extra / sungNotes);
    std::printf("- halvern-render --notes-out: %.1f%% found, %.1f%% extra\n",
                100.0 * cliFound / sungNotes, 100.0 * cliExtra / sungNotes);
    std::printf("- round trip: %zu notes moved two semitones in the file, %.1f%% within 20 cents "
                "after --melody\n",
                moved, moved ? 100.0 * movedGood / moved : 0.0);
    return 0;
}
