// The host-visible test cases, and the fixed run whose output is compared across builds.
#pragma once

#include "hostcheck.h"

#include <string>
#include <vector>

namespace hostcheck
{

// Record, entry points, opcode answers, parameters and texts, audio (and the dump on Windows), of
// Halvern or, with live, of Halvern Live.
void runHostCases(const std::string& pluginPath, bool live = false);

// The input of the cross-build comparison (4 s of a vowel with vibrato at 44.1 kHz), and the
// plug-in's output for it with fixed settings in host blocks of 512.
std::vector<float> referenceInput();
std::vector<float> renderReference(const Library& library, const std::vector<float>& input);

// The GDI drawing layer's pixel rules on memory surfaces (Windows only).
void runGdiCases();

// Halvern Live's editor opened into a window, closed and opened again (Windows only).
void runEditorSmokeCase(const std::string& pluginPath);

// The editor opened into a top-level window of this program, compared with a picture of it and
// driven by a user's hand from outside (Windows only).
void runEditorCase(const std::string& pluginPath, const std::string& referencePng,
                   const std::string& workFolder);

} // namespace hostcheck
