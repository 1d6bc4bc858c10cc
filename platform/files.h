// Files, paths, temporary files and signals: what the command-line tool
// asks of the operating system, and the library never does.
//
// Each function has a Linux/POSIX version, a Windows version, and a
// fallback that any C++17 compiler builds, chosen by what the build
// detected (QUILLMORPH_HAVE_*).
#ifndef QUILLMORPH_PLATFORM_FILES_H
#define QUILLMORPH_PLATFORM_FILES_H

#include <cstdio>
#include <string>

namespace quillmorph {

struct PathInfo {
    bool exists;
    bool is_directory;
    bool is_regular;       // a plain file, which a rename can replace
    unsigned permissions;  // POSIX mode bits 07777; 0 where there are none
    // Identity: two infos with equal nonzero inodes on one device are the
    // same file.  0 where the system gives no inode numbers.
    unsigned long long device;
    unsigned long long inode;
    unsigned long long hard_links;  // names the file has; 1 where unknown
    long long owner;                // user and group ids; -1 where there are none
    long long group;
};
// What path names, following symbolic links as an open would.
PathInfo platform_path_info(const char* path);
// The same for an open stream (nothing exists when it is closed).
PathInfo platform_stream_info(std::FILE* stream);
// Whether this process may write the existing file at path (by its
// effective user, as an open for writing would be judged).
bool platform_may_write(const char* path);

// The path a chain of symbolic links ends at, whether or not a file is
// there: the path itself when it is not a link.  Relative link targets are
// taken from the link's own directory.  "" for a loop of links.
std::string platform_resolve_links(const char* path);
// The directory part of a path ("." for a bare name, "/" for "/name").
std::string platform_directory_of(const std::string& path);
// The directory for temporary files: TMPDIR, or /tmp, on POSIX; the
// user's temporary folder on Windows.
std::string platform_temp_directory();

// Whether an open stream is a directory (fopen opens those on POSIX).
bool platform_stream_is_directory(std::FILE* stream);
// The size of an open stream's file when it is a regular file, or -1.
long long platform_stream_regular_size(std::FILE* stream);
// Makes a standard stream carry bytes unchanged (Windows translates line
// ends in text mode; elsewhere every stream is binary already).
void platform_set_binary_mode(std::FILE* stream);

// The permissions a newly created file gets (0666 less the umask on POSIX).
unsigned platform_new_file_permissions();
// Creates a new file with a short unique name in directory and opens it for
// binary writing; *name becomes its full path.  When replaced exists, the
// new file takes its permissions, and its owner and group where this
// process may set them; otherwise the permissions of a plain create.  Until
// it is replaced onto its target or removed (the two functions below), a
// signal that ends the process removes it first.  Returns nullptr when no
// file could be created.
std::FILE* platform_create_temp_file(const std::string& directory, const PathInfo& replaced,
                                     std::string* name);
// Moves the temporary file from onto to, replacing a file already there, in
// one step where the system allows.  Returns 0 on success; the temporary
// file stays (for platform_remove_temp_file) on failure.
int platform_replace_file(const char* from, const char* to);
void platform_remove_temp_file(const char* name);

// Sets up what the process does on signals: SIGINT, SIGTERM, SIGHUP and
// SIGPIPE (those not ignored already) remove the temporary file, then end
// the process as the signal would have; SIGXFSZ is ignored, so that writing
// past a file size limit fails as an error instead of killing the process.
void platform_install_signal_cleanup();

}  // namespace quillmorph

#endif
