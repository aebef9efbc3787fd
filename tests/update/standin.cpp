// A stand-in for the application in the update test: appends the file
// version it carries (and its arguments) to a file, reports a working start
// to the updater as the real program does once its window is up, waits a
// little, and ends.
// Usage: standin OUTFILE [LINGER_MS [ARGUMENT...]]
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    {
        std::ofstream out(argv[1], std::ios::app);
        out << STANDIN_VERSION;
        for (int i = 3; i < argc; ++i)
            out << '|' << argv[i];
        out << "\n";
    }
    if (const char* started = std::getenv("QUORLEX_UPDATE_STARTED")) std::ofstream{started};
    if (argc > 2) std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    return 0;
}
