// qmrpack's entry point on Linux: the arguments are already the bytes the shared code takes.
#include "pack/main.h"

int main(int argc, char** argv) { return QmrpackMain(argc, argv); }
