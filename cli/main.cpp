// configurator-cli: the gateway's settings and the meters' archives from a
// script, without a display.
#include "base/DecimalSeparator.h"
#include "cli/Cli.h"

#ifdef _WIN32
#include "base/WideText.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h:
#include <shellapi.h>

// Arguments as UTF-8 from the wide command line (the ANSI one would lose
// letters outside the code page), UTF-8 texts shown as such, and output with
// the same bytes as on Linux (no line feed turned into CR LF), so that
// scripts read one format.
int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; argv && i < argc; ++i)
        args.push_back(Narrow(argv[i]));
    LocalFree(argv);
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return RunCli(args, stdout, stderr, UserDecimalSeparator());
}
#else
int main(int argc, char** argv) {
    return RunCli(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr, UserDecimalSeparator());
}
#endif
