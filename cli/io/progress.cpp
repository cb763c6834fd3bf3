#include <utility>

#include "io/internal.h"
#include "io/io.h"

namespace hueslice::io {

namespace {
ProgressHook& hook() {
    static ProgressHook installed;
    return installed;
}
}  // namespace

void setProgressHook(ProgressHook h) {
    hook() = std::move(h);
}

namespace detail {

void reportProgress(unsigned long long done, unsigned long long total) {
    if (hook() && total > 0)
        hook()(done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total));
}

}  // namespace detail

}  // namespace hueslice::io
