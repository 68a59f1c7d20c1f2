// The command line parsed as main parses it, from arguments given as
// strings (the program's name first), with everything it prints captured.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/console.h"

inline bool ParseArguments(std::vector<std::string> arguments, kelvo::CommandLine& cmd, std::string& printed) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    kelvo::SetProcessArguments(static_cast<int>(arguments.size()), argv.data());
    printed.clear();
    kelvo::CaptureConsole(&printed);
    std::memset(&cmd, 0, sizeof cmd);
    const bool accepted = kelvo::ParseCommandLine(cmd);
    kelvo::CaptureConsole(nullptr);
    kelvo::SetProcessArguments(0, nullptr);
    return accepted;
}
