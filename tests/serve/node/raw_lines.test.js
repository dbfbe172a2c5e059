'use strict';
// Lines a client library would never send (malformed JSON, ids of the wrong kind, other versions, replies to
// nothing), written straight to `dravelin serve`, with the exact lines it answers.
const test = require('node:test');
const assert = require('node:assert/strict');
const { serveRaw } = require('./bridge');

const KNOWN = '"known":["program.load","judgment.run","task.start","run.next","run.resume","run.abort","run.inject"]';

const cases = [
  ['a blank line', '   \t', null],
  ['an opening brace', '{',
    '{"error":{"code":-32700,"data":{"detail":"EOF while parsing an object at line 1 column 1","kind":"parse_error"},"message":"parse error"},"id":null,"jsonrpc":"2.0"}'],
  ['an object and a word', '{} x',
    '{"error":{"code":-32700,"data":{"detail":"trailing characters at line 1 column 4","kind":"parse_error"},"message":"parse error"},"id":null,"jsonrpc":"2.0"}'],
  ['a boolean id', '{"jsonrpc":"2.0","id":true,"method":"run.next"}',
    '{"error":{"code":-32600,"data":{"detail":"id must be a string, number or null","kind":"invalid_request"},"message":"invalid request"},"id":null,"jsonrpc":"2.0"}'],
  ['version 1.0', '{"jsonrpc":"1.0","id":5,"method":"run.next"}',
    '{"error":{"code":-32600,"data":{"kind":"invalid_request"},"message":"invalid request"},"id":5,"jsonrpc":"2.0"}'],
  ['version 1.0 without id', '{"jsonrpc":"1.0","method":"run.next"}',
    '{"error":{"code":-32600,"data":{"kind":"invalid_request"},"message":"invalid request"},"id":null,"jsonrpc":"2.0"}'],
  ['a number as the message', '42',
    '{"error":{"code":-32600,"data":{"detail":"invalid type: integer `42`, expected struct Request","kind":"invalid_request"},"message":"invalid request"},"id":null,"jsonrpc":"2.0"}'],
  ['an unknown notification', '{"jsonrpc":"2.0","method":"nope"}', null],
  ['a capital R', '{"jsonrpc":"2.0","id":"x","method":"Run.next"}',
    `{"error":{"code":-32601,"data":{"kind":"method_not_found",${KNOWN},"method":"Run.next"},"message":"method not found"},"id":"x","jsonrpc":"2.0"}`],
  ['missing run_id', '{"jsonrpc":"2.0","id":1,"method":"run.next","params":{}}',
    '{"error":{"code":-32602,"data":{"kind":"invalid_params"},"message":"invalid parameters: missing field `run_id`"},"id":1,"jsonrpc":"2.0"}'],
  ['an id beyond 2^53', '{"jsonrpc":"2.0","id":9007199254740993,"method":"run.next","params":["r"]}',
    '{"error":{"code":-32602,"data":{"kind":"invalid_params"},"message":"unknown run_id `r`"},"id":9007199254740993,"jsonrpc":"2.0"}'],
  ['an id with a fraction', '{"jsonrpc":"2.0","id":2.50,"method":"run.next","params":["r"]}',
    '{"error":{"code":-32602,"data":{"kind":"invalid_params"},"message":"unknown run_id `r`"},"id":2.50,"jsonrpc":"2.0"}'],
  // The SDK host's late reply to a capability call that has ended: answering it would put an error under an
  // id of the host's own numbering.
  ['a late reply', '{"jsonrpc":"2.0","id":7,"result":1}', null],
  ['a late error reply', '{"jsonrpc":"2.0","id":7,"error":{"code":-1,"message":"x"}}', null],
];

for (const [name, line, reply] of cases) {
  test(`${name} is answered with exactly one line, or none`, () => {
    const served = serveRaw([line]);
    assert.equal(served.status, 0, served.stderr);
    assert.deepStrictEqual(served.lines, reply === null ? [] : [reply]);
  });
}

test('lines are answered in order, blank ones skipped, and the end of input while idle ends with status 0', () => {
  const served = serveRaw([
    '',
    '  {"jsonrpc":"2.0","id":1,"method":"program.load","params":{"source":"program p\\n\\ntask main:\\n  stop \\"x\\"\\n"}}  ',
    '{"jsonrpc":"2.0","id":7,"result":1}',
    '{"jsonrpc":"2.0","method":"program.load","params":{"source":"program q\\n"}}',
    '{"jsonrpc":"2.0","id":2,"method":"program.load","params":["program r\\n"]}',
  ]);
  assert.equal(served.status, 0);
  assert.deepStrictEqual(
    served.lines.map((l) => JSON.parse(l)).map((m) => [m.id, m.result && m.result.program_id]),
    [
      [1, 'program_1'],
      [2, 'program_3'],
    ],
  );
  // Everything but protocol lines goes to stderr: the dropped reply is noted there.
  assert.match(served.stderr, /dropped a response/);
});
