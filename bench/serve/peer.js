'use strict';
// The plain-pipe peer: a node process that makes N requests to its parent over its stdout and reads the
// replies from its stdin, one line each, with the same JSON-RPC library, one request at a time as the bridge
// makes them. Prints "round_trips N seconds S" on stderr.
const readline = require('node:readline');
const { JSONRPCClient, JSONRPCServer, JSONRPCServerAndClient } = require('json-rpc-2.0');

const count = Number(process.argv[2] || 10000);
const peer = new JSONRPCServerAndClient(
  new JSONRPCServer(),
  new JSONRPCClient((request) => process.stdout.write(JSON.stringify(request) + '\n')),
);
readline.createInterface({ input: process.stdin }).on('line', (line) => peer.receiveAndSend(JSON.parse(line)));

(async () => {
  const started = process.hrtime.bigint();
  for (let i = 0; i < count; ++i) {
    await peer.request('capability.call', { args: { positional: [i] }, capability: 'files', run_id: 'run_pipe_1', verb: 'read' });
  }
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  process.stderr.write(`round_trips ${count} seconds ${seconds.toFixed(6)}\n`);
  process.exit(0);
})();
