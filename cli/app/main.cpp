#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <string>

#include <colour/clustering.h>
#include <io/commit/output_batch.h>
#include <io/formats/formats.h>
#include <io/io.h>
#include <CLI/CLI.hpp>

#include "cli_errors.h"
#include "commands.h"
#include "progress_line.h"

namespace {

using namespace hueslice::cli;
namespace colour = hueslice::colour;
namespace io = hueslice::io;

// Memory can run out where an exception cannot pass, such as in a destructor that allocates
// (the JSON library's does), and then the program ends here. Out of memory gets the same
// message and status as anywhere else; anything else is a fault of the program and aborts.
[[noreturn]] void onTerminate() {
    hueslice::io::removeTemporaries();
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::bad_alloc&) {
            static const char kMessage[] = "hueslice: out of memory\n";
            if (::write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) {
                // Ending anyway.
            }
            ::_exit(1);
        } catch (...) {
        }
    }
    std::abort();
}

int fail(int status, const std::string& message) {
    std::cerr << "hueslice: " << hueslice::io::printable(message) << "\n";
    return status;
}

int run(int argc, char** argv) {
    CLI::App app{"Groups the primitives of a mesh by colour with the hueslice plug-in."};
    bool version = false;
    std::string plugin;
    app.add_flag("--version", version, "Print the plug-in's interface version and build tag");
    app.add_option("--plugin", plugin, "The plug-in file (default: the one beside this program)");
    bool quiet = false;
    app.add_flag("-q,--quiet", quiet, "Show no progress line while reading, cooking or writing");
    app.fallthrough();
    app.require_subcommand(0, 1);

    std::string demoFolder = "hueslice-demo";
    CLI::App* demo = app.add_subcommand("demo", "Cook a built-in coloured mesh and write results");
    demo->add_option("DIR", demoFolder, "Where to write the results");

    // An empty file name would mean "no such output" and write nothing without a word.
    const CLI::Validator notEmpty(
        [](std::string& value) { return value.empty() ? "an empty name names no file" : ""; }, "",
        "NOT EMPTY");

    CookOptions cook;
    std::vector<std::string> assignments;
    CLI::App* cookCommand = app.add_subcommand("cook", "Cook a mesh file with the node");
    const std::string readable = io::extensionList(io::FormatUse::read);
    cookCommand->add_option("INPUT", cook.input, "Mesh: " + readable)->required();
    cookCommand
        ->add_option("-o,--output", cook.output,
                     "Write the result: " + io::extensionList(io::FormatUse::write) +
                         "; - writes JSON to standard output")
        ->check(notEmpty);
    cookCommand
        ->add_option("--split", cook.splitFolder,
                     "Write one file per group (and 'ungrouped') into this folder")
        ->check(notEmpty);
    cookCommand
        ->add_option("--split-format", cook.splitFormat,
                     "File type of --split (default " + io::defaultSplitFormat() + ")")
        ->check(CLI::IsMember(io::extensions(io::FormatUse::split)));
    cookCommand->add_flag("--keep-order", cook.keepOrder,
                          "OBJ: keep the input's face order instead of writing each group's "
                          "faces together");
    cookCommand->add_option("--scene", cook.scene, "Read parameter values from a scene file")
        ->check(notEmpty);
    cookCommand
        ->add_option("--save-scene", cook.saveScene,
                     "Write every parameter value (- for standard output)")
        ->check(notEmpty);
    CLI::Option* setOption =
        cookCommand->add_option("--set", assignments, "TOKEN=VALUE, e.g. group2=red, col1=1,0,0")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    CLI::Option* initialiseOption = cookCommand->add_flag("--initialise", "Press \"Initialise\"");
    CLI::Option* sortOption = cookCommand->add_flag("--sort", "Press \"Sort\"");
    cookCommand->add_option("--time", cook.time, "Cook time (default 0)");
    cookCommand
        ->add_option("--svg", cook.svg, "Write a picture of the result (- for standard output)")
        ->check(notEmpty);
    cookCommand->add_flag(
        "--vertex-colours", cook.vertexColours,
        "Faces take the colour most of their corners share (ties: the earliest corner), "
        "even faces with a colour of their own");

    const std::string coloursHelp =
        "Before cooking, reduce the face colours to N colours (1 to 256) chosen to represent "
        "them (k-means in CIELAB, faces weighted by area); 'auto' takes the most colours, up to " +
        std::to_string(colour::kAutoMaxColours) + ", that differ pairwise by at least " +
        std::to_string(static_cast<int>(colour::kAutoSeparation)) + " CIEDE2000";
    const std::string paletteHelp =
        "Before cooking, snap every face colour to the nearest (CIEDE2000) of these colours: a "
        "file (when the text holds a '/' or '.') with one '#rrggbb [name]' or 'cssname [name]' a "
        "line, or a list such as '#d32f2f,#1976d2,white'; names become group names after "
        "--initialise";
    cookCommand->add_option("--colours", cook.colours, coloursHelp);
    cookCommand->add_option("--palette", cook.palette, paletteHelp);

    cookCommand->footer(
        "Outputs are all-or-nothing: every file is written in full first, and either all of them "
        "replace the old files or none does. A replaced file keeps its permissions. An output "
        "that is a FIFO, a character device or - (standard output) is written into directly, "
        "never replaced, so it cannot be all-or-nothing. Two outputs naming one file (an .obj's "
        ".mtl included) are refused. Inputs must be regular files. SIGINT, SIGTERM and SIGHUP "
        "leave every old file in place and exit with 128 + the signal's number. With --colours or "
        "--palette the palette report (per colour: faces, share of the area, mean and worst "
        "CIEDE2000) goes to standard error.");

    InfoOptions infoOptions;
    CLI::App* info = app.add_subcommand("info", "Describe a mesh file and its palette");
    info->add_option("INPUT", infoOptions.input, "Mesh: " + readable)->required();
    info->add_option("--colours", infoOptions.colours,
                     "Reduce the colours as cook --colours does and print the palette report");
    info->add_option("--palette", infoOptions.palette,
                     "Snap the colours as cook --palette does and print the palette report");
    info->add_flag("--vertex-colours", infoOptions.vertexColours,
                   "Faces take the colour most of their corners share (ties: the earliest corner), "
                   "even faces with a colour of their own");

    std::string paramsScene, paramsInput;
    CLI::App* params = app.add_subcommand("params", "Show the node's parameter dialog as text");
    params->add_option("--scene", paramsScene, "Read parameter values from a scene file");
    params->add_option("--input", paramsInput, "Connect a mesh, for the group menu");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return fail(2, std::string(e.what()) + " (see --help)");
    }

    if (quiet)
        ProgressLine::silence();
    if (version)
        return runVersion(plugin, std::cout);
    if (demo->parsed())
        return runDemo(demoFolder, plugin, std::cout, std::cerr);
    if (info->parsed())
        return runInfo(infoOptions, std::cout, std::cerr);
    if (params->parsed()) {
        return runParams(paramsScene, paramsInput, plugin, std::cout, std::cerr);
    }
    if (cookCommand->parsed()) {
        if (!std::isfinite(cook.time))
            throw UsageError("--time: expected a finite number");
        // --set, --initialise and --sort act in the order they were given.
        std::size_t nextAssignment = 0;
        for (const CLI::Option* option : cookCommand->parse_order()) {
            if (option == setOption && nextAssignment < assignments.size()) {
                cook.steps.push_back({Step::Set, assignments[nextAssignment++]});
            } else if (option == initialiseOption) {
                cook.steps.push_back({Step::Initialise, ""});
            } else if (option == sortOption) {
                cook.steps.push_back({Step::Sort, ""});
            }
        }
        cook.plugin = plugin;
        return runCook(cook, std::cout, std::cerr);
    }
    return fail(2, "a command is needed: demo, cook, info or params (see --help)");
}

}  // namespace

int main(int argc, char** argv) {
    // Beyond a file size limit a write should fail with EFBIG, which the atomic writer reports
    // and cleans up after, instead of the signal killing the program mid-write and leaving its
    // temporary file behind.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader that goes away makes the write fail with EPIPE, reported like any failed write.
    std::signal(SIGPIPE, SIG_IGN);
    hueslice::io::cleanUpOnSignals();
    std::set_terminate(onTerminate);
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        return fail(2, e.what());
    } catch (const hueslice::io::OutputClash& e) {
        return fail(2, e.what());
    } catch (const hueslice::io::InputError& e) {
        return fail(1, e.what());
    } catch (const hueslice::io::OutputError& e) {
        return fail(1, e.what());
    } catch (const PluginError& e) {
        return fail(1, e.what());
    } catch (const std::bad_alloc&) {
        return fail(1, "out of memory");
    }
}
