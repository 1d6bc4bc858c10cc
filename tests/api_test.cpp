// The C API: every argument check with its status, callbacks that stop a
// run, where the callbacks are made, and calls from several threads at once.
// That the API writes the straightforward refinement's bytes is tested with
// the engine's whole runs (reference_test.cpp).
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "quillmorph.h"
#include "test_images.h"
#include "test_support.h"

namespace quillmorph {

namespace {

constexpr unsigned char untouched = 0xA5;

std::vector<unsigned char> api_upscaled(int w, int h, const std::vector<unsigned char>& lr,
                                        const qm_options* options = nullptr) {
    std::vector<unsigned char> hr(4 * to_size(w) * to_size(h), untouched);
    EXPECT_EQ(qm_upscale(lr.data(), w, h, w, hr.data(), 2 * w, options), QM_OK);
    return hr;
}

// A stream of rows from an image in memory into one, counting the calls and
// noting the threads they were made on; each callback fails from a given
// call on (-1: never), and the progress hook stops the run from a given row.
struct Rows {
    Rows(int width, const std::vector<unsigned char>* image) : w(width), lr(image) {}
    int w;
    const std::vector<unsigned char>* lr;
    std::vector<unsigned char> hr;
    int reads = 0, writes = 0, fail_read_at = -1, fail_write_at = -1;
    int stop_at_row = -1;
    std::vector<std::pair<int, int>> progress;
    std::set<std::thread::id> threads;
};

int read_row(void* user, unsigned char* row) {
    Rows& rows = *static_cast<Rows*>(user);
    rows.threads.insert(std::this_thread::get_id());
    if (rows.reads == rows.fail_read_at) return 1;
    std::memcpy(row, rows.lr->data() + to_size(rows.reads++) * to_size(rows.w), to_size(rows.w));
    return 0;
}

int write_row(void* user, const unsigned char* row) {
    Rows& rows = *static_cast<Rows*>(user);
    rows.threads.insert(std::this_thread::get_id());
    if (rows.writes == rows.fail_write_at) return 1;
    rows.hr.insert(rows.hr.end(), row, row + 2 * rows.w);
    ++rows.writes;
    return 0;
}

int note_progress(void* user, int done, int total) {
    Rows& rows = *static_cast<Rows*>(user);
    rows.threads.insert(std::this_thread::get_id());
    rows.progress.emplace_back(done, total);
    return rows.stop_at_row >= 0 && done >= rows.stop_at_row;
}

struct OptionsDeleter {
    void operator()(qm_options* options) const { qm_options_free(options); }
};
using Options = std::unique_ptr<qm_options, OptionsDeleter>;

Options make_options(int threads, Rows* progress_rows = nullptr) {
    Options options(qm_options_new());
    EXPECT_EQ(qm_options_set_threads(options.get(), threads), QM_OK);
    if (progress_rows) {
        EXPECT_EQ(qm_options_set_progress(options.get(), note_progress, progress_rows), QM_OK);
    }
    return options;
}

TEST(Api, VersionAndStatusTexts) {
    EXPECT_EQ(qm_version_number(), QUILLMORPH_VERSION_NUMBER);
    EXPECT_EQ(std::string(qm_version_string()), std::to_string(QUILLMORPH_VERSION_MAJOR) + "." +
                                                    std::to_string(QUILLMORPH_VERSION_MINOR) + "." +
                                                    std::to_string(QUILLMORPH_VERSION_PATCH));
    std::set<std::string> texts;
    for (int status = QM_ERROR_VECTOR_TARGET; status <= QM_OK; ++status)
        texts.insert(qm_status_string(status));
    EXPECT_EQ(texts.size(), 10u) << "every status has a text of its own";
    for (int unknown : {1, -10, INT_MIN, INT_MAX})
        EXPECT_EQ(std::string(qm_status_string(unknown)), "Unknown status code.");
}

// Every argument check: the status it returns, and nothing written, read or
// called.
TEST(Api, MisuseIsRefusedBeforeAnyWork) {
    const int w = 8, h = 6;
    std::vector<unsigned char> lr(to_size(w) * to_size(h), 7);
    // Room for a 16-bit output too, so that no call sees a range past it.
    std::vector<unsigned char> hr(8 * lr.size(), untouched);
    // One buffer holding both images, for overlaps.
    std::vector<unsigned char> shared(8 * lr.size(), untouched);
    unsigned char* const s = shared.data();
    Rows rows(w, &lr);
    const Options bad_threads = make_options(1);
    const std::ptrdiff_t huge_stride = PTRDIFF_MAX / 2;
    // 16-bit images: lr16 holds a sample above 4095 in its last row.
    std::vector<std::uint16_t> lr16(lr.size(), 4000);
    lr16.back() = 4096;
    std::uint16_t* const hr16 = reinterpret_cast<std::uint16_t*>(hr.data());
    const std::ptrdiff_t row16 = 2 * w;  // bytes in an LR row of 16-bit samples
    const Options maxval_4095 = make_options(1);
    qm_options_set_maxval(maxval_4095.get(), 4095);
    const Options maxval_6 = make_options(1);
    qm_options_set_maxval(maxval_6.get(), 6);
    const Options maxval_256 = make_options(1);
    qm_options_set_maxval(maxval_256.get(), 256);
    int window[4] = {};
    const struct {
        const char* what;
        int expected;
        std::function<int()> call;
    } cases[] = {
        {"null lr", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale(nullptr, w, h, w, hr.data(), 2 * w, nullptr); }},
        {"null hr", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale(lr.data(), w, h, w, nullptr, 2 * w, nullptr); }},
        {"width 2", QM_ERROR_SIZE,
         [&] { return qm_upscale(lr.data(), 2, h, w, hr.data(), 2 * w, nullptr); }},
        {"height 2", QM_ERROR_SIZE,
         [&] { return qm_upscale(lr.data(), w, 2, w, hr.data(), 2 * w, nullptr); }},
        {"width 0", QM_ERROR_SIZE,
         [&] { return qm_upscale(lr.data(), 0, h, w, hr.data(), 2 * w, nullptr); }},
        {"negative height", QM_ERROR_SIZE,
         [&] { return qm_upscale(lr.data(), w, -5, w, hr.data(), 2 * w, nullptr); }},
        {"2 x width past INT_MAX", QM_ERROR_TOO_LARGE,
         [&] { return qm_upscale(lr.data(), INT_MAX / 2 + 1, h, w, hr.data(), 2 * w, nullptr); }},
        {"lr stride short", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale(lr.data(), w, h, w - 1, hr.data(), 2 * w, nullptr); }},
        {"hr stride short", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale(lr.data(), w, h, w, hr.data(), 2 * w - 1, nullptr); }},
        {"negative stride", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale(lr.data(), w, h, -w, hr.data(), 2 * w, nullptr); }},
        {"rows past the address space", QM_ERROR_TOO_LARGE,
         [&] { return qm_upscale(lr.data(), w, 4096, huge_stride, hr.data(), 2 * w, nullptr); }},
        {"hr inside lr", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale(s, w, h, 8 * w, s + w, 2 * w, nullptr); }},
        {"lr inside hr's last row", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale(s + 4 * lr.size() - 1, w, h, w, s, 2 * w, nullptr); }},
        {"rows null read", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale_rows(w, h, nullptr, write_row, &rows, nullptr); }},
        {"rows null write", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale_rows(w, h, read_row, nullptr, &rows, nullptr); }},
        {"rows width 1", QM_ERROR_SIZE,
         [&] { return qm_upscale_rows(1, h, read_row, write_row, &rows, nullptr); }},
        {"rows too tall", QM_ERROR_TOO_LARGE,
         [&] { return qm_upscale_rows(w, INT_MAX, read_row, write_row, &rows, nullptr); }},
        {"threads negative", QM_ERROR_ARGUMENT,
         [&] { return qm_options_set_threads(bad_threads.get(), -1); }},
        {"threads on null options", QM_ERROR_ARGUMENT,
         [&] { return qm_options_set_threads(nullptr, 2); }},
        {"progress on null options", QM_ERROR_ARGUMENT,
         [&] { return qm_options_set_progress(nullptr, note_progress, &rows); }},
        {"maxval 0", QM_ERROR_ARGUMENT,
         [&] { return qm_options_set_maxval(bad_threads.get(), 0); }},
        {"maxval 65536", QM_ERROR_ARGUMENT,
         [&] { return qm_options_set_maxval(bad_threads.get(), 65536); }},
        {"maxval on null options", QM_ERROR_ARGUMENT,
         [&] { return qm_options_set_maxval(nullptr, 255); }},
        {"8-bit call with maxval 256", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale(lr.data(), w, h, w, hr.data(), 2 * w, maxval_256.get()); }},
        {"8-bit sample above the maxval", QM_ERROR_SAMPLE,
         [&] { return qm_upscale(lr.data(), w, h, w, hr.data(), 2 * w, maxval_6.get()); }},
        {"16-bit null lr", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale16(nullptr, w, h, row16, hr16, 2 * row16, nullptr); }},
        {"16-bit width 2", QM_ERROR_SIZE,
         [&] { return qm_upscale16(lr16.data(), 2, h, row16, hr16, 2 * row16, nullptr); }},
        {"16-bit lr stride in samples", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale16(lr16.data(), w, h, w, hr16, 2 * row16, nullptr); }},
        {"16-bit odd stride", QM_ERROR_ARGUMENT,
         [&] { return qm_upscale16(lr16.data(), w, h, row16 + 1, hr16, 2 * row16, nullptr); }},
        {"16-bit sample above the maxval", QM_ERROR_SAMPLE,
         [&] {
             return qm_upscale16(lr16.data(), w, h, row16, hr16, 2 * row16, maxval_4095.get());
         }},
        {"16-bit rows null write", QM_ERROR_ARGUMENT,
         [&] {
             return qm_upscale16_rows(
                 w, h, [](void*, std::uint16_t*) { return 0; }, nullptr, &rows, nullptr);
         }},
        {"16-bit rows height 1", QM_ERROR_SIZE,
         [&] {
             return qm_upscale16_rows(
                 w, 1, [](void*, std::uint16_t*) { return 0; },
                 [](void*, const std::uint16_t*) { return 0; }, &rows, nullptr);
         }},
        {"16-bit region window short", QM_ERROR_ARGUMENT,
         [&] {
             return qm_upscale16_region(lr16.data(), w - 1, h, row16, 0, 0, w, h, 0, 0, 4, 4, hr16,
                                        8, nullptr);
         }},
        {"16-bit region sample above the maxval", QM_ERROR_SAMPLE,
         [&] {
             return qm_upscale16_region(lr16.data(), w, h, row16, 0, 0, w, h, 2 * w - 2, 2 * h - 2,
                                        2, 2, hr16, 4, maxval_4095.get());
         }},
        {"region window of an empty region", QM_ERROR_ARGUMENT,
         [&] {
             return qm_region_window(w, h, 0, 0, 0, 4, &window[0], &window[1], &window[2],
                                     &window[3]);
         }},
        {"region window outside the output", QM_ERROR_ARGUMENT,
         [&] {
             return qm_region_window(w, h, 2 * w - 1, 0, 2, 4, &window[0], &window[1], &window[2],
                                     &window[3]);
         }},
        {"region window of a 2-pixel image", QM_ERROR_SIZE,
         [&] {
             return qm_region_window(2, h, 0, 0, 1, 1, &window[0], &window[1], &window[2],
                                     &window[3]);
         }},
        {"region window to a null pointer", QM_ERROR_ARGUMENT,
         [&] {
             return qm_region_window(w, h, 0, 0, 1, 1, &window[0], &window[1], &window[2], nullptr);
         }},
        {"size check, width 2", QM_ERROR_SIZE, [&] { return qm_check_size(2, h); }},
        {"size check, 2 x height past INT_MAX", QM_ERROR_TOO_LARGE,
         [&] { return qm_check_size(w, INT_MAX / 2 + 1); }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.what;
        EXPECT_EQ(hr, std::vector<unsigned char>(hr.size(), untouched)) << c.what;
        EXPECT_EQ(shared, std::vector<unsigned char>(shared.size(), untouched)) << c.what;
        EXPECT_EQ(rows.reads + rows.writes, 0) << c.what;
        EXPECT_EQ(window[0] + window[1] + window[2] + window[3], 0) << c.what;
    }
    // The options that refused a value kept the one they had.
    std::vector<unsigned char> ok(4 * lr.size());
    EXPECT_EQ(qm_upscale(lr.data(), w, h, w, ok.data(), 2 * w, bad_threads.get()), QM_OK);
    qm_options_free(nullptr);
}

