#include "common/build_version.hpp"

// Generated in the build folder at every build (cmake/build_commit.cmake);
// only this file includes it, so a new commit recompiles this file alone.
#include "build_commit.hpp"

namespace build_version {

std::string text() { return std::string("pdpcell ") + PDPCELL_VERSION + " (commit " + PDPCELL_COMMIT + ")"; }

}  // namespace build_version
