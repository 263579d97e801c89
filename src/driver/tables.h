// Per-line, per-column and per-nozzle tables of the driver object.
//
// The host's threads, the parameter window and its worker threads all touch these tables, so
// every entry is an atomic read or write (relaxed: each entry stands alone).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace dorv {

inline constexpr int kLines = 40;      // lines 0..39
inline constexpr int kMaxColumn = 33;  // columns 0..33 pass the column check
inline constexpr int kColumns = kMaxColumn + 1;
inline constexpr int kMaxNozzle = 4;  // nozzles 0..4 (0 is addressed as nozzle 1)
inline constexpr int kNozzles = kMaxNozzle + 1;

template <typename T, std::size_t N>
class AtomicTable {
public:
    T Get(std::size_t i) const { return cells_.at(i).load(std::memory_order_relaxed); }
    void Set(std::size_t i, T v) { cells_.at(i).store(v, std::memory_order_relaxed); }
    static constexpr std::size_t size() { return N; }

private:
    std::array<std::atomic<T>, N> cells_{};
};

// Entry of a line and column, and of a line, column and nozzle. Callers check the ranges first.
constexpr std::size_t ColumnIndex(int line, int column) {
    return static_cast<std::size_t>(line) * kColumns + static_cast<std::size_t>(column);
}
constexpr std::size_t NozzleIndex(int line, int column, int nozzle) {
    return ColumnIndex(line, column) * kNozzles + static_cast<std::size_t>(nozzle);
}

template <typename T>
using LineTable = AtomicTable<T, kLines>;
template <typename T>
using ColumnTable = AtomicTable<T, kLines * kColumns>;
template <typename T>
using NozzleTable = AtomicTable<T, kLines * kColumns * kNozzles>;

}  // namespace dorv
