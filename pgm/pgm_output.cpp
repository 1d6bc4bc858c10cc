// Putting the HR image in place: which way each kind of output takes, and
// the guarantee that a failed run leaves nothing partial behind.
#include "pgm/pgm_output.h"

#include <cstring>

#include "pgm/pgm.h"
#include "platform/files.h"

namespace quillmorph {

namespace {

// A rename refused by the directory falls back to a copy through this much
// stack.
constexpr std::size_t copy_chunk_bytes = std::size_t{1} << 16;

// Names that mean the process's own standard output wherever they exist, as
// well as the image tools' "-".  The comparison of files below finds them
// too, but only where the system gives files an identity.
const char* const stdout_names[] = {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"};

bool same_file(const PathInfo& a, const PathInfo& b) {
    return a.exists && b.exists && a.inode != 0 && a.device == b.device && a.inode == b.inode;
}

// Closes what was opened; a failing flush or close (a full disk) counts.
bool close_output(PgmOutput* output) {
    std::FILE* file = output->file;
    output->file = nullptr;
    if (!file) return true;
    if (file == stdout) return std::fflush(stdout) == 0;
    return std::fclose(file) == 0;
}

// The temporary file of a replace is kept when the directory refuses the
// rename (below): copies its bytes over the file at path, as a plain open
// and write would have.  A failing close (a full disk) counts.
int copy_in_place(const char* from, const char* path) {
    std::FILE* in = std::fopen(from, "rb");
    if (!in) return pgm_write_failed;
    std::FILE* out = std::fopen(path, "wb");
    bool copied = out != nullptr;
    unsigned char buffer[copy_chunk_bytes];
    while (copied) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
        if (got == 0) break;
        copied = std::fwrite(buffer, 1, got, out) == got;
    }
    copied = copied && !std::ferror(in);
    std::fclose(in);
    if (out && std::fclose(out) != 0) copied = false;
    return copied ? pgm_write_ok : pgm_write_failed;
}

// An in-place output is written to a staging file first, beside the file
// or, where that directory refuses new files, in the temporary directory,
// and copied over the file once complete: input that ends early then leaves
// the file as it was.  Without a staging file it is written directly.
void stage_in_place(PgmOutput* output) {
    const PathInfo new_file = {};
    output->file = platform_create_temp_file(platform_directory_of(output->target), new_file,
                                             &output->temp_name);
    if (!output->file)
        output->file =
            platform_create_temp_file(platform_temp_directory(), new_file, &output->temp_name);
    if (!output->file) output->temp_name.clear();
}

int copy_staged(PgmOutput* output, bool written) {
    const char* temp = output->temp_name.c_str();
    const int result = written ? copy_in_place(temp, output->path.c_str()) : pgm_write_failed;
    platform_remove_temp_file(temp);
    return result;
}

// The temporary file is complete: move it onto the target.  A directory may
// allow new files and still refuse this one's replacement (a sticky
// directory, where only a file's owner may replace it); then the file is
// written in place, as a plain open would, if the user may write it.
int replace_target(PgmOutput* output, bool written) {
    const char* temp = output->temp_name.c_str();
    if (written && platform_replace_file(temp, output->target.c_str()) == 0) return pgm_write_ok;
    const char* path = output->path.c_str();
    int result = pgm_write_failed;
    if (written && platform_path_info(path).exists && platform_may_write(path))
        result = copy_in_place(temp, path);
    platform_remove_temp_file(temp);
    return result;
}

}  // namespace

bool pgm_output_is_stdout(const char* path) {
    for (const char* name : stdout_names)
        if (std::strcmp(path, name) == 0) return true;
    return same_file(platform_path_info(path), platform_stream_info(stdout));
}

int prepare_pgm_output(const char* path, int width, int height, PgmOutput* output) {
    output->path = path;
    output->target.clear();
    output->temp_name.clear();
    output->file = nullptr;
    output->width = width;
    output->height = height;
    output->rows_written = 0;

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
    if ((existing.exists && existing.hard_links > 1) ||
        (existing.exists && existing.inode != 0 &&
         !same_file(existing, platform_path_info(output->target.c_str())))) {
        stage_in_place(output);
        return pgm_write_ok;
    }

    // 5. The temporary file.  Where the directory refuses one but the file
    //    itself may be written, a plain open would still succeed: so does this.
    output->file = platform_create_temp_file(platform_directory_of(output->target), existing,
                                             &output->temp_name);
    if (output->file) {
        output->mode = pgm_output_replace;
        return pgm_write_ok;
    }
    if (!existing.exists) return pgm_write_failed;
    stage_in_place(output);
    return pgm_write_ok;
}

int write_pgm_row(PgmOutput* output, const unsigned char* row) {
    if (output->rows_written == output->height) return pgm_write_failed;
    if (output->rows_written == 0) {
        if (output->mode == pgm_output_stdout) output->file = stdout;
        if (!output->file) output->file = std::fopen(output->path.c_str(), "wb");
        if (!output->file ||
            write_pgm_header(output->file, output->width, output->height) != pgm_write_ok)
            return pgm_write_failed;
    }
    const std::size_t bytes = static_cast<std::size_t>(output->width);
    if (std::fwrite(row, 1, bytes, output->file) != bytes) return pgm_write_failed;
    ++output->rows_written;
    return pgm_write_ok;
}

int finish_pgm_output(PgmOutput* output) {
    const bool complete = output->rows_written == output->height;
    const bool closed = close_output(output);
    if (output->mode == pgm_output_replace) return replace_target(output, complete && closed);
    if (!output->temp_name.empty()) return copy_staged(output, complete && closed);
    return complete && closed ? pgm_write_ok : pgm_write_failed;
}

void abandon_pgm_output(PgmOutput* output) {
    close_output(output);
    if (!output->temp_name.empty()) platform_remove_temp_file(output->temp_name.c_str());
}

}  // namespace quillmorph
