'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { Server } = require('./client');

// A line with a character outside the basic plane (a surrogate pair in UTF-16), a wide character and a
// letter with a combining mark (two code points), before a syntax error at the end of the line.
const LINE = '  x = "\u{1F600}\u6F22e\u0301" +';
const TEXT = 'program p\n\ntask main:\n' + LINE + '\n  return x\n';

// Where the line's `+` ends and where the text literal ends, in each encoding's units.
const CASES = [
  { encoding: 'utf-8', lineEnd: 20, literalEnd: 18 },
  { encoding: 'utf-16', lineEnd: 15, literalEnd: 13 },
  { encoding: 'utf-32', lineEnd: 14, literalEnd: 12 },
];

for (const c of CASES) {
  test(`positions are counted in ${c.encoding} units both ways`, async () => {
    const server = new Server();
    const result = await server.initialize({ encodings: [c.encoding] });
    assert.equal(result.capabilities.positionEncoding, c.encoding);
    const uri = 'untitled:' + c.encoding;
    await server.open(uri, TEXT);
    const first = await server.waitForPublication((p) => p.uri === uri);
    assert.equal(first.diagnostics.length, 1);
    assert.deepStrictEqual(first.diagnostics[0].range.start, { line: 3, character: c.lineEnd });

    // Deleting " +" after the literal, addressed in the same units, repairs the line.
    await server.change(uri, 2, [{
      range: { start: { line: 3, character: c.literalEnd }, end: { line: 3, character: c.lineEnd } },
      text: '',
    }]);
    const second = await server.waitForPublication((p) => p.uri === uri && p.version === 2);
    assert.deepStrictEqual(second.diagnostics, []);

    const symbols = await server.request('textDocument/documentSymbol', { textDocument: { uri } });
    assert.deepStrictEqual(symbols.map((s) => [s.name, s.range.end]), [['main', { line: 4, character: 10 }]]);
    assert.equal((await server.shutdownAndExit()).code, 0);
  });
}

test('a position inside a character lands after it', async () => {
  const server = new Server();
  await server.initialize({ encodings: ['utf-16'] });
  const uri = 'untitled:half';
  await server.open(uri, 'program p\n# \u{1F600}\n');
  await server.waitForPublication((p) => p.uri === uri);
  // Character 3 is the second half of the surrogate pair: the insertion goes after the whole character.
  await server.change(uri, 2, [{ range: { start: { line: 1, character: 3 }, end: { line: 1, character: 3 } }, text: '\ntask' }]);
  const published = await server.waitForPublication((p) => p.uri === uri && p.version === 2);
  assert.deepStrictEqual(published.diagnostics[0].range.start, { line: 2, character: 4 });
  assert.equal((await server.shutdownAndExit()).code, 0);
});
