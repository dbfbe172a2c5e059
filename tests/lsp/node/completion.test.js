'use strict';
// Completion in each context through the client library: the cursor is where "|" stands in the text.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Server, fileUri } = require('./client');
const { makeWorkspace, positionOf } = require('./workspace');

const PROGRAM = [
  'program p',
  'use "./lib/texts.zem" as texts',
  'needs web: tool',
  'needs bot: agent',
  'in req: {title: text}',
  'out reply',
  '',
  'judgment classify(t):',
  '  kind = t pick:',
  '    bug "a defect"',
  '    other',
  '  level = t rate:',
  '    low "calm"',
  '    high "urgent"',
  '',
  'machine follow(t):',
  '  state open:',
  '    on go "advance" -> shut',
  '  state shut done',
  '',
  'task main(limit = 3):',
  '  r = classify(req)',
  '  m = follow(req)',
  '  h = bot.spawn prompt "go"',
  '  c = req pick:',
  '    yes "y"',
  '    no "n"',
  '    other',
  '  web.fetch(1)',
  '  web.store(2)',
  '',
].join('\n');

test('completion offers what fits each context', async (t) => {
  const ws = makeWorkspace();
  const server = new Server();
  t.after(() => server.kill());
  await server.initialize({ folders: [ws.dir] });
  let documents = 0;
  const complete = async (marked) => {
    const text = marked.replace('|', '');
    const uri = fileUri(path.join(ws.dir, 'doc' + ++documents + '.zem'));
    await server.open(uri, text);
    const items = await server.request('textDocument/completion', { textDocument: { uri }, position: positionOf(marked, '|') });
    assert.ok(Array.isArray(items), 'an array, never a list object');
    return items;
  };
  const labels = async (marked) => (await complete(marked)).map((i) => i.label);

  const declarations = ['program', 'use', 'in', 'out', 'needs', 'judgment', 'task', 'def', 'machine'];
  assert.deepStrictEqual(await labels(PROGRAM + '|'), declarations);
  assert.deepStrictEqual(await labels(PROGRAM + 'ta|'), declarations);
  assert.deepStrictEqual((await complete(PROGRAM + 'ta|'))[7], {
    label: 'def', kind: 14, detail: 'def <name>(<param>, <param> = <default>, ...):',
    documentation: { kind: 'markdown', value: 'A helper without capability calls, gates or pauses. It may judge, and it may recurse up to the runtime\'s depth limit. *Spec section 8.*' },
    sortText: '9def',
  });

  const general = await complete(PROGRAM + '  x = |');
  assert.deepStrictEqual(general.slice(0, 17).map((i) => i.label), [
    'c', 'h', 'limit', 'm', 'r', 'reply', 'req', 'bot', 'web', 'classify', 'follow', 'main', 'texts', 'focus_impl', 'repeats', 'stuck', 'std',
  ]);
  assert.deepStrictEqual(general[0], { label: 'c', kind: 6, detail: 'c = req pick', sortText: '0c' });
  assert.deepStrictEqual(general.find((i) => i.label === 'stuck'), { label: 'stuck', labelDetails: { description: 'std' }, kind: 3, detail: 'def stuck(steps)' });
  assert.deepStrictEqual(general.filter((i) => i.label === 'max'), [{ label: 'max', kind: 3, detail: 'max(xs)', documentation: { kind: 'markdown', value: 'The largest of a list of numbers. An empty list gives `none`.' } }]);
  assert.equal(general[general.length - 1].label, 'log');

  const cases = [
    ['judgment results', '  x = r.|', ['kind', 'level']],
    ['the fields of a pick answer', '  x = r.kind.|', ['label', 'confidence', 'probabilities']],
    ['the fields of a machine call', '  x = m.|', ['state', 'steps', 'done', 'verified', 'events']],
    ['agent handle methods', '  x = h.|', ['observe', 'send', 'wait', 'stop']],
    ['observation fields', '  x = h.observe.|', ['status', 'last_message', 'tail', 'exit_code']],
    ['agent verbs', '  bot.|', ['spawn', 'observe', 'send', 'wait', 'stop']],
    ['verbs of an open tool found in the text', '  web.|', ['fetch', 'store']],
    ['the units and aliases of a module', '  x = texts.|', ['tidy', 'inner']],
    ['input fields', '  x = req.|', ['title']],
    ['log levels', '  log |', ['debug', 'info', 'warn', 'error']],
    ['labels of an inline pick', '  x = c is |', ['yes', 'no']],
    ['labels of a judgment result', '  x = r.kind is |', ['bug']],
    ['every label for an unknown name', '  x = z is |', ['bug', 'low', 'high', 'yes', 'no']],
  ];
  for (const [name, line, expected] of cases) assert.deepStrictEqual(await labels(PROGRAM + line), expected, name);

  assert.deepStrictEqual(await labels(PROGRAM + 'needs a:|'), ['agent', 'person', 'llm', 'tool']);
  const states = await complete('program p\nmachine m():\n  state a:\n    on go "x" -> |\n  state b done\n');
  assert.deepStrictEqual(states.map((i) => [i.label, i.kind, i.detail]).sort(), [['a', 20, 'state a'], ['b', 20, 'state b']]);
  const field = (await complete(PROGRAM + '  x = m.|'))[0];
  assert.deepStrictEqual(field, { label: 'state', kind: 5, detail: 'machine result field', documentation: { kind: 'markdown', value: '*Spec section 7.8.*' } });
  assert.equal((await server.shutdownAndExit()).code, 0);
});
