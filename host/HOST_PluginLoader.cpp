#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "HOST_PluginLoader.h"

namespace {

using VersionFunc = void (*)(const char**);
using RegisterFunc = void (*)(OP_OperatorTable*);

void* findSymbol(void* handle, const char* name) {
    dlerror();
    return dlsym(handle, name);
}

}  // namespace

HOST_Plugin::~HOST_Plugin() {
    if (handle)
        dlclose(handle);
}

std::unique_ptr<HOST_Plugin> HOST_Plugin::open(const std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path absolute = fs::absolute(fs::path(path), ec);
    const std::string shown = ec ? path : absolute.string();
    if (ec || !fs::exists(absolute, ec)) {
        error = shown + ": no such file";
        return nullptr;
    }
    if (!fs::is_regular_file(absolute, ec)) {
        error = shown + ": not a regular file";
        return nullptr;
    }
    std::unique_ptr<HOST_Plugin> plugin(new HOST_Plugin());
    plugin->file = shown;
    plugin->handle = dlopen(shown.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!plugin->handle) {
        const char* why = dlerror();
        error = shown + ": not a loadable library (" + (why ? why : "unknown reason") + ")";
        return nullptr;
    }
    const char* names[] = {"HoudiniDSOVersion", "HoudiniGetTagInfo", "newSopOperator"};
    void* symbols[3];
    for (int i = 0; i < 3; ++i) {
        symbols[i] = findSymbol(plugin->handle, names[i]);
        if (!symbols[i]) {
            error = shown + ": missing entry point '" + names[i] + "'";
            return nullptr;
        }
    }
    const char* version = nullptr;
    reinterpret_cast<VersionFunc>(symbols[0])(&version);
    plugin->interfaceVersion = version ? version : "";
    if (plugin->interfaceVersion != HOST_PLUGIN_INTERFACE_VERSION) {
        error = shown + ": built for plug-in interface version '" + plugin->interfaceVersion +
                "', this host needs '" + HOST_PLUGIN_INTERFACE_VERSION + "'";
        return nullptr;
    }
    const char* tag = nullptr;
    reinterpret_cast<VersionFunc>(symbols[1])(&tag);
    plugin->buildTag = tag ? tag : "";
    plugin->registerOperators = reinterpret_cast<RegisterFunc>(symbols[2]);
    return plugin;
}

std::unique_ptr<HOST_Plugin> HOST_Plugin::inspect(const std::string& path, std::string& error) {
    return open(path, error);
}

std::unique_ptr<HOST_Plugin> HOST_Plugin::load(const std::string& path, OP_OperatorTable& table,
                                               std::string& error) {
    std::unique_ptr<HOST_Plugin> plugin = open(path, error);
    if (!plugin)
        return nullptr;
    const std::size_t before = table.entries();
    plugin->registerOperators(&table);
    if (table.entries() == before) {
        error = plugin->file + ": registered no operator" +
                (table.lastError().empty() ? "" : " (" + table.lastError() + ")");
        return nullptr;
    }
    return plugin;
}
