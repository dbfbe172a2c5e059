#!/usr/bin/env node
// Compares token counting side by side over the same chunks: the `tokens` benchmark program, the npm package
// `tiktoken` (WASM) and the npm package `tiktoken-rs-node-linux-x64-gnu` (native).
//
//   npm install --prefix /tmp/tiktoken-npm tiktoken tiktoken-rs-node-linux-x64-gnu
//   bench/tokens/make-corpus /tmp/tokens-corpus
//   NODE_PATH=/tmp/tiktoken-npm/node_modules node bench/tokens/compare.js \
//       --tokens build/release/bench/tokens [--encoding o200k_base]... [--repeat 3] /tmp/tokens-corpus/*.txt
//
// The chunks are those of `tokens`: per file, the longest runs of whole lines (newline kept) within 4096 bytes of
// UTF-8, a longer line a chunk of its own. Each counter is timed over counting alone, its encoder built first;
// the best of --repeat runs is kept. Default encodings: o200k_base and cl100k_base.
'use strict';

const fs = require('fs');
const { execFileSync } = require('child_process');

function parseArgs(argv) {
  const args = { tokens: 'build/release/bench/tokens', encodings: [], repeat: 3, files: [] };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a === '--tokens') args.tokens = argv[++i];
    else if (a === '--encoding') args.encodings.push(argv[++i]);
    else if (a === '--repeat') args.repeat = Number(argv[++i]);
    else if (a.startsWith('--')) throw new Error(`unknown option ${a}`);
    else args.files.push(a);
  }
  if (args.encodings.length === 0) args.encodings = ['o200k_base', 'cl100k_base'];
  if (args.files.length === 0) throw new Error('no input files');
  return args;
}

const CHUNK_BYTES = 4096;

function chunksOf(buffer) {
  const chunks = [];
  let start = 0;
  let end = 0;
  while (end < buffer.length) {
    const nl = buffer.indexOf(10, end);
    const lineEnd = nl < 0 ? buffer.length : nl + 1;
    if (lineEnd - start > CHUNK_BYTES && end > start) {
      chunks.push(buffer.subarray(start, end));
      start = end;
    }
    end = lineEnd;
    if (end - start > CHUNK_BYTES) {
      chunks.push(buffer.subarray(start, end));
      start = end;
    }
  }
  if (end > start) chunks.push(buffer.subarray(start, end));
  return chunks.map((c) => c.toString('utf8'));
}

function timeBest(repeat, run) {
  let best = Infinity;
  let total = null;
  for (let r = 0; r < repeat; r++) {
    const begin = process.hrtime.bigint();
    const t = run();
    const seconds = Number(process.hrtime.bigint() - begin) / 1e9;
    if (total !== null && t !== total) throw new Error('a counter gave two totals for the same chunks');
    total = t;
    best = Math.min(best, seconds);
  }
  return { total, seconds: best };
}

function main() {
  const args = parseArgs(process.argv.slice(2));
  const buffers = args.files.map((f) => fs.readFileSync(f));
  const bytes = buffers.reduce((n, b) => n + b.length, 0);
  const chunks = buffers.flatMap(chunksOf);
  const wasm = require('tiktoken');
  let native = null;
  try {
    native = require('tiktoken-rs-node-linux-x64-gnu');
  } catch (e) {
    process.stderr.write('tiktoken-rs-node-linux-x64-gnu is not installed: compared with tiktoken alone\n');
  }

  console.log(`${args.files.length} files, ${bytes} bytes, ${chunks.length} chunks, best of ${args.repeat} runs`);
  console.log(['encoding', 'counter', 'total', 'seconds', 'MB/s', 'x native'].map((h, i) =>
    i < 2 ? h.padEnd(i === 0 ? 13 : 28) : h.padStart(12)).join(''));
  for (const name of args.encodings) {
    const rows = [];
    let ours = null;
    for (let r = 0; r < args.repeat; r++) {
      const out = execFileSync(args.tokens, ['--encoding', name, ...args.files], { encoding: 'utf8' });
      const m = /^total=(\d+) bytes=(\d+) seconds=([0-9.]+)$/m.exec(out);
      if (!m) throw new Error(`unexpected output of tokens: ${out}`);
      const result = { total: Number(m[1]), seconds: Number(m[3]) };
      if (ours === null || result.seconds < ours.seconds) ours = result;
    }
    rows.push(['dravelin tokens', ours]);

    const enc = wasm.get_encoding(name);
    rows.push(['tiktoken (WASM)', timeBest(args.repeat, () => {
      let t = 0;
      for (const c of chunks) t += enc.encode_ordinary(c).length;
      return t;
    })]);
    enc.free();

    if (native) {
      const nenc = native.getEncoding(name);
      rows.push(['tiktoken-rs-node (native)', timeBest(args.repeat, () => {
        let t = 0;
        for (const c of chunks) t += nenc.encode(c).length;
        return t;
      })]);
    }

    const nativeRow = rows.find((r) => r[0].includes('native'));
    for (const [label, { total, seconds }] of rows) {
      const speedup = nativeRow ? (nativeRow[1].seconds / seconds).toFixed(2) : '-';
      console.log(name.padEnd(13) + label.padEnd(28) + String(total).padStart(12) + seconds.toFixed(3).padStart(12) +
        (bytes / 1e6 / seconds).toFixed(1).padStart(12) + String(speedup).padStart(12));
    }
    const totals = new Set(rows.map((r) => r[1].total));
    console.log(totals.size === 1 ? `${name}: totals identical` : `${name}: TOTALS DIFFER`);
  }
}

main();
