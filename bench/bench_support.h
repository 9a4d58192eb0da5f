// What the benchmarks share: their data and the ceilings and floors the
// stages are measured against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "signal/signal.h"

// The multiply-add rates that the direct stage is set against, with the
// fastest vector width this processor has, one vector multiply and add per
// lane counted as one: the peak, of separate multiplies and adds; and the
// bound, each product of a loaded vector feeding its add, as in the stage.
// A virtual machine's speed drifts, so each call takes fresh samples (about
// half a second): call it next to the measurement it is set beside.
double peak_multiply_add_rate();
double bound_multiply_add_rate();

// The overlap-add stage's floor: its engine's transforms and bin product
// alone, per block, on plans made before timing, warm. Best of `repeats`
// passes over all blocks, in seconds.
double fftw_floor_seconds(const Signal& x, const Signal& h, int repeats);

// The stage's block loop run once on an engine just prepared (buffers
// touched, block plans never executed before), in seconds: in a fresh
// process, what one run of the program can do at best.
double cold_loop_seconds(const Signal& x, const Signal& h);

// The direct stage's other floor: one read of x and one write of y's
// N + M - 1 values (the stage's own vector copy), y zero-filled before each
// pass as the stage finds it. Best of `repeats` passes, in seconds.
double stream_floor_seconds(const Signal& x, std::size_t taps, int repeats);

// A folder of the benchmark's own, made with mkdtemp below the system's
// temporary folder. file() and folder() name an entry in it and remember
// it; at the end only the entries named, and then the folder, are removed.
// No call throws: a folder that cannot be made ends the program with a
// message, and one that cannot be removed is named.
struct ScratchFolder {
  std::string path;
  std::vector<std::string> named;

  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string file(const std::string& name);    // the path of a file to be made in it
  std::string folder(const std::string& name);  // made now
};
