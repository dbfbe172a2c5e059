'use strict';
// SDK side of the bridge benchmark: answers `capability.call` requests with the json-rpc-2.0 library over a
// child's stdio and reports round trips per second.
//
//   node round_trips.js serve DRAVELIN N   a run of call_loop.zem through `dravelin serve` (N calls)
//   node round_trips.js host HOST_BENCH N  the bridge's capability host alone (bench/serve/host_bench.cpp)
//   node round_trips.js pipe N             two plain node processes over a pipe (peer.js)
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const readline = require('node:readline');
const { JSONRPCClient, JSONRPCServer, JSONRPCServerAndClient } = require('json-rpc-2.0');

function connect(child) {
  const peer = new JSONRPCServerAndClient(
    new JSONRPCServer(),
    new JSONRPCClient((request) => child.stdin.write(JSON.stringify(request) + '\n')),
  );
  let answered = 0;
  peer.addMethod('capability.call', (params) => {
    answered += 1;
    return { result: 'text ' + params.args.positional[0] };
  });
  peer.addMethod('event', () => {});
  readline.createInterface({ input: child.stdout }).on('line', (line) => peer.receiveAndSend(JSON.parse(line)));
  let reported = '';
  child.stderr.on('data', (d) => (reported += d));
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  return { peer, answered: () => answered, reported: () => reported, exited };
}

function report(name, count, seconds, extra = '') {
  const rate = count / seconds;
  console.log(`${name.padEnd(6)} round_trips ${count} seconds ${seconds.toFixed(3)} per_second ${rate.toFixed(0)}${extra}`);
}

async function viaChild(name, command, args) {
  const child = spawn(command, args, { stdio: ['pipe', 'pipe', 'pipe'] });
  const link = connect(child);
  const code = await link.exited;
  const m = /round_trips (\d+) seconds ([\d.]+)/.exec(link.reported());
  if (code !== 0 || !m) throw new Error(`${name} failed (${code}): ${link.reported()}`);
  report(name, Number(m[1]), Number(m[2]));
}

async function viaServe(bin, count) {
  const child = spawn(bin, ['serve'], { stdio: ['pipe', 'pipe', 'pipe'] });
  const link = connect(child);
  const source = fs.readFileSync(path.join(__dirname, 'call_loop.zem'), 'utf8').replace('10000', String(count));
  const { program_id } = await link.peer.request('program.load', { source });
  const { run_id } = await link.peer.request('task.start', {
    program_id,
    name: 'main',
    bindings: [{ name: 'files', kind: 'tool' }],
  });
  const started = process.hrtime.bigint();
  const outcome = await link.peer.request('run.next', { run_id });
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  child.stdin.end();
  await link.exited;
  if (outcome.kind !== 'done') {
    console.log(`serve  not measured: the run ended ${outcome.kind}: ${outcome.message || ''}`);
    return;
  }
  report('serve', link.answered(), seconds, ' (a whole run: interpreter, journal, one event per call)');
}

(async () => {
  const [mode, ...rest] = process.argv.slice(2);
  if (mode === 'serve') await viaServe(rest[0], Number(rest[1] || 10000));
  else if (mode === 'host') await viaChild('host', rest[0], [rest[1] || '10000']);
  else if (mode === 'pipe') await viaChild('pipe', process.execPath, [path.join(__dirname, 'peer.js'), rest[0] || '10000']);
  else throw new Error('mode must be serve, host or pipe');
})().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
