#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace lumivex {

/// Exit codes of the command-line tool.
enum TCliExit : int { ceSuccess = 0, ceFailure = 1, ceUsage = 2 };

/// Runs the command line (arguments without the program name); messages go to err, results
/// to out.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace lumivex
