#!/usr/bin/env python3
"""`korvel serve` over real HTTP on a free loopback port: the session cookie, the security
headers, the edit that recalculates, the body limit, one log line per request, and a clean stop.

Usage: serve_http_test.py KORVEL EXAMPLES_DIR
"""
import json
import signal
import subprocess
import sys
import urllib.error
import urllib.request

korvel, examples = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def request(base, method, path, body=None, cookie=None, content_type="application/json"):
    data = body.encode() if isinstance(body, str) else body
    req = urllib.request.Request(base + path, data=data, method=method)
    if data is not None:
        req.add_header("Content-Type", content_type)
    if cookie:
        req.add_header("Cookie", "theme=dark; korvel_session=" + cookie)
    try:
        with urllib.request.urlopen(req, timeout=30) as response:
            return response.status, response.headers, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()


# An application that does not start is said so, with a failing status, before listening.
refused = subprocess.run([korvel, "serve", examples + "/no-such-book.txt", "--port", "0"],
                         capture_output=True, text=True, timeout=60)
check(refused.returncode == 2 and "no-such-book" in refused.stderr and not refused.stdout,
      "a missing book: status %d, %r" % (refused.returncode, refused.stderr))

server = subprocess.Popen([korvel, "serve", examples + "/pricing.txt", "--port", "0"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
try:
    line = server.stdout.readline()
    check("http://127.0.0.1:" in line, "listens on 127.0.0.1 by default: " + line)
    base = line[line.index("http://"):].strip().rstrip("/")
    bodies = []
    requests = 0

    status, headers, page = request(base, "GET", "/")
    requests += 1
    bodies.append(page)
    check(status == 200 and headers["Content-Type"].startswith("text/html"), "the page")
    for name in ("Content-Security-Policy", "X-Content-Type-Options", "X-Frame-Options",
                 "Referrer-Policy"):
        check(headers[name], "security header " + name)

    status, headers, body = request(base, "GET", "/api/sheets")
    requests += 1
    bodies.append(body)
    cookie_header = headers["Set-Cookie"] or ""
    check(status == 200 and json.loads(body)["sheets"] == ["Order"], "sheets")
    check("HttpOnly" in cookie_header and "SameSite=Strict" in cookie_header,
          "the session cookie is HttpOnly and SameSite: " + cookie_header)
    cookie = cookie_header.split(";")[0].split("=", 1)[1]

    status, headers, body = request(base, "POST", "/api/cells",
                                    json.dumps({"set": {"Order!C2": 10}}), cookie)
    requests += 1
    bodies.append(body)
    changed = {c["cell"]: c for c in json.loads(body).get("changed", [])}
    check(status == 200 and changed.get("Order!D6", {}).get("value") == 139.5,
          "Order!D6 = 139.5 after the edit: " + body.decode())
    check(headers["Set-Cookie"] is None, "a known session gets no new cookie")

    status, _, body = request(base, "GET", "/api/cells?range=Order!A1:D6", None, cookie)
    requests += 1
    bodies.append(body)
    check(status == 200 and len(json.loads(body)["cells"]) > 10, "cells of the range")

    status, _, body = request(base, "POST", "/api/cells", "{not json", cookie)
    requests += 1
    check(status == 400 and "not JSON" in json.loads(body)["error"], "a bad body: " + str(status))

    status, _, body = request(base, "POST", "/api/import", b"x" * (17 << 20), cookie,
                              "application/octet-stream")
    requests += 1
    check(status == 413 and json.loads(body)["error"], "an oversized body: " + str(status))

    for js in ("/app.js", "/app.css"):
        status, _, body = request(base, "GET", js)
        requests += 1
        bodies.append(body)
        check(status == 200, js)
    for body in bodies:
        for formula in (b"B2*C2", b"SUM(", b"*(1-Discount)"):
            check(formula not in body, "no formula text in a reply")
finally:
    server.send_signal(signal.SIGTERM)
    try:
        out, err = server.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        server.kill()
        out, err = server.communicate()
        failures.append("the server did not stop on SIGTERM")

check(server.returncode == 0, "the server stopped cleanly: status %s" % server.returncode)
log = [l for l in err.splitlines() if " /" in l and not l.startswith("korvel:")]
check(len(log) == requests, "one log line per request: %d lines, %d requests\n%s" %
      (len(log), requests, err))

print("FAILED" if failures else "ok")
sys.exit(1 if failures else 0)
