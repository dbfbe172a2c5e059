'use strict';
// A smoke test with a real editor: headless Neovim opens a file through its built-in LSP client and the
// diagnostics it receives are read back.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

test('Neovim shows the syntax error of the file it opens', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'dravelin-nvim-'));
  const file = path.join(dir, 'broken.zem');
  const out = path.join(dir, 'diagnostics.json');
  fs.writeFileSync(file, 'program p\n\ntask a:\n  x = 1 +\n\ntask b:\n  return 2\n');
  const editor = spawn('nvim', ['--headless', '--clean', '-c', 'luafile ' + path.join(__dirname, 'init.lua'), file], {
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
    assert.fail('no diagnostics reached Neovim within 30 s; its stderr: ' + stderr);
  }
  const published = JSON.parse(fs.readFileSync(out, 'utf8'));
  assert.equal(decodeURIComponent(published.uri), 'file://' + file);
  assert.equal(published.diagnostics.length, 1);
  const d = published.diagnostics[0];
  assert.equal(d.code, 'syntax');
  assert.equal(d.source, 'dravelin');
  assert.deepStrictEqual(d.range.start, { line: 3, character: 9 });

  const code = await Promise.race([exited, sleep(10000).then(() => 'still running')]);
  if (code === 'still running') editor.kill('SIGKILL');
  assert.equal(code, 0);
});
