'use strict';
// The bridge's seven methods driven through a stock JSON-RPC client: programs, judgments against the local
// model service, runs with their pauses, resumes and aborts, recordings, and the events streamed meanwhile.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { Bridge, startModelService, tempDir } = require('./bridge');

const GATE = `program refund
in amount: number
out decision

task main thresholds risk_confirm 0.5:
  log info "refund requested" {amount}
  r = amount / 1000
  gate risk r, confidence 0.9:
    proceed -> log info "small refund"
  decision = "refund of {amount} approved"
`;

const DESK = `program desk
in ticket: {title: text, body: text}
out kind
needs helper: agent
needs files: tool:
  open(path) -> handle
  read(path) -> text

judgment triage(ticket):
  kind = ticket.body pick:
    bug "a defect in something that exists"
    feature "a wish for something new"
    other
  log info "picked" {kind}
  urgent = ticket feels "someone is blocked right now"
  mood = ticket.body rate:
    calm "the reporter writes patiently"
    angry "the reporter is hostile"

task main:
  kind = ticket.body pick:
    bug "a defect in something that exists"
    other
  log info "sorted" {kind}
`;

const TICKET = { title: 'crash', body: 'the app crashes on start' };

function errorOf(response) {
  assert.ok(response.error, 'expected an error, got ' + JSON.stringify(response.result));
  return { code: response.error.code, message: response.error.message, kind: response.error.data.kind };
}

test('program.load numbers the programs that compile and describes their interface', async () => {
  const bridge = new Bridge();
  try {
    const first = await bridge.send('program.load', { source: DESK });
    assert.deepStrictEqual(Object.keys(first.result), ['inputs', 'judgments', 'name', 'needs', 'program_id']);
    assert.equal(first.result.program_id, 'program_1');
    assert.equal(first.result.name, 'desk');
    assert.deepStrictEqual(first.result.needs, [
      { kind: 'agent', name: 'helper' },
      { kind: 'tool', name: 'files' },
    ]);
    assert.deepStrictEqual(first.result.inputs.map((i) => i.name), ['ticket']);
    assert.equal(first.result.inputs[0].shape.shape, 'record');
    const [triage] = first.result.judgments;
    assert.deepStrictEqual(triage.params, ['ticket']);
    assert.match(triage.shape_hash, /\S/);
    assert.deepStrictEqual(triage.results, [
      { each: false, labels: ['bug', 'feature', 'other'], name: 'kind', verb: 'pick' },
      { each: false, name: 'urgent', verb: 'feels' },
      { each: false, levels: [{ index: 0, name: 'calm' }, { index: 1, name: 'angry' }], name: 'mood', verb: 'rate' },
    ]);
    // Members come out in byte order of their names, at every level.
    const line = bridge.raw[first.at];
    assert.ok(line.startsWith('{"id":"sdk-1","jsonrpc":"2.0","result":{"inputs":[{"name":"ticket","shape":'), line);

    const broken = await bridge.send('program.load', { source: 'program p\n\ntask main:\n  loop:\n    x = 1\n' });
    assert.equal(broken.error.code, -32020);
    assert.equal(broken.error.data.kind, 'compile_error');
    assert.equal(broken.error.message, broken.error.data.diagnostics[0].message);
    assert.equal(broken.error.data.diagnostics[0].code, 'unbounded_loop');

    const dir = tempDir();
    const file = path.join(dir, 'gate.zem');
    fs.writeFileSync(file, GATE);
    const second = await bridge.send('program.load', { path: file });
    assert.equal(second.result.program_id, 'program_2', 'a failed load takes no number');
    const missing = await bridge.send('program.load', { path: path.join(dir, 'absent.zem') });
    assert.equal(missing.error.code, -32020);
    assert.match(missing.error.message, /^cannot read `.*absent\.zem`: /);
    fs.rmSync(dir, { recursive: true });

    for (const params of [{}, { source: GATE, path: 'gate.zem' }]) {
      assert.deepStrictEqual(errorOf(await bridge.send('program.load', params)), {
        code: -32602,
        message: 'program.load requires exactly one of `source` or `path`',
        kind: 'invalid_params',
      });
    }
    assert.deepStrictEqual(errorOf(await bridge.send('program.load', { paths: 'lib' })), {
      code: -32602,
      message: 'invalid parameters: invalid type: string "lib", expected a sequence',
      kind: 'invalid_params',
    });
  } finally {
    assert.equal((await bridge.end()).code, 0);
  }
});

