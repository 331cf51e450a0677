#include "app/program.h"

int main(int argc, char** argv) { return quillon::app::ProgramMain(argc, argv); }
