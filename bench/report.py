#!/usr/bin/env python3
"""Turns one run of page_bench (JSON) and page_timer into BENCHMARKS.md."""
import json
import re
import platform
import subprocess
import sys


def load_timer(path):
    values = {}
    if path:
        for line in open(path):
            key, value = line.split()
            values[key] = float(value)
    return values


def serverinfo_section(path):
    """The section on the server information under load, from wrk's report
    (bench/serverinfo_load.sh); empty without one."""
    if not path:
        return []
    report = open(path, encoding="utf-8").read()
    rate = float(re.search(r"Requests/sec:\s+([0-9.]+)", report).group(1))
    p99 = re.search(r"^\s+99%\s+(\S+)", report, re.M).group(1)
    setup = re.search(r"(\d+) threads and (\d+) connections", report)
    duration = re.search(r"Running (\S+) test", report).group(1)
    failed = re.search(r"Non-2xx or 3xx responses: (\d+)", report)
    per_hour = rate * 3600
    shared = re.search(r"load average: ([0-9.]+)", report)
    load = (" The machine was not idle: its load average was %s when the run began." % shared.group(1)
            if shared and float(shared.group(1)) >= 0.5 else "")
    return [
        "## The server information under load\n",
        "`bench/serverinfo_load.sh`: wrk (%s threads, %s connections, %s) sends the plug-in's "
        "server-information POST to `norrow serve-info` (nginx and PHP-FPM as deployed, with the "
        "example configuration) on 127.0.0.1, on the same 2 cores as wrk itself: **%.0f requests a "
        "second**, 99th-percentile latency **%s**%s.\n" % (
            setup.group(1), setup.group(2), duration, rate, p99,
            ", %s answers not 2xx" % failed.group(1) if failed else ", every answer 200"),
        "In users: a plug-in asks at the first search after each start of the host and then at most "
        "once every 12 hours, so a user costs one to a few requests a day. At this rate the server "
        "answers %.1f million requests an hour: even if all users made their first search within the "
        "same hour, it would keep up with %.1f million of them.%s\n" % (
            per_hour / 1e6, per_hour / 1e6, load),
    ]


def load_instructions(path):
    """Instructions a page for each reader and encoding, from page_instructions
    under callgrind (100 pages counted)."""
    counts = {}
    if path:
        for line in open(path):
            reader, encoding, total = line.split()
            counts[(reader, encoding)] = int(total) / 100
    return counts


