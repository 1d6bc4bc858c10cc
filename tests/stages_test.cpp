// The order of work down the image: the rules by table, and, over random
// schedules of up to 64 threads taking jobs as the real ones do, with the
// rings those threads get, that no job touches memory another job in flight
// writes, that every cell a job reads holds the right stage's value, and
// that the pipeline never stalls.
#include "interp/stages.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "interp/block_store.h"
#include "interp/pass_area.h"
#include "interp/pipeline.h"
#include "interp/row_ring.h"
#include "interp/upscale.h"
#include "interp/upsample.h"

namespace quillmorph {

namespace {

TEST(StageRules, ClaimingWaitsForTheFusionOfTheSlotRowsLastUser) {
    const struct {
        int row, finished_through, store_rows;
        bool may;
    } rows[] = {
        {5, -1, 9, true},   // the first rows of a pass find the ring empty
        {13, -1, 9, true},  // 13 - 9 = 4 held no target
        {14, 6, 9, false},  // 14 - 9 + 2 = 7 is not finished yet
        {14, 7, 9, true},  {70, 7, 64, false}, {70, 8, 64, true},
    };
    for (std::size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i)
        EXPECT_EQ(may_claim(rows[i].row, rows[i].finished_through, rows[i].store_rows), rows[i].may)
            << "row " << i;
}

TEST(StageRules, RowsAreFinishedTheLagBehindOrAllAtTheEnd) {
    EXPECT_EQ(finishable_through(20, 33, 40), 20 - finish_lag);
    EXPECT_EQ(finishable_through(32, 33, 40), 32 - finish_lag);
    EXPECT_EQ(finishable_through(33, 33, 40), 39);
    EXPECT_EQ(finishable_through(4, 33, 40), 4 - finish_lag);  // nothing yet
}

TEST(StageRules, RingsAreClampedToWhatTheGridNeeds) {
    const struct {
        int h2, asked, grid_rows, store_rows;
    } sizes[] = {
        {6, 48, 6, 1},                                  // no target row at all
        {12, 48, 12, 1},                                // one target row
        {100, 48, 48, 48},                              // as asked
        {100, 1, min_grid_rows, min_store_rows},        // raised to the least
        {40, 48, 40, 29},                               // no more rows than there are
        {20000, 100000, max_ring_rows, max_ring_rows},  // bounded
    };
    for (std::size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
        EXPECT_EQ(grid_rows_for(sizes[i].h2, sizes[i].asked), sizes[i].grid_rows) << "row " << i;
        EXPECT_EQ(store_rows_for(sizes[i].h2, sizes[i].asked), sizes[i].store_rows) << "row " << i;
    }
}

// With the rings for N threads, a pass whose finishing has caught up with
// its estimates offers N estimate jobs; and up to 16 threads the rings stay
// within 32 MB + 4 KB per LR column.
TEST(StageRules, RingsForThreadsOfferAJobToEveryThread) {
    for (int w : {6, 40, 200, 600, 1024, 4096, 100000})
        for (int threads = 1; threads <= 64; ++threads) {
            const RunLayout layout = layout_for_threads(threads, w);
            const RingSizes rings = layout.rings;
            const int h2 = 4 * rings.grid_rows + 40, w2 = 2 * w;
            const int store_rows = store_rows_for(h2, rings.store_rows);
            for (Pass pass : {diagonal_pass, axial_pass})
                for (int estimated = 40; estimated <= 41; ++estimated) {
                    int jobs = 0;
                    for (int r = estimated + 1;
                         may_claim(r, estimated - finish_lag, store_rows) && r <= h2; ++r)
                        jobs += estimate_parts(pass, r, w2, h2);
                    EXPECT_GE(jobs, threads) << w << " wide, " << threads << " threads";
                }
            const double bound = 32.0 * (1 << 20) + 4096.0 * w;
            if (threads <= 16) {
                EXPECT_LE(static_cast<double>(upscale_bytes(w, 1 << 20, {2, 65535}, layout)), bound)
                    << w << " wide, " << threads << " threads";
            }
        }
}

// The size check's bytes per column (rings_fit) are what a started
// pipeline's rings hold, for every height class, layout and sample width: a
// check that counted less would let a 32-bit build allocate past its
// address space.
TEST(StageRules, RingBytesPerColumnAreThePipelinesRings) {
    constexpr int w = 301;
    for (int h : {3, 4, 11, 24, 25, 100, 5000})
        for (int threads : {1, 4, 64})
            for (SampleFormat samples : {SampleFormat{1, 255}, SampleFormat{2, 65535}}) {
                const RunLayout layout = layout_for_threads(threads, w);
                Pipeline p;
                ASSERT_TRUE(start_pipeline(&p, w, h, samples, {}, {}, layout));
                const std::size_t rings = (ring_doubles(p.w2, p.h2, p.grid.rows) +
                                           2 * store_doubles(p.w2, p.store_rows)) *
                                              sizeof(double) +
                                          static_cast<std::size_t>(p.lr_rows) * w *
                                              static_cast<std::size_t>(samples.bytes);
                end_pipeline(&p);
                EXPECT_EQ(rings, w * ring_bytes_per_lr_column(h, samples, layout.rings))
                    << h << " high, " << threads << " threads, " << samples.bytes
                    << "-byte samples";
            }
}

// However many threads are asked for, a run is laid out for at most
// max_threads, before anything is sized by the count.
TEST(StageRules, ThreadCountsAboveTheCapAreLaidOutAsTheCap) {
    const RunLayout cap = layout_for_threads(max_threads, 4096);
    for (int threads : {max_threads + 1, 1 << 20, INT_MAX}) {
        const RunLayout layout = layout_for_threads(threads, 4096);
        EXPECT_EQ(layout.threads, max_threads) << threads;
        EXPECT_EQ(layout.rings.grid_rows, cap.rings.grid_rows) << threads;
        EXPECT_EQ(layout.rings.store_rows, cap.rings.store_rows) << threads;
    }
    EXPECT_EQ(layout_for_threads(1, 4096).threads, 1);
    EXPECT_GE(layout_for_threads(0, 4096).threads, 1);
}

// What memory a job reads and writes: a class of cells in a span of columns
// of a ring row, a slot row of a pass's store, or an LR ring row.
enum CellClass { lr_cells, diagonal_cells, axial_cells };
enum Memory { grid_memory, store_memory, lr_memory };
struct Touch {
    Memory memory;
    int index;
    int what;         // the cell class, or the pass
    int first, last;  // columns
    bool writes;
};

bool has_targets(Pass pass, int r, int w2, int h2) {
    const RowSpan targets = target_columns(pass, r, w2, h2);
    return targets.first <= targets.last;
}

CellClass class_of(Pass pass) { return pass == diagonal_pass ? diagonal_cells : axial_cells; }

// Runs the pipeline of a w2 x h2 grid on `threads` simulated threads, each
// taking its jobs with next_job and reporting them with complete_job, in a
// random interleaving, and checks each job as it starts.  Returns false on
// a stall.
struct Simulation {
    int w2, h2, grid_rows, store_rows, lr_rows;
    Schedule schedule;
    std::vector<int> counters;
    std::vector<int> occupant, lr_occupant;  // the row each ring row holds
    std::vector<int> slot_holder[2];
    std::vector<char> read, upsampled, finished[2], written;
    std::vector<int> parts_estimated[2];
    std::vector<std::vector<Touch>> in_flight;

