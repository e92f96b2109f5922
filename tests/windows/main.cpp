// halvern-wintest: a small VST 2.x host that checks the plug-in through its exported entry
// points. Built with the mingw-w64 compilers and run under wine for the Windows DLLs; built
// natively for the Linux reference run.
//
//   halvern-wintest host PLUGIN             record, opcodes, parameters, audio
//   halvern-wintest host-live PLUGIN        the same for Halvern Live
//   halvern-wintest signal FILE             writes the comparison input (raw 32-bit floats)
//   halvern-wintest render PLUGIN IN OUT    the plug-in's output for IN with the fixed settings
//   halvern-wintest compare A B LIMIT       largest difference of two outputs, at most LIMIT
//   halvern-wintest gdi                     (Windows) the GDI drawing layer's pixel rules
//   halvern-wintest editor PLUGIN REF.png FOLDER   (Windows) the editor against its snapshot,
//                                                   then the hand of the test script
//   halvern-wintest editor-smoke PLUGIN     (Windows) Halvern Live's editor opens and closes
//
// Every command ends with "halvern-wintest <command>: N checks passed, M failed" and exits 0
// only when nothing failed and something was checked.
#include "hostcases.h"
#include "hostcheck.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace hostcheck;

namespace
{

int usage()
{
    std::fprintf(stderr, "usage: halvern-wintest host PLUGIN | host-live PLUGIN | signal FILE"
                         " | render PLUGIN IN OUT | compare A B LIMIT | gdi"
                         " | editor PLUGIN REF.png FOLDER | editor-smoke PLUGIN\n");
    return 2;
}

void compare(const std::string& pathA, const std::string& pathB, double limit)
{
    std::vector<float> a, b;
    check(readFloats(pathA, a) && !a.empty(), "reads " + pathA);
    check(readFloats(pathB, b) && !b.empty(), "reads " + pathB);
    check(a.size() == b.size(), "both hold " + std::to_string(a.size()) + " samples");
    if (a.empty() || a.size() != b.size()) return;
    double largest = 0.0, energy = 0.0;
    size_t where = 0;
    for (size_t k = 0; k < a.size(); ++k)
    {
        const double d = std::fabs(static_cast<double>(a[k]) - b[k]);
        if (!(d <= largest))
        {
            largest = d;
            where = k;
        }
        energy += static_cast<double>(a[k]) * a[k];
    }
    // Two silent outputs would agree and prove nothing.
    const double rms = std::sqrt(energy / static_cast<double>(a.size()));
    check(rms > 0.01, "the output carries the voice (RMS " + std::to_string(rms) + ")");
    char text[160];
    std::snprintf(text, sizeof text, "largest difference %.3g (at sample %zu), limit %.3g", largest,
                  where, limit);
    check(largest <= limit, text);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage();
    const std::string& command = args[0];
    if ((command == "host" || command == "host-live") && args.size() == 2)
        runHostCases(args[1], command == "host-live");
    else if (command == "signal" && args.size() == 2)
        check(writeFloats(args[1], referenceInput()), "writes " + args[1]);
    else if (command == "render" && args.size() == 4)
    {
        Library library(args[1]);
        std::vector<float> input;
        check(library.isLoaded(),
              "loads " + args[1] + (library.isLoaded() ? "" : ": " + library.error()));
        check(readFloats(args[2], input) && !input.empty(), "reads " + args[2]);
        if (library.isLoaded() && !input.empty())
        {
            const auto output = renderReference(library, input);
            check(output.size() == input.size(),
                  "renders " + std::to_string(output.size()) + " samples");
            check(writeFloats(args[3], output), "writes " + args[3]);
        }
    }
    else if (command == "compare" && args.size() == 4)
        compare(args[1], args[2], std::atof(args[3].c_str()));
#if defined(_WIN32)
    else if (command == "gdi" && args.size() == 1)
        runGdiCases();
    else if (command == "editor" && args.size() == 4)
        runEditorCase(args[1], args[2], args[3]);
    else if (command == "editor-smoke" && args.size() == 2)
        runEditorSmokeCase(args[1]);
#endif
    else
        return usage();
    return summary(command);
}
