// corvane-cli, the console companion of Corvane: the whole program as a function of its
// arguments, so that tests run it without starting a process. main.cpp hands the command line
// in and writes what comes back.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Exit codes. Scripts rely on them, so they never change meaning.
enum ExitCode : int {
    kExitOk = 0,            // done; for status: registered to this file
    kExitNotRegistered = 1, // status only
    kExitError = 2,         // bad arguments, bad file, or a failed operation
    kExitElsewhere = 3,     // status only: registered to another file or to a missing file
    kExitCompatible = 1,    // diff only: compatible changes alone
    kExitBreaking = 4,      // diff only: a change that breaks clients of the old library
};

struct Output {
    int exitCode = kExitOk;
    std::wstring out;  // stdout: the text for people, or one JSON document
    std::string bytes; // stdout instead of out: bytes (a .reg file) that must arrive unchanged
    std::wstring err;  // stderr: one-line errors
};

// Runs the whole program on the arguments after the program name.
Output Run(const std::vector<std::wstring>& args);

} // namespace cli
