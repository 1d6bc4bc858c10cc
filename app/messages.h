// Every text the program prints, in one place.
#ifndef QUILLMORPH_APP_MESSAGES_H
#define QUILLMORPH_APP_MESSAGES_H

namespace quillmorph {

#define MSG_USAGE "Usage: Quillmorph lrimg(pgm) hrimg(pgm)\n"
#define MSG_START "Start processing file: %s.\n"
#define MSG_CANNOT_OPEN "Cannot open file: %s.\n"
#define MSG_HEADER_ERROR "PGM file %s header error.\n"
#define MSG_FORMAT_ERROR "Format error. Can only support 8-bit gray scale image.\n"
#define MSG_BAD_SIZE \
    "PGM file %s has an unsupported size of %d x %d pixels (each side must be 3 or more).\n"
#define MSG_TOO_LARGE "PGM file %s is too large to process: %d x %d pixels.\n"
#define MSG_TRUNCATED "PGM file %s is truncated: it holds fewer than %d x %d pixels.\n"
#define MSG_NO_MEMORY "Not enough memory to process file %s.\n"
#define MSG_WRITE_FAILED "Cannot write file: %s.\n"
#define MSG_WRITE_DONE "Write to file: %s.\n"
#define MSG_TIME_USED "Time used: %f minutes.\n"
#define MSG_NO_VECTOR_CODE "Cannot process file %s: %s\n"

}  // namespace quillmorph

#endif
