// upd: waits for the application to end, applies the files it was given,
// starts the application again.
#include "update/updater/System.h"
#include "update/updater/Updater.h"

int main(int argc, char** argv) {
    // UTF-8 arguments on every system, so any folder name reaches the files.
    std::vector<std::string> args = sys::arguments(argc, argv);
    std::vector<char*> pointers;
    for (auto& a : args)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return updater::Run(int(args.size()), pointers.data());
}