test('judgment.run asks the local model service and returns its answers and logs', async () => {
  const service = await startModelService();
  const bridge = new Bridge({ env: service.env });
  try {
    const id = await bridge.load(DESK);
    const answered = await bridge.send('judgment.run', { program_id: id, name: 'triage', state: { ticket: TICKET } });
    assert.ok(answered.result, JSON.stringify(answered.error));
    assert.deepStrictEqual(Object.keys(answered.result.answers), ['kind', 'mood', 'urgent']);
    assert.equal(answered.result.answers.kind.$zem, 'choice');
    assert.equal(answered.result.answers.urgent.$zem, 'prob');
    assert.equal(answered.result.answers.mood.$zem, 'level');
    assert.equal(answered.result.logs.length, 1);
    assert.deepStrictEqual(Object.keys(answered.result.logs[0]), ['fields', 'level', 'message', 'source', 'task']);
    assert.equal(answered.result.logs[0].message, 'picked');
    assert.equal(service.requests().length, 1, 'one request for the three questions');

    const failures = [
      [{ program_id: 'program_7', name: 'triage', state: {} }, -32602, 'unknown program_id `program_7`', 'invalid_params'],
      [{ program_id: id, name: 'triage', state: {}, model: 'zem-none' }, -32010, null, 'profile_missing'],
      [{ program_id: id, name: 'triage', state: {} }, -32010, 'judgment `triage` needs `ticket` in the state', 'type_error'],
      [{ program_id: id, name: 'triage' }, -32602, 'invalid parameters: missing field `state`', 'invalid_params'],
    ];
    for (const [params, code, message, kind] of failures) {
      const failed = errorOf(await bridge.send('judgment.run', params));
      assert.equal(failed.code, code, JSON.stringify(params));
      assert.equal(failed.kind, kind, JSON.stringify(params));
      if (message) assert.equal(failed.message, message);
    }
  } finally {
    await bridge.end();
    service.stop();
  }
});

test('a run pauses, is resumed and ends, each response after the events it caused', async () => {
  const bridge = new Bridge();
  try {
    const program_id = await bridge.load(GATE);
    const before = bridge.lines.length;
    const started = await bridge.send('task.start', { program_id, name: 'main', inputs: { amount: 750 } });
    const run_id = started.result.run_id;
    assert.match(run_id, /^run_\d+_\d+$/);
    assert.deepStrictEqual(bridge.eventsBetween(before, started.at), [], 'task.start executes nothing');

    const paused = await bridge.send('run.next', { run_id });
    assert.equal(paused.result.kind, 'confirm');
    assert.equal(paused.result.run_id, run_id);
    const firstEvents = bridge.eventsBetween(started.at + 1, paused.at);
    assert.equal(firstEvents[0], 'start');
    assert.ok(firstEvents.includes('log') && firstEvents.includes('pause'), firstEvents.join(' '));
    for (const m of bridge.lines.slice(started.at + 1, paused.at)) {
      assert.equal(m.params.run_id, run_id);
      assert.equal(m.params.event.run_id, run_id);
    }

    const waiting = errorOf(await bridge.send('run.next', { run_id }));
    assert.deepStrictEqual(waiting, {
      code: -32011,
      message: 'a `confirm` pause cannot be resumed with this payload: the run is waiting to be resumed',
      kind: 'run_protocol',
    });
    const wrong = errorOf(await bridge.send('run.resume', { run_id, payload: { retry: true } }));
    assert.equal(wrong.code, -32011);
    assert.match(wrong.message, /^a `confirm` pause cannot be resumed with this payload: /);
    const notPayload = errorOf(await bridge.send('run.resume', { run_id, payload: 3 }));
    assert.equal(notPayload.message, 'invalid parameters: data did not match any variant of untagged enum Resume');

    const resumed = await bridge.send('run.resume', { run_id, payload: { answer: 'yes' } });
    assert.deepStrictEqual(resumed.result, { ok: true });
    assert.deepStrictEqual(bridge.eventsBetween(paused.at + 1, resumed.at), ['resume']);

    const done = await bridge.send('run.next', { run_id });
    assert.equal(done.result.kind, 'done');
    assert.deepStrictEqual(done.result.outputs, { decision: 'refund of 750 approved' });
    const secondEvents = bridge.eventsBetween(resumed.at + 1, done.at);
    assert.ok(!secondEvents.includes('start'), 'nothing before the pause is notified again: ' + secondEvents.join(' '));
    assert.equal(secondEvents[secondEvents.length - 1], 'end');

    const seqs = bridge.events.map((e) => e.event.seq);
    assert.deepStrictEqual(seqs, seqs.map((_, i) => i), 'every recorded event is notified once, in order');

    for (const method of ['run.next', 'run.abort']) {
      assert.deepStrictEqual(errorOf(await bridge.send(method, { run_id })), {
        code: -32011,
        message: 'the run has ended with `done`',
        kind: 'run_protocol',
      });
    }
    assert.deepStrictEqual(errorOf(await bridge.send('run.next', { run_id: 'run_1_999' })), {
      code: -32602,
      message: 'unknown run_id `run_1_999`',
      kind: 'invalid_params',
    });
  } finally {
    await bridge.end();
  }
});