// Strides past the row length: only the rows are read and written, and the
// bytes are those of packed rows, of a stream of rows, and on any threads.
TEST(Api, StridesStreamsAndThreadsGiveTheSameBytes) {
    std::mt19937_64 gen(18);
    const int w = 37, h = 29;
    const std::vector<unsigned char> lr = content_image(waves, w, h, gen);
    const std::vector<unsigned char> packed = api_upscaled(w, h, lr, make_options(1).get());

    const int lr_stride = w + 5, hr_stride = 2 * w + 3;
    std::vector<unsigned char> lr_padded(to_size(lr_stride) * to_size(h), untouched);
    for (int y = 0; y < h; ++y)
        std::memcpy(&lr_padded[cell(y, 0, lr_stride)], &lr[cell(y, 0, w)], to_size(w));
    std::vector<unsigned char> hr_padded(to_size(hr_stride) * to_size(2 * h), untouched);
    ASSERT_EQ(qm_upscale(lr_padded.data(), w, h, lr_stride, hr_padded.data(), hr_stride,
                         make_options(3).get()),
              QM_OK);
    for (int y = 0; y < 2 * h; ++y) {
        EXPECT_EQ(0, std::memcmp(&hr_padded[cell(y, 0, hr_stride)], &packed[cell(y, 0, 2 * w)],
                                 to_size(2 * w)))
            << "row " << y;
        for (int x = 2 * w; x < hr_stride && y < 2 * h - 1; ++x)
            EXPECT_EQ(hr_padded[cell(y, x, hr_stride)], untouched) << "padding of row " << y;
    }

    Rows rows(w, &lr);
    ASSERT_EQ(qm_upscale_rows(w, h, read_row, write_row, &rows, make_options(4, &rows).get()),
              QM_OK);
    EXPECT_EQ(rows.hr, packed);
    EXPECT_EQ(rows.reads, h);
    EXPECT_EQ(rows.threads, std::set<std::thread::id>{std::this_thread::get_id()})
        << "every callback is made on the calling thread";
    ASSERT_FALSE(rows.progress.empty());
    EXPECT_EQ(rows.progress.back(), std::make_pair(2 * h, 2 * h));
    for (std::size_t i = 1; i < rows.progress.size(); ++i)
        EXPECT_LT(rows.progress[i - 1].first, rows.progress[i].first) << "in order";
}