def main():
    results, linux_timer = sys.argv[1], sys.argv[2]
    windows_timer = sys.argv[3] if len(sys.argv) > 3 else ""
    serverinfo_load = sys.argv[4] if len(sys.argv) > 4 else ""
    instructions = load_instructions(sys.argv[5] if len(sys.argv) > 5 else "")
    load_end = open(sys.argv[6]).read().split() if len(sys.argv) > 6 and sys.argv[6] else []
    data = json.load(open(results))
    # Each benchmark's median over its repetitions where it has them.
    runs = {}
    for b in data["benchmarks"]:
        if b.get("run_type", "iteration") == "iteration":
            runs.setdefault(b.get("run_name", b["name"]), b)
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            runs[b["run_name"]] = b
    repetitions = max([b.get("repetitions", 1) for b in data["benchmarks"]] + [1])
    # The fastest repetition of each benchmark: the run least disturbed by
    # other work on the machine.
    fastest = {}
    for b in data["benchmarks"]:
        if b.get("run_type", "iteration") == "iteration":
            name = b.get("run_name", b["name"])
            if name not in fastest or b["cpu_time"] < fastest[name]["cpu_time"]:
                fastest[name] = b

    def fast_ns(name):
        b = fastest[name]
        return b["cpu_time"] * {"ns": 1, "us": 1e3, "ms": 1e6}[b["time_unit"]]

    def ns(name):
        b = runs[name]
        factor = {"ns": 1, "us": 1e3, "ms": 1e6}[b["time_unit"]]
        return b["cpu_time"] * factor

    def real_ns(name):
        b = runs[name]
        factor = {"ns": 1, "us": 1e3, "ms": 1e6}[b["time_unit"]]
        return b["real_time"] * factor

    linux = load_timer(linux_timer)
    windows = load_timer(windows_timer)
    cpu = data["context"]
    model = subprocess.run(["sh", "-c", "lscpu | sed -n 's/^Model name: *//p'"], capture_output=True,
                           text=True).stdout.strip() or "unknown"
    out = []
    w = out.append
    w("# Benchmarks\n")
    w("Measured in one run of `bench/run.sh` (the `bench` preset: Release, Linux x86-64; the Windows "
      "figures from the `mingw` build's `page_timer.exe` under Wine). Benchmarks are not tests: "
      "ctest only runs each program briefly to keep it working. Times are medians of %d repetitions "
      "of `page_bench`, interleaved at random among the benchmarks so that a change in the "
      "machine's speed during the run touches every figure alike; `page_timer` gives the fastest "
      "of 25 short runs. \"Before\" is the plain "
      "reading (the locator, element by element, as the plug-in read before the page walk), measured "
      "in the same run.\n" % repetitions)
    w("## The machine\n")
    w("- CPU: %s, %d cores as the benchmark saw them, %s MHz" % (model, cpu["num_cpus"], cpu["mhz_per_cpu"]))
    w("- %s, %s" % (platform.platform(), subprocess.run(["g++", "--version"], capture_output=True,
                                                          text=True).stdout.splitlines()[0]))
    w("- Wine: %s" % subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip())
    if "load_avg" in cpu:
        w("- Load average (1, 5, 15 minutes) when `page_bench` began: %s; when the run ended: %s. "
          "On this 2-core machine a load above 1 means other work shared the cores: the ratios, "
          "taken within one run, and the instruction counts hold up better than the times." % (
              ", ".join("%.2f" % x for x in cpu["load_avg"]),
              ", ".join(load_end) if load_end else "n/a"))
    w("")

    w("## The commands\n")
    w("```sh\nbench/run.sh    # builds the bench preset (and page_timer in the mingw build), runs them all, writes this file\n"
      "bench/serverinfo_load.sh 10 16   # the server information under load (run.sh runs it too)\n"
      "# or by hand:\ncmake --preset bench && cmake --build --preset bench\n"
      "build/bench/bin/page_bench --benchmark_repetitions=15 --benchmark_enable_random_interleaving=true\n"
      "build/bench/bin/page_timer 4000\n"
      "valgrind --tool=callgrind --instr-atstart=no build/bench/bin/page_instructions plugin sjis\n"
      "cmake/wine-run build/mingw/bin/page_timer.exe 4000\n```\n")
    w("## Reading a page: the plug-in against a general XML parser\n")
    w("A realistic page of the local search: 10 hits with every element the service sends "
      "(Id, Gid, Name, Geometry with BoundingBox, Category, Description, Style, Property with Uid, "
      "CassetteId, Yomi, Country, Address, Genre and a Station with its own Name and Geometry). "
      "Each reader takes the fields the plug-in reads, applies the 1024-byte rule, reads the numbers "
      "and appends the hits to the same store. The plug-in walks the page once (`src/search/page_walk.cpp`); "
      "before, it read the page plainly. pugixml 1.13 with `parse_minimal`, in place (the copy "
      "into its buffer is counted). The floor: one `memchr` pass for \"<\" over the same bytes.\n")
    w("| answer | bytes | plug-in | before (plain reading) | pugixml | memchr floor | pugixml / plug-in (goal >= 1.1, aim 1.5) | plug-in / floor (goal <= 4) | pugixml / plug-in before |")
    w("|---|---|---|---|---|---|---|---|---|")
    for enc in ("sjis", "utf8"):
        p, b = ns("PluginExtraction/" + enc), ns("PlainExtraction/" + enc)
        x, f = ns("PugixmlExtraction/" + enc), ns("MemchrFloor/" + enc)
        size = runs["PluginExtraction/" + enc]["bytes"]
        w("| %s | %.0f | %.1f us (%.0f MB/s) | %.1f us | %.1f us (%.0f MB/s) | %.1f us (%.0f MB/s) | **%.2f** | **%.2f** | %.2f |" % (
            "Shift-JIS" if enc == "sjis" else "UTF-8 bytes, unconverted", size, p / 1e3,
            size / p * 1e3, b / 1e3, x / 1e3, size / x * 1e3, f / 1e3, size / f * 1e3, x / p, p / f, x / b))
    w("")
    w("From the fastest of the %d repetitions of each instead of the median: pugixml / plug-in %s, "
      "plug-in / floor %s (Shift-JIS, UTF-8).\n" % (repetitions, ", ".join(
          "%.2f" % (fast_ns("PugixmlExtraction/" + e) / fast_ns("PluginExtraction/" + e)) for e in ("sjis", "utf8")),
          ", ".join("%.2f" % (fast_ns("PluginExtraction/" + e) / fast_ns("MemchrFloor/" + e)) for e in ("sjis", "utf8"))))
    if instructions:
        w("The same readers in instructions a page (`page_instructions` under callgrind, 100 pages "
          "counted), which the load of the machine does not change:\n")
        w("| answer | plug-in | before | pugixml | memchr floor | pugixml / plug-in | plug-in / floor |")
        w("|---|---|---|---|---|---|---|")
        for enc in ("sjis", "utf8"):
            i = {r: instructions[(r, enc)] for r in ("plugin", "plain", "pugixml", "floor")}
            w("| %s | %.0f | %.0f | %.0f | %.0f | %.2f | %.2f |" % (
                "Shift-JIS" if enc == "sjis" else "UTF-8 bytes", i["plugin"], i["plain"], i["pugixml"],
                i["floor"], i["pugixml"] / i["plugin"], i["plugin"] / i["floor"]))
        w("")

    w("## The whole page, stage by stage\n")
    w("The same page in UTF-8, from the host's hand-over of the answer buffer to the last hit in the "
      "store. Bringing the answer into the ANSI code page converts it and then tests it for a YDF "
      "element; now that test is the page walk, whose findings the reading then appends, where before "
      "the locator tested and the reading searched the page again element by element. The fastest "
      "of 25 short runs of each figure, spread over five passes.\n")
    w("| stage | Linux before | Linux now | Windows under Wine, before | Windows under Wine, now |")
    w("|---|---|---|---|---|")

    def cell(timer, key):
        return "%.1f us" % timer[key] if key in timer else "n/a"

    def rows(timer, suffix):
        if not timer:
            return {}
        return {
            "hand": timer.get("hand_over_us"),
            "conversion": timer.get("conversion_us"),
            "test": timer["ydf_test%s_us" % suffix],
            "reading": timer["reading%s_us" % suffix],
            "whole": timer["whole_page%s_us" % suffix],
        }

    columns = [rows(linux, "_plain"), rows(linux, ""), rows(windows, "_plain"), rows(windows, "")]
    for key, label in (("hand", "hand-over (the host's buffer)"), ("conversion", "UTF-8 to Shift-JIS"),
                       ("test", "the test for YDF (before: the locator's scan; now: the walk)"),
                       ("reading", "reading: the hits into the store (now: from the walk)"),
                       ("whole", "**whole page**")):
        w("| %s | %s |" % (label, " | ".join(
            "%.1f us" % c[key] if c and c.get(key) is not None else "n/a" for c in columns)))
    w("")
    w("Each stage is timed apart, the whole page as a whole; the stages need not add up to it "
      "exactly, since the heap behaves differently when a stage runs alone.\n")

    w("## Scaling with the answer's size\n")
    w("Compact pages (about 160 bytes a hit) from 6 to 100,000 hits, and adversarial answers. "
      "Time per byte against the 10-hit page (goal: within 2 times at every size), from the medians "
      "and from the fastest repetitions; \"before\" is the plain reading. A page of more than 32 hits "
      "is walked twice: the walk holds 32 hits until it is sure of the page, and appends the rest in "
      "a second walk.\n")
    w("| answer | bytes | reading ns/byte | x 10-hit | x 10-hit, fastest | before ns/byte | whole page ns/byte | x 10-hit | x 10-hit, fastest |")
    w("|---|---|---|---|---|---|---|---|---|")

    def per_byte(name, timing=ns):
        return timing(name) / runs[name]["bytes"]

    base_e, base_w = per_byte("ScalingExtraction/10"), per_byte("ScalingWholePage/10")
    fast_e, fast_w = per_byte("ScalingExtraction/10", fast_ns), per_byte("ScalingWholePage/10", fast_ns)
    for hits in (6, 10, 100, 1000, 10000, 100000):
        e, wp = "ScalingExtraction/%d" % hits, "ScalingWholePage/%d" % hits
        w("| %d hits | %.0f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |" % (
            hits, runs[wp]["bytes"], per_byte(e), per_byte(e) / base_e, per_byte(e, fast_ns) / fast_e,
            per_byte("ScalingPlainExtraction/%d" % hits), per_byte(wp), per_byte(wp) / base_w,
            per_byte(wp, fast_ns) / fast_w))
    for kind, label in (("deep_nesting", "the sought element nested in itself"), ("angle_brackets", "\"<\" only"),
                        ("skipped_elements", "elements of another name before the rest")):
        for size in (1 << 20, 16 << 20):
            name = "Adversarial/%s/%d" % (kind, size)
            per = 1e3 / runs[name]["bytes_per_second"] * 1e6
            w("| %s, %d MB | %d | | | | | %.2f | %.2f | |" % (label, size >> 20, size, per, per / base_w))
    w("")

    w("## A page over loopback\n")
    raw = real_ns("LoopbackRawGet/real_time")
    page = real_ns("LoopbackPluginPage/real_time")
    plain = real_ns("LoopbackPlainPage/real_time")
    w("One page of ten hits from the stand-in services on 127.0.0.1, through the plug-in (host handler, "
      "page search, store), against a raw GET of the same URL with the same client (cpp-httplib), "
      "wall-clock time: %.0f us against %.0f us, ratio **%.2f** (goal under 1.2); before, with the "
      "plain reading, %.0f us, ratio %.2f.\n" % (page / 1e3, raw / 1e3, page / raw, plain / 1e3, plain / raw))

    out.extend(serverinfo_section(serverinfo_load))

    w("## Memory\n")
    w("A page over an answer of 100,000 hits, from the host's hand-over of the answer. The conversion's "
      "peak counts the answer and everything the conversion allocates (goal: the answer plus at most "
      "one converted copy, 2 times the answer); the whole page adds the store of the hits, its result. "
      "The page walk allocates nothing: what it holds lies on the stack.\n")
    w("| answer | size | conversion peak | whole page peak | store per hit |")
    w("|---|---|---|---|---|")
    for arg, label in (("0", "Shift-JIS"), ("1", "UTF-8")):
        b = runs["PeakHeap/%s/iterations:1" % arg]
        w("| %s | %.1f MB | **%.2f x** the answer | %.2f x | %.0f bytes |" % (
            label, b["answer_bytes"] / 1e6, b["conversion_peak_multiple"], b["page_peak_multiple"],
            b["store_bytes_per_hit"]))
    w("")
    w(open(__file__.replace("report.py", "changes.md"), encoding="utf-8").read())
    print("\n".join(out))


if __name__ == "__main__":
    main()
