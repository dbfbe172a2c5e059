'use strict';
// The capability round trip of a run driven through the bridge: the SDK's library answers the bridge's
// `capability.call` requests, with results, errors and replies nested the wrong way, and aborts the run while
// the bridge waits for a reply.
//
// Runs reach their capabilities through the interpreter's capability verbs; where this build's interpreter
// does not perform them yet, the tests say so and are skipped.
const test = require('node:test');
const assert = require('node:assert/strict');
const { Bridge } = require('./bridge');

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

// Whether runs perform capability verbs in this build, asked once of a bridge whose host answers nothing.
let verbsChecked;
function verbsPerformed() {
  verbsChecked ??= (async () => {
    const bridge = new Bridge({ answer: () => ({ result: 'x' }) });
    try {
      const outcome = (await bridge.send('run.next', { run_id: await startFetch(bridge) })).result;
      return !(outcome.kind === 'error' && /capability verbs are not supported yet/.test(outcome.message));
    } finally {
      await bridge.end();
    }
  })();
  return verbsChecked;
}

async function skipUnlessVerbs(t) {
  if (!(await verbsPerformed())) {
    t.skip('the interpreter of this build does not perform capability verbs yet');
    return true;
  }
  return false;
}

test('capability calls go to the SDK with rising ids, and each call event follows its reply', async (t) => {
  if (await skipUnlessVerbs(t)) return;
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

test('error replies and replies nested the wrong way end the run with an adapter error', async (t) => {
  if (await skipUnlessVerbs(t)) return;
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
  // A result that is no object carries no `result` member: the call gives none.
  const bare = new Bridge({ answer: () => 7 });
  try {
    const outcome = (await bare.send('run.next', { run_id: await startFetch(bare) })).result;
    assert.equal(outcome.kind, 'done', JSON.stringify(outcome));
    assert.deepStrictEqual(outcome.outputs, { first: null, second: null });
  } finally {
    await bare.end();
  }
});

test('a run.abort sent while the bridge awaits a reply is answered at once and the run stops', async (t) => {
  if (await skipUnlessVerbs(t)) return;
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

test('after an abort the bridge awaits the reply for a grace period only, then the run stops', async (t) => {
  if (await skipUnlessVerbs(t)) return;
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
