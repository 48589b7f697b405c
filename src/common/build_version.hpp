#pragma once
// The program's version and the git commit it was built from, for --version
// and the run summary. Never written into an output file: the files of a run
// must not change with the commit that computed them.
#include <string>

namespace build_version {

// "pdpcell 0.1.0 (commit abc1234)", or "(commit unknown)" for a build
// outside a git checkout.
std::string text();

}  // namespace build_version
