#!/usr/bin/env node
// Writes vectors.jsonl: for a varied set of texts, the token counts of the published encodings (the npm package
// `tiktoken`, ordinary encoding, so special-token texts count as text). Run it when the set changes and commit
// the output; the tests read the file and need no node.
//
//   npm install --prefix /tmp/tiktoken-npm tiktoken
//   NODE_PATH=/tmp/tiktoken-npm/node_modules node tests/testdata/tokens/generate.js
//
// o200k_harmony is not in the package: its ordinary encoding is o200k_base's.
'use strict';

const fs = require('fs');
const path = require('path');
const { get_encoding } = require('tiktoken');

const NAMES = ['o200k_harmony', 'o200k_base', 'cl100k_base', 'p50k_base', 'p50k_edit', 'r50k_base', 'gpt2'];
const SOURCE = { o200k_harmony: 'o200k_base' };

// A small deterministic generator, so that the long mixed texts are the same on every run.
let seed = 0x2545f491;
function random() {
  seed ^= seed << 13;
  seed ^= seed >>> 17;
  seed ^= seed << 5;
  return (seed >>> 0) / 4294967296;
}
function pick(list) {
  return list[Math.floor(random() * list.length)];
}
function mixed(length, alphabet) {
  let s = '';
  while (s.length < length) s += pick(alphabet);
  return s;
}

const ALPHABET = [
  'a', 'b', 'Z', 'Q', 'é', 'ß', 'Ǆ', 'ǅ', 'ʰ', 'ſ', 'Σ', 'ж', 'Ж', 'ا', 'א', 'ש', 'क', 'ि', '्', '\u0301', '\u20dd',
  '漢', 'か', 'カ', 'ー', '한', '0', '7', '٣', '²', 'Ⅻ', '½', ' ', ' ', ' ', '\t', '\n', '\r', '\u00a0', '\u3000',
  '\u2028', '\u0085', "'", "'s", "'LL", '/', '!', '.', ',', '-', '_', '(', ')', '{', '"', '\\', '😀', '👍🏽', '\u200d',
  '\ufeff', '\u0000', '\u001f', '\ufffd', '\ue000', '\u0378', '€', '$', '<|endoftext|>',
];

const ENGLISH =
  'It was the best of times, it was the worst of times, it was the age of wisdom, it was the age of ' +
  "foolishness. We're sure they'll say it isn't so; you've heard what I'd said, haven't you?\n\n" +
  'The quick brown fox jumps over the lazy dog. THE QUICK BROWN FOX! Mr. O\'Neil paid $1,234.56 on 2024-03-15.';

const CODE = `#include <vector>
// Returns the sum of squares.
template <class T>
T sum_squares(const std::vector<T>& xs) {
    T total{};
    for (const auto& x : xs) total += x * x;   // 3 spaces before the comment
    return total;
}

def parse(path: str) -> dict[str, int]:
    with open(path, "r", encoding="utf-8") as f:
        return {k: int(v) for k, v in (line.split("=", 1) for line in f if line.strip())}
`;

const JSON_TEXT = JSON.stringify(
  { model: 'zem-1.13.0', total_tokens: 64000, price: 0.042, tags: ['a', 'b'], nested: { ok: true, n: null } },
  null,
  2,
);

