#pragma once

#include <stdexcept>

namespace hueslice::cli {

// A command line that cannot be carried out as written (exit status 2). what() is one line.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The plug-in could not be loaded or does not provide the operator (exit status 1).
class PluginError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace hueslice::cli
