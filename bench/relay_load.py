#!/usr/bin/env python3
"""Loads the search relay, in one run: wrk (2 threads, a few connections)
asks for one page of the address search for 東京 (ten hits, about 5 KB)
  upstream    from the upstream directly: an nginx that speaks HTTPS with a
              certificate made for the run and answers with that page, taken
              from the stand-in services once (tests/server/run_server_tests.py's
              Upstream; faster and steadier than any real provider, so that
              what the relay adds shows)
  relay       through `norrow serve-info`'s relay to that upstream, without
              the cache (cache_seconds 0, the default)
  relay-miss  through a relay with the cache (cache_seconds 60), each
              request a query of its own, so the cache never answers
  relay-hit   through that relay, every request the same query, answered
              from the cache
by turns, three times. Every request to the relay comes from a client address of
its own (X-Forwarded-For, serve-info --forwarded-for), as plug-ins do, under
the relay's rate as configured (requests_per_minute 60000). Prints each wrk
report after a line "== WAY".
  bench/relay_load.py [SECONDS] [CONNECTIONS] [--services PROGRAM]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [os.path.join(ROOT, "tests", "server"), os.path.join(ROOT, "tests", "support")]
from checks import start_services, stop_services  # noqa: E402
from run_server_tests import (RELAY_PATHS, SERVICE_PATHS, SERVICES_APPID, UPSTREAM, ServeInfo,  # noqa: E402
                              Upstream, config_text, relay_section, relayed)

QUERY = "query=%93%8C%8B%9E&ei=SJIS&result=10&output=xml"  # 東京 in Shift-JIS, as the plug-in sends it


def wrk(way, seconds, connections, url, script=None, *arguments):
    print("== " + way)
    sys.stdout.flush()
    subprocess.run(["uptime"], check=True)
    subprocess.run(["wrk", "--threads", "2", "--connections", str(connections), "--duration", "%ds" % seconds,
                    "--latency"] + (["--script", script] if script else []) + [url]
                   + (["--"] + list(arguments) if arguments else []), check=True)
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("seconds", nargs="?", type=int, default=10)
    parser.add_argument("connections", nargs="?", type=int, default=8)
    parser.add_argument("--services", default=os.path.join(ROOT, "build", "bench", "bin", "tamsel-sim"))
    options = parser.parse_args()
    temp = tempfile.mkdtemp(prefix="norrow-relay-load-")
    services = upstream = None
    servers = []
    try:
        os.chmod(temp, 0o755)  # nginx's workers read the page
        services, services_port = start_services(options.services)
        folder = os.path.join(temp, "upstream")
        os.makedirs(folder)
        page = urllib.request.urlopen("http://127.0.0.1:%d%s?appid=%s&%s" % (
            services_port, SERVICE_PATHS["geocoder"], SERVICES_APPID, QUERY)).read()
        with open(os.path.join(folder, "page.xml"), "wb") as f:
            f.write(page)
        upstream = Upstream(folder, services_port, page="page.xml")
        relays = {}
        for cache in (0, 60):
            config = os.path.join(temp, "relay-%d.ini" % cache)
            with open(config, "w", encoding="utf-8") as f:
                f.write(config_text(services_port, **relayed(relay=relay_section(per_minute=60000, cache=cache,
                                                                                ca=upstream.ca))))
            servers.append(ServeInfo(os.path.join(ROOT, "norrow"), config, "--no-limits", "--forwarded-for",
                                     "--route", "%s:443=127.0.0.1:%d" % (UPSTREAM, upstream.port)))
            relays[cache] = "http://127.0.0.1:%d%s?appid=-&%s" % (servers[-1].port, RELAY_PATHS["geocoder"],
                                                                   QUERY)
        direct = "https://127.0.0.1:%d%s?appid=%s&%s" % (upstream.port, SERVICE_PATHS["geocoder"],
                                                         SERVICES_APPID, QUERY)
        clients = os.path.join(HERE, "relay_clients.lua")
        for _ in range(3):
            wrk("upstream", options.seconds, options.connections, direct)
            wrk("relay", options.seconds, options.connections, relays[0], clients)
            wrk("relay-miss", options.seconds, options.connections, relays[60], clients, "miss")
            wrk("relay-hit", options.seconds, options.connections, relays[60], clients)
    finally:
        for server in servers:
            server.stop()
        if upstream:
            upstream.stop()
        stop_services(services)
        shutil.rmtree(temp, ignore_errors=True)


if __name__ == "__main__":
    main()
