// Helpers shared by the test files: scratch files and running the real programs.
#ifndef QUILLMORPH_TESTS_TEST_SUPPORT_H
#define QUILLMORPH_TESTS_TEST_SUPPORT_H

#include <cstddef>
#include <string>
#include <vector>

namespace quillmorph {

// Images and matrices are indexed with int rows and columns, as the engine
// takes them; containers want a size_t.  Sizes in the tests are small and
// never negative, so the conversion is exact.
inline std::size_t to_size(int n) { return static_cast<std::size_t>(n); }
// Index of element (r, c) of a row-major array whose rows hold stride elements.
inline std::size_t cell(int r, int c, int stride) {
    return to_size(r) * to_size(stride) + to_size(c);
}

// A fresh directory under the system's temporary folder, one per test.
std::string make_scratch_dir();

void write_file(const std::string& path, const std::string& bytes);
// The whole file, or "" with *exists set to false when it cannot be opened.
std::string read_file(const std::string& path, bool* exists = nullptr);
bool file_exists(const std::string& path);
// The names in a directory, sorted; empty when it cannot be read.
std::vector<std::string> list_directory(const std::string& dir);

// A binary PGM file image: "P5\n<w> <h>\n<maxval>\n" followed by the pixels.
std::string pgm_bytes(int w, int h, const std::vector<unsigned char>& pixels, int maxval = 255);

struct RunResult {
    int status;               // exit status, or -1 when the program did not exit normally
    std::string output;       // everything it wrote to stdout
    std::string errors = "";  // everything it wrote to stderr (run_program_piped only)
    int signal = 0;           // the signal that ended it, or 0
};
// Runs program with the given arguments (no shell) and captures stdout.
// With unprivileged set, a run as root drops to the user nobody first, so
// that file permissions apply to it.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      bool unprivileged = false);
// The same with input as standard input and stderr captured apart from
// stdout, byte for byte (on Windows the CR LF line ends of stderr come back
// as LF).  The signals the program may take are at their defaults in it.
RunResult run_program_piped(const std::string& program, const std::vector<std::string>& args,
                            const std::string& input, bool unprivileged = false);
// Sets an environment variable for the programs the tests start from now
// on ("" unsets it).
void set_environment(const char* name, const std::string& value);
// Why the program cannot be run as another user here, or "" when it can.
std::string cannot_run_unprivileged(const std::string& program);

// text with every occurrence of from replaced by to.
std::string replace_all(std::string text, const std::string& from, const std::string& to);

// 64-bit FNV-1a of a byte string, for pinning outputs.
unsigned long long fnv1a(const std::string& bytes);

}  // namespace quillmorph

#endif