    // Rings of exactly the sizes given.
    Simulation(int w, int h, int grid, int store)
        : w2(w),
          h2(h),
          grid_rows(grid),
          store_rows(store),
          lr_rows(lr_rows_for(h / 2, grid)),
          counters(static_cast<std::size_t>(schedule_counters(grid, store))),
          occupant(static_cast<std::size_t>(grid_rows), -1),
          lr_occupant(static_cast<std::size_t>(lr_rows), -1),
          read(static_cast<std::size_t>(h / 2)),
          upsampled(static_cast<std::size_t>(h)),
          written(static_cast<std::size_t>(h)) {
        start_schedule(&schedule, w2, h2, grid_rows, store_rows, counters.data());
        for (int pass = 0; pass < 2; ++pass) {
            slot_holder[pass].assign(static_cast<std::size_t>(store_rows), -1);
            parts_estimated[pass].assign(static_cast<std::size_t>(h), 0);
            finished[pass].assign(static_cast<std::size_t>(h), 0);
        }
    }

    std::size_t at(int r) const { return static_cast<std::size_t>(r); }
    bool in_grid(int r) const { return r >= 0 && r < h2; }
    bool estimated(Pass pass, int r) const {
        return parts_estimated[pass][at(r)] == estimate_parts(pass, r, w2, h2);
    }
    // A row's cells are final from a pass once it finished the row, or,
    // where the pass has no targets, once they are final from the stage
    // before.
    bool done(int stage, int r) const {
        if (stage == 0) return upsampled[at(r)];
        const auto pass = static_cast<Pass>(stage - 1);
        return finished[pass][at(r)] || (!has_targets(pass, r, w2, h2) && done(stage - 1, r));
    }

