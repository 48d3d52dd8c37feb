#pragma once

// The subcommands of kestrune-cli. Each takes the arguments after its name and returns the exit
// status: 0 done, 1 failed (the reason is on stderr), 2 bad usage, 130 interrupted.

#include <string>
#include <vector>

namespace kestrune::cli {

int RunInfo(const std::vector<std::string>& args);
int RunCreate(const std::vector<std::string>& args);
int RunPlay(const std::vector<std::string>& args);

// Prints "usage: kestrune-cli SYNOPSIS" on stderr and returns 2.
int UsageError(const char* synopsis);

}  // namespace kestrune::cli
