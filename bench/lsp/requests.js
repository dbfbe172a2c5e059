'use strict';
// Language server request latency through the protocol library editors use: hover, definition, completion and
// full semantic tokens on one large program, references in a workspace of many files; each against the round
// trip of the cheapest request (foldingRange) and `dravelin check` of the same program, in the same run.
//
// Usage: node bench/lsp/requests.js BINARY PROGRAM WORKSPACE_DIR [REQUESTS]
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.resolve(__dirname, '../..');
const rpc = require(path.join(root, 'tests/node_modules/vscode-languageserver-protocol/node'));
const timing = require('./timing');

const [binary, programPath, workspaceDir, requestsArg] = process.argv.slice(2);
const REQUESTS = Number(requestsArg || 200);
const CHECK_RUNS = 30;
const text = fs.readFileSync(programPath, 'utf8');
const lines = text.split('\n');
const URI = 'file://' + path.resolve(programPath);
const { ms } = timing;
const summary = (samples) => timing.summary(samples, { max: true });
const timeCheck = (file) => timing.timeCheck(binary, file, CHECK_RUNS, { max: true });

async function timed(send) {
  const began = process.hrtime.bigint();
  const result = await send();
  return { ms: ms(process.hrtime.bigint() - began), result };
}

// Every place of the program where one of these names is used or declared, as protocol positions.
function positionsOf(pattern) {
  const out = [];
  lines.forEach((line, i) => {
    for (const m of line.matchAll(pattern)) out.push({ line: i, character: m.index + 1 });
  });
  return out;
}

function spread(positions, count) {
  const out = [];
  for (let r = 0; r < count; ++r) out.push(positions[Math.floor((r * positions.length) / count)]);
  return out;
}

function startServer(rootUri) {
  const child = spawn(binary, ['lsp'], { stdio: ['pipe', 'pipe', 'inherit'], env: { ...process.env, DRAVELIN_PATH: '' } });
  const connection = rpc.createProtocolConnection(new rpc.StreamMessageReader(child.stdout), new rpc.StreamMessageWriter(child.stdin));
  const waiting = new Map();
  connection.onNotification('textDocument/publishDiagnostics', (p) => {
    const resolve = waiting.get(p.uri + '#' + p.version);
    if (resolve) {
      waiting.delete(p.uri + '#' + p.version);
      resolve(p);
    }
  });
  connection.listen();
  const published = (uri, version) => new Promise((resolve) => waiting.set(uri + '#' + version, resolve));
  return { child, connection, published, rootUri };
}

async function initialize(server) {
  await server.connection.sendRequest('initialize', { processId: process.pid, rootUri: server.rootUri, capabilities: {} });
  await server.connection.sendNotification('initialized', {});
}

async function stop(server) {
  await server.connection.sendRequest('shutdown');
  await server.connection.sendNotification('exit');
}

async function open(server, uri, body) {
  const done = server.published(uri, 1);
  await server.connection.sendNotification('textDocument/didOpen', { textDocument: { uri, languageId: 'dravelin', version: 1, text: body } });
  return done;
}

