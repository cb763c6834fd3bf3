#include <memory>
#include <ostream>

#include <io/formats/formats.h>
#include <io/input/input_file.h>
#include <io/scene/scene.h>

#include "cli_errors.h"
#include "commands.h"
#include "parm_values.h"
#include "plugin_host.h"

namespace hueslice::cli {

int runParams(const std::string& scene, const std::string& input, const std::string& plugin,
              std::ostream& out, std::ostream& err) {
    PluginHost host(plugin);
    SOP_Node& node = host.node();
    if (!input.empty()) {
        auto geometry = std::make_shared<GU_Detail>();
        printNotes(io::readGeometryFile(input, *geometry), err);
        node.setInput(0, std::move(geometry));
    }
    if (!scene.empty())
        io::applyScene(io::readWholeFile(scene), scene, node);
    node.refreshParmEnables();

    for (PRM_Parm* parm : node.allParms()) {
        const char* label = parm->getTemplate().getLabel();
        out << parm->getToken() << "  \"" << (label ? label : "") << "\"  " << describeValue(*parm)
            << (parm->isEnabled() ? "" : "  (greyed out)") << "\n";
    }
    out << "group menu:";
    const std::vector<std::string> menu = node.parmMenu("group1");
    if (menu.empty())
        out << " (empty)";
    for (const std::string& item : menu)
        out << " " << item;
    out << "\n";
    return 0;
}

int runVersion(const std::string& plugin, std::ostream& out) {
    const std::string path = plugin.empty() ? defaultPluginPath() : plugin;
    std::string error;
    std::unique_ptr<HOST_Plugin> loaded = HOST_Plugin::inspect(path, error);
    if (!loaded) {
        throw PluginError(path.empty() ? "SOP_Hueslice.so: not found beside this program" : error);
    }
    out << "hueslice " << HUESLICE_VERSION << "\n"
        << "plug-in: " << loaded->path() << "\n"
        << "interface version: " << loaded->version() << "\n"
        << "build tag: " << loaded->tag() << "\n";
    return 0;
}

}  // namespace hueslice::cli
