'use strict';
// Input a client library would never send: malformed frames and bodies, written straight to the server.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');

function frame(body) {
  const bytes = Buffer.from(body, 'utf8');
  return Buffer.concat([Buffer.from(`Content-Length: ${bytes.length}\r\n\r\n`), bytes]);
}

// Runs the server over the given input (stdin closed after it) and collects its replies and status.
function run(input, ms = 10000) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.env.DRAVELIN_BINARY, ['lsp'], { stdio: ['pipe', 'pipe', 'pipe'] });
    let out = Buffer.alloc(0);
    let err = '';
    child.stdout.on('data', (d) => (out = Buffer.concat([out, d])));
    child.stderr.on('data', (d) => (err += d));
    const timer = setTimeout(() => {
      child.kill('SIGKILL');
      reject(new Error('the server did not end within ' + ms + ' ms'));
    }, ms);
    child.on('exit', (code) => {
      clearTimeout(timer);
      const messages = [];
      let text = out.toString('utf8');
      for (;;) {
        const m = /^Content-Length: (\d+)\r\n\r\n/.exec(text);
        if (!m) break;
        const start = m[0].length;
        const body = Buffer.from(text.slice(start), 'utf8').subarray(0, Number(m[1])).toString('utf8');
        messages.push(JSON.parse(body));
        text = text.slice(start + body.length);
      }
      resolve({ code, messages, stderr: err });
    });
    child.stdin.end(input);
  });
}

const INITIALIZE = frame('{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}');
const INITIALIZED = frame('{"jsonrpc":"2.0","method":"initialized","params":{}}');
const SHUTDOWN = frame('{"jsonrpc":"2.0","id":2,"method":"shutdown"}');
const EXIT = frame('{"jsonrpc":"2.0","method":"exit"}');

test('a body that is not JSON is answered with a parse error and the server carries on', async () => {
  const result = await run(Buffer.concat([frame('{"jsonrpc":'), INITIALIZE, INITIALIZED, SHUTDOWN, EXIT]));
  assert.equal(result.code, 0);
  assert.equal(result.messages[0].id, null);
  assert.equal(result.messages[0].error.code, -32700);
  assert.deepStrictEqual(result.messages.slice(1).map((m) => m.id), [1, 2]);
});

test('a body that is no message is an invalid request', async () => {
  const result = await run(Buffer.concat([INITIALIZE, INITIALIZED, frame('[1,2]'), frame('{"id":9,"method":3}'), SHUTDOWN, EXIT]));
  assert.equal(result.code, 0);
  const errors = result.messages.filter((m) => m.error);
  assert.deepStrictEqual(errors.map((m) => [m.id, m.error.code]), [[null, -32600], [9, -32600]]);
});

test('frames without a usable length end the server with status 1', async (t) => {
  const cases = [
    { name: 'no Content-Length', input: Buffer.from('Content-Type: x\r\n\r\n{}'), message: 'message header without Content-Length' },
    { name: 'length beyond the limit', input: Buffer.from('Content-Length: 99999999999\r\n\r\n'), message: 'exceeds the limit' },
    { name: 'input cut inside a message', input: Buffer.concat([INITIALIZE, Buffer.from('Content-Length: 50\r\n\r\n{"js')]), message: 'the input ended inside a message' },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const result = await run(c.input);
      assert.equal(result.code, 1);
      assert.match(result.stderr, new RegExp(c.message));
    });
  }
});

test('one frame at a time and many frames in one write read the same', async () => {
  const result = await run(Buffer.concat([INITIALIZE, INITIALIZED, SHUTDOWN, EXIT]));
  assert.equal(result.code, 0);
  assert.deepStrictEqual(result.messages.map((m) => m.id), [1, 2]);
});
