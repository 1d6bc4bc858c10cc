// Putting the HR image in place: which way each kind of output takes, and
// the guarantee that a failed run leaves nothing partial behind.
#include "pgm/pgm_output.h"

#include <cstring>

#include "pgm/pgm.h"
#include "platform/platform.h"

namespace {

// Names that mean the process's own standard output wherever they exist, as
// well as the image tools' "-".  The comparison of files below finds them
// too, but only where the system gives files an identity.
const char* const stdout_names[] = {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"};

bool same_file(const PathInfo& a, const PathInfo& b) {
    return a.exists && b.exists && a.inode != 0 && a.device == b.device && a.inode == b.inode;
}

// Opens path as a plain fopen would (following links, truncating an
// existing file) and writes the image; a failing close (a full disk) counts.
int write_to_path(const char* path, const double* grid, int width, int height) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return pgm_write_failed;
    const bool written = write_pgm_stream(file, grid, width, height) == pgm_write_ok;
    const bool closed = std::fclose(file) == 0;
    return written && closed ? pgm_write_ok : pgm_write_failed;
}

int write_to_stdout(const double* grid, int width, int height) {
    const bool written = write_pgm_stream(stdout, grid, width, height) == pgm_write_ok;
    return written && std::fflush(stdout) == 0 ? pgm_write_ok : pgm_write_failed;
}

// The temporary file is complete: move it onto the target.  A directory may
// allow new files and still refuse this one's replacement (a sticky
// directory, where only a file's owner may replace it); then the file is
// written in place, as a plain open would, if the user may write it.
int replace_target(PgmOutput* output, const double* grid, int width, int height) {
    const bool written = write_pgm_stream(output->file, grid, width, height) == pgm_write_ok;
    const bool closed = std::fclose(output->file) == 0;
    output->file = nullptr;
    if (written && closed &&
        platform_replace_file(output->temp_name.c_str(), output->target.c_str()) == 0)
        return pgm_write_ok;
    platform_remove_temp_file(output->temp_name.c_str());
    if (!written || !closed) return pgm_write_failed;
    const char* path = output->path.c_str();
    if (!platform_path_info(path).exists || !platform_may_write(path)) return pgm_write_failed;
    return write_to_path(path, grid, width, height);
}

}  // namespace

bool pgm_output_is_stdout(const char* path) {
    for (const char* name : stdout_names)
        if (std::strcmp(path, name) == 0) return true;
    return same_file(platform_path_info(path), platform_stream_info(stdout));
}

int prepare_pgm_output(const char* path, PgmOutput* output) {
    output->path = path;
    output->target.clear();
    output->temp_name.clear();
    output->file = nullptr;

    // 1. The process's own standard output.
    if (pgm_output_is_stdout(path)) {
        output->mode = pgm_output_stdout;
        platform_set_binary_mode(stdout);
        return pgm_write_ok;
    }

    // 2. What is there now, links followed: directories are refused, other
    //    files that are not regular (pipes, devices) cannot be renamed onto,
    //    and a read-only file is refused rather than silently swapped for a
    //    new one.
    const PathInfo existing = platform_path_info(path);
    if (existing.is_directory) return pgm_write_failed;
    output->mode = pgm_output_direct;
    if (existing.exists && !existing.is_regular) return pgm_write_ok;
    if (existing.exists && !platform_may_write(path)) return pgm_write_failed;

    // 3. The file to replace is where the links lead, and its temporary file
    //    goes beside it, so that the rename stays within one directory and
    //    the links stay links.  A dangling link leads to the file to create.
    output->target = platform_resolve_links(path);
    if (output->target.empty()) return pgm_write_failed;  // a loop of links

    // 4. Written in place: a file with other hard links (a new file would
    //    take this name away from them), and a link whose text is no path
    //    to the file (the /proc/self/fd links name pipes and deleted files).
    output->mode = pgm_output_in_place;
    if (existing.exists && existing.hard_links > 1) return pgm_write_ok;
    if (existing.exists && existing.inode != 0 &&
        !same_file(existing, platform_path_info(output->target.c_str())))
        return pgm_write_ok;

    // 5. The temporary file.  Where the directory refuses one but the file
    //    itself may be written, a plain open would still succeed: so does this.
    output->file = platform_create_temp_file(platform_directory_of(output->target), existing,
                                             &output->temp_name);
    if (output->file) {
        output->mode = pgm_output_replace;
        return pgm_write_ok;
    }
    return existing.exists ? pgm_write_ok : pgm_write_failed;
}

int finish_pgm_output(PgmOutput* output, const double* grid, int width, int height) {
    switch (output->mode) {
        case pgm_output_stdout:
            return write_to_stdout(grid, width, height);
        case pgm_output_replace:
            return replace_target(output, grid, width, height);
        case pgm_output_direct:
        case pgm_output_in_place:
            break;
    }
    return write_to_path(output->path.c_str(), grid, width, height);
}

void abandon_pgm_output(PgmOutput* output) {
    if (output->mode != pgm_output_replace || !output->file) return;
    std::fclose(output->file);
    output->file = nullptr;
    platform_remove_temp_file(output->temp_name.c_str());
}
