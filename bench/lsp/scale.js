'use strict';
// Language server costs that grow with the size of the input rather than the number of requests: many
// documents that import each other opened in one write, and one long line holding many names or many findings.
//
// Usage: node bench/lsp/scale.js BINARY [CHAIN] [USES] [ERRORS]
//   CHAIN   documents in the import chain (default 100)
//   USES    uses of one variable on one line, for references (default 200000)
//   ERRORS  findings on one line, for diagnostics (default 80000)
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.resolve(__dirname, '../..');
const rpc = require(path.join(root, 'tests/node_modules/vscode-languageserver-protocol/node'));
const { ms, HeldWrites } = require('./timing');

const [binary, chainArg, usesArg, errorsArg] = process.argv.slice(2);
const CHAIN = Number(chainArg || 100);
const USES = Number(usesArg || 200000);
const ERRORS = Number(errorsArg || 80000);

async function startServer() {
  const child = spawn(binary, ['lsp'], { stdio: ['pipe', 'pipe', 'inherit'], env: { ...process.env, DRAVELIN_PATH: '' } });
  const input = new HeldWrites(child.stdin);
  const connection = rpc.createProtocolConnection(new rpc.StreamMessageReader(child.stdout), new rpc.StreamMessageWriter(input));
  const server = { child, input, connection, published: [], listeners: new Set() };
  connection.onNotification('textDocument/publishDiagnostics', (p) => {
    server.published.push({ at: process.hrtime.bigint(), params: p });
    for (const listener of server.listeners) listener();
  });
  connection.listen();
  await connection.sendRequest('initialize', { processId: process.pid, rootUri: null, capabilities: {} });
  await connection.sendNotification('initialized', {});
  return server;
}

function until(server, test) {
  return new Promise((resolve) => {
    const check = () => {
      if (!test()) return false;
      server.listeners.delete(check);
      resolve();
      return true;
    };
    if (!check()) server.listeners.add(check);
  });
}

async function stop(server) {
  await server.connection.sendRequest('shutdown');
  await server.connection.sendNotification('exit');
}

// Document k imports document k + 1; the last one reads a variable it never assigns, so every document's
// diagnostics hold that finding, reached through the whole chain below it.
function chainDocuments(dir, n) {
  const docs = [];
  for (let k = 0; k < n; ++k) {
    const body = k + 1 < n
      ? `program m${k}\nuse "./m${k + 1}.zem" as next\n\ndef f${k}(x):\n  return next.f${k + 1}(x)\n`
      : `program m${k}\n\ndef f${k}(x):\n  return missing\n`;
    docs.push({ uri: 'file://' + path.join(dir, `m${k}.zem`), text: body });
  }
  return docs;
}

async function chain() {
  const dir = fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'dravelin-bench-chain-')));
  const docs = chainDocuments(dir, CHAIN);
  const server = await startServer();
  const c = server.connection;
  server.input.hold();
  for (const d of docs) c.sendNotification('textDocument/didOpen', { textDocument: { uri: d.uri, languageId: 'dravelin', version: 1, text: d.text } });
  await new Promise((resolve) => setImmediate(resolve));
  const began = process.hrtime.bigint();
  server.input.release();

  // A request sent once the first publication has arrived: answered between publications, or after all of them.
  await until(server, () => server.published.length > 0);
  const asked = process.hrtime.bigint();
  await c.sendRequest('textDocument/foldingRange', { textDocument: { uri: docs[0].uri } });
  const answered = process.hrtime.bigint();
  const publishedWhenAnswered = server.published.length;

  const uris = new Set(docs.map((d) => d.uri));
  await until(server, () => new Set(server.published.map((p) => p.params.uri)).size === uris.size);
  const last = server.published[server.published.length - 1].at;
  const flagged = server.published.filter((p) => p.params.diagnostics.length === 1).length;
  await stop(server);
  fs.rmSync(dir, { recursive: true, force: true });
  return {
    documents: CHAIN,
    all_published_ms: ms(last - began),
    first_published_ms: ms(server.published[0].at - began),
    request_during_publication_ms: ms(answered - asked),
    published_before_the_answer: publishedWhenAnswered,
    documents_with_the_finding: flagged,
  };
}

async function longLine() {
  const server = await startServer();
  const c = server.connection;
  const out = {};

  // References to a variable used USES times on one line.
  const uses = 'program p\n\ntask main:\n  x = 1\n  y = [' + Array(USES).fill('x').join(', ') + ']\n  return y\n';
  const usesUri = 'untitled:uses';
  c.sendNotification('textDocument/didOpen', { textDocument: { uri: usesUri, languageId: 'dravelin', version: 1, text: uses } });
  await until(server, () => server.published.some((p) => p.params.uri === usesUri));
  const params = { textDocument: { uri: usesUri }, position: { line: 3, character: 2 }, context: { includeDeclaration: true } };
  let began = process.hrtime.bigint();
  const found = await c.sendRequest('textDocument/references', params);
  out.references = { uses: USES, locations: found.length, ms: ms(process.hrtime.bigint() - began) };
  began = process.hrtime.bigint();
  const tokens = await c.sendRequest('textDocument/semanticTokens/full', { textDocument: { uri: usesUri } });
  out.semantic_tokens = { tokens: tokens.data.length / 5, ms: ms(process.hrtime.bigint() - began) };

  // Diagnostics of ERRORS reads of a variable never assigned, all on one line.
  const errors = 'program p\n\ntask main:\n  y = [' + Array(ERRORS).fill('u').join(', ') + ']\n  return y\n';
  const errorsUri = 'untitled:errors';
  began = process.hrtime.bigint();
  c.sendNotification('textDocument/didOpen', { textDocument: { uri: errorsUri, languageId: 'dravelin', version: 1, text: errors } });
  await until(server, () => server.published.some((p) => p.params.uri === errorsUri));
  const published = server.published.find((p) => p.params.uri === errorsUri);
  out.diagnostics = { findings: published.params.diagnostics.length, ms: ms(published.at - began) };
  await stop(server);
  return out;
}

async function main() {
  const report = { chain: await chain(), long_line: await longLine() };
  console.log(JSON.stringify(report, (k, v) => (typeof v === 'number' && !Number.isInteger(v) ? Number(v.toFixed(1)) : v), 2));
  process.exit(0);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
