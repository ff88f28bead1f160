// corvane-cli: hands the command line to cli::Run and its output to the console.
#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <exception>

#include "cli/cli.h"
#include "common/owners.h"

int main(int argc, char** argv) {
    ComApartment apartment;
    std::vector<std::string> args(argv + 1, argv + argc);
    cli::Output output;
    try {
        output = cli::Run(args);
    } catch (const std::exception& failure) {
        output.exitCode = cli::kExitError;
        output.err = std::string("corvane-cli: internal error: ") + failure.what() + "\n";
    }
    // Text goes out with the console's line ends; a .reg file's UTF-16 bytes go out unchanged.
    if (output.binary)
        _setmode(_fileno(stdout), _O_BINARY);
    std::fwrite(output.out.data(), 1, output.out.size(), stdout);
    std::fflush(stdout);
    std::fwrite(output.err.data(), 1, output.err.size(), stderr);
    std::fflush(stderr);
    return output.exitCode;
}
