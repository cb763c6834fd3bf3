#pragma once

#include <memory>
#include <string>

#include <HOST_PluginLoader.h>
#include <HOST_Session.h>

namespace hueslice::cli {

// The plug-in file next to this program: in a build tree (bin/ beside lib/) or an installed tree
// (bin/ beside lib/hueslice/). Empty when neither exists.
std::string defaultPluginPath();

// A host session with the plug-in loaded and one `hueslice` node, displayed as in an
// interactive session: it is cooked whenever it is out of date and its output is needed.
class PluginHost {
  public:
    // Loads `pluginPath` (or the default one when empty). Throws PluginError.
    explicit PluginHost(const std::string& pluginPath);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    SOP_Node& node() { return *hueslice; }
    const HOST_Plugin& plugin() const { return *loaded; }

  private:
    // Declared first so that it is destroyed last: nodes and operators use the library's code.
    std::unique_ptr<HOST_Plugin> loaded;
    std::unique_ptr<HOST_Session> session;
    SOP_Node* hueslice = nullptr;
};

}  // namespace hueslice::cli
