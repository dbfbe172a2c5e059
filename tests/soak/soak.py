#!/usr/bin/env python3
"""Long runs of the two servers in one process each, watching for growth.

    soak.py lsp   BINARY [--edits 10000]   edits of one document through `BINARY lsp`
    soak.py serve BINARY [--runs 1000] [--calls]
                                           runs (start, a pause or capability round trips, end) through
                                           `BINARY serve`

The resident memory of the server after the last tenth must be within 10 % of its memory after the first tenth,
and it must hold the same number of file descriptors (counted in /proc/PID/fd). Prints the figures; exits 1 when
either has grown, 2 when the server misbehaved. Meant for an optimized build without sanitizers, whose allocators
keep freed memory aside and would make any figure meaningless (under AddressSanitizer, set
ASAN_OPTIONS=quarantine_size_mb=0 for figures that mean something).

Figures on the development machine (release build, 8 shared cores):
    serve --calls, 1000 runs of two capability round trips each: 14664 KiB resident after 100 runs,
    15396 KiB after 1000 (+5.0 %); 4 descriptors, then 4; 53 s in all.
    lsp, 10000 edits: 15408 KiB after 1000 edits, 15504 KiB after 10000 (+0.6 %); 5 descriptors, then 5; 3 s.
"""

import argparse
import json
import os
import queue
import subprocess
import sys
import threading

