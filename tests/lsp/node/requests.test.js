'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { Server, rpc } = require('./client');

const DOC = 'untitled:outline';
const TEXT =
  '# Triage of tickets.\n' +
  '# Two comment lines.\n' +
  'program p\n' +
  'use "./a.zem" as a\n' +
  'use "./b.zem" as b\n' +
  'in req: {title: text}\n' +
  'needs web: tool:\n' +
  '  fetch(url) -> text\n' +
  '\n' +
  'judgment classify(req):\n' +
  '  urgent = req feels "blocked"\n' +
  '\n' +
  'task main(limit = 3):\n' +
  '  x = """\n' +
  'long\n' +
  '"""\n' +
  '  return x\n';

async function started() {
  const server = new Server();
  await server.initialize();
  return server;
}

test('unknown methods, bad params and unknown documents', async () => {
  const server = await started();
  const cases = [
    { method: 'textDocument/rename', params: {}, code: rpc.ErrorCodes.MethodNotFound, message: 'unhandled method `textDocument/rename`' },
    { method: 'initialize', params: { capabilities: {} }, code: rpc.ErrorCodes.MethodNotFound, message: 'unhandled method `initialize`' },
    { method: 'textDocument/hover', params: { textDocument: { uri: DOC } }, code: rpc.ErrorCodes.InvalidParams, message: 'missing field `position`' },
    { method: 'textDocument/documentSymbol', params: { textDocument: { uri: 7 } }, code: rpc.ErrorCodes.InvalidParams, message: 'invalid type: integer `7`, expected a string' },
    { method: 'textDocument/references', params: { textDocument: { uri: DOC }, position: { line: 0, character: 0 } }, code: rpc.ErrorCodes.InvalidParams, message: 'missing field `context`' },
  ];
  for (const c of cases) {
    await assert.rejects(server.request(c.method, c.params), (e) => e.code === c.code && e.message === c.message, c.method);
  }
  const position = { textDocument: { uri: 'file:///never/opened.zem' }, position: { line: 0, character: 0 } };
  assert.equal(await server.request('textDocument/hover', position), null);
  assert.equal(await server.request('textDocument/definition', position), null);
  assert.equal(await server.request('textDocument/documentSymbol', { textDocument: { uri: 'file:///never/opened.zem' } }), null);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('the outline is a tree of declarations with details and selection ranges', async () => {
  const server = await started();
  await server.open(DOC, TEXT);
  const symbols = await server.request('textDocument/documentSymbol', { textDocument: { uri: DOC } });
  const brief = (s) => ({ name: s.name, kind: s.kind, detail: s.detail, children: s.children && s.children.map(brief) });
  assert.deepStrictEqual(symbols.map(brief), [
    { name: 'a', kind: 2, detail: 'use "./a.zem" as a', children: undefined },
    { name: 'b', kind: 2, detail: 'use "./b.zem" as b', children: undefined },
    { name: 'req', kind: 13, detail: 'in req: {title: text}', children: [{ name: 'title', kind: 8, detail: undefined, children: undefined }] },
    { name: 'web', kind: 11, detail: 'needs web: tool', children: [{ name: 'fetch', kind: 6, detail: 'fetch(url) -> text', children: undefined }] },
    { name: 'classify', kind: 12, detail: 'judgment classify(req)', children: [{ name: 'urgent', kind: 7, detail: 'urgent = req feels "blocked"', children: undefined }] },
    { name: 'main', kind: 12, detail: 'task main(limit = 3)', children: undefined },
  ]);
  const main = symbols[5];
  assert.deepStrictEqual(main.range, { start: { line: 12, character: 0 }, end: { line: 16, character: 10 } });
  assert.deepStrictEqual(main.selectionRange, { start: { line: 12, character: 5 }, end: { line: 12, character: 9 } });
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('folding ranges cover blocks, long texts, comment runs and imports', async () => {
  const server = await started();
  await server.open(DOC, TEXT);
  const ranges = await server.request('textDocument/foldingRange', { textDocument: { uri: DOC } });
  assert.deepStrictEqual(ranges, [
    { startLine: 0, endLine: 1, kind: 'comment' },
    { startLine: 3, endLine: 4, kind: 'imports' },
    { startLine: 6, endLine: 7 },
    { startLine: 9, endLine: 10 },
    { startLine: 12, endLine: 16 },
    { startLine: 13, endLine: 15 },
  ]);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('a document without a syntax tree has no outline but still folds', async () => {
  const server = await started();
  const uri = 'untitled:broken';
  await server.open(uri, 'program\n\ntask a:\n  return 1\n');
  assert.equal(await server.request('textDocument/documentSymbol', { textDocument: { uri } }), null);
  assert.deepStrictEqual(await server.request('textDocument/foldingRange', { textDocument: { uri } }), [{ startLine: 2, endLine: 3 }]);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('requests see every change sent before them', async () => {
  const server = await started();
  const uri = 'untitled:order';
  await server.open(uri, 'program p\n\ntask a:\n  return 1\n');
  await server.change(uri, 2, [{ range: { start: { line: 2, character: 5 }, end: { line: 2, character: 6 } }, text: 'renamed' }]);
  const symbols = await server.request('textDocument/documentSymbol', { textDocument: { uri } });
  assert.deepStrictEqual(symbols.map((s) => s.name), ['renamed']);
  assert.equal((await server.shutdownAndExit()).code, 0);
});
