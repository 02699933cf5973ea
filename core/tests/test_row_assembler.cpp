// The row assembler and the thread helper: results in row order and identical for any number of
// threads, several value arrays per entry, the first failing row in row order deciding the error,
// empty matrices and rows, loops of many tiny blocks, the block partition itself, and loops stopped
// by their cancel flag.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "check.hpp"
#include "quorvel/parallel.hpp"
#include "quorvel/row_assembler.hpp"

namespace {

using quorvel::RowSink;
using quorvel::SparseMatrix;
using quorvel::Status;

// A deterministic hash of (row, column), independent of any schedule.
std::uint64_t mix(std::uint64_t i, std::uint64_t j) {
    std::uint64_t z = i * 0x9E3779B97F4A7C15ULL + j + 0x632BE59BD9B4E019ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Row i of the test pattern: between 0 and 12 ascending columns below n_cols (none in every
// seventh row), value k of entry (i, j) is value(i, j, k).
std::vector<std::uint64_t> pattern_row(std::size_t i, std::size_t n_cols) {
    std::vector<std::uint64_t> cols;
    if (n_cols == 0 || i % 7 == 3) return cols;
    const std::size_t count = mix(i, 0) % 13;
    std::uint64_t c = mix(i, 1) % n_cols;
    for (std::size_t e = 0; e < count && c < n_cols; ++e) {
        cols.push_back(c);
        c += 1 + mix(i, e + 2) % 5;
    }
    return cols;
}

double value(std::size_t i, std::uint64_t j, std::size_t k) {
    return static_cast<double>(mix(i, j) % 100000) * 1e-3 - 17.0 * static_cast<double>(k) + 0.5;
}

// The expected matrix k, built row by row on one thread without the assembler.
SparseMatrix reference(std::size_t n_rows, std::size_t n_cols, std::size_t k) {
    SparseMatrix m;
    m.n_rows = n_rows;
    m.n_cols = n_cols;
    for (std::size_t i = 0; i < n_rows; ++i) {
        for (std::uint64_t j : pattern_row(i, n_cols)) {
            m.indices.push_back(j);
            m.data.push_back(value(i, j, k));
        }
        m.indptr.push_back(m.indices.size());
    }
    return m;
}

bool same(const SparseMatrix& a, const SparseMatrix& b) {
    return a.n_rows == b.n_rows && a.n_cols == b.n_cols && a.indptr == b.indptr &&
           a.indices == b.indices && a.data == b.data;
}

// Per-worker lists, counted to show that each worker builds one and reuses it.
std::atomic<int> scratch_count{0};
struct CountedScratch {
    CountedScratch() { ++scratch_count; }
    std::vector<std::uint64_t> cols;
};

template <std::size_t K>
std::array<SparseMatrix, K> assemble_pattern(std::size_t n_rows, std::size_t n_cols,
                                             std::size_t min_block) {
    auto row = [&](std::size_t i, CountedScratch& s, RowSink<K>& sink) {
        s.cols = pattern_row(i, n_cols);
        for (std::uint64_t j : s.cols) {
            [&]<std::size_t... k>(std::index_sequence<k...>) {
                sink.push(j, value(i, j, k)...);
            }(std::make_index_sequence<K>{});
        }
    };
    return quorvel::assemble_rows<CountedScratch, K>(n_rows, n_cols, row, min_block);
}

void test_partition() {
    for (std::size_t n : {0, 1, 2, 5, 16, 17, 1023, 1024, 1025, 4096, 100000, 1234567}) {
        for (std::size_t min_block : {0, 1, 3, 16, 1024, 5000}) {
            const auto p = quorvel::RowPartition::of(n, min_block);
            CHECK(p.n_rows == n);
            CHECK((n == 0) == (p.n_blocks == 0));
            if (n == 0) continue;
            if (n <= std::max<std::size_t>(min_block, 1)) CHECK(p.n_blocks == 1);
            CHECK(p.begin(0) == 0 && p.end(p.n_blocks - 1) == n);
            std::size_t shortest = n, longest = 0;
            for (std::size_t b = 0; b < p.n_blocks; ++b) {
                CHECK(p.end(b) > p.begin(b));
                if (b + 1 < p.n_blocks) CHECK(p.end(b) == p.begin(b + 1));
                shortest = std::min(shortest, p.end(b) - p.begin(b));
                longest = std::max(longest, p.end(b) - p.begin(b));
            }
            CHECK(longest - shortest <= 1);
            CHECK(longest <= std::max<std::size_t>({(n + 1023) / 1024, min_block, 1}));
        }
    }
}

void test_independent_of_threads() {
    // Many tiny blocks (min_block 1: about 20 rows each), a few large ones, and one block.
    for (std::size_t min_block : {1, 500, 100000}) {
        const std::size_t n_rows = 20011, n_cols = 3000;
        const SparseMatrix expected = reference(n_rows, n_cols, 0);
        for (std::size_t threads : {1, 2, 4, 7}) {
            quorvel::set_row_threads(threads);
            scratch_count = 0;
            auto [m] = assemble_pattern<1>(n_rows, n_cols, min_block);
            CHECK(same(m, expected));
            CHECK(scratch_count >= 1 && scratch_count <= static_cast<int>(threads));
        }
    }
    quorvel::set_row_threads(0);
}

void test_several_value_arrays() {
    const std::size_t n_rows = 3001, n_cols = 777;
    for (std::size_t threads : {1, 4}) {
        quorvel::set_row_threads(threads);
        auto [a, b, c] = assemble_pattern<3>(n_rows, n_cols, 1);
        CHECK(same(a, reference(n_rows, n_cols, 0)));
        CHECK(same(b, reference(n_rows, n_cols, 1)));
        CHECK(same(c, reference(n_rows, n_cols, 2)));
    }

    // The values of the current row can be rescaled in place once the row is complete.
    auto row = [&](std::size_t i, quorvel::NoScratch&, RowSink<2>& sink) {
        for (std::uint64_t j : pattern_row(i, n_cols))
            sink.push(j, value(i, j, 0), value(i, j, 1));
        double sum = 0.0;
        for (double v : sink.row_values(0))
            sum += v;
        for (double& v : sink.row_values(1))
            v -= sum;
    };
    quorvel::set_row_threads(4);
    auto [w, dw] = quorvel::assemble_rows<quorvel::NoScratch, 2>(n_rows, n_cols, row);
    SparseMatrix expected = reference(n_rows, n_cols, 1);
    for (std::size_t i = 0; i < n_rows; ++i) {
        double sum = 0.0;
        for (std::uint64_t j : pattern_row(i, n_cols))
            sum += value(i, j, 0);
        for (std::uint64_t p = expected.indptr[i]; p < expected.indptr[i + 1]; ++p)
            expected.data[p] -= sum;
    }
    CHECK(same(w, reference(n_rows, n_cols, 0)));
    CHECK(same(dw, expected));
    quorvel::set_row_threads(0);
}

// Sleeps in the failing row that should lose or win the race to fail first, so that both orders
// of discovery occur with several threads.
void pause_if(bool slow) {
    if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void test_first_failing_row_wins() {
    const std::size_t n_rows = 50000;
    for (bool first_is_slow : {true, false}) {
        for (std::size_t first : {0, 1, 777, 31337, 49999}) {
            for (std::size_t threads : {1, 2, 4}) {
                quorvel::set_row_threads(threads);
                auto row = [&](std::size_t i, quorvel::NoScratch&, RowSink<1>& sink) -> Status {
                    if (i == first) {
                        pause_if(first_is_slow);
                        return quorvel::invalid_input("row " + std::to_string(i));
                    }
                    if (i > first && i % 4999 == 0) {
                        pause_if(!first_is_slow);
                        return quorvel::invalid_input("later row");
                    }
                    sink.push(i % 10, 1.0);
                    return {};
                };
                auto m = quorvel::assemble_rows<quorvel::NoScratch>(n_rows, 10, row);
                CHECK(!m.has_value());
                if (!m) CHECK(m.error().message == "row " + std::to_string(first));
            }
        }
    }

    // Without a failure, the Result holds the matrices.
    quorvel::set_row_threads(3);
    auto ok = quorvel::assemble_rows<quorvel::NoScratch>(
        100, 5, [](std::size_t i, quorvel::NoScratch&, RowSink<1>& sink) -> Status {
            sink.push(i % 5, static_cast<double>(i));
            return {};
        });
    CHECK(ok.has_value());
    if (ok) CHECK((*ok)[0].indptr.back() == 100 && (*ok)[0].data[42] == 42.0);
    quorvel::set_row_threads(0);
}

std::atomic<std::uint64_t> spin_sink{0};

// While one worker sleeps in its block, the others finish at most a sixteenth of the blocks
// beyond it (plus the ones in their hands) before they wait for it, once those hold more than a
// few megabytes: the rest of the result is not piled up beside the stalled block. The result is
// the same as without the stall. (The stall comes late: a caller works alone at first.)
void test_stalled_block_bounds_the_look_ahead() {
    // 1024 blocks of 100 rows, 60 entries a row: about 94 kB a block.
    const std::size_t n_rows = 102400, n_cols = 60, slow = 30050;
    SparseMatrix expected;
    expected.n_rows = n_rows;
    expected.n_cols = n_cols;
    for (std::size_t i = 0; i < n_rows; ++i) {
        for (std::uint64_t j = 0; j < n_cols; ++j) {
            expected.indices.push_back(j);
            expected.data.push_back(value(i, j, 0));
        }
        expected.indptr.push_back(expected.indices.size());
    }
    for (std::size_t threads : {2, 4}) {
        quorvel::set_row_threads(threads);
        std::atomic<bool> sleeping{false};
        std::atomic<std::size_t> ahead{0};
        auto row = [&](std::size_t i, quorvel::NoScratch&, RowSink<1>& sink) {
            if (i == slow) {
                sleeping = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                sleeping = false;
            } else if (i >= slow + 50 && sleeping) {
                ++ahead;
            }
            // Some work per row, so that the pool is open well before the slow row.
            std::uint64_t h = i;
            for (int r = 0; r < 200; ++r)
                h = mix(h, r);
            spin_sink += h;
            for (std::uint64_t j = 0; j < n_cols; ++j)
                sink.push(j, value(i, j, 0));
        };
        auto [m] = quorvel::assemble_rows<quorvel::NoScratch>(n_rows, n_cols, row);
        CHECK(same(m, expected));
        CHECK(ahead.load() <= (1024 / 16 + threads + 1) * 100);
    }
    quorvel::set_row_threads(0);
}

void test_empty() {
    for (std::size_t threads : {1, 4}) {
        quorvel::set_row_threads(threads);
        // No rows at all.
        auto [none] = assemble_pattern<1>(0, 5, 1);
        CHECK(none.n_rows == 0 && none.n_cols == 5);
        CHECK(none.indptr == std::vector<std::uint64_t>{0});
        CHECK(none.indices.empty() && none.data.empty());
        // Rows but no columns: every row is empty.
        auto [no_cols, no_cols_2] = assemble_pattern<2>(5000, 0, 1);
        CHECK(no_cols.n_rows == 5000 && no_cols.n_cols == 0);
        CHECK(no_cols.indptr == std::vector<std::uint64_t>(5001, 0));
        CHECK(same(no_cols, no_cols_2));
        // Only the last row stores anything.
        auto [last] = quorvel::assemble_rows<quorvel::NoScratch>(
            4000, 3, [](std::size_t i, quorvel::NoScratch&, RowSink<1>& sink) {
                if (i == 3999) sink.push(2, 5.0);
            });
        CHECK(last.indptr[3999] == 0 && last.indptr[4000] == 1);
        CHECK(last.indices == std::vector<std::uint64_t>{2} && last.data == std::vector{5.0});
    }
    quorvel::set_row_threads(0);
}

void test_dense_rows() {
    const std::size_t n = 10007;
    std::vector<double> expected(n);
    for (std::size_t i = 0; i < n; ++i)
        expected[i] = value(i, i, 0);
    for (std::size_t threads : {1, 3}) {
        quorvel::set_row_threads(threads);
        for (std::size_t min_block : {1, 64, 20000}) {
            std::vector<double> out(n, 0.0);
            std::vector<int> visits(n, 0);
            scratch_count = 0;
            quorvel::parallel_rows<CountedScratch>(
                n,
                [&](std::size_t i, CountedScratch&) {
                    out[i] = value(i, i, 0);
                    ++visits[i];
                },
                min_block);
            CHECK(out == expected);
            CHECK(std::all_of(visits.begin(), visits.end(), [](int v) { return v == 1; }));
            CHECK(scratch_count >= 1 && scratch_count <= static_cast<int>(threads));
        }
        // A body without scratch.
        std::vector<double> squares(n, 0.0);
        quorvel::parallel_rows(n, [&](std::size_t i) { squares[i] = static_cast<double>(i * i); });
        CHECK(squares[n - 1] == static_cast<double>((n - 1) * (n - 1)));
    }
    quorvel::set_row_threads(0);
}

void test_exceptions() {
    // The exception of the earliest throwing row reaches the caller, whatever the thread count and
    // whichever row throws first in time.
    for (std::size_t threads : {1, 4}) {
        quorvel::set_row_threads(threads);
        std::string caught;
        for (bool first_is_slow : {true, false}) {
            caught.clear();
            try {
                quorvel::parallel_rows(20000, [&](std::size_t i) {
                    if (i == 333) {
                        pause_if(first_is_slow);
                        throw std::runtime_error("333");
                    }
                    if (i == 15000 || i == 19999) {
                        pause_if(!first_is_slow);
                        throw std::runtime_error("later");
                    }
                });
            } catch (const std::runtime_error& e) {
                caught = e.what();
            }
            CHECK(caught == "333");
        }

        caught.clear();
        try {
            quorvel::assemble_rows<quorvel::NoScratch>(
                20000, 4, [](std::size_t i, quorvel::NoScratch&, RowSink<1>& sink) {
                    if (i == 4444) throw quorvel::InternalError("broken row");
                    sink.push(1, 1.0);
                });
        } catch (const quorvel::InternalError& e) {
            caught = e.what();
        }
        CHECK(caught == "broken row");
    }
    quorvel::set_row_threads(0);
}

void test_runs_in_parallel() {
    // The caller works alone until it has spent a millisecond on the loop: row 0 keeps it busy for
    // longer. The worker of row 1 then waits until another thread has run a row: with one thread
    // it would wait in vain until the deadline.
    quorvel::set_row_threads(2);
    std::atomic<bool> owner_known{false}, other_seen{false};
    std::thread::id owner;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    quorvel::parallel_rows(64, [&](std::size_t i) {
        if (i == 0) {
            const auto busy = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
            while (std::chrono::steady_clock::now() < busy) {
            }
            return;
        }
        if (i == 1) {
            owner = std::this_thread::get_id();
            owner_known.store(true);
            while (!other_seen.load() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            return;
        }
        while (!owner_known.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        if (owner_known.load() && std::this_thread::get_id() != owner) other_seen.store(true);
    });
    CHECK(other_seen.load());
    quorvel::set_row_threads(0);
}

void test_cancel() {
    // A flag set by one row stops the loop on every thread: Cancelled reaches the caller, no row
    // far beyond the one that set it runs, and the next loop on the same pool runs completely.
    for (std::size_t threads : {1, 2, 4}) {
        quorvel::set_row_threads(threads);
        quorvel::CancelFlag flag{false};
        std::atomic<std::size_t> rows_run{0};
        bool cancelled = false;
        try {
            const quorvel::CancelScope scope(&flag);
            quorvel::assemble_rows<quorvel::NoScratch>(
                100000, 3, [&](std::size_t i, quorvel::NoScratch&, RowSink<1>& sink) {
                    ++rows_run;
                    if (i == 5000) flag.store(true);
                    sink.push(i % 3, 1.0);
                });
        } catch (const quorvel::Cancelled&) {
            cancelled = true;
        }
        CHECK(cancelled);
        CHECK(rows_run.load() < 20000);
        CHECK(quorvel::current_cancel_flag() == nullptr);

        cancelled = false;
        try {
            const quorvel::CancelScope scope(&flag);
            quorvel::parallel_rows(10, [](std::size_t) {});
        } catch (const quorvel::Cancelled&) {
            cancelled = true;
        }
        CHECK(cancelled);

        auto [m] = assemble_pattern<1>(20011, 300, 1);
        CHECK(same(m, reference(20011, 300, 0)));
    }
    quorvel::set_row_threads(0);
}

} // namespace

int main() {
    test_partition();
    test_independent_of_threads();
    test_several_value_arrays();
    test_first_failing_row_wins();
    test_stalled_block_bounds_the_look_ahead();
    test_empty();
    test_dense_rows();
    test_exceptions();
    test_runs_in_parallel();
    test_cancel();
    return quorvel::test::failures;
}