test('run.abort stops a paused run and a run that never started', async () => {
  const bridge = new Bridge();
  try {
    const program_id = await bridge.load(GATE);
    const paused = (await bridge.send('task.start', { program_id, name: 'main', inputs: { amount: 750 } })).result.run_id;
    const pausedAt = (await bridge.send('run.next', { run_id: paused })).at;
    const aborted = await bridge.send('run.abort', { run_id: paused });
    assert.deepStrictEqual(aborted.result, { ok: true });
    const events = bridge.eventsBetween(pausedAt + 1, aborted.at);
    assert.ok(events.includes('abort') && events[events.length - 1] === 'end', events.join(' '));
    assert.equal(errorOf(await bridge.send('run.next', { run_id: paused })).message, 'the run has ended with `stopped`');
    const inject = errorOf(await bridge.send('run.inject', { run_id: paused, capability: 'helper', message: 'hi' }));
    assert.equal(inject.message, 'the run has ended with `stopped`');

    const idle = (await bridge.send('task.start', { program_id, name: 'main', inputs: { amount: 5 } })).result.run_id;
    const from = bridge.lines.length;
    const stopped = await bridge.send('run.abort', { run_id: idle });
    assert.deepStrictEqual(stopped.result, { ok: true });
    assert.equal(bridge.eventsBetween(from, stopped.at)[0], 'start');
    assert.equal(errorOf(await bridge.send('run.next', { run_id: idle })).message, 'the run has ended with `stopped`');
  } finally {
    await bridge.end();
  }
});

test('task.start refuses what does not fit the program, and nothing is stored', async () => {
  const bridge = new Bridge();
  try {
    const desk = await bridge.load(DESK);
    const both = { program_id: desk, name: 'main' };
    const helper = { name: 'helper', kind: 'agent' };
    const files = { name: 'files', kind: 'tool' };
    const cases = [
      ['unknown program', { program_id: 'program_9', name: 'main' }, -32602, 'unknown program_id `program_9`'],
      ['paths', { ...both, paths: ['lib'] }, -32602,
        '`paths` belongs to program.load; task.start uses the already linked program'],
      ['bound twice', { ...both, bindings: [files, { name: 'files', kind: 'agent' }] }, -32602,
        'capability `files` was bound more than once'],
      ['undeclared', { ...both, bindings: [{ name: 'mail', kind: 'tool' }] }, -32602, '`mail` is not a declared capability'],
      ['other kind', { ...both, bindings: [{ name: 'files', kind: 'robot' }] }, -32602,
        'capability `files` is `tool`, not `robot`'],
      ['unbound', { ...both, bindings: [helper] }, -32010, 'capability `files` was not bound'],
      ['missing verb', { ...both, bindings: [helper, { ...files, manifest: { verbs: { open: {} } } }] }, null, null],
      ['unknown task', { program_id: desk, name: 'nope', bindings: [helper, files] }, -32010,
        '`desk` declares no task `nope`'],
      ['bad inputs', { ...both, inputs: [] }, -32602, 'invalid parameters: invalid type: sequence, expected a map'],
      ['bad sample', { ...both, sample: { seed: -1 } }, -32602,
        'invalid parameters: data did not match any variant of untagged enum Sample'],
    ];
    for (const [name, params, code, message] of cases) {
      const response = await bridge.send('task.start', params);
      if (code === null) {
        // The program calls no verb of `files`, so a manifest without `read` is no reason to refuse.
        assert.ok(response.result, name + ': ' + JSON.stringify(response.error));
        continue;
      }
      const failed = errorOf(response);
      assert.equal(failed.code, code, name);
      assert.equal(failed.message, message, name);
    }
  } finally {
    await bridge.end();
  }
});