    // The row r holds its ring row, and the stage before `stage` is done
    // with it: 0 upsampled, 1 finished by the diagonal pass, 2 by both.
    void expect_ready(int r, int stage, const char* job) const {
        EXPECT_EQ(occupant[at(r % grid_rows)], r) << job << ": row " << r << " not in the ring";
        EXPECT_TRUE(done(stage, r)) << job << ": row " << r << " not ready";
    }

    std::vector<Touch> start(const Job& job) {
        std::vector<Touch> touches;
        const auto grid = [&](int r, CellClass what, int first, int last, bool writes) {
            touches.push_back({grid_memory, r % grid_rows, what, first, last, writes});
        };
        const auto slot = [&](Pass pass, int r, int first, int last, bool writes) {
            touches.push_back({store_memory, r % store_rows, pass, first, last, writes});
        };
        const auto lr = [&](int i, bool writes) {
            touches.push_back({lr_memory, i % lr_rows, 0, 0, w2, writes});
        };
        const auto p = static_cast<Pass>(job.pass);
        switch (job.kind) {
            case job_read:
                for (int i = job.first; i <= job.last; ++i) {
                    EXPECT_TRUE(i > job.first || i == 0 || read[at(i - 1)]) << "reading " << i;
                    const int previous = lr_occupant[at(i % lr_rows)];
                    // Every HR row made from the previous row is upsampled.
                    for (int r = 0; previous >= 0 && r < h2 && r / 2 - lr_rows_above <= previous;
                         ++r) {
                        EXPECT_TRUE(upsampled[at(r)]) << "reading " << i << " before " << r;
                    }
                    lr_occupant[at(i % lr_rows)] = i;
                    lr(i, true);
                }
                break;
            case job_upsample:
                for (int u = job.first; u <= job.last; ++u) {
                    const int previous = occupant[at(u % grid_rows)];
                    if (previous >= 0) {
                        EXPECT_TRUE(written[at(previous)]) << "upsampling " << u;
                    }
                    for (int i = u / 2 - lr_rows_above; i <= u / 2 + lr_rows_below; ++i)
                        if (i >= 0 && i < h2 / 2) {
                            EXPECT_EQ(lr_occupant[at(i % lr_rows)], i) << "upsampling " << u;
                            lr(i, false);
                        }
                    occupant[at(u % grid_rows)] = u;
                    for (CellClass c : {lr_cells, diagonal_cells, axial_cells})
                        grid(u, c, 0, w2 - 1, true);
                }
                break;
            case job_estimate: {
                const int r = job.first;
                const RowSpan columns = estimate_part_columns(p, r, w2, h2, job.part);
                EXPECT_LE(columns.first, columns.last) << "estimating " << r;
                const int left = columns.first - window_radius,
                          right = columns.last + window_radius;
                for (int d = -window_radius; d <= window_radius; ++d) {
                    expect_ready(r + d, p, "estimating");
                    grid(r + d, lr_cells, left, right, false);
                    if (p == axial_pass) grid(r + d, diagonal_cells, left, right, false);
                }
                // The gathers read the pass's own cells before the pass.
                for (int d = -fusion_reach; d <= fusion_reach; ++d) {
                    EXPECT_FALSE(finished[p][at(r + d)]) << "estimating " << r;
                    grid(r + d, class_of(p), columns.first - fusion_reach,
                         columns.last + fusion_reach, false);
                }
                const int previous = slot_holder[p][at(r % store_rows)];
                for (int f = previous - fusion_reach; previous >= 0 && f <= previous + fusion_reach;
                     ++f)
                    if (in_grid(f) && previous != r) {
                        EXPECT_TRUE(done(p + 1, f)) << "estimating " << r << " over " << previous;
                    }
                slot_holder[p][at(r % store_rows)] = r;
                slot(p, r, columns.first, columns.last, true);
                break;
            }
            case job_finish:
                for (int f = job.first; f <= job.last; ++f) {
                    expect_ready(f, p, "finishing");
                    for (int t = f - fusion_reach; t <= f + fusion_reach; ++t) {
                        if (!has_targets(p, t, w2, h2)) continue;
                        EXPECT_TRUE(estimated(p, t)) << "finishing " << f << " before " << t;
                        EXPECT_EQ(slot_holder[p][at(t % store_rows)], t) << "finishing " << f;
                        slot(p, t, 0, w2 - 1, false);
                    }
                    grid(f, class_of(p), 0, w2 - 1, true);
                }
                break;
            case job_write:
                for (int f = job.first; f <= job.last; ++f) {
                    EXPECT_TRUE(f > job.first || f == 0 || written[at(f - 1)]) << "writing " << f;
                    expect_ready(f, 2, "writing");
                    for (CellClass c : {lr_cells, diagonal_cells, axial_cells})
                        grid(f, c, 0, w2 - 1, false);
                }
                break;
            case job_wait:
            case job_done:
                break;
        }
        for (const std::vector<Touch>& other : in_flight)
            for (const Touch& a : touches)
                for (const Touch& b : other)
                    if (a.memory == b.memory && a.index == b.index && a.what == b.what &&
                        a.first <= b.last && b.first <= a.last) {
                        EXPECT_FALSE(a.writes || b.writes)
                            << "job " << job.kind << " rows " << job.first << ".." << job.last
                            << " part " << job.part << " touches what another job in flight writes";
                    }
        return touches;
    }

