#!/usr/bin/python3
"""Times fir_bench's steps against numpy and scipy on the same data, in the
same run, and prints a table of times and ratios.

    bench/compare_numpy.py [path/to/run_steps]
    bench/compare_numpy.py --oaconvolve DIR

The second form prints only the best seconds of scipy.signal.oaconvolve on
DIR's input.txt and fir.txt (for build/release/bench/printed_times).

Needs python3-numpy and python3-scipy (Debian's packages, for /usr/bin/python3);
run as root it installs them with apt-get when they are missing.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SAMPLES = 1_000_000
TAP_COUNTS = (64, 1024)
REPEATS = 3


def ensure_numpy_and_scipy():
    try:
        import numpy  # noqa: F401
        import scipy.signal  # noqa: F401
        return
    except ImportError:
        pass
    packages = ["python3-numpy", "python3-scipy"]
    if os.geteuid() != 0:
        sys.exit("compare_numpy: numpy and scipy are missing; install them with:\n"
                 "  sudo apt-get install -y " + " ".join(packages))
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", *packages],
                   check=True, env=env, stdout=subprocess.DEVNULL)


def best_seconds(action, repeats=REPEATS):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def write_full_precision(path, values):
    import numpy as np
    np.savetxt(path, values, fmt="%.17g", newline="\r\n")


def our_times(run_steps, directory):
    out = subprocess.run([run_steps, "--repeat", str(REPEATS), directory], check=True,
                         capture_output=True, text=True).stdout
    return {name: float(seconds) for name, seconds in (line.split() for line in out.splitlines())}


def numpy_times(directory):
    import numpy as np
    import scipy.signal

    def path(name):
        return os.path.join(directory, name)

    x = np.loadtxt(path("input.txt"))
    h = np.loadtxt(path("fir.txt"))
    direct = np.convolve(x, h)
    t = {
        "read_input": best_seconds(lambda: np.loadtxt(path("input.txt"))),
        "read_fir": best_seconds(lambda: np.loadtxt(path("fir.txt"))),
        "direct": best_seconds(lambda: np.convolve(x, h)),
        "oaconvolve": best_seconds(lambda: scipy.signal.oaconvolve(x, h)),
        "fftconvolve": best_seconds(lambda: scipy.signal.fftconvolve(x, h)),
        # The same text as ours ("%g" with six digits), one buffered file.
        "write_linear": best_seconds(lambda: np.savetxt(path("np_linear.txt"), direct, fmt="%g",
                                                        newline="\r\n"), 1),
    }

    def load_and_convolve():
        xs = np.loadtxt(path("input.txt"))
        hs = np.loadtxt(path("fir.txt"))
        linear = np.convolve(xs, hs)
        fft = scipy.signal.oaconvolve(xs, hs)
        return linear, fft, linear - fft

    def pipeline():
        results = zip(("np_linear.txt", "np_fft.txt", "np_diff.txt"), load_and_convolve())
        for name, values in results:
            np.savetxt(path(name), values, fmt="%g", newline="\r\n")

    t["load_and_convolve"] = best_seconds(load_and_convolve)
    t["pipeline"] = best_seconds(pipeline, 1)
    return t


def print_table(m, ours, theirs):
    our_all_but_write = sum(ours[k] for k in ("read_input", "read_fir", "direct", "overlap_add", "compare"))
    our_write = sum(ours[k] for k in ("write_linear", "write_fft", "write_diff"))
    rows = [
        ("read input.txt (loadtxt)", ours["read_input"], theirs["read_input"]),
        ("direct stage (numpy.convolve)", ours["direct"], theirs["direct"]),
        ("overlap-add stage (scipy oaconvolve)", ours["overlap_add"], theirs["oaconvolve"]),
        ("overlap-add stage (scipy fftconvolve)", ours["overlap_add"], theirs["fftconvolve"]),
        ("write output_linear.txt (savetxt)", ours["write_linear"], theirs["write_linear"]),
        ("all but the result files (load+convolve)", our_all_but_write, theirs["load_and_convolve"]),
        ("whole run (load, convolve, save three)", our_all_but_write + our_write, theirs["pipeline"]),
    ]
    print(f"\nN = {SAMPLES}, M = {m}")
    print(f"| step (numpy/scipy counterpart) | fir_bench ms | numpy ms | numpy / fir_bench |")
    print("|---|---:|---:|---:|")
    for name, a, b in rows:
        print(f"| {name} | {a * 1e3:.2f} | {b * 1e3:.2f} | {b / a:.2f} |")


def oaconvolve_seconds(directory):
    import numpy as np
    import scipy.signal
    x = np.loadtxt(os.path.join(directory, "input.txt"), ndmin=1)
    h = np.loadtxt(os.path.join(directory, "fir.txt"), ndmin=1)
    return best_seconds(lambda: scipy.signal.oaconvolve(x, h))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--oaconvolve":
        ensure_numpy_and_scipy()
        print(f"{oaconvolve_seconds(sys.argv[2]):.9f}")
        return
    run_steps = sys.argv[1] if len(sys.argv) > 1 else "build/release/bench/run_steps"
    run_steps = os.path.abspath(run_steps)
    if not os.access(run_steps, os.X_OK):
        sys.exit(f"compare_numpy: {run_steps} not found; build it with: cmake --build --preset release")
    ensure_numpy_and_scipy()
    import numpy as np
    import scipy
    print(f"numpy {np.__version__}, scipy {scipy.__version__}; best of {REPEATS} runs each")
    generator = np.random.default_rng(20261207)
    x = generator.uniform(-1.0, 1.0, SAMPLES)
    directory = tempfile.mkdtemp(prefix="fir_bench_numpy_")
    try:
        write_full_precision(os.path.join(directory, "input.txt"), x)
        for m in TAP_COUNTS:
            write_full_precision(os.path.join(directory, "fir.txt"), generator.uniform(-1.0, 1.0, m) / m)
            print_table(m, our_times(run_steps, directory), numpy_times(directory))
    finally:
        shutil.rmtree(directory)


if __name__ == "__main__":
    main()