GROWTH_ALLOWED = 0.10


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def open_fds(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


class Failure(Exception):
    pass


class Server:
    """A server child with a thread that splits its stdout into messages (LSP frames, or JSON lines)."""

    def __init__(self, argv, framed):
        self.framed = framed
        self.process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, bufsize=0)
        self.messages = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        out = self.process.stdout
        try:
            while True:
                if self.framed:
                    length = None
                    while True:
                        line = out.readline()
                        if not line:
                            raise EOFError
                        line = line.strip()
                        if not line:
                            break
                        name, _, value = line.partition(b":")
                        if name.lower() == b"content-length":
                            length = int(value)
                    body = b""
                    while len(body) < length:
                        chunk = out.read(length - len(body))
                        if not chunk:
                            raise EOFError
                        body += chunk
                else:
                    body = out.readline()
                    if not body:
                        raise EOFError
                self.messages.put(json.loads(body))
        except (EOFError, ValueError):
            self.messages.put(None)

    def send(self, message):
        body = json.dumps(message, separators=(",", ":")).encode()
        if self.framed:
            self.process.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        else:
            self.process.stdin.write(body + b"\n")

    def receive(self, timeout=60):
        try:
            message = self.messages.get(timeout=timeout)
        except queue.Empty:
            raise Failure("the server answered nothing for %d s" % timeout)
        if message is None:
            raise Failure("the server's output ended (exit status %s)" % self.process.poll())
        return message

    def await_response(self, request_id, on_request=None):
        while True:
            message = self.receive()
            if "method" in message and "id" in message and on_request is not None:
                self.send(on_request(message))
                continue
            if message.get("id") == request_id and "method" not in message:
                if "error" in message:
                    raise Failure("request %s failed: %s" % (request_id, json.dumps(message["error"])))
                return message.get("result")

    def figures(self):
        return resident_kib(self.process.pid), open_fds(self.process.pid)

    def close(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


DOCUMENT = """program soaked
out n

judgment tone(text):
  calm = text feels "the writer is calm"

task main budget calls 20:
  n = 0
  loop max 3:
    n = n + 1
    log info "turn" {n}
  return n
"""


def soak_lsp(binary, edits):
    server = Server([binary, "lsp"], framed=True)
    uri = "untitled:soaked"
    next_id = [0]

    def request(method, params):
        next_id[0] += 1
        server.send({"jsonrpc": "2.0", "id": next_id[0], "method": method, "params": params})
        return server.await_response(next_id[0])

    request("initialize", {"capabilities": {}, "processId": None, "rootUri": None})
    server.send({"jsonrpc": "2.0", "method": "initialized", "params": {}})
    server.send({"jsonrpc": "2.0", "method": "textDocument/didOpen",
                 "params": {"textDocument": {"uri": uri, "languageId": "dravelin", "version": 1, "text": DOCUMENT}}})
    # A line is put in and taken out again in turns, so the document keeps its size and any growth is the server's.
    line = DOCUMENT.count("\n") - 1
    figures = {}
    for edit in range(1, edits + 1):
        if edit % 2:
            change = {"range": {"start": {"line": line, "character": 0}, "end": {"line": line, "character": 0}},
                      "text": "  log debug \"edit %d\" {n}\n" % (edit % 1000)}
        else:
            change = {"range": {"start": {"line": line, "character": 0}, "end": {"line": line + 1, "character": 0}},
                      "text": ""}
        server.send({"jsonrpc": "2.0", "method": "textDocument/didChange",
                     "params": {"textDocument": {"uri": uri, "version": edit + 1}, "contentChanges": [change]}})
        if edit % 100 == 0:
            # A request answered after the edits means the server has taken all of them in.
            symbols = request("textDocument/documentSymbol", {"textDocument": {"uri": uri}})
            if not symbols:
                raise Failure("no outline after edit %d" % edit)
            request("textDocument/hover", {"textDocument": {"uri": uri}, "position": {"line": line - 2, "character": 6}})
        if edit == edits // 10 or edit == edits:
            figures[edit] = server.figures()
    request("shutdown", None)
    server.send({"jsonrpc": "2.0", "method": "exit"})
    server.close()
    return figures


# Every run binds a capability; with --calls it calls it twice (a `capability.call` round trip each), without it
# the run passes a confirmation instead (a pause answered through `run.resume`).
PROGRAM_WITH_CALLS = """program bridged
in word: text
out said
needs echo: tool:
  say(word) -> text

task main:
  first = echo.say(word)
  said = echo.say(first)
"""

PROGRAM_WITH_A_PAUSE = """program bridged
in word: text
out said
needs echo: tool:
  say(word) -> text

task main thresholds risk_confirm 0.5:
  log info "heard" {word}
  gate risk 0.9, confidence 0.9:
    proceed -> log debug "no confirmation needed"
  said = "{word}!"
"""


def soak_serve(binary, runs, with_calls):
    server = Server([binary, "serve"], framed=False)
    next_id = [0]

    def request(method, params, on_request=None):
        next_id[0] += 1
        server.send({"jsonrpc": "2.0", "id": next_id[0], "method": method, "params": params})
        return server.await_response(next_id[0], on_request)

    calls = [0]

    def answer(message):
        if message["method"] != "capability.call":
            raise Failure("unexpected request from the bridge: " + message["method"])
        calls[0] += 1
        word = message["params"]["args"]["positional"][0]
        return {"jsonrpc": "2.0", "id": message["id"], "result": {"result": word + "!"}}

    program = PROGRAM_WITH_CALLS if with_calls else PROGRAM_WITH_A_PAUSE
    program_id = request("program.load", {"source": program})["program_id"]
    figures = {}
    for run in range(1, runs + 1):
        started = request("task.start", {"program_id": program_id, "name": "main", "inputs": {"word": "w%d" % run},
                                         "bindings": [{"name": "echo", "kind": "tool"}]})
        outcome = request("run.next", {"run_id": started["run_id"]}, on_request=answer)
        if outcome.get("kind") == "confirm" and not with_calls:
            request("run.resume", {"run_id": started["run_id"], "payload": {"answer": "yes"}})
            outcome = request("run.next", {"run_id": started["run_id"]}, on_request=answer)
        if outcome.get("kind") != "done":
            raise Failure("run %d ended as %s" % (run, json.dumps(outcome)))
        if run == runs // 10 or run == runs:
            figures[run] = server.figures()
    if calls[0] != (2 * runs if with_calls else 0):
        raise Failure("%d capability calls for %d runs" % (calls[0], runs))
    server.close()
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("server", choices=["lsp", "serve"])
    parser.add_argument("binary")
    parser.add_argument("--edits", type=int, default=10000)
    parser.add_argument("--runs", type=int, default=1000)
    parser.add_argument("--calls", action="store_true", help="runs call their capability instead of passing a confirmation")
    args = parser.parse_args()
    try:
        if args.server == "lsp":
            figures = soak_lsp(args.binary, args.edits)
        else:
            figures = soak_serve(args.binary, args.runs, args.calls)
    except Failure as failure:
        print("%s soak: %s" % (args.server, failure), file=sys.stderr)
        return 2
    (first, (rss_first, fds_first)), (last, (rss_last, fds_last)) = sorted(figures.items())
    growth = (rss_last - rss_first) / rss_first
    print("%s soak: resident %d KiB after %d, %d KiB after %d (%+.1f %%); %d descriptors, then %d"
          % (args.server, rss_first, first, rss_last, last, growth * 100, fds_first, fds_last))
    if growth > GROWTH_ALLOWED or fds_last != fds_first:
        print("%s soak: the server grew" % args.server, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
