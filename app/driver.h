// The command-line driver: Quillmorph lrimg(pgm) hrimg(pgm).
#ifndef QUILLMORPH_APP_DRIVER_H
#define QUILLMORPH_APP_DRIVER_H

namespace quillmorph {

// Runs the whole program; returns the exit status, 0 on success and 1 on
// every failure.  Messages go to standard output, or to standard error when
// the image does.
int run_quillmorph(int argc, char** argv);

}  // namespace quillmorph

#endif
