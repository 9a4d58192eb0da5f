// How a step of the run ended: loading a file, a stage, the comparison or
// writing a result. One vocabulary for every module; the run maps each
// failure to its message in one place (messages.h).
#pragma once

#include <new>

enum class Status : int {
  ok = 0,
  file_error = -1,     // a file could not be opened, read or written
  out_of_memory = -2,  // an allocation failed; nothing half-done is kept
  too_long = -3,       // a length or size does not fit its counter
  fftw_failed = -4,    // an FFTW planner returned no plan
};

// Runs `allocate` and turns a failed allocation into a status: the one
// place where std::bad_alloc is caught.
template <typename Allocate>
Status allocating(Allocate&& allocate) {
  try {
    allocate();
  } catch (const std::bad_alloc&) {
    return Status::out_of_memory;
  }
  return Status::ok;
}
