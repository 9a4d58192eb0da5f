#include "app/run.h"

// Command-line arguments are not read: the run takes everything from its
// working directory.
int main() { return run_test_bench(); }
