#!/usr/bin/env python3
"""A local stand-in for the model service, for tests and benchmarks.

It answers every question of a request body deterministically from the question itself: a noul question
with a probability, a choice question with probabilities over its criteria and the likeliest label, a
score question with probabilities over its levels and the likeliest level as its score. Replies carry a
usage of input_tokens = ceil(body bytes / 4) and output_tokens = 5 per question.

    zem_server.py [--tls-dir DIR] [--log FILE] [--script FILE] [--host HOST] [--port N]
    zem_server.py --make-cert DIR

Once it listens it prints "port <n>" on a line of its own on stdout. With --tls-dir it serves HTTPS with
DIR/cert.pem and DIR/key.pem, making them first when missing (a self-signed certificate for localhost,
zem.test, 127.0.0.1 and ::1, which is its own trust anchor); without it, plain HTTP. --make-cert DIR only
makes such a certificate and exits.

Every request is appended to the --log file as one JSON line, before anything is answered:
    {"seq": n, "connection": n, "method": "POST", "path": "/v1/quorent?x=1",
     "headers": [[name, value], ...], "body": "..."}
`connection` counts accepted connections from 1, so requests that share one show it.

Scripting: --script names a JSON array of steps; each request takes the next step until none are left,
then gets the default answer. Query parameters of the request path act as a step for that request alone
and win over the script's. Fields of a step (query forms in brackets):
    status     the status to answer with (default 200)                                   [status=429]
    body       the reply body text, instead of the generated answers                     [body=...]
    json       a JSON value to reply with, instead of the generated answers
    delay_ms   wait this long before answering                                           [delay_ms=500]
    hang       never answer                                                              [hang=1]
    close      close the connection without answering                                    [close=1]
    omit       question ids whose answers are left out                                   [omit=a,b]
    answers    {id: answer object} replacing generated answers
    usage      the reply's "usage"; null leaves it out          [usage=none, usage_in=N, usage_out=N]
    pad_bytes  spaces appended to the body                                               [pad_bytes=100]
    unsized    send no Content-Length: the body ends where the connection is closed      [unsized=1]
    cut_bytes  announce the whole body, send only its first N bytes, then close            [cut_bytes=10]
    headers    {name: value} extra reply headers                                       [location=URL]
    repeat     how many requests the step serves (default 1)
"""

import argparse
import hashlib
import http.server
import json
import math
import os
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

CERT_NAMES = "DNS:localhost,DNS:zem.test,IP:127.0.0.1,IP:::1"


def make_cert(directory):
    os.makedirs(directory, exist_ok=True)
    cert = os.path.join(directory, "cert.pem")
    key = os.path.join(directory, "key.pem")
    if os.path.exists(cert) and os.path.exists(key):
        return cert, key
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=" + CERT_NAMES,
         "-keyout", key + ".tmp", "-out", cert + ".tmp"],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    os.replace(key + ".tmp", key)
    os.replace(cert + ".tmp", cert)
    return cert, key


def unit(*parts):
    """A number in [0, 1) fixed by the texts."""
    digest = hashlib.sha256("\x1f".join(parts).encode("utf-8", "surrogatepass")).digest()
    return int.from_bytes(digest[:8], "big") / 2.0 ** 64


def spread(qid, keys):
    weights = [0.25 + unit(qid, key) for key in keys]
    total = sum(weights)
    return {key: round(w / total, 4) for key, w in zip(keys, weights)}


def answer(qid, payload):
    kind = payload.get("type") if isinstance(payload, dict) else None
    criteria = payload.get("criteria") if isinstance(payload, dict) else None
    if kind == "noul":
        return {"noul": round(0.05 + 0.9 * unit(qid, "noul"), 4)}
    if kind == "choice":
        keys = sorted(criteria) if isinstance(criteria, dict) else []
        probabilities = spread(qid, keys)
        best = max(keys, key=lambda k: probabilities[k]) if keys else ""
        return {"choice": best, "probabilities": probabilities}
    if kind == "score":
        count = len(criteria) if isinstance(criteria, list) else 0
        keys = [str(i) for i in range(count)]
        probabilities = spread(qid, keys)
        best = max(range(count), key=lambda i: probabilities[str(i)]) if count else 0
        return {"score": best, "probabilities": probabilities}
    return None


def default_reply(body_text, body_bytes):
    request = json.loads(body_text)
    questions = request.get("questions") if isinstance(request, dict) else None
    if not isinstance(questions, dict):
        questions = {}
    answers = {}
    for qid, payload in questions.items():
        given = answer(qid, payload)
        if given is not None:
            answers[qid] = given
    usage = {"input_tokens": math.ceil(body_bytes / 4),
             "output_tokens": 5 * len(questions)}
    return {"answers": answers, "usage": usage}


