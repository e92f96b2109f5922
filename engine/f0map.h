// The diagnostic dump f0map.txt: the candidate map and every contour of the latest block.
//
// The file lives in the user's own cache folder ($XDG_CACHE_HOME/halvern, else
// $HOME/.cache/halvern) on POSIX systems and in the user's temporary folder on Windows, never in
// the host's working directory. Each dump is written beside the final name and renamed over it,
// so a reader, or another instance writing at the same time, never sees a torn or mixed file.
// Nothing here is meant for the audio thread: it formats text into growing strings and does I/O.
#pragma once

#include "f0contour.h"

#include <string>

// Appends the header and one line per frame (m of them) for bands map rows to text.
void formatF0Map(std::string& text, int bands, int m, const double* const* f0Map,
                 const double* const* stabilityMap, const F0ContourTrace& trace);

// Writes text to a file of its own beside f0map.txt and renames it over f0map.txt. False, leaving
// nothing behind, when the folder is unsafe, the name is taken by anything but a regular file, or a
// write fails.
bool replaceF0MapFile(const std::string& text);

// The same for a writer that dumps again and again: text goes into the writer's own spare file
// beside f0map.txt (made on first use, then rewritten in place) and the spare and f0map.txt swap
// names in one step, so the previous dump becomes the spare. No file is made or freed per dump,
// which on journalling file systems costs several times the writing itself. spare: a name from
// f0MapSpareName, used by one writer only. A reader holding the file open while two more dumps
// are written sees it rewritten; one that opens it sees a whole dump.
bool exchangeF0MapFile(const std::string& text, const std::string& spare);

// The spare's name for writer number writer of this process, and its removal when the writer ends.
std::string f0MapSpareName(unsigned writer);
void removeF0MapSpare(const std::string& spare);

// Removes the spare and temporary files beside f0map.txt whose writing process no longer exists
// (a host that was killed or crashed leaves them): only regular files named as ours, no link
// followed, nothing of a process that still runs.
void sweepF0MapLeftovers();

// Formats and replaces the dump; skips it silently when it cannot be written.
void dumpF0Map(int bands, int m, const double* const* f0Map, const double* const* stabilityMap,
               const F0ContourTrace& trace);
