'use strict';
// The timing helpers the language server benchmarks share: percentiles of samples in milliseconds, and
// `dravelin check` timed as a whole process, as a user or a build step runs it.
const { spawnSync } = require('node:child_process');

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

module.exports = { quantile, summary, ms, timeCheck };
