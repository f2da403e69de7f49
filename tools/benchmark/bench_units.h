// kestrel-bench --units N: the program serving N simulated units at once against one unit
// alone. It loads and verifies the same image on each, checks that every unit holds it
// afterwards, and prints the whole run's time against one unit's, each unit's download and
// read-back rate against the line's stop-and-wait bound, and the program's processor time.
#pragma once

#include <cstddef>
#include <filesystem>

inline constexpr unsigned fewest_units = 2;
inline constexpr unsigned most_units = 64;

struct units_bench_options {
    std::filesystem::path kestrel;
    std::size_t size = 0;   // bytes of the image
    unsigned units = 0;     // fewest_units to most_units
    bool keep = false;      // keep the temporary folder
};

// 0 when both runs succeeded and the figures were printed; 1 when a run failed (what failed is
// on stderr and the folder is kept); 2 when the benchmark could not be set up.
int bench_units(const units_bench_options& options);