// A callback that fails, or a progress hook that stops the run: the status
// says which, and no callback comes after it.
TEST(Api, CallbacksStopTheRun) {
    std::mt19937_64 gen(19);
    const int w = 40, h = 90;
    const std::vector<unsigned char> lr = content_image(noise, w, h, gen);
    for (int threads : {1, 2, 5}) {
        Rows cancelled(w, &lr);
        cancelled.stop_at_row = 40;
        EXPECT_EQ(qm_upscale_rows(w, h, read_row, write_row, &cancelled,
                                  make_options(threads, &cancelled).get()),
                  QM_ERROR_CANCELLED);
        EXPECT_EQ(cancelled.progress.back().first, 40);
        EXPECT_EQ(cancelled.writes, 40) << threads << " threads";

        Rows write_fails(w, &lr);
        write_fails.fail_write_at = 7;
        EXPECT_EQ(
            qm_upscale_rows(w, h, read_row, write_row, &write_fails, make_options(threads).get()),
            QM_ERROR_WRITE);
        EXPECT_EQ(write_fails.writes, 7);

        Rows read_fails(w, &lr);
        read_fails.fail_read_at = 30;
        EXPECT_EQ(
            qm_upscale_rows(w, h, read_row, write_row, &read_fails, make_options(threads).get()),
            QM_ERROR_READ);
        EXPECT_EQ(read_fails.reads, 30);
        EXPECT_LT(read_fails.writes, 2 * 30) << "no row is written that needs the missing one";

        // A stop asked at the last report, after the last row: the status
        // still says so, with the output whole.
        Rows stopped_at_end(w, &lr);
        stopped_at_end.stop_at_row = 2 * h;
        EXPECT_EQ(qm_upscale_rows(w, h, read_row, write_row, &stopped_at_end,
                                  make_options(threads, &stopped_at_end).get()),
                  QM_ERROR_CANCELLED);
        EXPECT_EQ(stopped_at_end.writes, 2 * h);

        // A row with a sample above the maxval stops the stream as it is read.
        std::vector<unsigned char> dim(lr.size(), 90);
        dim[cell(30, 5, w)] = 101;
        Rows too_bright(w, &dim);
        const Options maxval_100 = make_options(threads);
        qm_options_set_maxval(maxval_100.get(), 100);
        EXPECT_EQ(qm_upscale_rows(w, h, read_row, write_row, &too_bright, maxval_100.get()),
                  QM_ERROR_SAMPLE);
        EXPECT_EQ(too_bright.reads, 31);
        EXPECT_LT(too_bright.writes, 2 * 30);

        std::vector<unsigned char> hr(4 * lr.size(), untouched);
        Rows image_progress(w, &lr);
        image_progress.stop_at_row = 16;
        EXPECT_EQ(qm_upscale(lr.data(), w, h, w, hr.data(), 2 * w,
                             make_options(threads, &image_progress).get()),
                  QM_ERROR_CANCELLED);
        EXPECT_EQ(hr[cell(16, 0, 2 * w)], untouched) << "nothing written after the stop";
    }
}

// Calls from several threads at once, each with its own image and threads
// of its own: each gets the bytes of a call alone.
TEST(Api, ConcurrentCallsGiveTheBytesOfACallAlone) {
    constexpr int callers = 4;
    std::mt19937_64 gen(20);
    std::vector<std::vector<unsigned char>> images, alone(callers), together(callers);
    for (int i = 0; i < callers; ++i) {
        images.push_back(content_image(static_cast<Content>(i), 30 + i, 24, gen));
        alone[to_size(i)] = api_upscaled(30 + i, 24, images.back(), make_options(1).get());
    }
    const Options shared = make_options(2);
    std::vector<std::thread> threads;
    threads.reserve(callers);
    for (int i = 0; i < callers; ++i)
        threads.emplace_back([&, i] {
            const std::size_t n = to_size(i);
            together[n].assign(alone[n].size(), 0);
            qm_upscale(images[n].data(), 30 + i, 24, 30 + i, together[n].data(), 2 * (30 + i),
                       shared.get());
        });
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < callers; ++i) EXPECT_EQ(together[to_size(i)], alone[to_size(i)]) << i;
}

}  // namespace

}  // namespace quillmorph
