#pragma once

#include <string>
#include <vector>

namespace tidewell::cli {

struct ProgramResult {
    bool started = false;  // false: not found on PATH or could not be started (see errors)
    int exitStatus = -1;   // 128 + signal when a signal ended it
    std::string output;
    std::string errors;
};

// Runs a program found on PATH with these arguments and waits for it. Standard input is
// /dev/null; standard output and error are collected.
ProgramResult RunProgram(const std::vector<std::string>& arguments);

}  // namespace tidewell::cli
