// Velmora's console updater: closes the running program, fetches its new
// package, swaps it in and starts the program again. Arguments are ignored.
#include <iostream>

#include "update/public_key.h"
#include "update/update_run.h"

int main() { return RunUpdate(std::cout, kUpdatePublicKey); }
