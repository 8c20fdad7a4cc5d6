// configurator-cli: the gateway's settings and the meters' archives from a
// script, without a display.
#include "base/DecimalSeparator.h"
#include "cli/Cli.h"

int main(int argc, char** argv) {
    return RunCli(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr, UserDecimalSeparator());
}
