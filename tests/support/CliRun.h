// configurator-cli run in-process: its exit status and what it wrote to
// standard output and standard error.
#pragma once
#include "cli/Cli.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

struct CliResult {
    int status;
    std::string out, err;
};

inline CliResult Cli(const std::vector<std::string>& args) {
    char *outBuf = nullptr, *errBuf = nullptr;
    std::size_t outLen = 0, errLen = 0;
    std::FILE* out = open_memstream(&outBuf, &outLen);
    std::FILE* err = open_memstream(&errBuf, &errLen);
    CliResult r{RunCli(args, out, err, ','), {}, {}};
    std::fclose(out);
    std::fclose(err);
    r.out.assign(outBuf, outLen);
    r.err.assign(errBuf, errLen);
    std::free(outBuf);
    std::free(errBuf);
    return r;
}
