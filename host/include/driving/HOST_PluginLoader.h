#pragma once

#ifdef HUESLICE_PLUGIN_CODE
#error "a driving-side header of the stand-in host is not part of the plug-in interface"
#endif

#include <memory>
#include <string>

#include "HOST_API.h"
#include "OP_Node.h"

// The plug-in interface version this host speaks.
constexpr const char* HOST_PLUGIN_INTERFACE_VERSION = "7.0";

// A geometry-operator plug-in loaded from a file. The library stays loaded while this object
// lives, so destroy it only after every table and node that uses its operators.
class HOST_API HOST_Plugin {
  public:
    // Loads the library at `path` (made absolute first; the current folder is never searched
    // implicitly), checks its interface version, reads its tag and lets it add its operators to
    // `table`. On failure returns null, leaves `table` unchanged and sets `error` to one line
    // naming the file and the fault.
    static std::unique_ptr<HOST_Plugin> load(const std::string& path, OP_OperatorTable& table,
                                             std::string& error);
    ~HOST_Plugin();
    HOST_Plugin(const HOST_Plugin&) = delete;
    HOST_Plugin& operator=(const HOST_Plugin&) = delete;

    const std::string& path() const { return file; }
    const std::string& version() const { return interfaceVersion; }
    const std::string& tag() const { return buildTag; }

    // Reads version and tag without registering anything; same failures as load().
    static std::unique_ptr<HOST_Plugin> inspect(const std::string& path, std::string& error);

  private:
    HOST_Plugin() = default;
    static std::unique_ptr<HOST_Plugin> open(const std::string& path, std::string& error);

    void* handle = nullptr;
    std::string file;
    std::string interfaceVersion;
    std::string buildTag;
    void (*registerOperators)(OP_OperatorTable*) = nullptr;
};
