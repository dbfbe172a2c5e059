'use strict';
// Hover, definition and references across the files of a workspace, through the client library.
const test = require('node:test');
const assert = require('node:assert/strict');
const { Server } = require('./client');
const { makeWorkspace, positionOf, range } = require('./workspace');

async function opened(t) {
  const ws = makeWorkspace();
  const server = new Server();
  t.after(() => server.kill());
  await server.initialize({ folders: [ws.dir] });
  await server.open(ws.uris.main, ws.texts.main);
  const at = (needle, within = 0, nth = 0) => ({ textDocument: { uri: ws.uris.main }, position: positionOf(ws.texts.main, needle, within, nth) });
  return { ws, server, at };
}

test('every kind of name resolves to its declaration, in this file or another', async (t) => {
  const { ws, server, at } = await opened(t);
  const main = ws.uris.main;
  const cases = [
    ['a unit', at('classify(ticket'), [main, range(8, 9, 8, 17)]],
    ['a judgment parameter named in a call', at('ticket: req'), [main, range(8, 18, 8, 24)]],
    ['an input', at('req.title)'), [main, range(4, 3, 4, 6)]],
    ['an input field', at('req.title)', 4), [main, range(4, 9, 4, 14)]],
    ['an output', at('reply = texts'), [main, range(5, 4, 5, 9)]],
    ['a capability', at('web.fetch'), [main, range(2, 6, 2, 9)]],
    ['a module alias', at('texts.tidy'), [main, range(1, 25, 1, 30)]],
    ['a unit of the module', at('tidy(req'), [ws.uris.texts, range(5, 4, 5, 8)]],
    ['an alias of the module', at('inner.deep', 1), [ws.uris.texts, range(1, 21, 1, 26)]],
    ['a unit of a module of the module', at('deep()'), [ws.uris.inner, range(2, 4, 2, 8)]],
    ['a library capability in a `with` mapping', at('fetcher:'), [ws.uris.texts, range(2, 6, 2, 13)]],
    ['a local def that shadows the prelude', at('stuck(t)'), [main, range(13, 4, 13, 9)]],
    ['a machine state', at('-> shut', 3), [main, range(19, 8, 19, 12)]],
    ['a label through a unit result', at('is bug', 3), [main, range(10, 4, 10, 7)]],
    ['a judgment result through a unit result', at('r.kind', 2), [main, range(9, 2, 9, 6)]],
    ['a comprehension variable', at('[x for', 1), [main, range(26, 14, 26, 15)]],
    ['a variable', at('len(xs)', 4), [main, range(26, 2, 26, 4)]],
    ['a `use` path', at('"./lib/texts', 2), [ws.uris.texts, range(0, 0, 0, 0)]],
    ['a prelude def', at('repeats'), null],
    ['a built-in function', at('len(xs)'), null],
    ['an agent verb', at('spawn'), null],
  ];
  for (const [name, params, expected] of cases) {
    const got = await server.request('textDocument/definition', params);
    assert.deepStrictEqual(got, expected ? [{ uri: expected[0], range: expected[1] }] : [], name);
  }
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('hover names where a declaration lives and what it holds', async (t) => {
  const { ws, server, at } = await opened(t);
  const hover = async (params) => (await server.request('textDocument/hover', params))?.contents.value;
  assert.equal(await hover(at('classify(ticket')),
    '```dravelin\njudgment classify(ticket)\n```\n*judgment* \u2014 spec section 6.7\n\nPicks the kind of a ticket.\n\nReturns a record of:\n- `kind = ticket pick`\n');
  assert.equal(await hover(at('tidy(req')),
    '```dravelin\ndef tidy(t)\n```\n*def* in `' + ws.paths.texts + '` \u2014 spec section 8\n\nReturns the text as it is.\n');
  assert.equal(await hover(at('texts.tidy')),
    '```dravelin\nuse "./lib/texts.zem" as texts with fetcher: web\n```\n*module* \u2014 spec section 3.9\n\nResolves to `' + ws.paths.texts + '`.\n');
  assert.equal(await hover(at('follow(t)')),
    '```dravelin\nmachine follow(t)\n```\n*machine* \u2014 spec section 7.8\n\nStates:\n- `state open`\n- `state shut done`\n\nA call returns `{ state, steps, done, verified, events }` (spec section 7.8).\n');
  const prelude = await hover(at('repeats'));
  assert.ok(prelude.startsWith('```dravelin\ndef repeats(steps)\n```\n*def* in the prelude `std` \u2014 spec section 8\n\n```dravelin\ndef repeats(steps):\n'), prelude);
  const result = await server.request('textDocument/hover', at('r.kind', 2));
  assert.deepStrictEqual(result, {
    contents: { kind: 'markdown', value: '```dravelin\nkind = ticket pick\n```\n*judgment result* \u2014 spec section 6.7\n\nLabels:\n- `bug "a defect"`\n' },
    range: range(24, 7, 24, 11),
  });
  assert.equal(await server.request('textDocument/hover', at('  r =', 1)), null);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('references: across the workspace for units, within the file for locals, in URI and position order', async (t) => {
  const { ws, server, at } = await opened(t);
  const references = (params, includeDeclaration) => server.request('textDocument/references', { ...params, context: { includeDeclaration } });
  const tidy = [
    { uri: ws.uris.texts, range: range(5, 4, 5, 8) },
    { uri: ws.uris.main, range: range(25, 18, 25, 22) },
    { uri: ws.uris.other, range: range(4, 11, 4, 15) },
  ].sort((a, b) => (a.uri < b.uri ? -1 : a.uri > b.uri ? 1 : 0));
  assert.deepStrictEqual(await references(at('tidy(req'), true), tidy);
  assert.deepStrictEqual(await references(at('tidy(req'), false), tidy.filter((l) => l.uri !== ws.uris.texts));
  assert.deepStrictEqual(await references(at('len(xs)', 4), false), [{ uri: ws.uris.main, range: range(27, 10, 27, 12) }]);
  assert.deepStrictEqual(await references(at('bug "a'), true), [
    { uri: ws.uris.main, range: range(10, 4, 10, 7) },
    { uri: ws.uris.main, range: range(24, 15, 24, 18) },
  ]);
  assert.deepStrictEqual(await references(at('  r =', 1), true), []);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('hover explains the language\'s own words from its tables', async (t) => {
  const server = new Server();
  t.after(() => server.kill());
  await server.initialize();
  const uri = 'untitled:words';
  const text = [
    'program p',
    'needs bot: agent',
    'needs boss: person',
    'needs pen: llm',
    'needs web: tool',
    '',
    'task main(xs):',
    '  h = bot.spawn prompt "go"',
    '  h.send "hi"',
    '  a = boss.ask "ok?"',
    '  d = pen.write "a poem" using xs',
    '  web.anything(1)',
    '  n = count(xs, above 0.5)',
    '  until n > 3, max 2:',
    '    log debug n',
    '  return tail("abc", 2)',
    '',
  ].join('\n');
  await server.open(uri, text);
  const cases = [
    ['spawn', 'spawn in <handle>?, prompt <text>, ...', 'Starts an agent and returns its `handle`. Adapter-specific named arguments after `prompt` pass through unchecked.', '9.1'],
    ['send', '<handle>.send <text>', 'Sends the agent a message.', '9.1'],
    ['.ask', 'ask <text>, options [<text>...]?', 'Pauses with `confirm` and returns a `pause_result`.', '9.2'],
    ['write', 'write "<instruction>" using <value>?', 'Generates text. `using` is forwarded to the adapter as is; each `write` counts one call against the task budget.', '9.3'],
    ['anything', '<tool>.<verb> ...', 'A verb forwarded to the host adapter. Checked against a signature block if the `needs` declares one, against the adapter\'s manifest at `task.start`, and otherwise at the call (`verb_missing`).', '9.4'],
    ['count', 'count(probs, above p)', 'Number of entries in a list of probs strictly above `p`. Also `below p`.', '5.7'],
    ['above', 'count(<probs>, above <p>) | count(<probs>, below <p>)', 'The strict threshold `count` compares each prob against.', '5.7'],
    ['until', 'until <cond>, max <n>: | until verify(<cond>), max <n>:', 'Runs the body until the condition is true, at most n times. The condition is checked before each iteration and once after the last.', '5.5'],
    ['debug', 'log debug | info | warn | error <expr>', 'The lowest `log` level: detail for whoever is debugging the program.', '5.8'],
    ['tail(', 'tail(text, n)', 'The last `n` characters.', '5.7'],
    ['person', 'person', 'A human in the loop. Verbs: `ask`, `notify`, `take_over`.', '9.2'],
    ['llm', 'llm', 'A text generation model. Verb: `write`.', '9.3'],
    ['needs web', 'needs <name>: agent | person | llm | tool', 'Declares a capability the host binds. Its kind fixes which verbs the compiler accepts; capability names cannot be reassigned.', '3.4'],
    ['using', '<llm>.write "<instruction>" using <value>', 'Forwards a value to the `llm` adapter alongside the instruction, as the named `using` argument.', '9.3'],
  ];
  for (const [needle, signature, documentation, section] of cases) {
    const hover = await server.request('textDocument/hover', { textDocument: { uri }, position: positionOf(text, needle, needle.startsWith('.') ? 1 : 0) });
    assert.equal(hover?.contents.value, '```dravelin\n' + signature + '\n```\n' + documentation + '\n\n*Spec section ' + section + '.*', needle);
  }
  assert.equal((await server.shutdownAndExit()).code, 0);
});
