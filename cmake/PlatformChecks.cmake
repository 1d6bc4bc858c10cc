# What the toolchain and the target system offer, as QUILLMORPH_HAVE_*
# macros in QUILLMORPH_PLATFORM_DEFINITIONS.  The code tests these macros,
# never the compiler's or the system's name, so that each feature follows
# what the build can actually do (a cross build checks its target).
include(CheckCXXSourceCompiles)
include(CheckCXXSymbolExists)

set(QUILLMORPH_PLATFORM_DEFINITIONS "")
macro(quillmorph_define_if result)
  if(${result})
    list(APPEND QUILLMORPH_PLATFORM_DEFINITIONS ${result})
  endif()
endmacro()

# The POSIX file calls of the platform layer, all or none.
check_cxx_source_compiles([=[
  #include <fcntl.h>
  #include <sys/stat.h>
  #include <unistd.h>
  #include <cstdio>
  #include <cstdlib>
  int main() {
    char name[] = "probe.XXXXXX";
    struct stat info;
    const int fd = mkstemp(name);
    const mode_t mask = umask(0);
    std::FILE* file = fdopen(fd, "wb");
    return fchmod(fd, mask) + fstat(fileno(file), &info) + stat(name, &info) +
           S_ISDIR(info.st_mode) + S_ISREG(info.st_mode) + access(name, W_OK) + unlink(name);
  }
]=] QUILLMORPH_HAVE_POSIX_FILES)

check_cxx_source_compiles([=[
  #include <fcntl.h>
  #include <unistd.h>
  int main() { return faccessat(AT_FDCWD, ".", W_OK, AT_EACCESS); }
]=] QUILLMORPH_HAVE_FACCESSAT)

# Following symbolic links to the file they name.
check_cxx_source_compiles([=[
  #include <sys/stat.h>
  #include <unistd.h>
  int main() {
    struct stat info;
    char target[64];
    return lstat("probe", &info) + S_ISLNK(info.st_mode) + static_cast<int>(readlink("probe", target, sizeof target));
  }
]=] QUILLMORPH_HAVE_READLINK)

# Keeping the owner of a replaced file.
check_cxx_source_compiles([=[
  #include <unistd.h>
  int main() { return fchown(1, static_cast<uid_t>(-1), static_cast<gid_t>(-1)); }
]=] QUILLMORPH_HAVE_FCHOWN)

# Removing the temporary file on a signal: handlers that reset themselves,
# blocking signals while the file's name changes, and SIGXFSZ to ignore.
check_cxx_source_compiles([=[
  #include <signal.h>
  extern "C" void handler(int) {}
  int main() {
    struct sigaction action;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGHUP);
    action.sa_handler = handler;
    action.sa_flags = SA_RESETHAND;
    sigset_t previous;
    return sigaction(SIGPIPE, &action, nullptr) + sigprocmask(SIG_BLOCK, &action.sa_mask, &previous) +
           (signal(SIGXFSZ, SIG_IGN) == SIG_ERR);
  }
]=] QUILLMORPH_HAVE_SIGACTION)

check_cxx_source_compiles([=[
  #include <sched.h>
  int main() {
    cpu_set_t* cpus = CPU_ALLOC(4096);
    const int count = sched_getaffinity(0, CPU_ALLOC_SIZE(4096), cpus) + CPU_COUNT_S(CPU_ALLOC_SIZE(4096), cpus);
    CPU_FREE(cpus);
    return count;
  }
]=] QUILLMORPH_HAVE_SCHED_GETAFFINITY)

check_cxx_symbol_exists(MADV_HUGEPAGE "sys/mman.h" QUILLMORPH_HAVE_MADV_HUGEPAGE)
check_cxx_symbol_exists(posix_memalign "stdlib.h" QUILLMORPH_HAVE_POSIX_MEMALIGN)

foreach(feature QUILLMORPH_HAVE_POSIX_FILES QUILLMORPH_HAVE_FACCESSAT QUILLMORPH_HAVE_READLINK
                QUILLMORPH_HAVE_FCHOWN QUILLMORPH_HAVE_SIGACTION
                QUILLMORPH_HAVE_SCHED_GETAFFINITY QUILLMORPH_HAVE_MADV_HUGEPAGE
                QUILLMORPH_HAVE_POSIX_MEMALIGN)
  quillmorph_define_if(${feature})
endforeach()
