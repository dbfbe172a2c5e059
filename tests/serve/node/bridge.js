'use strict';
// Drives `dravelin serve` as a subprocess the way an SDK does: a stock JSON-RPC 2.0 library on both sides of the
// pipe, sending the bridge's methods and answering its `capability.call` and `capability.observe` requests.
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { JSONRPCClient, JSONRPCServer, JSONRPCServerAndClient } = require('json-rpc-2.0');

const BINARY = process.env.DRAVELIN_BINARY;
if (!BINARY) throw new Error('DRAVELIN_BINARY must name the dravelin binary');
const PYTHON = process.env.DRAVELIN_PYTHON3 || 'python3';

// The process environment with `changes` laid over it; a change to null removes the variable.
function environment(changes) {
  const env = { ...process.env, DRAVELIN_PATH: '', ...changes };
  delete env.DRAVELIN_PROFILES;
  if (changes.DRAVELIN_PROFILES) env.DRAVELIN_PROFILES = changes.DRAVELIN_PROFILES;
  for (const [name, value] of Object.entries(env)) if (value === null) delete env[name];
  return env;
}

function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'dravelin-serve-'));
}

class Bridge {
  // `answer(method, params)` serves the bridge's own requests; what it returns (or throws) is the reply.
  constructor({ env = {}, answer } = {}) {
    this.child = spawn(BINARY, ['serve'], {
      stdio: ['pipe', 'pipe', 'pipe'],
      env: environment(env),
    });
    this.stderr = '';
    this.child.stderr.on('data', (d) => (this.stderr += d));
    this.exited = new Promise((resolve) => this.child.on('exit', (code, signal) => resolve({ code, signal })));
    // Every line the bridge wrote, parsed, in order.
    this.lines = [];
    this.raw = [];
    this.events = [];
    this.answer = answer || (() => ({ result: null }));

    this.peer = new JSONRPCServerAndClient(
      new JSONRPCServer(),
      new JSONRPCClient((request) => this.write(JSON.stringify(request))),
    );
    this.peer.addMethod('event', (params) => {
      this.events.push(params);
    });
    for (const method of ['capability.call', 'capability.observe']) {
      this.peer.addMethod(method, (params) => this.answer(method, params));
    }
    readline.createInterface({ input: this.child.stdout }).on('line', (line) => {
      const message = JSON.parse(line);
      this.raw.push(line);
      this.lines.push(message);
      this.peer.receiveAndSend(message);
    });
  }

  write(line) {
    this.child.stdin.write(line + '\n');
  }

  request(method, params) {
    return this.peer.request(method, params);
  }

  // Sends a request and resolves with its whole response ({ result } or { error }) and the place of that
  // response among the lines the bridge wrote.
  async send(method, params) {
    this.sent = (this.sent || 0) + 1;
    const id = 'sdk-' + this.sent;
    const response = await this.peer.requestAdvanced({ jsonrpc: '2.0', id, method, params });
    const at = this.lines.findIndex((m) => m.id === id && !('method' in m));
    return { ...response, at };
  }

  // The event notifications written between two places of the output, as [kind, ...] of their events.
  eventsBetween(from, to) {
    return this.lines
      .slice(from, to)
      .filter((m) => m.method === 'event')
      .map((m) => m.params.event.event);
  }

  async load(source) {
    return (await this.request('program.load', { source })).program_id;
  }

  async end() {
    this.child.stdin.end();
    return this.exited;
  }
}

// The local model service (tests/support/zem_server.py over HTTPS) and a profiles file whose default model is
// served by it; `env` is what the bridge needs to reach it.
async function startModelService() {
  const dir = tempDir();
  const script = path.join(__dirname, '..', '..', 'support', 'zem_server.py');
  const log = path.join(dir, 'requests.jsonl');
  const child = spawn(PYTHON, [script, '--tls-dir', path.join(dir, 'tls'), '--log', log], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const port = await new Promise((resolve, reject) => {
    const lines = readline.createInterface({ input: child.stdout });
    lines.on('line', (line) => {
      const m = /^port (\d+)$/.exec(line);
      if (m) resolve(Number(m[1]));
    });
    child.on('exit', (code) => reject(new Error('the model service ended with ' + code)));
  });
  const profiles = path.join(dir, 'profiles.json');
  fs.writeFileSync(
    profiles,
    JSON.stringify([
      {
        model: 'zem-1.13.0',
        endpoint: `https://localhost:${port}/v1/quorent`,
        total_tokens: 100000,
        state_plus_question_tokens: 50000,
        max_questions_per_request: 16,
        max_criteria_per_question: 8,
        tokenizer: 'chars4',
        price_per_million_input_usd: 1.0,
        price_per_million_output_usd: 2.0,
      },
    ]),
  );
  const env = {
    SSL_CERT_FILE: path.join(dir, 'tls', 'cert.pem'),
    SSL_CERT_DIR: null,
    VELTRANE_API_KEY: 'test-key',
    DRAVELIN_PROFILES: profiles,
    HTTPS_PROXY: null,
    https_proxy: null,
    ALL_PROXY: null,
    all_proxy: null,
    HTTP_PROXY: null,
    http_proxy: null,
  };
  const requests = () =>
    fs.existsSync(log)
      ? fs.readFileSync(log, 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l))
      : [];
  return {
    env,
    requests,
    stop() {
      child.kill('SIGKILL');
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

// Runs `dravelin serve` over raw input lines (stdin closed after them) and collects what it wrote.
function serveRaw(lines, { env = {} } = {}) {
  const done = spawnSync(BINARY, ['serve'], {
    input: lines.map((l) => l + '\n').join(''),
    env: environment(env),
    timeout: 20000,
  });
  const stdout = done.stdout.toString('utf8');
  return { status: done.status, stdout, stderr: done.stderr.toString('utf8'), lines: stdout.split('\n').filter(Boolean) };
}

module.exports = { Bridge, startModelService, serveRaw, tempDir };
