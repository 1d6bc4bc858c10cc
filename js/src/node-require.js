// Put before the threaded module's glue (--pre-js): its Node code, which
// starts the pthreads on worker_threads, calls require and reads __dirname,
// which an ES module has not.  The package hands them in (index.js); in a
// pthread's worker they are the globals that Emscripten's worker script
// sets.  In browsers neither is read.
var require = Module['qmRequire'] || globalThis.require;
var __dirname = Module['qmDirname'];
