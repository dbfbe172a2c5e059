'use strict';
// Semantic tokens through the client library in each position encoding, decoded back into the text and
// compared with the kinds expected of each token.
const test = require('node:test');
const assert = require('node:assert/strict');
const { Server } = require('./client');

const TEXT = [
  '# Greets.',
  'program p',
  'needs bot: agent',
  'in who: text',
  '',
  'task main(n):',
  '  h = bot.spawn prompt "\u{1F600} {who}!" # after code',
  '  log info n + 1',
  '  s = """',
  '\u{1F600} one',
  '',
  'two"""',
  '  return len(s)',
  '',
].join('\n');

const EXPECTED = [
  ['# Greets.', 'comment'],
  ['program', 'keyword'],
  ['p', 'namespace', 'declaration'],
  ['needs', 'keyword'],
  ['bot', 'interface', 'declaration', 'readonly'],
  ['agent', 'type'],
  ['in', 'keyword'],
  ['who', 'variable', 'declaration', 'readonly'],
  ['text', 'type'],
  ['task', 'keyword', 'unitKind'],
  ['main', 'function', 'declaration'],
  ['n', 'parameter', 'declaration'],
  ['h', 'variable', 'declaration'],
  ['=', 'operator'],
  ['bot', 'interface', 'readonly'],
  ['spawn', 'method'],
  ['prompt', 'keyword'],
  ['"\u{1F600} {', 'string'],
  ['who', 'variable', 'readonly'],
  ['}!"', 'string'],
  ['# after code', 'comment'],
  ['log', 'keyword'],
  ['info', 'enumMember', 'defaultLibrary'],
  ['n', 'parameter'],
  ['+', 'operator'],
  ['1', 'number'],
  ['s', 'variable', 'declaration'],
  ['=', 'operator'],
  ['"""', 'string'],
  ['\u{1F600} one', 'string'],
  ['two"""', 'string'],
  ['return', 'keyword'],
  ['len', 'function', 'defaultLibrary'],
  ['s', 'variable'],
];

// The text of each token from its line, start and length in the encoding's code units.
function decode(data, text, encoding, legend) {
  const lines = text.split('\n');
  const slice = (line, start, length) => {
    if (encoding === 'utf-16') return line.slice(start, start + length);
    if (encoding === 'utf-8') return Buffer.from(line, 'utf8').subarray(start, start + length).toString('utf8');
    return Array.from(line).slice(start, start + length).join('');
  };
  const out = [];
  let line = 0;
  let start = 0;
  for (let i = 0; i < data.length; i += 5) {
    const [deltaLine, deltaStart, length, type, modifiers] = data.slice(i, i + 5);
    line += deltaLine;
    start = deltaLine === 0 ? start + deltaStart : deltaStart;
    const names = legend.tokenModifiers.filter((_, bit) => modifiers & (1 << bit));
    out.push([slice(lines[line], start, length), legend.tokenTypes[type], ...names]);
  }
  return out;
}

for (const encoding of ['utf-8', 'utf-16', 'utf-32']) {
  test('semantic tokens in ' + encoding, async (t) => {
    const server = new Server();
    t.after(() => server.kill());
    const result = await server.initialize({ encodings: [encoding] });
    assert.equal(result.capabilities.positionEncoding, encoding);
    const legend = result.capabilities.semanticTokensProvider.legend;
    await server.open('untitled:s', TEXT);
    const { data } = await server.request('textDocument/semanticTokens/full', { textDocument: { uri: 'untitled:s' } });
    assert.deepStrictEqual(decode(data, TEXT, encoding, legend), EXPECTED);
    assert.deepStrictEqual(await server.request('textDocument/semanticTokens/full', { textDocument: { uri: 'untitled:none' } }), null);
    await server.open('untitled:empty', '');
    assert.deepStrictEqual(await server.request('textDocument/semanticTokens/full', { textDocument: { uri: 'untitled:empty' } }), { data: [] });
    assert.equal((await server.shutdownAndExit()).code, 0);
  });
}
