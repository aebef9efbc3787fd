#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The updater program's work, as a library so it is tested in-process.
//
// Command line: upd <pid> <program path or "null"> <component>... [-- <program argument>...]
// The program path is one argument and is never split; the components are
// plain file names in the program's folder (the current one when the
// program is "null"); the arguments after "--" are
// handed to the program as they are.
namespace updater {

struct Arguments {
    long pid = 0;
    std::string program; // "null": nothing is started
    std::vector<std::string> components;
    std::vector<std::string> programArguments;
};

struct Options {
    // How long a replaced program has to report a working start before
    // the previous one is put back.
    std::chrono::milliseconds startTimeout{10000};
};

// The run folder the application made for this update (mode 0700) and the
// file the new program creates there once its window is up.
inline constexpr const char* kRunDirVariable = "QUORLEX_UPDATE_DIR";
inline constexpr const char* kStartedVariable = "QUORLEX_UPDATE_STARTED";

// Nullopt with a reason when the command line is not one we accept.
std::optional<Arguments> ParseArguments(int argc, char** argv, std::string* error = nullptr);

// A name without folders, "..", or control characters.
bool PlainComponentName(const std::string& name);

// Waits until the process with that id has ended (it is not our child).
void WaitForProcess(long pid);

// Applies one component file named on the command line (relative names
// against the current folder). Returns false when nothing could be done.
bool ProcessFile(const std::string& name, std::string* error = nullptr);

// Starts a command line and waits; true when it ran and exited with 0.
bool RunAndWait(const std::string& commandLine);
bool RunAndWait(const std::vector<std::string>& argv);

// Splits a command line at blanks, honouring double quotes.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The whole program: 0 done, 1 refused command line, 2 something was not
// applied (the program is started all the same).
int Run(int argc, char** argv, const Options& options = {});

} // namespace updater
