#include "app/driver.h"

using quillmorph::run_quillmorph;

int main(int argc, char** argv) { return run_quillmorph(argc, argv); }
