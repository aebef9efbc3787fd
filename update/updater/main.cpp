// upd: waits for the application to end, applies the files it was given,
// starts the application again.
#include "update/updater/Updater.h"

int main(int argc, char** argv) { return updater::Run(argc, argv); }
