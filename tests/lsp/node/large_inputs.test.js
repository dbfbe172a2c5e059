'use strict';
// Inputs whose size once made the server's work grow faster than the input: many documents that import each
// other opened at once, and one line holding a great many names. Each would take far longer than this file's
// time limit if that work came back.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { Server, tempDir, fileUri } = require('./client');

test('a chain of documents opened in one write is published once each, answering a request meanwhile', async (t) => {
  const N = 150;
  const dir = fs.realpathSync(tempDir());  // the files are never written: the documents exist only as opened
  const docs = [];
  for (let k = 0; k < N; ++k) {
    const text = k + 1 < N
      ? `program m${k}\nuse "./m${k + 1}.zem" as next\n\ndef f(x):\n  return next.f(x)\n`
      : `program m${k}\n\ndef f(x):\n  return missing\n`;
    docs.push({ uri: fileUri(path.join(dir, `m${k}.zem`)), text });
  }
  const server = new Server();
  t.after(() => server.kill());  // a failed check must not leave the server holding the test open
  await server.initialize();
  await server.sendHeld(async () => {
    for (const d of docs) await server.open(d.uri, d.text);
  });

  await server.waitForPublication(() => true, { ms: 120000 });
  const folding = await server.request('textDocument/foldingRange', { textDocument: { uri: docs[0].uri } });
  const publishedWhenAnswered = server.published.length;
  assert.deepStrictEqual(folding, [{ startLine: 3, endLine: 4 }]);
  assert.ok(publishedWhenAnswered < N, `the request waited for all ${N} publications`);

  const uris = new Set(docs.map((d) => d.uri));
  await server.waitForPublication(() => new Set(server.published.map((p) => p.uri)).size === N, { ms: 120000 });
  await server.barrier();
  assert.equal(server.published.length, N, 'each document is published once');
  const unassigned = '`missing` is read before it is assigned (spec section 5.3)';
  const last = `${dir}/./m${N - 1}.zem`;  // as the linker names it: the importer's folder and the written path
  for (const p of server.published) {
    assert.ok(uris.has(p.uri), p.uri);
    const expected = p.uri === docs[N - 1].uri ? unassigned : `in \`${last}\`: ${unassigned}`;
    assert.deepStrictEqual(p.diagnostics.map((d) => d.message), [expected], p.uri);
  }
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('references to a name used 200000 times on one line', async (t) => {
  const USES = 200000;
  const server = new Server();
  t.after(() => server.kill());
  await server.initialize();
  const uri = 'untitled:long-line';
  await server.open(uri, 'program p\n\ntask main:\n  x = 1\n  y = [' + Array(USES).fill('x').join(', ') + ']\n  return y\n');
  await server.waitForPublication((p) => p.uri === uri, { ms: 120000 });
  const found = await server.request('textDocument/references', {
    textDocument: { uri },
    position: { line: 3, character: 2 },
    context: { includeDeclaration: true },
  });
  assert.equal(found.length, USES + 1);
  const at = (line, character) => ({ line, character });
  assert.deepStrictEqual(found[0].range, { start: at(3, 2), end: at(3, 3) });
  assert.deepStrictEqual(found[1].range, { start: at(4, 7), end: at(4, 8) });
  // The n-th use starts after "  y = [" and n - 1 times "x, ".
  assert.deepStrictEqual(found[USES].range, { start: at(4, 7 + 3 * (USES - 1)), end: at(4, 8 + 3 * (USES - 1)) });
  assert.equal((await server.shutdownAndExit()).code, 0);
});
