#pragma once
// The registry stand-in's command line, as the platform's own `reg`:
//   reg query  KEY [/v NAME | /ve]
//   reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve] [/f]
// KEY starts with its root (HKLM, HKCU, HKCR, HKU or their long names). It goes
// through the registry calls the service makes, so each change is the store's
// locked, atomic rewrite of the hive.
#include <string>
#include <vector>

struct RegOutput {
    std::string out;  // what goes to standard output
    std::string err;  // and to standard error
};

// Runs one command (the arguments after the program name); the exit status.
int RunReg(const std::vector<std::string>& args, RegOutput& output);
