'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { Server, rpc } = require('./client');

const LEGEND = {
  tokenTypes: ['keyword', 'comment', 'string', 'number', 'operator', 'function', 'method', 'namespace', 'interface',
    'parameter', 'variable', 'property', 'enumMember', 'event', 'type'],
  tokenModifiers: ['declaration', 'readonly', 'defaultLibrary', 'unitKind', 'judgmentVerb'],
};

function expectedResult(encoding) {
  return {
    capabilities: {
      positionEncoding: encoding,
      textDocumentSync: { openClose: true, change: 2, save: { includeText: false } },
      hoverProvider: true,
      completionProvider: { triggerCharacters: ['.'] },
      definitionProvider: true,
      referencesProvider: true,
      documentSymbolProvider: true,
      foldingRangeProvider: true,
      semanticTokensProvider: { legend: LEGEND, full: true },
    },
    serverInfo: { name: 'dravelin', version: '0.1.2' },
  };
}

test('the initialize result holds exactly the capabilities, for each negotiated encoding', async (t) => {
  const cases = [
    { name: 'no offer', encodings: undefined, expected: 'utf-16' },
    { name: 'utf-32 first', encodings: ['utf-32', 'utf-8'], expected: 'utf-32' },
    { name: 'unknown skipped', encodings: ['latin-1', 'utf-8'], expected: 'utf-8' },
    { name: 'utf-16 first', encodings: ['utf-16', 'utf-8'], expected: 'utf-16' },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const server = new Server();
      const result = await server.initialize({ encodings: c.encodings });
      assert.deepStrictEqual(result, expectedResult(c.expected));
      assert.deepStrictEqual(await server.shutdownAndExit(), { code: 0, signal: null });
    });
  }
});

test('requests before initialize are refused and the server keeps waiting', async () => {
  const server = new Server();
  await server.notify('textDocument/didOpen', { textDocument: { uri: 'untitled:x', languageId: 'z', version: 1, text: '' } });
  await assert.rejects(server.request('textDocument/hover', { textDocument: { uri: 'untitled:x' }, position: { line: 0, character: 0 } }),
    (e) => e.code === -32002 && e.message.startsWith('expected initialize request, got '));
  await server.initialize();
  // The notification before initialize was dropped: the document is not open.
  assert.equal(await server.request('textDocument/foldingRange', { textDocument: { uri: 'untitled:x' } }), null);
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('exit before initialize ends the server with an error', async () => {
  const server = new Server();
  await server.notify('exit');
  assert.equal((await server.finished()).code, 1);
  assert.match(server.stderr, /^dravelin: expected initialize request, got /);
});

test('initialize params that do not read are answered with an error before the server ends', async () => {
  const server = new Server();
  await assert.rejects(server.request('initialize', { processId: null }),
    (e) => e.code === rpc.ErrorCodes.InvalidParams && e.message === 'missing field `capabilities`');
  assert.equal((await server.finished()).code, 1);
  assert.equal(server.stderr, 'dravelin: missing field `capabilities`\n');
});

test('unreadable initialization options fall back to the defaults silently', async () => {
  const server = new Server();
  const result = await server.initialize({ options: { paths: 'lib' } });
  assert.equal(result.capabilities.positionEncoding, 'utf-16');
  server.open('untitled:a', 'program p\n\ntask a:\n  x = 1 +\n');
  const published = await server.waitForPublication((p) => p.uri === 'untitled:a');
  assert.equal(published.diagnostics[0].codeDescription.href, 'https://dravelin.dev/docs/error-reference#syntax');
  assert.equal((await server.shutdownAndExit()).code, 0);
});

test('the message after the initialize result must be initialized', async () => {
  const server = new Server();
  await server.request('initialize', { processId: null, capabilities: {} });
  await server.notify('textDocument/didClose', { textDocument: { uri: 'untitled:a' } });
  assert.equal((await server.finished()).code, 1);
  assert.match(server.stderr, /^dravelin: expected initialized notification, got: \{"jsonrpc":"2.0","method":"textDocument\/didClose"/);
});

test('shutdown then exit ends with status 0, even while the input stays open', async () => {
  const server = new Server();
  await server.initialize();
  assert.equal(await server.request('shutdown'), null);
  await server.notify('exit');
  // stdin is still open here: the server must not wait for it to close.
  assert.deepStrictEqual(await server.finished(), { code: 0, signal: null });
  assert.equal(server.stderr, '');
});

test('exit without shutdown ends with status 1', async () => {
  const server = new Server();
  await server.initialize();
  await server.notify('exit');
  assert.equal((await server.finished()).code, 1);
  assert.match(server.stderr, /exit notification before a shutdown request/);
});

test('after shutdown requests are refused, notifications ignored, and exit still awaited', async () => {
  const server = new Server();
  await server.initialize();
  await server.request('shutdown');
  await server.open('untitled:a', 'program p\n\ntask a:\n  x = 1 +\n');
  await assert.rejects(server.request('textDocument/foldingRange', { textDocument: { uri: 'untitled:a' } }),
    (e) => e.code === rpc.ErrorCodes.InvalidRequest);
  await server.notify('exit');
  assert.equal((await server.finished()).code, 0);
  assert.equal(server.publicationsFor('untitled:a').length, 0);
});

test('the end of input without shutdown ends the server with status 0', async () => {
  const server = new Server();
  await server.initialize();
  server.child.stdin.end();
  assert.equal((await server.finished()).code, 0);
});
