#!/usr/bin/env python3
"""Turns one run of page_bench (JSON), page_timer, serverinfo_load.sh and
relay_load.py into BENCHMARKS.md.   report.py --serverinfo FILE   prints only
the sections of serverinfo_load.sh's output FILE; report.py --relay FILE
only the section of relay_load.py's output FILE."""
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


def wrk_figures(report):
    """Requests a second, requests, answers not 2xx, p50 and p99 of one wrk report."""
    failed = re.search(r"Non-2xx or 3xx responses: (\d+)", report)
    return {"rate": float(re.search(r"Requests/sec:\s+([0-9.]+)", report).group(1)),
            "requests": int(re.search(r"(\d+) requests in", report).group(1)),
            "not_2xx": int(failed.group(1)) if failed else 0,
            "p50": re.search(r"^\s+50%\s+(\S+)", report, re.M).group(1),
            "p99": re.search(r"^\s+99%\s+(\S+)", report, re.M).group(1),
            "load": re.search(r"load average: ([0-9.]+)", report).group(1)}


def wrk_runs(path):
    """The sections of a load script's output FILE, each after a line "== WAY":
    [(way, text)], and wrk's threads, connections and duration in the first."""
    ways = re.split(r"^== (\S+)\n", open(path, encoding="utf-8").read(), flags=re.M)[1:]
    runs = list(zip(ways[::2], ways[1::2]))
    setup = re.search(r"(\d+) threads and (\d+) connections", runs[0][1])
    return runs, (setup.group(1), setup.group(2), re.search(r"Running (\S+) test", runs[0][1]).group(1))


def wrk_table(runs, label):
    """A table of wrk reports, one row a run, and their figures by way."""
    rows = ["| run | requests a second | requests | answers not 200 | p50 | p99 | load average at its start |",
            "|---|---|---|---|---|---|---|"]
    figures = {}
    for way, text in runs:
        f = wrk_figures(text)
        figures.setdefault(way, []).append(f)
        rows.append("| %s | %.0f | %d | %d | %s | %s | %s |" % (
            label.get(way, way), f["rate"], f["requests"], f["not_2xx"], f["p50"], f["p99"], f["load"]))
    return rows, figures


def serverinfo_section(path):
    """The sections on the server information under load and against a
    hostile client (bench/serverinfo_load.sh); empty without its output."""
    if not path:
        return []
    runs, setup = wrk_runs(path)
    hostile = json.loads(dict(runs)["hostile"])
    runs = [(way, text) for way, text in runs if way != "hostile"]
    label = {"limits-off": "limits off, every request from an address of its own",
             "limits-on": "limits on, every request from an address of its own",
             "limits-off-one-client": "limits off, every request from 127.0.0.1",
             "limits-one-client": "limits on, every request from 127.0.0.1"}
    out = [
        "## The server information under load\n",
        "`bench/serverinfo_load.sh`: wrk (%s threads, %s connections, %s a run) sends the plug-in's "
        "server-information POST to `norrow serve-info` (nginx and PHP-FPM as deployed, with the "
        "example configuration) on 127.0.0.1, on the same 2 cores as wrk itself. The runs come by turns "
        "in one go. A plug-in asks once, so plug-ins are stood in for by a client address of its own "
        "for every request (given in X-Forwarded-For, which `serve-info --forwarded-for` trusts); the "
        "last two runs send everything from one address, without the limits (as the figure before "
        "them was taken) and with them, as a flood would come.\n" % setup,
    ]
    rows, figures = wrk_table(runs, label)
    out += rows
    off = sum(f["rate"] for f in figures["limits-off"]) / len(figures["limits-off"])
    on = sum(f["rate"] for f in figures["limits-on"]) / len(figures["limits-on"])
    cut = sum(f["not_2xx"] for f in figures["limits-on"])
    spread = max(100 * (max(f["rate"] for f in same) / min(f["rate"] for f in same) - 1)
                 for same in (figures["limits-off"], figures["limits-on"]))
    per_hour = on * 3600
    out += [
        "",
        "With the limits on, plug-ins that each ask once got %s, and the server answered %.0f "
        "requests a second on average against %.0f without the limits (%.2f times). The machine was "
        "shared with other work (see the load averages): runs of the same kind differ among "
        "themselves by up to %.0f%%, so the limits' cost is within that noise. One address that asks "
        "without pause gets 429 for all but its burst and its rate, each refused in well under a "
        "millisecond." % ("every answer 200" if cut == 0 else "%d answers that were not 200" % cut,
                          on, off, on / off, spread),
        "",
        "In users: a plug-in asks at the first search after each start of the host and then at most "
        "once every 12 hours, so a user costs one to a few requests a day. At this rate the server "
        "answers %.1f million requests an hour: even if all users made their first search within the "
        "same hour, it would keep up with %.1f million of them.\n" % (per_hour / 1e6, per_hour / 1e6),
    ]
    stall, flood = hostile["stall"], hostile["flood"]
    statuses = ", ".join("%s %s" % (n, status) for status, n in sorted(flood["statuses"].items()))
    out += [
        "## The server information against a hostile client\n",
        "From the same run, the server tests of the limits (`tests/server/run_server_tests.py --only "
        "limits`), with the limits on:\n",
        "- **%d stalled connections**: 127.0.0.1 opened them in %.1f s, each sending a POST's header "
        "and then nothing. %d were refused at once (429); the rest waited for their bodies until "
        "the body time-out. A plug-in's request from 127.0.0.2 meanwhile was answered in **%.0f ms**, "
        "and the server had let the last stalled connection go %.1f s after they were opened."
        % (stall["connections"], stall["open_s"], stall["refused_at_once"], stall["answered_ms"],
           stall["last_let_go_s"]),
        "- **A %d-second flood of malformed requests** from 127.0.0.1 (wrk, 2 threads, 32 "
        "connections; multipart without a boundary, a file part, a version with a line break, a "
        "5000-byte body, binary bytes as text, a body in chunks, a GET, a bad request line): %d requests (%s). The error "
        "log grew by **%d bytes** (%d lines); a plug-in at 127.0.0.2 asking once a second was "
        "answered all %d times.\n" % (flood["seconds"], flood["requests"], statuses,
                                        flood["log_bytes"], flood["log_lines"], flood["good_answered"]),
    ]
    return out