    void end(const Job& job) {
        for (int r = job.first; r <= job.last; ++r) {
            if (job.kind == job_read) read[at(r)] = 1;
            if (job.kind == job_upsample) upsampled[at(r)] = 1;
            if (job.kind == job_estimate) ++parts_estimated[job.pass][at(r)];
            if (job.kind == job_finish) finished[job.pass][at(r)] = 1;
            if (job.kind == job_write) written[at(r)] = 1;
        }
        complete_job(&schedule, job);
    }

    // Whether next_job would give thread t a job, asked of a copy.
    bool has_job(std::size_t t) const {
        Schedule peek = schedule;
        std::vector<int> peek_counters = counters;
        const auto moved = [&](RowStage& stage) {
            stage.parts_done = peek_counters.data() + (stage.parts_done - counters.data());
        };
        moved(peek.upsample);
        for (int pass = 0; pass < 2; ++pass) {
            moved(peek.estimate[pass]);
            moved(peek.finish[pass]);
        }
        return next_job(&peek, t == 0).kind != job_wait;
    }

    bool run(int threads, std::mt19937_64& gen) {
        std::vector<Job> held(static_cast<std::size_t>(threads),
                              Job{job_wait, diagonal_pass, 0, -1, 0});
        std::vector<std::size_t> slot_of_thread(static_cast<std::size_t>(threads), 0);
        std::vector<char> gone(static_cast<std::size_t>(threads), 0);
        for (;;) {
            // A thread may act when it holds a job (to complete it), or when
            // next_job would give it one; an idle thread's wait is not a step.
            std::vector<std::size_t> can_act;
            int running = 0;
            for (std::size_t t = 0; t < held.size(); ++t) {
                if (gone[t]) continue;
                ++running;
                if (held[t].kind != job_wait || has_job(t)) can_act.push_back(t);
            }
            if (running == 0) break;
            if (can_act.empty()) return false;
            const std::size_t t = can_act[gen() % can_act.size()];
            if (held[t].kind != job_wait) {
                in_flight.erase(in_flight.begin() + static_cast<std::ptrdiff_t>(slot_of_thread[t]));
                for (std::size_t u = 0; u < held.size(); ++u)
                    if (held[u].kind != job_wait && slot_of_thread[u] > slot_of_thread[t])
                        --slot_of_thread[u];
                end(held[t]);
                held[t].kind = job_wait;
                continue;
            }
            const Job job = next_job(&schedule, t == 0);
            if (job.kind == job_done) {
                gone[t] = 1;
                continue;
            }
            std::vector<Touch> touches = start(job);
            slot_of_thread[t] = in_flight.size();
            in_flight.push_back(touches);
            held[t] = job;
        }
        for (int r = 0; r < h2; ++r) EXPECT_TRUE(written[at(r)]) << "row " << r << " not written";
        return true;
    }
};

// Narrow grids (a job per row) and wide ones (several per row), rings of
// the least sizes, the defaults, and those for the thread count.
TEST(StageOrder, RandomSchedulesAreSafeAndNeverStall) {
    std::mt19937_64 gen(7);
    for (int w2 : {12, 40, 1100})
        for (int threads : {1, 2, 3, 7, 16, 64})
            for (int ring = 0; ring < 3; ++ring)
                for (int h2 : {6, 12, 14, 18, 24, 30, 47, 64, 150, 260})
                    for (int schedule = 0; schedule < (threads > 7 ? 2 : 4); ++schedule) {
                        if (w2 > 100 && threads < 7 && h2 > 100) continue;  // nothing new there
                        const RingSizes rings = ring == 0 ? RingSizes{min_grid_rows, min_store_rows}
                                                : ring == 1
                                                    ? default_rings
                                                    : layout_for_threads(threads, w2 / 2).rings;
                        SCOPED_TRACE(testing::Message()
                                     << w2 << " x " << h2 << ", " << rings.grid_rows
                                     << " grid rows, " << rings.store_rows << " slot rows, "
                                     << threads << " threads, schedule " << schedule);
                        Simulation simulation(w2, h2, grid_rows_for(h2, rings.grid_rows),
                                              store_rows_for(h2, rings.store_rows));
                        ASSERT_TRUE(simulation.run(threads, gen)) << "stalled";
                        if (HasFailure()) return;
                    }
}

// The least sizes are tight: one row fewer in either ring, and a single
// thread can no longer go on.
TEST(StageOrder, SmallerRingsStall) {
    std::mt19937_64 gen(11);
    Simulation short_grid(40, 100, min_grid_rows - 1, min_store_rows);
    EXPECT_FALSE(short_grid.run(1, gen));
    Simulation short_store(40, 100, min_grid_rows, min_store_rows - 1);
    EXPECT_FALSE(short_store.run(1, gen));
}

}  // namespace

}  // namespace quillmorph
