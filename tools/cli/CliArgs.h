#pragma once
#include <string>

#include "foundation/XString.h"
#include "platform/Socket.h"

namespace hanamail {

class ClsBase;

// Argument handling the tool's commands share.
namespace cli {

// "--name VALUE" or "--name=VALUE" at argv[i] (i moves past a separate
// value). matched tells a missing value from another option.
bool takeValue(int argc, char** argv, int& i, const char* name, const char*& value, bool& matched);

// Input echoed in a message, quoted, with its control bytes as escapes.
std::string quoted(const std::string& s);

// An argument as text: arguments arrive in the ANSI code page (UTF-8 on POSIX).
XString fromArg(const std::string& s);

// A file named on the command line by its absolute path (for settings
// that are read later, from wherever the process then is).
XString fullPathArg(const char* path);

// "-4" or "-6" at arg: 1 when taken into family, 0 when arg is neither,
// -1 when the other one was given before.
int takeFamilyFlag(const char* arg, platform::AddressFamily& family);

// The end of a command that ran operations: saves the log of the last one
// (last) to logXml when given, and on failure puts the tool's own problem,
// else that log, on standard error. 0 when ok and the log was saved, else 1.
int finishCommand(const char* command, bool ok, ClsBase& last, const char* logXml, const std::string& problem);

}  // namespace cli

}  // namespace hanamail
