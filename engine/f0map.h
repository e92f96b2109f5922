// The diagnostic dump f0map.txt: the candidate map and every contour of the latest block.
//
// The file lives in the user's own cache folder ($XDG_CACHE_HOME/halvern, else
// $HOME/.cache/halvern) on POSIX systems and in the user's temporary folder on Windows, never in
// the host's working directory. The file is replaced on every block.
#pragma once

#include "f0contour.h"

#include <cstdio>

// Opens f0map.txt for writing from its start (dumpF0Map cuts it to what it wrote; on Windows it
// is replaced); null when it cannot be opened safely (the folder cannot be made, is not the
// user's own, or the file name is a symbolic link).
// Real-time: file I/O (may create the folder); no lock; the C library may allocate the stream.
std::FILE* openF0MapFile();

// Writes the header and one line per frame (m of them) for bands map rows; does not close file.
// Real-time: file I/O; no allocation of its own; no lock.
void writeF0Map(std::FILE* file, int bands, int m, const double* const* f0Map,
                const double* const* stabilityMap, const F0ContourTrace& trace);

// Opens, writes and closes the dump; skips it silently when the file cannot be opened.
// Real-time: file I/O; no lock; the C library may allocate the stream.
void dumpF0Map(int bands, int m, const double* const* f0Map, const double* const* stabilityMap,
               const F0ContourTrace& trace);
