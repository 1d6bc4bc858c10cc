// Projected and measured speedup of the pipeline over threads.
//
//   build/bench/scaling [--json] [--projected-only]
//
// For a 1024 x 1024 and a 4096 x 1024 camera-like image: times every job of
// a run on one thread (each row read, upsampled, written; each span
// estimated; each row finished; and the scheduler's own calls, which run
// under the lock), then runs the real stage rules (next_job, complete_job)
// in a discrete-event simulation of 1 to 64 threads with those costs:
// threads take jobs as the real ones do, one scheduler call at a time, and
// a waiting thread is woken as the real ones are.  Beside the projection it
// measures the real speedup at every thread count this machine has
// (alternating runs, medians).  Speedups are over 1 thread.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "interp/pipeline.h"
#include "interp/pixels.h"
#include "interp/upscale.h"
#include "interp/vector_kernels.h"

namespace quillmorph {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int cost_runs = 3;      // one-thread runs timed, job by job (least of each)
constexpr int measured_runs = 5;  // real runs per thread count (medians)
const int projected_threads[] = {1, 2, 4, 8, 16, 32, 64};
constexpr double projection_tolerance = 0.10;  // how far the projection may miss a measurement

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double least(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

// The mean of the samples, leaving out those a preemption stretched (more
// than ten times the median): on a shared machine a few calls of a
// microsecond take milliseconds, and would weigh more than all the rest.
double mean_unpreempted(const std::vector<double>& v) {
    const double limit = 10 * median(v);
    double total = 0;
    long count = 0;
    for (double x : v)
        if (x <= limit) total += x, ++count;
    return total / static_cast<double>(count);
}

// A camera-like image: smooth shading, objects with sharp edges, fine
// texture on some of them, and sensor noise from a fixed generator.
std::vector<unsigned char> camera_image(int w, int h) {
    std::vector<unsigned char> lr(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    unsigned state = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v = 110 + 50 * std::sin(x / 97.0) * std::cos(y / 131.0) + 0.03 * (x - y);
            const double dx = (x % 400) - 200.0, dy = (y % 360) - 180.0;
            if (dx * dx + dy * dy < 110.0 * 110.0) v = 200 - 0.2 * dy + 12 * std::sin(x / 2.3);
            if (std::abs((x + 2 * y) % 300 - 150) < 25) v = 40 + 8 * std::sin(y / 1.7);
            state = state * 1103515245u + 12345u;
            v += static_cast<double>((state >> 16) % 9) - 4.0;
            lr[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
               static_cast<std::size_t>(x)] = static_cast<unsigned char>(v < 0     ? 0
                                                                         : v > 255 ? 255
                                                                                   : v);
        }
    return lr;
}

// The image in memory at both ends, the HR rows made pixels as the C API
// makes them.
struct Ends {
    const unsigned char* lr;
    std::vector<unsigned char> hr;
    std::size_t w;
    std::size_t read, written;
};

constexpr SampleFormat eight_bit = {1, max_8bit_sample};

int read_row(void* context, void* row) {
    Ends& e = *static_cast<Ends*>(context);
    std::memcpy(row, e.lr + e.read++ * e.w, e.w);
    return 0;
}

int write_row(void* context, const double* row) {
    Ends& e = *static_cast<Ends*>(context);
    samples_from_values(row, 2 * e.w, max_8bit_sample, e.hr.data() + e.written++ * 2 * e.w);
    return 0;
}

Ends make_ends(const std::vector<unsigned char>& lr, int w, int h) {
    (void)h;
    return Ends{lr.data(), std::vector<unsigned char>(4 * lr.size()), static_cast<std::size_t>(w),
                0, 0};
}

// What each piece of work costs on one thread, in seconds.
struct Costs {
    std::vector<double> read, upsample, write;     // by LR row, HR row, HR row
    std::vector<std::vector<double>> estimate[2];  // by pass, row and part
    std::vector<double> finish[2];                 // by pass and row
    double scheduler;                              // one next_job and complete_job under the lock
    double total;                                  // everything, scheduler included
    double serial;  // what only one thread at a time does: reading, writing, scheduling
};

// Times every job of cost_runs runs on one thread, keeping each one's least
// time (the machine may be shared: interruptions only add).
Costs measure_costs(const std::vector<unsigned char>& lr, int w, int h) {
    const int h2 = 2 * h;
    std::vector<std::vector<double>> reads(static_cast<std::size_t>(h)),
        upsamples(static_cast<std::size_t>(h2)), writes(static_cast<std::size_t>(h2));
    std::map<std::vector<int>, std::vector<double>> spans, finishes;
    std::vector<double> scheduler;
    for (int run = 0; run < cost_runs; ++run) {
        Ends ends = make_ends(lr, w, h);
        Pipeline p;
        if (!start_pipeline(&p, w, h, eight_bit, LrRowSource{read_row, &ends},
                            HrRowSink{write_row, &ends}, layout_for_threads(1, w)))
            return Costs{};
        for (;;) {
            Clock::time_point start = Clock::now();
            const Job job = next_job(&p.schedule, true);
            double scheduling = seconds_since(start);
            if (job.kind == job_done) break;
            start = Clock::now();
            run_job(p, job, p.estimators[0]);
            const double took = seconds_since(start);
            start = Clock::now();
            complete_job(&p.schedule, job);
            scheduler.push_back(scheduling + seconds_since(start));
            const double per_row = took / (job.last - job.first + 1);
            for (int r = job.first; r <= job.last; ++r) {
                const auto at = static_cast<std::size_t>(r);
                if (job.kind == job_read) reads[at].push_back(per_row);
                if (job.kind == job_upsample) upsamples[at].push_back(per_row);
                if (job.kind == job_write) writes[at].push_back(per_row);
                if (job.kind == job_finish) finishes[{job.pass, r}].push_back(per_row);
            }
            if (job.kind == job_estimate) spans[{job.pass, job.first, job.part}].push_back(took);
        }
        end_pipeline(&p);
    }
    Costs c;
    c.scheduler = mean_unpreempted(scheduler);
    c.total = c.serial = 0;
    long calls = 0;
    const auto medians = [&](std::vector<std::vector<double>>& all, std::vector<double>* out,
                             bool serial) {
        for (auto& v : all) {
            out->push_back(v.empty() ? 0.0 : least(v));
            c.total += out->back();
            if (serial) c.serial += out->back();
            calls += !v.empty();
        }
    };
    medians(reads, &c.read, true);
    medians(upsamples, &c.upsample, false);
    medians(writes, &c.write, true);
    for (int pass = 0; pass < 2; ++pass) {
        c.estimate[pass].assign(static_cast<std::size_t>(h2), {});
        c.finish[pass].assign(static_cast<std::size_t>(h2), 0.0);
    }
    for (auto& span : spans) {
        auto& parts = c.estimate[span.first[0]][static_cast<std::size_t>(span.first[1])];
        parts.resize(static_cast<std::size_t>(span.first[2]) + 1);
        parts[static_cast<std::size_t>(span.first[2])] = least(span.second);
        c.total += parts.back();
        ++calls;
    }
    for (auto& row : finishes) {
        c.finish[row.first[0]][static_cast<std::size_t>(row.first[1])] = least(row.second);
        c.total += least(row.second);
        ++calls;
    }
    c.total += c.scheduler * static_cast<double>(calls);
    c.serial += c.scheduler * static_cast<double>(calls);
    return c;
}

double sum(const std::vector<double>& v, int first, int last) {
    double s = 0;
    for (int i = first; i <= last; ++i) s += v[static_cast<std::size_t>(i)];
    return s;
}

// The rules as they are now.
struct NowRules {
    using Job = quillmorph::Job;
    Schedule schedule;
    std::vector<int> counters;

    NowRules(int w, int h, RingSizes rings) {
        const int h2 = 2 * h;
        const int grid = grid_rows_for(h2, rings.grid_rows);
        const int store = store_rows_for(h2, rings.store_rows);
        counters.resize(static_cast<std::size_t>(schedule_counters(grid, store)));
        start_schedule(&schedule, 2 * w, h2, grid, store, counters.data());
    }
    Job next(bool io) { return next_job(&schedule, io); }
    void complete(const Job& job) { complete_job(&schedule, job); }
    bool io_job() const { return has_io_job(schedule); }
    static bool waits(const Job& job) { return job.kind == job_wait; }
    static bool done(const Job& job) { return job.kind == job_done; }
    static double cost(const Costs& c, const Job& job) {
        switch (job.kind) {
            case job_read:
                return sum(c.read, job.first, job.last);
            case job_upsample:
                return sum(c.upsample, job.first, job.last);
            case job_estimate:
                return c.estimate[job.pass][static_cast<std::size_t>(job.first)]
                                 [static_cast<std::size_t>(job.part)];
            case job_finish:
                return sum(c.finish[job.pass], job.first, job.last);
            case job_write:
                return sum(c.write, job.first, job.last);
            default:
                return 0;
        }
    }
};

// The time `threads` threads take under the rules, each scheduler call
// holding the one lock for c.scheduler seconds.  Thread 0 reads and writes.
template <class Rules>
double simulate(Rules rules, const Costs& c, int threads) {
    using Job = typename Rules::Job;
    const auto n = static_cast<std::size_t>(threads);
    std::vector<double> ready(n, 0.0);  // when each thread next calls the scheduler
    std::vector<char> waiting(n, 0), gone(n, 0);
    std::vector<Job> held(n);
    std::vector<char> holds(n, 0);
    double lock_free = 0, end = 0;
    for (;;) {
        std::size_t t = n;
        for (std::size_t u = 0; u < n; ++u)
            if (!gone[u] && !waiting[u] && (t == n || ready[u] < ready[t])) t = u;
        if (t == n) break;  // every thread has left, or every one waits: a stall
        const double at = std::max(ready[t], lock_free);
        lock_free = at + c.scheduler;
        if (holds[t]) {
            rules.complete(held[t]);
        }
        holds[t] = 0;
        const Job job = rules.next(t == 0);
        if (waiting[0] && rules.io_job()) {
            waiting[0] = 0;
            ready[0] = lock_free;
        }
        const auto wake = [&](std::size_t u) {
            waiting[u] = 0;
            ready[u] = lock_free;
        };
        if (Rules::done(job)) {
            gone[t] = 1;
            end = std::max(end, lock_free);
            for (std::size_t u = 0; u < n; ++u)
                if (waiting[u]) wake(u);
            continue;
        }
        if (Rules::waits(job)) {
            waiting[t] = 1;
            continue;
        }
        // A job taken wakes one waiting helper, as in the real run.
        for (std::size_t u = 1; u < n; ++u)
            if (waiting[u]) {
                wake(u);
                break;
            }
        held[t] = job;
        holds[t] = 1;
        ready[t] = lock_free + rules.cost(c, job);
    }
    for (std::size_t u = 0; u < n; ++u)
        if (!gone[u]) return -1;  // stalled
    return end;
}

// The real run's wall time on `threads` threads.
double run_seconds(const std::vector<unsigned char>& lr, int w, int h, int threads) {
    Ends ends = make_ends(lr, w, h);
    const Clock::time_point start = Clock::now();
    upscale_rows(w, h, eight_bit, LrRowSource{read_row, &ends}, HrRowSink{write_row, &ends},
                 layout_for_threads(threads, w));
    return seconds_since(start);
}

struct Figures {
    std::string name;
    std::map<int, double> projected, measured;
    double serial_share;
    double scheduler;
};

Figures figures_for(int w, int h, bool measure) {
    Figures f;
    f.name = std::to_string(w) + "x" + std::to_string(h);
    const std::vector<unsigned char> lr = camera_image(w, h);
    const Costs c = measure_costs(lr, w, h);
    f.serial_share = c.serial / c.total;
    f.scheduler = c.scheduler;
    const double one = simulate(NowRules(w, h, layout_for_threads(1, w).rings), c, 1);
    for (int threads : projected_threads) {
        f.projected[threads] =
            one / simulate(NowRules(w, h, layout_for_threads(threads, w).rings), c, threads);
    }
    const int machine = measure ? layout_for_threads(0, 0).threads : 0;
    std::map<int, std::vector<double>> times;
    for (int run = 0; run < measured_runs; ++run)
        for (int threads = 1; threads <= machine; ++threads)
            times[threads].push_back(run_seconds(lr, w, h, threads));
    for (int threads = 1; threads <= machine; ++threads)
        f.measured[threads] = median(times[1]) / median(times[threads]);
    return f;
}

void print_json(const std::vector<Figures>& all) {
    const auto object = [](const std::map<int, double>& m) {
        std::string s = "{";
        for (const auto& e : m) {
            char item[64];
            std::snprintf(item, sizeof item, "%s\"%d\": %.2f", s.size() > 1 ? ", " : "", e.first,
                          e.second);
            s += item;
        }
        return s + "}";
    };
    std::printf("{");
    for (std::size_t i = 0; i < all.size(); ++i)
        std::printf("%s\"%s\": {\"projected\": %s, \"measured\": %s}", i ? ", " : "",
                    all[i].name.c_str(), object(all[i].projected).c_str(),
                    object(all[i].measured).c_str());
    std::printf("}\n");
}

void print_table(const std::vector<Figures>& all) {
    for (const Figures& f : all) {
        std::printf(
            "%s: work on one thread at a time (reads, writes, scheduling) %.2f%%, "
            "%.0f ns a scheduler call\n",
            f.name.c_str(), 100 * f.serial_share, 1e9 * f.scheduler);
        std::printf("  threads  projected  measured\n");
        for (int threads : projected_threads) {
            std::printf("  %7d  %8.2fx", threads, f.projected.at(threads));
            const auto m = f.measured.find(threads);
            if (m != f.measured.end()) {
                const double off = f.projected.at(threads) / m->second - 1;
                std::printf("  %7.2fx  (projection %+.1f%%%s)", m->second, 100 * off,
                            threads == 1                             ? ""
                            : std::fabs(off) <= projection_tolerance ? ", within 10%"
                                                                     : ", NOT within 10%");
            }
            std::printf("\n");
        }
    }
    // Other work on the machine takes processors from the measured runs.
    if (std::FILE* load = std::fopen("/proc/loadavg", "r")) {
        double minute = 0;
        if (std::fscanf(load, "%lf", &minute) == 1)
            std::printf("load average %.2f on %d processors\n", minute,
                        layout_for_threads(0, 0).threads);
        std::fclose(load);
    }
}

}  // namespace

}  // namespace quillmorph

int main(int argc, char** argv) {
    using namespace quillmorph;
    bool json = false, measure = true;
    for (int i = 1; i < argc; ++i) {
        json = json || std::strcmp(argv[i], "--json") == 0;
        // --projected-only: no real runs, for trying out the rules quickly
        measure = measure && std::strcmp(argv[i], "--projected-only") != 0;
    }
    if (!json) std::printf("vector code: %s\n", vector_target_name());
    std::vector<Figures> all;
    for (const auto& size : {std::pair<int, int>{1024, 1024}, std::pair<int, int>{4096, 1024}})
        all.push_back(figures_for(size.first, size.second, measure));
    if (json)
        print_json(all);
    else
        print_table(all);
    return 0;
}
