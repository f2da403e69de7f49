// Entry point of Kestrel.
#include "app/startup.h"

int main(int argc, char** argv) { kestrel_main(argc, argv); }
