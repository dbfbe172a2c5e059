'use strict';
// A small workspace on disk for the navigation tests: a program that imports a module with an alias, which
// imports another; a local def that shadows a prelude def; a machine; a judgment with a parameter.
const fs = require('node:fs');
const path = require('node:path');
const { tempDir, fileUri } = require('./client');

const MAIN = [
  'program app',
  'use "./lib/texts.zem" as texts with fetcher: web',
  'needs web: tool',
  'needs bot: agent',
  'in req: {title: text}',
  'out reply',
  '',
  '# Picks the kind of a ticket.',
  'judgment classify(ticket):',
  '  kind = ticket pick:',
  '    bug "a defect"',
  '    other',
  '',
  'def stuck(steps):',
  '  return false',
  '',
  'machine follow(t):',
  '  state open:',
  '    on close "done" -> shut when stuck(t)',
  '  state shut done',
  '',
  'task main:',
  '  r = classify(ticket: req.title)',
  '  h = bot.spawn prompt "go"',
  '  if r.kind is bug:',
  '    reply = texts.tidy(req.title)',
  '  xs = [x for x in [1, 2]]',
  '  n = len(xs)',
  '  s = texts.inner.deep()',
  '  web.fetch(n)',
  '  reply = std.repeats([n])',
  '',
].join('\n');

const TEXTS = ['program texts', 'use "./inner.zem" as inner', 'needs fetcher: tool', '', '# Returns the text as it is.', 'def tidy(t):', '  return t', ''].join('\n');
const INNER = ['program inner', '', 'def deep():', '  return 1', ''].join('\n');
const OTHER = ['program second', 'use "./lib/texts.zem" as t', '', 'task main:', '  return t.tidy("x")', ''].join('\n');

function makeWorkspace() {
  const dir = fs.realpathSync(tempDir());
  fs.mkdirSync(path.join(dir, 'lib'));
  const files = { main: 'main.zem', texts: 'lib/texts.zem', inner: 'lib/inner.zem', other: 'other.zem' };
  const texts = { main: MAIN, texts: TEXTS, inner: INNER, other: OTHER };
  const out = { dir, paths: {}, uris: {}, texts };
  for (const [key, file] of Object.entries(files)) {
    out.paths[key] = path.join(dir, file);
    out.uris[key] = fileUri(out.paths[key]);
    fs.writeFileSync(out.paths[key], texts[key]);
  }
  return out;
}

// The position of the `nth` (from 0) appearance of `needle` in the text, moved `within` characters into it.
function positionOf(text, needle, within = 0, nth = 0) {
  let at = text.indexOf(needle);
  for (let i = 0; i < nth; ++i) at = text.indexOf(needle, at + 1);
  if (at < 0) throw new Error('no ' + needle);
  at += within;
  const before = text.slice(0, at).split('\n');
  return { line: before.length - 1, character: before[before.length - 1].length };
}

function range(l1, c1, l2, c2) {
  return { start: { line: l1, character: c1 }, end: { line: l2, character: c2 } };
}

module.exports = { makeWorkspace, positionOf, range };