def milliseconds(text):
    """A wrk time ("950.00us", "1.20ms", "2.00s") in milliseconds."""
    number, unit = re.match(r"([0-9.]+)(us|ms|s)$", text).groups()
    return float(number) * {"us": 1e-3, "ms": 1, "s": 1e3}[unit]


def relay_section(path):
    """The section on the search relay under load (bench/relay_load.py);
    empty without its output."""
    if not path:
        return []
    runs, setup = wrk_runs(path)
    label = {"upstream": "the upstream directly (HTTPS)",
             "relay": "through the relay, without the cache (the default)",
             "relay-miss": "through the relay with the cache, every query new (a miss)",
             "relay-hit": "through the relay with the cache, the same query (a hit)"}
    out = [
        "## The search relay under load\n",
        "`bench/relay_load.py`: wrk (%s threads, %s connections, %s a run) asks for one page of the address "
        "search (ten hits, about 5 KB) from the upstream directly and through `norrow serve-info`'s relay "
        "(nginx as deployed, its rate per address on, every request from an address of its own), all on "
        "127.0.0.1 and on the same 2 cores as wrk. The upstream is an nginx that speaks HTTPS with a "
        "certificate made for the run and answers with that page itself: far faster and steadier than a "
        "real provider, so that what the relay adds shows. The runs come by turns, three times, in one go.\n" % setup,
    ]
    rows, figures = wrk_table(runs, label)
    out += rows

    def median(way, key):
        values = sorted(milliseconds(f[key]) for f in figures[way])
        return values[len(values) // 2]

    def added(way):
        return "%+.2f ms at p50 and %+.2f ms at p99" % tuple(median(way, k) - median("upstream", k)
                                                             for k in ("p50", "p99"))
    failed = sum(f["not_2xx"] for way in figures for f in figures[way])
    budget = 50000 / 86400
    slowest = min(f["rate"] for f in figures["relay-miss"])
    out += [
        "",
        "The relay's own latency, through it less directly (the median of the three turns of each "
        "way, which leaves out a turn that the machine's other work upset): without the cache "
        "%s; a cache miss, whose answer nginx also writes to the cache, %s; a cache hit, which asks the "
        "upstream nothing, %s. %s The machine was shared with other work (see the load averages), so "
        "single p99 figures carry its pauses." % (added("relay"), added("relay-miss"), added("relay-hit"),
                                                  "Every answer was 200." if failed == 0 else
                                                  "%d answers were not 200." % failed),
        "",
        "In users: the provider allows an id 50,000 requests a day, %.2f a second on average; the slowest "
        "run of cache misses above still answered %.0f a second, %.0f times that. With a real provider "
        "the relay's share above is added to a round trip over the Internet; a cache hit (%.2f ms at p50 "
        "here) saves that round trip and spends none of the id's requests.\n" % (
            budget, slowest, slowest / budget, median("relay-hit", "p50")),
    ]
    return out


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
    if sys.argv[1] == "--serverinfo":  # only the server information's sections, from FILE
        print("\n".join(serverinfo_section(sys.argv[2])))
        return
    if sys.argv[1] == "--relay":  # only the relay's section, from FILE
        print("\n".join(relay_section(sys.argv[2])))
        return
    results, linux_timer = sys.argv[1], sys.argv[2]
    windows_timer = sys.argv[3] if len(sys.argv) > 3 else ""
    serverinfo_load = sys.argv[4] if len(sys.argv) > 4 else ""
    instructions = load_instructions(sys.argv[5] if len(sys.argv) > 5 else "")
    load_end = open(sys.argv[6]).read().split() if len(sys.argv) > 6 and sys.argv[6] else []
    relay_load = sys.argv[7] if len(sys.argv) > 7 else ""
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
      "bench/serverinfo_load.sh 10 16   # the server information under load and against a hostile client (run.sh runs it too)\n"
      "bench/relay_load.py 10 8   # the search relay under load (run.sh runs it too)\n"
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
    if "TagScan/sjis" in runs:
        w("The byte scanning under the walk alone (`TagScan`: each \"<\" and the end of the name "
          "behind it, with the functions of `src/search/xml_bytes.h`): %s (Shift-JIS, UTF-8), "
          "%s times the floor.\n" % (", ".join("%.1f us" % (ns("TagScan/" + e) / 1e3) for e in ("sjis", "utf8")),
                                     ", ".join("%.2f" % (ns("TagScan/" + e) / ns("MemchrFloor/" + e)) for e in ("sjis", "utf8"))))
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
    out.extend(relay_section(relay_load))

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
