#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "cli_errors.h"
#include "plugin_host.h"

namespace hueslice::cli {

namespace {
constexpr const char* kPluginFile = "SOP_Hueslice.so";
constexpr const char* kOperatorToken = "hueslice";
}  // namespace

std::string defaultPluginPath() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "";
    const fs::path bin = self.parent_path();
    for (const fs::path& candidate :
         {bin / ".." / "lib" / kPluginFile, bin / HUESLICE_INSTALLED_PLUGIN_DIR / kPluginFile}) {
        if (fs::exists(candidate, ec))
            return fs::weakly_canonical(candidate, ec).string();
    }
    return "";
}

PluginHost::PluginHost(const std::string& pluginPath) {
    const std::string path = pluginPath.empty() ? defaultPluginPath() : pluginPath;
    if (path.empty()) {
        throw PluginError(std::string(kPluginFile) +
                          ": not found beside this program; name it with --plugin");
    }
    session = std::make_unique<HOST_Session>();
    std::string error;
    loaded = HOST_Plugin::load(path, session->operatorTable(), error);
    if (!loaded)
        throw PluginError(error);
    hueslice = session->createNode(kOperatorToken);
    if (!hueslice)
        throw PluginError(loaded->path() + ": " + session->lastError());
}

PluginHost::~PluginHost() {
    session.reset();
}

}  // namespace hueslice::cli
