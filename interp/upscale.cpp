// The pipeline down the image, on threads.
//
// The stages, their order and their lags are in interp/stages.h, the jobs
// in interp/pipeline.cpp.  The order of the targets does not change any result: an estimator reads
// only cells of other classes and its own target, a target writes only its
// own slot, and a fusion reads only slots.  What matters is that every cell
// a gather or an estimator reads holds the right stage's value, which the
// order of the stages guarantees; so the result is the same bits for any
// number of threads and any ring sizes.
#include "interp/upscale.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "interp/grid.h"
#include "interp/pipeline.h"
#include "interp/stages.h"
#include "platform/processors.h"

namespace quillmorph {

namespace {

constexpr int max_threads = 256;

// A run's pipeline as its threads share it: the progress is read and
// changed under the lock alone.  A thread with nothing to do waits for its
// turn: the calling thread on its own, since only it reads and writes, the
// others on a shared turn, woken one at a time.
struct Shared {
    Pipeline pipeline;
    std::mutex lock;
    std::condition_variable io_turn, helper_turn;
    bool io_waiting;
    int helpers_waiting;
    UpscaleStatus status;
};

// The work of one thread: jobs are chosen and recorded under the lock, and
// run outside it, so that the others go on meanwhile.  A thread that takes
// a job wakes one waiting helper, which looks for another and so on, so that
// as many wake as there are jobs (waking every helper after every job would
// have dozens of threads queue for the lock in vain).  The calling thread
// is woken when a row waits to be read or written.
// A failed read or write stops every thread once its job in hand is done.
void work(Shared* s, bool io_thread) {
    Progress* progress = &s->pipeline.progress;
    std::unique_lock<std::mutex> hold(s->lock);
    while (s->status == upscale_ok) {
        const Job job = next_job(progress, io_thread);
        if (s->io_waiting && has_io_job(*progress)) s->io_turn.notify_one();
        if (job.kind == job_done) break;
        if (job.kind == job_wait) {
            if (io_thread) {
                s->io_waiting = true;
                s->io_turn.wait(hold);
                s->io_waiting = false;
            } else {
                ++s->helpers_waiting;
                s->helper_turn.wait(hold);
                --s->helpers_waiting;
            }
            continue;
        }
        if (s->helpers_waiting > 0) s->helper_turn.notify_one();
        hold.unlock();
        const bool done = run_job(s->pipeline, job);
        hold.lock();
        if (done)
            complete_job(progress, job);
        else
            s->status = job.kind == job_write ? upscale_write_failed : upscale_read_failed;
    }
    // The run is over, written or failed: every waiting thread must see it.
    s->io_turn.notify_all();
    s->helper_turn.notify_all();
}

void help(Shared* s) { work(s, false); }

// The calling thread is one of the workers, the one that reads and writes,
// and does the work alone if no other thread can be started.
void run_threads(Shared* s, int threads) {
    std::thread helpers[max_threads];
    int started = 0;
    for (; started < threads - 1; ++started) {
        try {
            helpers[started] = std::thread(help, s);
        } catch (...) {  // std::system_error, or std::bad_alloc for its state
            break;
        }
    }
    work(s, true);
    for (int t = 0; t < started; ++t) helpers[t].join();
}

// A whole image in memory, as a source and a sink.
struct ImageRows {
    const unsigned char* lr;
    double* hr;
    std::size_t lr_row_bytes, hr_row_cells;
    std::size_t rows_read, rows_written;
};

int read_image_row(void* context, unsigned char* row) {
    ImageRows& image = *static_cast<ImageRows*>(context);
    const unsigned char* from = image.lr + image.rows_read++ * image.lr_row_bytes;
    std::copy(from, from + image.lr_row_bytes, row);
    return 0;
}

int write_image_row(void* context, const double* row) {
    ImageRows& image = *static_cast<ImageRows*>(context);
    std::copy(row, row + image.hr_row_cells, image.hr + image.rows_written++ * image.hr_row_cells);
    return 0;
}

}  // namespace

int available_threads() {
    const int count = platform_processor_count();
    return count < max_threads ? count : max_threads;
}

RingSizes rings_for_threads(int threads, int w) {
    return RingSizes{grid_rows_for_threads(threads, w), store_rows_for_threads(threads, w)};
}

UpscaleStatus upscale_rows(int w, int h, LrRowSource source, HrRowSink sink, int threads,
                           RingSizes rings) {
    if (w < min_image_side || h < min_image_side) return upscale_bad_size;
    if (!image_size_supported(w, h)) return upscale_too_large;
    Shared s;
    if (!start_pipeline(&s.pipeline, w, h, source, sink, rings)) return upscale_no_memory;
    s.io_waiting = false;
    s.helpers_waiting = 0;
    s.status = upscale_ok;
    if (threads < 1) threads = 1;
    run_threads(&s, threads < max_threads ? threads : max_threads);
    end_pipeline(&s.pipeline);
    return s.status;
}

UpscaleStatus upscale_stream(int w, int h, LrRowSource source, HrRowSink sink) {
    const int threads = available_threads();
    return upscale_rows(w, h, source, sink, threads, rings_for_threads(threads, w));
}

UpscaleStatus upscale_image(const unsigned char* lr, int w, int h, double* hr, int threads,
                            RingSizes rings) {
    ImageRows image = {lr, hr, static_cast<std::size_t>(w), 2 * static_cast<std::size_t>(w), 0, 0};
    return upscale_rows(w, h, LrRowSource{read_image_row, &image},
                        HrRowSink{write_image_row, &image}, threads, rings);
}

}  // namespace quillmorph
