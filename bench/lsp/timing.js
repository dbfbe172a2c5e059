'use strict';
// The helpers the language server benchmarks share: percentiles of samples in milliseconds, `dravelin check`
// timed as a whole process, as a user or a build step runs it, and a stream that holds the client's writes back.
const { spawnSync } = require('node:child_process');
const { Writable } = require('node:stream');

function quantile(samples, q) {
  const sorted = [...samples].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
}

// p50 and p95, and the largest sample when `max` is asked for.
function summary(samples, { max = false } = {}) {
  const result = { p50: quantile(samples, 0.5), p95: quantile(samples, 0.95) };
  if (max) result.max = Math.max(...samples);
  return result;
}

function ms(ns) {
  return Number(ns) / 1e6;
}

function timeCheck(binary, file, runs, options) {
  const samples = [];
  for (let i = 0; i < runs; ++i) {
    const began = process.hrtime.bigint();
    spawnSync(binary, ['check', file], { stdio: 'ignore' });
    samples.push(ms(process.hrtime.bigint() - began));
  }
  return summary(samples, options);
}

// Holds what the client library writes between `hold` and `release`, so that many messages reach the server in
// one write, as they would if the server had been busy while they were sent.
class HeldWrites extends Writable {
  constructor(target) {
    super();
    this.target = target;
    this.held = null;
  }
  hold() {
    this.held = [];
  }
  // Writes what was held; returns its length in bytes.
  release() {
    const bytes = Buffer.concat(this.held);
    this.held = null;
    this.target.write(bytes);
    return bytes.length;
  }
  _write(chunk, encoding, done) {
    if (this.held) {
      this.held.push(Buffer.from(chunk, encoding));
      done();
    } else {
      this.target.write(chunk, encoding, done);
    }
  }
}

module.exports = { quantile, summary, ms, timeCheck, HeldWrites };