const TEXTS = [
  '',
  'a',
  'abcd',
  'hello world',
  'Hello, World!',
  ENGLISH,
  "I'm can't we'll they've she'd it's you're",
  "'S 'T 'RE 'VE 'M 'LL 'D 's 't 're 've 'm 'll 'd",
  "DON'T WON'T Ain'T it'S we'Re",
  "the cat'ſ toy; 'ſ; X'ſ",
  "McDonald's O'Reilly rock 'n' roll '''' ' ''s",
  'HELLOworld camelCaseIdentifier XMLHttpRequest getHTTPResponseCode ABC',
  'ǅemal ǈubljana ǋ ǲ ᾈ',
  'ʰʲʷ ˈstress ゝゞ 々 ꜱ',
  CODE,
  JSON_TEXT,
  '{"a":[1,2,3],"b":{"c":"d\\n"},"e":null}',
  '1234567890 3.14159 1,000,000 -42 +7 1e10 0x1F 007',
  '٣٤٥ ۱۲۳ १२३ ²³ Ⅻ ½ ① 𝟙𝟚',
  'abc123def 12ab 1a2b3c',
  '   ',
  'a   b',
  '\t\tx',
  '\n\n\n',
  '\r\n\r\nx\r\n',
  ' \n ',
  'line1\nline2\n',
  '  \n  hello',
  ' '.repeat(200),
  'x' + ' '.repeat(37) + 'y',
  'end with spaces   ',
  '\u00a0nbsp\u00a0 \u3000ideographic\u3000space \u2028sep\u2029 \u0085nel \u1680ogham \u202fnarrow',
  '\u000b\u000c vertical tab and form feed \u001c\u001d\u001e\u001f',
  '中文文本测试，包括标点符号。我们今天去公园散步吧！',
  '日本語のテキストです。カタカナとひらがな、そして漢字。ｶﾀｶﾅ',
  '한국어 텍스트입니다. 안녕하세요!',
  '👍 😀😃😄 👨‍👩‍👧‍👦 🇺🇸🇯🇵 👍🏽 ❤️ ✌🏿 🏳️‍🌈',
  'e\u0301 n\u0303 a\u0301\u0302\u0303 \u0301abc  \u0301x \u0301 \u20dd\u20dd',
  'नमस्ते दुनिया, यह हिंदी है।',
  'สวัสดีครับ ภาษาไทย',
  'مرحبا بالعالم، هذا نص عربي.',
  'שָׁלוֹם עוֹלָם',
  'Ελληνικά: Σίσυφος ΣΊΣΥΦΟΣ',
  'Русский текст: Привет, МИР! Ёж',
  'Tiếng Việt có dấu: Người Việt Nam',
  '<|endoftext|>',
  '<|fim_prefix|><|fim_middle|><|fim_suffix|><|endofprompt|>',
  'hello<|endoftext|>world <|endoftext|> <|im_start|>',
  '\ufffd \ufffd\ufffd x\ufffdy',
  '\u0000\u0001 null and control \u007f',
  '\ufeffBOM at start',
  '\uffff \ufffe \u0378 \ue000 \udb80\udc00 \u200b \u200c \u200d',
  '\\x80\\xff %C3%A9 \\u00e9 &amp; &#233;',
  'a/b//c !\n/ http://example.com/path?q=1&r=2#frag ../../x //comment\r\n//',
  '!!!\n\n... ---\r\n',
  'a'.repeat(10000),
  'a'.repeat(5000) + 'b',
  '9'.repeat(3001),
  'Pneumonoultramicroscopicsilicovolcanoconiosis'.repeat(300),
  '!'.repeat(2000),
  'ab'.repeat(3000),
  ' '.repeat(5000) + 'x',
  '\n'.repeat(1000),
  ' \n'.repeat(500),
  'こんにちは'.repeat(800),
  '😀'.repeat(1000),
  'e\u0301'.repeat(1500),
  Buffer.from(mixed(3000, ['a', 'b', 'c', 'Z', '1', '+', '/'])).toString('base64'),
  mixed(4000, ['0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f']),
];
// Characters whose class depends on the Unicode version: letters, marks and numbers added in 16.0 (which the
// published encoder knows) and in 17.0 (which it does not), each where its class decides the pieces.
const VERSIONED = [0x10d50, 0x10d70, 0x105c0, 0x11bc0, 0x16d43, 0x16100, 0x1e5d0, 0x323b0, 0x32400, 0x10940, 0x16ea0,
  0x1e6c0, 0xa7ce, 0x0c5c, 0x1ae0, 0x18d00, 0x2b740, 0x2ce00, 0x11b60, 0x11d60, 0x0897];
TEXTS.push(VERSIONED.map((cp) => {
  const c = String.fromCodePoint(cp);
  return `${c}'s a${c} ${c}1  ${c}${c}x A${c}b\n`;
}).join(''));
for (let i = 0; i < 60; i++) TEXTS.push(mixed(20 + Math.floor(random() * 200), ALPHABET));
for (let i = 0; i < 4; i++) TEXTS.push(mixed(3000, ALPHABET));

function main() {
  const encoders = {};
  for (const name of NAMES) encoders[name] = get_encoding(SOURCE[name] || name);
  const lines = [];
  for (const text of TEXTS) {
    const counts = {};
    for (const name of NAMES) counts[name] = encoders[name].encode_ordinary(text).length;
    lines.push(JSON.stringify({ text, counts }));
  }
  for (const name of NAMES) encoders[name].free();
  const out = path.join(__dirname, 'vectors.jsonl');
  fs.writeFileSync(out, lines.join('\n') + '\n');
  process.stdout.write(`${lines.length} texts written to ${out}\n`);
}

main();