test('a run with a judgment asks the local model service between its request and answers events', async () => {
  const service = await startModelService();
  const bridge = new Bridge({ env: service.env });
  try {
    const program_id = await bridge.load(DESK);
    const run_id = (
      await bridge.send('task.start', {
        program_id,
        name: 'main',
        inputs: { ticket: TICKET },
        bindings: [
          { name: 'helper', kind: 'agent' },
          { name: 'files', kind: 'tool' },
        ],
      })
    ).result.run_id;
    const done = await bridge.send('run.next', { run_id });
    assert.equal(done.result.kind, 'done', JSON.stringify(done.result));
    assert.equal(done.result.outputs.kind.$zem, 'choice');
    const kinds = bridge.events.map((e) => e.event.event);
    assert.ok(kinds.indexOf('request') < kinds.indexOf('answers'), kinds.join(' '));
    assert.ok(kinds.indexOf('answers') < kinds.indexOf('log'), kinds.join(' '));
    assert.equal(service.requests().length, 1);
  } finally {
    await bridge.end();
    service.stop();
  }
});

test('task.start with record writes the recording, redacted on request, while the events stay whole', async () => {
  const dir = tempDir();
  const bridge = new Bridge();
  try {
    const program_id = await bridge.load(GATE);
    const recording = path.join(dir, 'run.jsonl');
    const params = { program_id, name: 'main', inputs: { amount: 5 }, record: recording, redact: true };
    const run_id = (await bridge.send('task.start', params)).result.run_id;
    assert.equal((await bridge.send('run.next', { run_id })).result.kind, 'done');
    const lines = fs.readFileSync(recording, 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l));
    assert.deepStrictEqual(lines.map((l) => l.seq), bridge.events.map((e) => e.event.seq));
    const recordedLog = lines.find((l) => l.event === 'log');
    const notifiedLog = bridge.events.find((e) => e.event.event === 'log').event;
    assert.ok(recordedLog.message.redacted, JSON.stringify(recordedLog));
    assert.equal(notifiedLog.message, 'refund requested');

    // A recording path is created new, never overwritten.
    const again = errorOf(await bridge.send('task.start', params));
    assert.equal(again.code, -32010);

    const both = errorOf(await bridge.send('task.start', { ...params, record: path.join(dir, 'b.jsonl'), replay: recording }));
    assert.deepStrictEqual(both, {
      code: -32010,
      message: 'the `record` and `replay` options are mutually exclusive',
      kind: 'type_error',
    });
    // The recorded run keeps its id in this bridge, so a replay of it here would be a second run of that id.
    const twice = errorOf(await bridge.send('task.start', { program_id, name: 'main', replay: recording }));
    assert.equal(twice.code, -32602, JSON.stringify(twice));
    assert.equal(twice.message, `a run with run_id \`${run_id}\` already exists`);
    const absent = await bridge.send('task.start', { program_id, name: 'main', replay: path.join(dir, 'absent.jsonl') });
    assert.equal(absent.error.code, -32010, JSON.stringify(absent));

    // In a bridge of its own the redacted recording replays, completed from its companion: every event is
    // served from the recording, none is produced again, so no notification is sent.
    const other = new Bridge();
    try {
      const again_id = await other.load(GATE);
      const started = await other.send('task.start', { program_id: again_id, name: 'main', replay: recording });
      assert.equal(started.result.run_id, run_id, JSON.stringify(started));
      assert.equal((await other.send('run.next', { run_id })).result.kind, 'done');
      assert.deepStrictEqual(other.events, []);
    } finally {
      await other.end();
    }
  } finally {
    await bridge.end();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// The event of a notification exactly as the bridge wrote it.
function rawEvent(line, run_id) {
  const prefix = '{"jsonrpc":"2.0","method":"event","params":{"event":';
  const suffix = `,"run_id":${JSON.stringify(run_id)}}}`;
  assert.ok(line.startsWith(prefix) && line.endsWith(suffix), line);
  return line.slice(prefix.length, line.length - suffix.length);
}

// Runs `run.next` until the run ends (a replay stops once at each recorded pause first).
async function runToEnd(bridge, run_id) {
  for (let i = 0; i < 4; ++i) {
    const outcome = await bridge.send('run.next', { run_id });
    assert.ok(outcome.result, JSON.stringify(outcome.error));
    if (['done', 'stopped', 'error'].includes(outcome.result.kind)) return outcome.result;
  }
  assert.fail('the run did not end');
}

test('a replay cut by another resume or an abort numbers its events on from the cut, and they replay', async () => {
  const dir = tempDir();
  try {
    const recording = path.join(dir, 'gate.jsonl');
    const recorder = new Bridge();
    try {
      const program_id = await recorder.load(GATE);
      const params = { program_id, name: 'main', inputs: { amount: 750 }, record: recording };
      const run_id = (await recorder.send('task.start', params)).result.run_id;
      assert.equal((await recorder.send('run.next', { run_id })).result.kind, 'confirm');
      await recorder.send('run.resume', { run_id, payload: { answer: 'yes' } });
      assert.equal((await recorder.send('run.next', { run_id })).result.kind, 'done');
    } finally {
      await recorder.end();
    }
    const lines = fs.readFileSync(recording, 'utf8').split('\n').filter(Boolean);
    const kinds = lines.map((l) => JSON.parse(l).event);
    const pause = kinds.indexOf('pause');
    assert.deepStrictEqual(kinds.slice(pause, pause + 3), ['pause', 'draw', 'resume']);

    const cases = [
      // The recorded resume and all after it give way to the new one.
      ['another resume', pause + 2, async (bridge, run_id) => {
        assert.equal((await bridge.send('run.next', { run_id })).result.kind, 'confirm');
        assert.deepStrictEqual((await bridge.send('run.resume', { run_id, payload: { answer: 'no' } })).result, { ok: true });
        return runToEnd(bridge, run_id);
      }],
      // The pause and the clock reading after it stay.
      ['an abort at the pause', pause + 2, async (bridge, run_id) => {
        assert.equal((await bridge.send('run.next', { run_id })).result.kind, 'confirm');
        assert.deepStrictEqual((await bridge.send('run.abort', { run_id })).result, { ok: true });
        return { kind: 'stopped' };
      }],
      ['an abort before the start', 0, async (bridge, run_id) => {
        assert.deepStrictEqual((await bridge.send('run.abort', { run_id })).result, { ok: true });
        return { kind: 'stopped' };
      }],
    ];
    for (const [name, kept, cut] of cases) {
      const bridge = new Bridge();
      let run_id;
      let end;
      try {
        const program_id = await bridge.load(GATE);
        run_id = (await bridge.send('task.start', { program_id, name: 'main', replay: recording })).result.run_id;
        end = await cut(bridge, run_id);
      } finally {
        await bridge.end();
      }
      const seqs = bridge.events.map((e) => e.event.seq);
      assert.ok(seqs.length > 0, name);
      assert.deepStrictEqual(seqs, seqs.map((_, i) => kept + i), `${name}: numbered on from the cut`);
      assert.equal(bridge.events[bridge.events.length - 1].event.event, 'end', name);

      // The recording's kept lines and the notified events make a recording of their own.
      const notified = bridge.raw.filter((l) => JSON.parse(l).method === 'event').map((l) => rawEvent(l, run_id));
      const again = path.join(dir, name.replace(/ /g, '-') + '.jsonl');
      fs.writeFileSync(again, [...lines.slice(0, kept), ...notified].map((l) => l + '\n').join(''));
      const replayer = new Bridge();
      try {
        const program_id = await replayer.load(GATE);
        const started = await replayer.send('task.start', { program_id, name: 'main', replay: again });
        assert.ok(started.result, `${name}: ${JSON.stringify(started.error)}`);
        assert.equal((await runToEnd(replayer, run_id)).kind, end.kind, name);
        assert.deepStrictEqual(replayer.events, [], `${name}: every event was served from the recording`);
      } finally {
        await replayer.end();
      }
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
