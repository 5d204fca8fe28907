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


def main():
    results, linux_timer = sys.argv[1], sys.argv[2]
    windows_timer = sys.argv[3] if len(sys.argv) > 3 else ""
    serverinfo_load = sys.argv[4] if len(sys.argv) > 4 else ""
    data = json.load(open(results))
    runs = {b["name"]: b for b in data["benchmarks"] if b.get("run_type", "iteration") == "iteration"}

    def ns(name):
        b = runs[name]
        factor = {"ns": 1, "us": 1e3, "ms": 1e6}[b["time_unit"]]
        return b["cpu_time"] * factor

    def mbps(name):
        return runs[name]["bytes_per_second"] / 1e6

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
      "ctest only runs each program briefly to keep it working.\n")
    w("## The machine\n")
    w("- CPU: %s, %d cores as the benchmark saw them, %s MHz" % (model, cpu["num_cpus"], cpu["mhz_per_cpu"]))
    w("- %s, %s" % (platform.platform(), subprocess.run(["g++", "--version"], capture_output=True,
                                                          text=True).stdout.splitlines()[0]))
    w("- Wine: %s\n" % subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip())

    w("## The commands\n")
    w("```sh\nbench/run.sh    # builds the bench preset (and page_timer in the mingw build), runs both, writes this file\n"
      "bench/serverinfo_load.sh 10 16   # the server information under load (run.sh runs it too)\n"
      "# or by hand:\ncmake --preset bench && cmake --build --preset bench\nbuild/bench/bin/page_bench\n"
      "build/bench/bin/page_timer 4000\nWINEDEBUG=-all LC_ALL=ja_JP.UTF-8 wine build/mingw/bin/page_timer.exe 4000\n```\n")
    w("## Reading a page: the plug-in against a general XML parser\n")
    w("A realistic page of the local search: 10 hits with every element the service sends "
      "(Id, Gid, Name, Geometry with BoundingBox, Category, Description, Style, Property with Uid, "
      "CassetteId, Yomi, Country, Address, Genre and a Station with its own Name and Geometry). "
      "Each reader takes the fields the plug-in reads, applies the 1024-byte rule, reads the numbers "
      "and appends the hits to the same store. pugixml 1.13 with `parse_minimal`, in place (the copy "
      "into its buffer is counted). The floor: one `memchr` pass for \"<\" over the same bytes.\n")
    w("| answer | bytes | plug-in | pugixml | memchr floor | pugixml / plug-in (goal >= 1.5) | plug-in / floor (goal <= 4) |")
    w("|---|---|---|---|---|---|---|")
    for enc in ("sjis", "utf8"):
        p, x, f = ns("PluginExtraction/" + enc), ns("PugixmlExtraction/" + enc), ns("MemchrFloor/" + enc)
        size = runs["PluginExtraction/" + enc]["bytes_per_second"] * p / 1e9
        w("| %s | %.0f | %.1f us (%.0f MB/s) | %.1f us (%.0f MB/s) | %.1f us (%.0f MB/s) | %.2f | %.2f |" % (
            "Shift-JIS" if enc == "sjis" else "UTF-8 bytes, unconverted", size, p / 1e3,
            mbps("PluginExtraction/" + enc), x / 1e3, mbps("PugixmlExtraction/" + enc), f / 1e3,
            mbps("MemchrFloor/" + enc), x / p, p / f))
    w("")

    w("## The whole page, stage by stage\n")
    w("The same page in UTF-8, from the host's hand-over of the answer buffer to the last hit in the "
      "store: conversion to the ANSI code page, then extraction.\n")
    w("| stage | Linux (iconv tables) | share | Windows under Wine (Win32) | share |")
    w("|---|---|---|---|---|")
    for key, label in (("hand_over_us", "hand-over (the host's buffer)"), ("conversion_us", "UTF-8 to Shift-JIS"),
                       ("extraction_us", "extraction and store")):
        lw = linux.get(key, 0)
        ww = windows.get(key)
        w("| %s | %.1f us | %.0f%% | %s | %s |" % (
            label, lw, 100 * lw / linux["whole_page_us"],
            "%.1f us" % ww if ww is not None else "n/a",
            "%.0f%%" % (100 * ww / windows["whole_page_us"]) if ww is not None else "n/a"))
    w("| whole page | %.1f us | | %s | |\n" % (
        linux["whole_page_us"], "%.1f us" % windows["whole_page_us"] if windows else "n/a"))

    w("## Scaling with the answer's size\n")
    w("Compact pages (about 160 bytes a hit) from 6 to 100,000 hits, and adversarial answers. "
      "Time per byte against the 10-hit page (goal: within 2 times at every size).\n")
    w("| answer | bytes | extraction ns/byte | x 10-hit | whole page ns/byte | x 10-hit |")
    w("|---|---|---|---|---|---|")
    base_e = ns("ScalingExtraction/10") / runs["ScalingExtraction/10"]["bytes"]
    base_w = ns("ScalingWholePage/10") / runs["ScalingWholePage/10"]["bytes"]
    for hits in (6, 10, 100, 1000, 10000, 100000):
        e = runs["ScalingExtraction/%d" % hits]
        wp = runs["ScalingWholePage/%d" % hits]
        pe = ns("ScalingExtraction/%d" % hits) / e["bytes"]
        pw = ns("ScalingWholePage/%d" % hits) / wp["bytes"]
        w("| %d hits | %.0f | %.2f | %.2f | %.2f | %.2f |" % (hits, wp["bytes"], pe, pe / base_e, pw, pw / base_w))
    for kind, label in (("deep_nesting", "the sought element nested in itself"), ("angle_brackets", "\"<\" only"),
                        ("skipped_elements", "elements of another name before the rest")):
        for size in (1 << 20, 16 << 20):
            name = "Adversarial/%s/%d" % (kind, size)
            per = 1e3 / runs[name]["bytes_per_second"] * 1e6
            w("| %s, %d MB | %d | | | %.2f | %.2f |" % (label, size >> 20, size, per, per / base_w))
    w("")

    w("## A page over loopback\n")
    raw, page = ns("LoopbackRawGet/real_time"), ns("LoopbackPluginPage/real_time")
    w("One page of ten hits from the stand-in services on 127.0.0.1, through the plug-in (host handler, "
      "page search, store), against a raw GET of the same URL with the same client (cpp-httplib), "
      "wall-clock time: %.0f us against %.0f us, ratio **%.2f** (goal under 1.2).\n" % (page / 1e3, raw / 1e3, page / raw))

    out.extend(serverinfo_section(serverinfo_load))

    w("## Memory\n")
    w("A page over an answer of 100,000 hits, from the host's hand-over of the answer. The conversion's "
      "peak counts the answer and everything the conversion allocates (goal: the answer plus at most "
      "one converted copy, 2 times the answer); the whole page adds the store of the hits, its result.\n")
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
