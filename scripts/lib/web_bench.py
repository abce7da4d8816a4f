"""The relaxed module in Chromium against the native avx2 kernels, at the
same thread counts, one after the other: ms a frame of the page's checksum
run (?frames=N&checksum&kernels=relaxed&threads=T) and of the native
headless runner's (SHALLOW_WATER_CPU_ISA=avx2 SHALLOW_WATER_CPU_THREADS=T),
each the median of --runs runs, alternating.
Usage: web_bench.py HEADLESS [--frames N] [--runs R] [--threads 1,2]"""
import argparse
import os
import re
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "web"))
from page_driver import Browser, poll, serve, stop  # noqa: E402

MS_PER_FRAME = re.compile(r"^(\d+) frames in [\d.]+ s, ([\d.]+) ms per frame$", re.M)


def page_ms(browser, address, frames, threads):
    browser.open(address, f"?frames={frames}&checksum&kernels=relaxed&threads={threads}")
    text = poll(lambda: browser.text("checksum") or browser.text("error"), "the page's run", 600)
    match = MS_PER_FRAME.search(text)
    if match is None:
        raise RuntimeError(f"the page printed {text!r}")
    return float(match.group(2))


def native_ms(headless, frames, threads):
    env = dict(os.environ, SHALLOW_WATER_CPU_ISA="avx2", SHALLOW_WATER_CPU_THREADS=str(threads))
    done = subprocess.run([headless, "--frames", str(frames)], env=env, capture_output=True, text=True, check=True)
    return float(MS_PER_FRAME.search(done.stdout).group(2))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("headless")
    parser.add_argument("--frames", type=int, default=100)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--threads", default="1,2")
    options = parser.parse_args()
    server, address = serve()
    browser = Browser()
    try:
        figures = {}
        for threads in [int(t) for t in options.threads.split(",")]:
            page, native = [], []
            for _ in range(options.runs):
                page.append(page_ms(browser, address, options.frames, threads))
                native.append(native_ms(options.headless, options.frames, threads))
            figures[threads] = (statistics.median(page), statistics.median(native))
            print(f"{threads} thread{'s' if threads > 1 else ''}: page relaxed {figures[threads][0]:.1f} ms a frame, "
                  f"native avx2 {figures[threads][1]:.1f} ms a frame, ratio {figures[threads][0] / figures[threads][1]:.2f}"
                  f" (runs: page {page}, native {native})", flush=True)
        if 1 in figures and 2 in figures:
            print(f"2 threads against 1: page {figures[1][0] / figures[2][0]:.2f} times as fast, "
                  f"native {figures[1][1] / figures[2][1]:.2f}")
    finally:
        browser.close()
        stop(server)


if __name__ == "__main__":
    main()
