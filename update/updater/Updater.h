#pragma once
#include <string>
#include <vector>

// The updater program's work, as a library so it is tested in-process.
namespace updater {

// Waits until the process with that id has ended (it is not our child).
void WaitForProcess(long pid);

// Applies one component file named on the command line (relative names
// against the current folder). Returns false when nothing could be done.
bool ProcessFile(const std::string& name);

// Starts a command line and waits; true when it ran and exited with 0.
bool RunAndWait(const std::string& commandLine);
// Starts a command line without waiting, detached from us.
bool StartDetached(const std::string& commandLine);

// Splits a command line at blanks, honouring double quotes.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// argv[1] process id, argv[2] command line or "null", argv[3..] components.
int Run(int argc, char** argv);

} // namespace updater
