// A stand-in for the application in the update test: appends the file
// version it carries to a file, waits a little, and ends.
// Usage: standin OUTFILE [LINGER_MS]
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::ofstream(argv[1], std::ios::app) << STANDIN_VERSION << "\n";
    if (argc > 2) std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    return 0;
}
