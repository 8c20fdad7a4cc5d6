// The command-line tool without its main(): tests run it in-process against
// the simulator.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

// Runs one command line (the arguments after the program's name). Results go
// to `out`, progress and the one-line failure message to `err`. Returns the
// exit status (cli/CommandLine.h). Numbers in the archive files take
// `decimalSeparator`. The program's global state (settings, port, message
// presenter) is restored before it returns.
int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, char decimalSeparator);
