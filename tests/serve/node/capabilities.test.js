'use strict';
// The capability round trip of a run driven through the bridge: the SDK's library answers the bridge's
// `capability.call` requests, with results, errors and replies nested the wrong way, aborts the run while
// the bridge waits for a reply, and injects messages into runs that wait on an agent.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { Bridge, serveRaw, tempDir } = require('./bridge');

const FETCH = `program fetch
out first
out second
needs files: tool:
  read(path) -> text

task main:
  first = files.read("a.txt")
  second = files.read("b.txt")
`;

async function startFetch(bridge) {
  const program_id = await bridge.load(FETCH);
  const started = await bridge.send('task.start', {
    program_id,
    name: 'main',
    bindings: [{ name: 'files', kind: 'tool' }],
  });
  return started.result.run_id;
}

test('capability calls go to the SDK with rising ids, and each call event follows its reply', async () => {
  const asked = [];
  const bridge = new Bridge({
    answer: (method, params) => {
      asked.push([method, params]);
      return { result: 'text of ' + params.args.positional[0] };
    },
  });
  try {
    const run_id = await startFetch(bridge);
    const done = await bridge.send('run.next', { run_id });
    assert.equal(done.result.kind, 'done', JSON.stringify(done.result));
    assert.deepStrictEqual(done.result.outputs, { first: 'text of a.txt', second: 'text of b.txt' });
    assert.deepStrictEqual(asked[0], [
      'capability.call',
      { args: { positional: ['a.txt'] }, capability: 'files', run_id, verb: 'read' },
    ]);
    const requests = bridge.lines.filter((m) => m.method === 'capability.call');
    assert.equal(requests[1].id, requests[0].id + 1);
    const firstRequest = bridge.lines.indexOf(requests[0]);
    const firstCall = bridge.lines.findIndex((m) => m.method === 'event' && m.params.event.event === 'call');
    assert.ok(firstRequest < firstCall);

    // A second run continues the numbering.
    await bridge.send('run.next', { run_id: await startFetch(bridge) });
    const later = bridge.lines.filter((m) => m.method === 'capability.call');
    assert.equal(later[2].id, requests[1].id + 1);
  } finally {
    await bridge.end();
  }
});

test('error replies and replies nested the wrong way end the run with an adapter error', async () => {
  const cases = [
    ['an error inside the result', () => ({ error: { message: 'quota', retryable: true } }), 'quota'],
    ['a thrown error', () => { throw new Error('boom'); }, 'boom'],
    ['an error without a message', () => ({ error: { retryable: 'yes' } }), 'adapter error'],
  ];
  for (const [name, answer, message] of cases) {
    const bridge = new Bridge({ answer });
    try {
      const outcome = (await bridge.send('run.next', { run_id: await startFetch(bridge) })).result;
      assert.equal(outcome.kind, 'error', name);
      assert.equal(outcome.code, 'adapter_error', name);
      assert.equal(outcome.message, message, name);
    } finally {
      await bridge.end();
    }
  }
  // A result that is no object carries no `result` member: the call gives none, which a tool declared to
  // return text may not.
  const bare = new Bridge({ answer: () => 7 });
  try {
    const outcome = (await bare.send('run.next', { run_id: await startFetch(bare) })).result;
    assert.equal(outcome.kind, 'error', JSON.stringify(outcome));
    assert.equal(outcome.code, 'type_error');
    assert.equal(outcome.message, '`files.read` is declared to return text but the adapter returned none');
  } finally {
    await bare.end();
  }
});

test('a run.abort sent while the bridge awaits a reply is answered at once and the run stops', async () => {
  let bridge;
  let run_id;
  let abortAnswer;
  bridge = new Bridge({
    answer: async () => {
      abortAnswer = await bridge.send('run.abort', { run_id });
      return { result: 'late' };
    },
  });
  try {
    run_id = await startFetch(bridge);
    const outcome = await bridge.send('run.next', { run_id });
    assert.deepStrictEqual(abortAnswer.result, { ok: true });
    assert.ok(abortAnswer.at < outcome.at, 'the abort is answered before the pending run.next');
    assert.equal(outcome.result.kind, 'stopped', JSON.stringify(outcome.result));
    assert.equal(bridge.lines.filter((m) => m.method === 'capability.call').length, 1);
  } finally {
    await bridge.end();
  }
});

// Lines a library would not send while it waits for the bridge, written while the bridge waits for it.
const WHILE_WAITING = [
  '["2.0","positional","run.next",["run_0_0"]]',
  '[{"jsonrpc":"2.0","id":"in-batch","method":"run.next","params":{"run_id":"run_0_0"}}]',
  '{"jsonrpc":"2.0","id":"numbered","method":7,"params":{}}',
  '{"jsonrpc":"2.0","id":"no-method"}',
];

