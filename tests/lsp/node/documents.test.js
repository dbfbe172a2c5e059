'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { Server, tempDir, fileUri } = require('./client');

const BROKEN = 'program p\n\ntask a:\n  x = 1 +\n';
const CLEAN = 'program p\n\ntask a:\n  return 1\n';

async function started(options) {
  const server = new Server();
  await server.initialize(options);
  return server;
}

test('open, change and close publish the syntax and checker findings of each version', async () => {
  const server = await started();
  const uri = 'untitled:a';
  await server.open(uri, BROKEN, 1);
  const broken = await server.waitForPublication((p) => p.uri === uri && p.version === 1);
  assert.deepStrictEqual(broken.diagnostics, [{
    range: { start: { line: 3, character: 9 }, end: { line: 4, character: 0 } },
    severity: 1,
    code: 'syntax',
    codeDescription: { href: 'https://dravelin.dev/docs/error-reference#syntax' },
    source: 'dravelin',
    message: 'expected an expression, found the end of the line (spec section 13)',
    data: { specSection: '13' },
  }]);

  await server.change(uri, 2, [{ text: 'program p\n\ntask main:\n  loop:\n    return 1\n' }]);
  const checked = await server.waitForPublication((p) => p.uri === uri && p.version === 2);
  assert.equal(checked.diagnostics.length, 1);
  assert.equal(checked.diagnostics[0].code, 'unbounded_loop');
  assert.equal(checked.diagnostics[0].message, '`loop` needs `max N`: every loop has a compile-time bound (spec section 5.5)');
  assert.deepStrictEqual(checked.diagnostics[0].data, { specSection: '5.5' });

  await server.change(uri, 3, [{ text: CLEAN }]);
  assert.deepStrictEqual((await server.waitForPublication((p) => p.uri === uri && p.version === 3)).diagnostics, []);

  const before = server.published.length;
  await server.notify('textDocument/didClose', { textDocument: { uri } });
  const closed = await server.waitForPublication((p) => p.uri === uri, { from: before });
  assert.deepStrictEqual(closed, { uri, diagnostics: [] });
  await server.barrier();
  assert.equal(server.published.length, before + 1, 'nothing more is published for a closed document');
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('a warning of a program that compiles, and a duplicate name pointing at its first declaration', async () => {
  const server = await started();
  await server.open('untitled:w', 'program p\n\ntask main:\n  v = 1\n  p = v feels "ok"\n  if p:\n    return 1\n  return 2\n');
  const warned = await server.waitForPublication((p) => p.uri === 'untitled:w');
  assert.deepStrictEqual(warned.diagnostics.map((d) => [d.severity, d.code]), [[2, 'bare_prob_condition']]);

  await server.open('untitled:d', 'program p\n\ntask main:\n  return 1\n\ntask main:\n  return 2\n');
  const duplicate = await server.waitForPublication((p) => p.uri === 'untitled:d');
  assert.deepStrictEqual(duplicate.diagnostics[0].relatedInformation, [{
    location: { uri: 'untitled:d', range: { start: { line: 2, character: 5 }, end: { line: 2, character: 9 } } },
    message: '`main` is first declared here',
  }]);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('a finding in an imported module is shown on the use line that leads to it', async () => {
  const dir = tempDir();
  fs.writeFileSync(path.join(dir, 'lib.zem'), 'program lib\n\ntask helper:\n  loop:\n    return 1\n');
  fs.writeFileSync(path.join(dir, 'side.zem'), 'program side\n');
  const main = path.join(dir, 'main.zem');
  const server = await started({ folders: [dir] });
  const uri = fileUri(main);
  await server.open(uri, 'program main\nuse "./side.zem" as side\nuse "./lib.zem" as lib\n');
  const published = await server.waitForPublication((p) => p.uri === uri);
  assert.equal(published.diagnostics.length, 1);
  const d = published.diagnostics[0];
  assert.deepStrictEqual(d.range, { start: { line: 2, character: 0 }, end: { line: 2, character: 22 } });
  assert.match(d.message, /^in `.*lib\.zem`: `loop` needs `max N`: every loop has a compile-time bound \(spec section 5\.5\)$/);
  assert.deepStrictEqual(d.relatedInformation, [{
    location: { uri: fileUri(fs.realpathSync(path.join(dir, 'lib.zem'))), range: { start: { line: 3, character: 2 }, end: { line: 3, character: 6 } } },
    message: '`loop` needs `max N`: every loop has a compile-time bound (spec section 5.5)',
  }]);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('changing a module republishes the open documents that import it, with its unsaved text', async () => {
  const dir = tempDir();
  const lib = path.join(dir, 'lib.zem');
  const main = path.join(dir, 'main.zem');
  fs.writeFileSync(lib, 'program lib\n');
  const server = await started({ folders: [dir] });
  await server.open(fileUri(lib), 'program lib\n');
  await server.open(fileUri(main), 'program main\nuse "./lib.zem" as lib\n');
  await server.waitForPublication((p) => p.uri === fileUri(main));

  const before = server.published.length;
  await server.change(fileUri(lib), 2, [{ text: 'program lib\n\ntask t:\n  loop:\n    return 1\n' }]);
  const forMain = await server.waitForPublication((p) => p.uri === fileUri(main), { from: before });
  assert.equal(forMain.diagnostics.length, 1);
  assert.equal(forMain.diagnostics[0].range.start.line, 1);
  assert.equal(forMain.version, 1);
  const forLib = await server.waitForPublication((p) => p.uri === fileUri(lib), { from: before });
  assert.equal(forLib.diagnostics[0].code, 'unbounded_loop');

  // Closing the module republishes its importer, which now reads the saved file again.
  const beforeClose = server.published.length;
  await server.notify('textDocument/didClose', { textDocument: { uri: fileUri(lib) } });
  const afterClose = await server.waitForPublication((p) => p.uri === fileUri(main), { from: beforeClose });
  assert.deepStrictEqual(afterClose.diagnostics, []);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('a burst of changes waiting together is published once', async () => {
  const server = await started();
  const uri = 'untitled:burst';
  await server.open(uri, CLEAN, 1);
  await server.waitForPublication((p) => p.uri === uri);
  const before = server.publicationsFor(uri).length;
  await server.sendHeld(async () => {
    for (let v = 2; v <= 11; ++v) await server.change(uri, v, [{ text: v % 2 ? CLEAN : BROKEN }]);
  });
  const last = await server.waitForPublication((p) => p.uri === uri && p.version === 11);
  assert.deepStrictEqual(last.diagnostics, []);
  await server.barrier();
  assert.equal(server.publicationsFor(uri).length, before + 1);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('a save republishes every open document', async () => {
  const server = await started();
  await server.open('untitled:1', CLEAN);
  await server.open('untitled:2', BROKEN);
  await server.waitForPublication((p) => p.uri === 'untitled:2');
  await server.barrier();
  const before = server.published.length;
  await server.notify('textDocument/didSave', { textDocument: { uri: 'untitled:1' } });
  await server.waitForPublication((p) => p.uri === 'untitled:2', { from: before });
  await server.barrier();
  assert.deepStrictEqual(server.published.slice(before).map((p) => [p.uri, p.version]), [['untitled:1', 1], ['untitled:2', 1]]);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('module roots from the paths option are searched before DRAVELIN_PATH', async () => {
  const dir = tempDir();
  fs.mkdirSync(path.join(dir, 'lib'));
  fs.writeFileSync(path.join(dir, 'lib', 'shared.zem'), 'program shared\n\ndef f():\n  loop:\n    return 1\n');
  const server = await started({ folders: [dir], options: { paths: ['lib'], errorReference: 'not a uri' } });
  const uri = fileUri(path.join(dir, 'main.zem'));
  await server.open(uri, 'program main\nuse "shared.zem" as shared\n');
  const published = await server.waitForPublication((p) => p.uri === uri);
  assert.equal(published.diagnostics.length, 1);
  assert.equal(published.diagnostics[0].code, 'unbounded_loop');
  assert.equal(published.diagnostics[0].codeDescription, undefined);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('an error reference that is a URI is the base of every code link', async () => {
  const server = await started({ options: { errorReference: 'https://docs.example/errors' } });
  await server.open('untitled:a', BROKEN);
  const published = await server.waitForPublication((p) => p.uri === 'untitled:a');
  assert.deepStrictEqual(published.diagnostics[0].codeDescription, { href: 'https://docs.example/errors#syntax' });
  assert.equal((await server.shutdownAndExit()).code, 0);
});
