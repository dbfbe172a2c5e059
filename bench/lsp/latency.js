'use strict';
// Language server latency: the time from writing a didChange to receiving its publishDiagnostics, through the
// protocol library editors use, against `dravelin check` of the same text in the same run.
//
// Usage: node bench/lsp/latency.js BINARY PROGRAM [EDITS]
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.resolve(__dirname, '../..');
const rpc = require(path.join(root, 'tests/node_modules/vscode-languageserver-protocol/node'));
const timing = require('./timing');
const { summary, ms, HeldWrites } = timing;

const [binary, programPath, editsArg] = process.argv.slice(2);
const EDITS = Number(editsArg || 200);
const BURST = 50;
const CHECK_RUNS = 30;
const text = fs.readFileSync(programPath, 'utf8');
const lines = text.split('\n');
const URI = 'file://' + path.resolve(programPath);
const timeCheck = (file) => timing.timeCheck(binary, file, CHECK_RUNS);

function peakRssKb(file) {
  const r = spawnSync('/usr/bin/time', ['-f', '%M', binary, 'check', file], { encoding: 'utf8' });
  return r.status === null ? null : Number(r.stderr.trim().split('\n').pop());
}

function serverMemory(pid) {
  const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
  const field = (name) => Number(new RegExp(name + ':\\s+(\\d+)').exec(status)[1]);
  return { peak_kb: field('VmHWM'), rss_kb: field('VmRSS') };
}

async function main() {
  // Edit sites: the first line of each block's `rate` (clean edits) and its `each ... feels` line (broken ones).
  const calm = [];
  const polite = [];
  lines.forEach((line, i) => {
    if (/^    calm "/.test(line)) calm.push(i);
    if (/^  polite = each /.test(line)) polite.push(i);
  });

  const child = spawn(binary, ['lsp'], { stdio: ['pipe', 'pipe', 'inherit'], env: { ...process.env, DRAVELIN_PATH: '' } });
  const input = new HeldWrites(child.stdin);
  const connection = rpc.createProtocolConnection(new rpc.StreamMessageReader(child.stdout), new rpc.StreamMessageWriter(input));
  const waiting = new Map();  // version -> resolve
  const publications = [];
  connection.onNotification('textDocument/publishDiagnostics', (p) => {
    if (p.uri !== URI) return;
    publications.push({ version: p.version, count: p.diagnostics.length, at: process.hrtime.bigint() });
    const resolve = waiting.get(p.version);
    if (resolve) {
      waiting.delete(p.version);
      resolve(p);
    }
  });
  connection.listen();
  await connection.sendRequest('initialize', { processId: process.pid, rootUri: null, capabilities: {} });
  await connection.sendNotification('initialized', {});

  let version = 1;
  const published = (v) => new Promise((resolve) => waiting.set(v, resolve));
  let done = published(version);
  await connection.sendNotification('textDocument/didOpen', { textDocument: { uri: URI, languageId: 'dravelin', version, text } });
  const opened = await done;
  if (opened.diagnostics.length !== 0) throw new Error('the program is not clean: ' + JSON.stringify(opened.diagnostics[0]));

  async function timedChange(contentChanges) {
    version += 1;
    done = published(version);
    const began = process.hrtime.bigint();
    await connection.sendNotification('textDocument/didChange', { textDocument: { uri: URI, version }, contentChanges });
    const p = await done;
    return { ms: ms(process.hrtime.bigint() - began), count: p.diagnostics.length };
  }

  // Clean edits: one character typed into a text of a different block each time.
  const clean = [];
  for (let r = 0; r < EDITS; ++r) {
    const line = calm[r % calm.length];
    const at = lines[line].length - 1;  // before the closing quote
    const result = await timedChange([{ range: { start: { line, character: at }, end: { line, character: at } }, text: 'x' }]);
    if (result.count !== 0) throw new Error('a clean edit gave diagnostics');
    clean.push(result.ms);
    lines[line] = lines[line].slice(0, at) + 'x' + lines[line].slice(at);
  }

  // Broken edits: one unit broken at a time, each edit repairing the last one broken and breaking another.
  const broken = [];
  let previous = null;
  for (let r = 0; r < EDITS; ++r) {
    const line = polite[r % polite.length];
    const changes = [];
    if (previous !== null) {
      const end = lines[previous].length;
      changes.push({ range: { start: { line: previous, character: end - 2 }, end: { line: previous, character: end } }, text: '' });
      lines[previous] = lines[previous].slice(0, end - 2);
    }
    const end = lines[line].length;
    changes.push({ range: { start: { line, character: end }, end: { line, character: end } }, text: ' +' });
    lines[line] += ' +';
    const result = await timedChange(changes);
    if (result.count !== 1) throw new Error('a broken edit gave ' + result.count + ' diagnostics');
    broken.push(result.ms);
    previous = line;
  }
  fs.writeFileSync(programPath.replace(/\.zem$/, '.broken.zem'), lines.join('\n'));

  // A burst: 50 edits written together.
  const before = publications.length;
  input.hold();
  const first = version + 1;
  for (let r = 0; r < BURST; ++r) {
    version += 1;
    const line = calm[r % calm.length];
    const at = lines[line].length - 1;
    await connection.sendNotification('textDocument/didChange', {
      textDocument: { uri: URI, version },
      contentChanges: [{ range: { start: { line, character: at }, end: { line, character: at } }, text: 'y' }],
    });
    lines[line] = lines[line].slice(0, at) + 'y' + lines[line].slice(at);
  }
  done = published(version);
  const burstBegan = process.hrtime.bigint();
  const heldBytes = input.release();
  await done;
  const burstMs = ms(process.hrtime.bigint() - burstBegan);
  await connection.sendRequest('textDocument/foldingRange', { textDocument: { uri: 'untitled:barrier' } });
  const burstPublications = publications.slice(before).filter((p) => p.version >= first).length;

  const memory = serverMemory(child.pid);
  await connection.sendRequest('shutdown');
  await connection.sendNotification('exit');

  const brokenFile = programPath.replace(/\.zem$/, '.broken.zem');
  const checkClean = timeCheck(programPath);
  const checkBroken = timeCheck(brokenFile);
  const lspClean = summary(clean);
  const lspBroken = summary(broken);
  const report = {
    program_lines: text.split('\n').length,
    edits: EDITS,
    check_clean_ms: checkClean,
    lsp_clean_ms: lspClean,
    clean_ratio_p50: lspClean.p50 / checkClean.p50,
    check_broken_ms: checkBroken,
    lsp_broken_ms: lspBroken,
    broken_ratio_p50: lspBroken.p50 / checkBroken.p50,
    broken_vs_clean_check_p50: lspBroken.p50 / checkClean.p50,
    burst: { changes: BURST, publications: burstPublications, ms: burstMs, bytes: heldBytes },
    server_memory: memory,
    check_peak_rss_kb: peakRssKb(programPath),
  };
  console.log(JSON.stringify(report, (k, v) => (typeof v === 'number' && !Number.isInteger(v) ? Number(v.toFixed(2)) : v), 2));
  process.exit(0);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
