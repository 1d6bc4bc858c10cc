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
#include "interp/vector_kernels.h"
#include "platform/processors.h"

namespace quillmorph {

namespace {

// A run's pipeline as its threads share it: the schedule is read and
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
// Worker 0 is the calling thread, the one that reads and writes; each
// worker estimates with its own estimator.
void work(Shared* s, int worker) {
    const bool io_thread = worker == 0;
    Estimator& estimator = s->pipeline.estimators[worker];
    Schedule* schedule = &s->pipeline.schedule;
    std::unique_lock<std::mutex> hold(s->lock);
    while (s->status == upscale_ok) {
        const Job job = next_job(schedule, io_thread);
        if (s->io_waiting && has_io_job(*schedule)) s->io_turn.notify_one();
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
        const bool done = run_job(s->pipeline, job, estimator);
        hold.lock();
        if (done)
            complete_job(schedule, job);
        else
            s->status = job.kind == job_write ? upscale_write_failed : upscale_read_failed;
    }
    // The run is over, written or failed: every waiting thread must see it.
    s->io_turn.notify_all();
    s->helper_turn.notify_all();
}

// The calling thread is one of the workers, the one that reads and writes,
// and does the work alone if no other thread can be started.
void run_threads(Shared* s, int threads) {
    std::thread helpers[max_threads];
    int started = 0;
    for (; started < threads - 1; ++started) {
        try {
            helpers[started] = std::thread(work, s, started + 1);
        } catch (...) {  // std::system_error, or std::bad_alloc for its state
            break;
        }
    }
    work(s, 0);
    for (int t = 0; t < started; ++t) helpers[t].join();
}

int clamp_threads(int threads) {
    return threads < 1 ? 1 : threads < max_threads ? threads : max_threads;
}

// A whole image in memory, as a source and a sink.
template <typename Sample>
struct ImageRows {
    const Sample* lr;
    double* hr;
    std::size_t lr_row_samples, hr_row_cells;
    std::size_t rows_read, rows_written;
};

template <typename Sample>
int read_image_row(void* context, void* row) {
    ImageRows<Sample>& image = *static_cast<ImageRows<Sample>*>(context);
    const Sample* from = image.lr + image.rows_read++ * image.lr_row_samples;
    std::copy(from, from + image.lr_row_samples, static_cast<Sample*>(row));
    return 0;
}

template <typename Sample>
int write_image_row(void* context, const double* row) {
    ImageRows<Sample>& image = *static_cast<ImageRows<Sample>*>(context);
    std::copy(row, row + image.hr_row_cells, image.hr + image.rows_written++ * image.hr_row_cells);
    return 0;
}

}  // namespace

RunLayout layout_for_threads(int threads, int w) {
    if (threads == 0) threads = platform_processor_count();
    threads = clamp_threads(threads);
    return RunLayout{
        threads, RingSizes{grid_rows_for_threads(threads, w), store_rows_for_threads(threads, w)}};
}

UpscaleStatus upscale_rows(int w, int h, SampleFormat samples, LrRowSource source, HrRowSink sink,
                           RunLayout layout) {
    if (w < min_image_side || h < min_image_side) return upscale_bad_size;
    if (!image_size_supported(w, h)) return upscale_too_large;
    if (!vector_kernels()) return upscale_no_vector_code;
    layout.threads = clamp_threads(layout.threads);
    if (!rings_fit(w, h, samples, layout.rings)) return upscale_too_large;
    Shared s;
    if (!start_pipeline(&s.pipeline, w, h, samples, source, sink, layout)) return upscale_no_memory;
    s.io_waiting = false;
    s.helpers_waiting = 0;
    s.status = upscale_ok;
    run_threads(&s, layout.threads);
    end_pipeline(&s.pipeline);
    return s.status;
}

template <typename Sample>
UpscaleStatus upscale_image(const Sample* lr, int w, int h, int maxval, double* hr,
                            RunLayout layout) {
    ImageRows<Sample> image = {lr, hr, static_cast<std::size_t>(w), 2 * static_cast<std::size_t>(w),
                               0,  0};
    const SampleFormat samples = {static_cast<int>(sizeof(Sample)), maxval};
    return upscale_rows(w, h, samples, LrRowSource{read_image_row<Sample>, &image},
                        HrRowSink{write_image_row<Sample>, &image}, layout);
}

template UpscaleStatus upscale_image(const unsigned char*, int, int, int, double*, RunLayout);
template UpscaleStatus upscale_image(const std::uint16_t*, int, int, int, double*, RunLayout);

}  // namespace quillmorph