def query_step(path):
    query = urllib.parse.urlsplit(path).query
    if not query:
        return {}
    step = {}
    for name, values in urllib.parse.parse_qs(query, keep_blank_values=True).items():
        value = values[-1]
        if name in ("status", "delay_ms", "pad_bytes", "cut_bytes"):
            step[name] = int(value)
        elif name in ("hang", "close", "unsized"):
            step[name] = value not in ("", "0", "false")
        elif name == "omit":
            step[name] = [v for v in value.split(",") if v]
        elif name == "usage" and value == "none":
            step[name] = None
        elif name in ("usage_in", "usage_out"):
            usage = step.get("usage") or {}
            usage["input_tokens" if name == "usage_in" else "output_tokens"] = int(value)
            step["usage"] = usage
        elif name == "body":
            step[name] = value
        elif name == "location":
            step.setdefault("headers", {})["Location"] = value
    return step


class Script:
    def __init__(self, steps):
        self.steps = list(steps)
        self.lock = threading.Lock()

    def take(self):
        with self.lock:
            if not self.steps:
                return {}
            step = self.steps[0]
            left = step.get("repeat", 1) - 1
            if left <= 0:
                self.steps.pop(0)
            else:
                step = dict(step)
                self.steps[0] = dict(self.steps[0], repeat=left)
            return step


class Log:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.seq = 0

    def append(self, entry):
        with self.lock:
            self.seq += 1
            entry = dict(seq=self.seq, **entry)
            if self.path:
                with open(self.path, "a", encoding="utf-8") as out:
                    out.write(json.dumps(entry, ensure_ascii=False) + "\n")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in separate writes: with Nagle's algorithm the body would wait for the
    # client's delayed acknowledgement of the headers, some 40 ms per request.
    disable_nagle_algorithm = True

    def setup(self):
        super().setup()
        with self.server.count_lock:
            self.server.connections += 1
            self.connection_number = self.server.connections

    def log_message(self, format, *args):  # noqa: A002 (the base class's name)
        pass

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length) if length > 0 else b""
        body_text = raw.decode("utf-8", "replace")
        self.server.log.append({
            "connection": self.connection_number,
            "method": self.command,
            "path": self.path,
            "headers": [[name, value] for name, value in self.headers.items()],
            "body": body_text,
        })
        step = dict(self.server.script.take())
        step.update(query_step(self.path))
        if step.get("delay_ms"):
            time.sleep(step["delay_ms"] / 1000.0)
        if step.get("hang"):
            while True:
                time.sleep(3600)
        if step.get("close"):
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        status = int(step.get("status", 200))
        if "body" in step:
            text = step["body"]
        elif "json" in step:
            text = json.dumps(step["json"])
        else:
            try:
                reply = default_reply(body_text, len(raw))
                for qid in step.get("omit", []):
                    reply["answers"].pop(qid, None)
                reply["answers"].update(step.get("answers", {}))
                if "usage" in step:
                    if step["usage"] is None:
                        del reply["usage"]
                    else:
                        reply["usage"] = step["usage"]
            except ValueError:
                status = step.get("status", 400)
                reply = {"error": "the request body is not JSON"}
            text = json.dumps(reply)
        data = text.encode("utf-8", "surrogateescape")
        pad = int(step.get("pad_bytes", 0))
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        if step.get("unsized"):
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(data) + pad))
        for name, value in step.get("headers", {}).items():
            self.send_header(name, value)
        self.end_headers()
        if "cut_bytes" in step:
            self.wfile.write(data[:int(step["cut_bytes"])])
            self.wfile.flush()
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        self.wfile.write(data)
        # Padding goes out a piece at a time: a reply of many megabytes is never built whole.
        piece = memoryview(b" " * min(pad, 1 << 20))
        while pad > 0:
            self.wfile.write(piece[:pad])
            pad -= len(piece)

    do_POST = do_GET = do_PUT = do_DELETE = do_PATCH = handle_any


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, tls_context, log, script):
        self.tls_context = tls_context
        self.log = log
        self.script = script
        self.connections = 0
        self.count_lock = threading.Lock()
        super().__init__(address, Handler)

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread, so a client that refuses the certificate
        # neither blocks nor stops the others.
        if self.tls_context is None:
            super().finish_request(request, client_address)
            return
        try:
            tls = self.tls_context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            super().finish_request(tls, client_address)
        finally:
            tls.close()

    def handle_error(self, request, client_address):
        pass  # a client that hangs up mid-request is no fault of the server


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tls-dir")
    parser.add_argument("--make-cert")
    parser.add_argument("--log")
    parser.add_argument("--script")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()

    if args.make_cert:
        make_cert(args.make_cert)
        return 0

    tls_context = None
    if args.tls_dir:
        cert, key = make_cert(args.tls_dir)
        tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls_context.load_cert_chain(cert, key)
    steps = []
    if args.script:
        with open(args.script, encoding="utf-8") as f:
            steps = json.load(f)
    server = Server((args.host, args.port), tls_context, Log(args.log), Script(steps))
    print("port %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
