#include "app/App.h"

int main(int argc, char** argv) { return tlr::App::main(argc, argv); }