async function onTheProgram() {
  const server = startServer(null);
  await initialize(server);
  const opened = await open(server, URI, text);
  if (opened.diagnostics.some((d) => d.severity === 1)) throw new Error('the program has errors: ' + JSON.stringify(opened.diagnostics[0]));
  const c = server.connection;
  const doc = { uri: URI };
  const names = spread(positionsOf(/\b(?:classify|score|weigh|flow)_\d+\b|\bverdict\b|\bkind\b|\btotal\b/g), REQUESTS);

  const results = {};
  const baseline = [];
  for (let r = 0; r < REQUESTS; ++r) baseline.push((await timed(() => c.sendRequest('textDocument/foldingRange', { textDocument: doc }))).ms);
  results.folding_range_ms = summary(baseline);

  const hover = [];
  let hovered = 0;
  for (const position of names) {
    const t = await timed(() => c.sendRequest('textDocument/hover', { textDocument: doc, position }));
    if (t.result) ++hovered;
    hover.push(t.ms);
  }
  results.hover_ms = { ...summary(hover), answered: hovered };

  const definition = [];
  let found = 0;
  for (const position of names) {
    const t = await timed(() => c.sendRequest('textDocument/definition', { textDocument: doc, position }));
    if (t.result.length) ++found;
    definition.push(t.ms);
  }
  results.definition_ms = { ...summary(definition), answered: found };

  // The answer is a few hundred kilobytes of numbers, and reading it is the client's work: next to each request,
  // the time this process takes just to parse a response of the same text, the part no server can save.
  const semantic = [];
  const parse = [];
  let tokens = 0;
  let bytes = 0;
  for (let r = 0; r < REQUESTS; ++r) {
    const t = await timed(() => c.sendRequest('textDocument/semanticTokens/full', { textDocument: doc }));
    tokens = t.result.data.length / 5;
    semantic.push(t.ms);
    const body = JSON.stringify({ jsonrpc: '2.0', id: r, result: t.result });
    bytes = Buffer.byteLength(body);
    parse.push((await timed(async () => JSON.parse(body))).ms);
  }
  results.semantic_tokens_ms = { ...summary(semantic), tokens, response_bytes: bytes };
  results.semantic_tokens_client_parse_ms = summary(parse);

  // Completion after a dot typed on a new line of a task: the line does not parse, so the server completes
  // on a copy of the text with that line replaced. Each request is on a line of its own (a new copy each
  // time), or on the same line as the one before with one more character typed.
  const verdicts = positionsOf(/^ {2}verdict = classify_\d+\(item\)$/g).map((p) => p.line);
  let version = 1;
  let inserted = null;
  async function edit(changes) {
    version += 1;
    const done = server.published(URI, version);
    await c.sendNotification('textDocument/didChange', { textDocument: { uri: URI, version }, contentChanges: changes });
    await done;
  }
  async function completeAt(line, character) {
    const t = await timed(() => c.sendRequest('textDocument/completion', { textDocument: doc, position: { line, character } }));
    if (!t.result.some((i) => i.label === 'kind')) throw new Error('completion did not offer the judgment results: ' + JSON.stringify(t.result.slice(0, 3)));
    return t.ms;
  }
  const newLines = [];
  for (let r = 0; r < REQUESTS; ++r) {
    const changes = [];
    if (inserted !== null) changes.push({ range: { start: { line: inserted, character: 0 }, end: { line: inserted + 1, character: 0 } }, text: '' });
    const at = verdicts[r % verdicts.length] + 1;
    changes.push({ range: { start: { line: at, character: 0 }, end: { line: at, character: 0 } }, text: '  z = verdict.\n' });
    await edit(changes);
    inserted = at;
    newLines.push(await completeAt(at, '  z = verdict.'.length));
  }
  results.completion_new_line_ms = summary(newLines);
  const sameLine = [];
  for (let r = 0; r < REQUESTS; ++r) {
    const character = '  z = verdict.'.length + r;
    await edit([{ range: { start: { line: inserted, character }, end: { line: inserted, character } }, text: 'k' }]);
    sameLine.push(await completeAt(inserted, character + 1));
  }
  results.completion_same_line_ms = summary(sameLine);
  await stop(server);
  return results;
}

async function inTheWorkspace() {
  const files = fs.readdirSync(workspaceDir).filter((f) => f.endsWith('.zem')).sort();
  const server = startServer('file://' + path.resolve(workspaceDir));
  await initialize(server);
  const first = files.find((f) => f.startsWith('file_'));
  const uri = 'file://' + path.resolve(workspaceDir, first);
  const body = fs.readFileSync(path.join(workspaceDir, first), 'utf8');
  await open(server, uri, body);
  const line = body.split('\n').findIndex((l) => l.includes('a = lib.shared(x)'));
  const params = { textDocument: { uri }, position: { line, character: '  a = lib.sh'.length }, context: { includeDeclaration: true } };
  const cold = await timed(() => server.connection.sendRequest('textDocument/references', params));
  const samples = [];
  for (let r = 0; r < REQUESTS; ++r) samples.push((await timed(() => server.connection.sendRequest('textDocument/references', params))).ms);
  await stop(server);
  const program = fs.readFileSync(path.join(workspaceDir, first), 'utf8').split('\n').length;
  return { files: files.length, lines_per_file: program, locations: cold.result.length, first_request_ms: cold.ms, references_ms: summary(samples) };
}

async function main() {
  const program = await onTheProgram();
  const workspace = await inTheWorkspace();
  const report = { program_lines: lines.length, requests: REQUESTS, ...program, workspace, check_ms: timeCheck(programPath) };
  console.log(JSON.stringify(report, (k, v) => (typeof v === 'number' && !Number.isInteger(v) ? Number(v.toFixed(2)) : v), 2));
  process.exit(0);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
