'use strict';
// A smoke test with a real editor: headless Neovim opens a file through its built-in LSP client; the
// diagnostics it receives, and its answers to hover, definition, references and completion, are read back.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { makeWorkspace } = require('../node/workspace');

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// Runs headless Neovim on a file with one of the scripts here, and reads back what the script wrote.
async function runEditor(script, file, dir) {
  const out = path.join(dir, 'nvim-out.json');
  const editor = spawn('nvim', ['--headless', '--clean', '-c', 'luafile ' + path.join(__dirname, script), file], {
    cwd: dir,
    stdio: ['ignore', 'ignore', 'pipe'],
    env: { ...process.env, DRAVELIN_NVIM_OUT: out, DRAVELIN_PATH: '' },
  });
  let stderr = '';
  editor.stderr.on('data', (d) => (stderr += d));
  const exited = new Promise((resolve) => editor.on('exit', (code) => resolve(code)));
  editor.on('error', (e) => (stderr += String(e)));

  const deadline = Date.now() + 30000;
  while (!fs.existsSync(out) && Date.now() < deadline) await sleep(50);
  if (!fs.existsSync(out)) {
    editor.kill('SIGKILL');
    assert.fail('nothing came back from Neovim within 30 s; its stderr: ' + stderr);
  }
  const written = JSON.parse(fs.readFileSync(out, 'utf8'));
  const code = await Promise.race([exited, sleep(10000).then(() => 'still running')]);
  if (code === 'still running') editor.kill('SIGKILL');
  assert.equal(code, 0);
  return written;
}

test('Neovim shows the syntax error of the file it opens', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'dravelin-nvim-'));
  const file = path.join(dir, 'broken.zem');
  fs.writeFileSync(file, 'program p\n\ntask a:\n  x = 1 +\n\ntask b:\n  return 2\n');
  const published = await runEditor('init.lua', file, dir);
  assert.equal(decodeURIComponent(published.uri), 'file://' + file);
  assert.equal(published.diagnostics.length, 1);
  const d = published.diagnostics[0];
  assert.equal(d.code, 'syntax');
  assert.equal(d.source, 'dravelin');
  assert.deepStrictEqual(d.range.start, { line: 3, character: 9 });
});

test('Neovim hovers, goes to a definition in another file, lists references and completes', async () => {
  const ws = makeWorkspace();
  const got = await runEditor('navigate.lua', ws.paths.main, ws.dir);
  assert.ok(got.hover.contents.value.startsWith('```dravelin\njudgment classify(ticket)\n```\n*judgment*'), JSON.stringify(got.hover));
  assert.equal(got.definition.length, 1);
  assert.equal(decodeURIComponent(got.definition[0].uri), 'file://' + ws.paths.texts);
  assert.deepStrictEqual(got.definition[0].range, { start: { line: 5, character: 4 }, end: { line: 5, character: 8 } });
  assert.deepStrictEqual(got.references.map((l) => [l.range.start.line, l.range.start.character]), [[10, 4], [24, 15]]);
  assert.deepStrictEqual(got.completion.map((i) => i.label), ['kind']);
});
