#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include <io/formats/formats.h>

namespace hueslice::cli {

// One step of a cook command, in command-line order.
struct Step {
    enum Kind { Set, Initialise, Sort } kind;
    std::string assignment;  // for Set
};

struct CookOptions {
    std::string input;
    std::string output;
    std::string scene;
    std::string saveScene;
    std::string svg;
    std::string splitFolder;
    std::string splitFormat = io::defaultSplitFormat();
    std::string plugin;
    double time = 0.0;
    bool vertexColours = false;
    bool keepOrder = false;
    std::vector<Step> steps;
    // --colours and --palette: empty when not given.
    std::string colours;
    std::string palette;
};

// What `info` is asked to describe.
struct InfoOptions {
    std::string input;
    bool vertexColours = false;
    std::string colours;
    std::string palette;
};

// Each command writes its report to `out` and notes to `err`, and returns the exit status.
// Errors are thrown (io::InputError, io::OutputError, UsageError, PluginError).
int runCook(const CookOptions& options, std::ostream& out, std::ostream& err);
int runInfo(const InfoOptions& options, std::ostream& out, std::ostream& err);
int runParams(const std::string& scene, const std::string& input, const std::string& plugin,
              std::ostream& out, std::ostream& err);
int runDemo(const std::string& folder, const std::string& plugin, std::ostream& out,
            std::ostream& err);
int runVersion(const std::string& plugin, std::ostream& out);

// Prints each note as its own line behind the program's name.
void printNotes(const std::vector<std::string>& notes, std::ostream& err);

}  // namespace hueslice::cli