test('lines that are no reply, sent while a call waits, are served after run.next as an idle bridge serves them', async () => {
  let bridge;
  let first = true;
  bridge = new Bridge({
    answer: (method, params) => {
      if (first) {
        first = false;
        for (const line of WHILE_WAITING) bridge.write(line);
        // A reply to a request the bridge never made, and to the one it made as a string.
        bridge.write('{"jsonrpc":"2.0","id":999999,"result":{"result":"stale"}}');
        const asked = bridge.lines.filter((m) => m.method === 'capability.call').pop();
        bridge.write(JSON.stringify({ jsonrpc: '2.0', id: String(asked.id), result: { result: 'stale' } }));
      }
      return { result: 'text of ' + params.args.positional[0] };
    },
  });
  try {
    const run_id = await startFetch(bridge);
    const done = await bridge.send('run.next', { run_id });
    assert.equal(done.result.kind, 'done', JSON.stringify(done.result));
    assert.deepStrictEqual(done.result.outputs, { first: 'text of a.txt', second: 'text of b.txt' });
    // Queued lines are served before stdin is read again, so this answer follows theirs.
    const after = await bridge.send('run.next', { run_id: 'run_0_1' });
    const idle = serveRaw(WHILE_WAITING);
    assert.equal(idle.status, 0, idle.stderr);
    assert.equal(idle.lines.length, WHILE_WAITING.length);
    assert.deepStrictEqual(bridge.raw.slice(done.at + 1, after.at), idle.lines);

    // stderr is a pipe of its own: its lines may arrive after the answers.
    const notes = () => bridge.stderr.split('\n').filter((l) => l.includes('dropped a response'));
    for (let i = 0; i < 100 && notes().length < 2; ++i) await new Promise((resolve) => setTimeout(resolve, 20));
    assert.equal(notes().length, 2, bridge.stderr);
    assert.match(notes()[0], /^dravelin serve: dropped a response to id 999999 while a capability call waited for id \d+$/);
    assert.match(notes()[1], /^dravelin serve: dropped a response to id "\d+" while a capability call waited for id \d+$/);
  } finally {
    await bridge.end();
  }
});

test('a positional run.abort of the waiting run is answered at once and the run stops', async () => {
  let bridge;
  let run_id;
  bridge = new Bridge({
    answer: () => {
      bridge.write(JSON.stringify(['2.0', 'abort-1', 'run.abort', [run_id]]));
      return { result: 'late' };
    },
  });
  try {
    run_id = await startFetch(bridge);
    const outcome = await bridge.send('run.next', { run_id });
    const aborted = bridge.lines.findIndex((m) => m.id === 'abort-1');
    assert.ok(aborted >= 0 && aborted < outcome.at, 'the abort is answered before the pending run.next');
    assert.deepStrictEqual(bridge.lines[aborted].result, { ok: true });
    assert.equal(outcome.result.kind, 'stopped', JSON.stringify(outcome.result));
    assert.equal(bridge.lines.filter((m) => m.method === 'capability.call').length, 1);
  } finally {
    await bridge.end();
  }
});

test('after an abort the bridge awaits the reply for a grace period only, then the run stops', async () => {
  let bridge;
  let run_id;
  bridge = new Bridge({
    answer: async () => {
      await bridge.send('run.abort', { run_id });
      return new Promise(() => {});  // never answered
    },
  });
  try {
    run_id = await startFetch(bridge);
    const outcome = await bridge.send('run.next', { run_id });
    assert.equal(outcome.result.kind, 'stopped', JSON.stringify(outcome.result));
  } finally {
    await bridge.end();
  }
});

const WAITS = `program waits
out first
out second
needs coder: agent

task main:
  h = coder.spawn "fix it"
  a = h.wait()
  b = h.wait()
  first = a.last_message
  second = b.last_message
`;

// An agent whose waits report the last message it was sent; `asked` collects the verbs.
function agent(asked) {
  let last = 'idle';
  return (method, params) => {
    asked.push(params.verb);
    if (params.verb === 'spawn') return { result: { capability: 'coder', id: 'w-1' } };
    if (params.verb === 'send') {
      last = params.args.positional[1];
      return { result: null };
    }
    return { result: { status: 'running', last_message: last, tail: '...' } };
  };
}

test('run.inject into a replay stopped before its recording ends is refused; at the end it is sent', async () => {
  const dir = tempDir();
  const recording = path.join(dir, 'waits.jsonl');
  const bindings = [{ name: 'coder', kind: 'agent' }];
  try {
    // The recording holds both waits with a message injected at each and ends at the second.
    const recorder = new Bridge({ answer: agent([]) });
    try {
      const program_id = await recorder.load(WAITS);
      const run_id = (await recorder.send('task.start', { program_id, name: 'main', bindings, record: recording })).result.run_id;
      for (const message of ['one', 'two']) {
        assert.equal((await recorder.send('run.next', { run_id })).result.kind, 'waiting');
        assert.deepStrictEqual((await recorder.send('run.inject', { run_id, capability: 'coder', message })).result, { ok: true });
      }
    } finally {
      await recorder.end();
    }

    const asked = [];
    const bridge = new Bridge({ answer: agent(asked) });
    try {
      const program_id = await bridge.load(WAITS);
      const started = await bridge.send('task.start', { program_id, name: 'main', bindings, replay: recording });
      const run_id = started.result.run_id;
      assert.equal((await bridge.send('run.next', { run_id })).result.kind, 'waiting');
      const refused = await bridge.send('run.inject', { run_id, capability: 'coder', message: 'too soon' });
      assert.ok(refused.error, JSON.stringify(refused.result));
      assert.equal(refused.error.code, -32010);
      assert.equal(refused.error.data.kind, 'replay_diverged');
      assert.equal(
        refused.error.message,
        'a message cannot be injected into `coder` here: the recording being replayed continues past this pause',
      );
      assert.deepStrictEqual(asked, [], 'the agent was sent nothing');
      assert.deepStrictEqual(bridge.events, [], 'nothing was recorded');

      // The replay goes on as recorded to the second wait, where the recording ends.
      assert.equal((await bridge.send('run.next', { run_id })).result.kind, 'waiting');
      assert.deepStrictEqual((await bridge.send('run.inject', { run_id, capability: 'coder', message: 'three' })).result, { ok: true });
      const done = await bridge.send('run.next', { run_id });
      assert.equal(done.result.kind, 'done', JSON.stringify(done.result));
      assert.deepStrictEqual(done.result.outputs, { first: 'one', second: 'three' });
      assert.deepStrictEqual(asked, ['send', 'wait']);
    } finally {
      await bridge.end();
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
