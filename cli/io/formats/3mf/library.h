#pragma once

// What the 3MF reader and writer share of the 3MF library's C interface: owned handles, and
// its failures and strings turned into ours.

#include <string>
#include <vector>

#include <Model/COM/NMR_DLLInterfaces.h>

namespace hueslice::io::threemf {

using namespace NMR;

// The library's name for its reader and writer of 3MF packages.
inline constexpr const char* kPackageKind = "3mf";

// Owns one lib3mf interface pointer.
class Handle {
  public:
    Handle() = default;
    ~Handle() {
        if (pointer)
            lib3mf_release(pointer);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    PLib3MFBase** out() { return &pointer; }
    PLib3MFBase* get() const { return pointer; }

  private:
    PLib3MFBase* pointer = nullptr;
};

// The message lib3mf keeps for the last failed call on `instance`.
inline std::string lastError(PLib3MFBase* instance) {
    DWORD code = 0;
    LPCSTR message = nullptr;
    if (instance && lib3mf_getlasterror(instance, &code, &message) == LIB3MF_OK && message &&
        *message) {
        return message;
    }
    return "error " + std::to_string(code);
}

// Throws `Error` naming the file when a lib3mf call fails.
template <typename Error>
void check(LIB3MFRESULT result, PLib3MFBase* instance, const std::string& name,
           const std::string& what) {
    if (result != LIB3MF_OK)
        throw Error(name + ": " + what + ": " + lastError(instance));
}

// Reads a lib3mf UTF-8 string through the usual ask-size-then-fill pair of calls.
template <typename Get>
std::string utf8(Get&& get) {
    ULONG needed = 0;
    if (get(nullptr, 0, &needed) != LIB3MF_OK || needed == 0)
        return {};
    std::vector<char> buffer(needed + 1, '\0');
    if (get(buffer.data(), needed + 1, &needed) != LIB3MF_OK)
        return {};
    return std::string(buffer.data());
}

}  // namespace hueslice::io::threemf
