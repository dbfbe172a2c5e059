// Token counting: the chars4 estimate, the tokenizer setting's names and JSON form, BPE counts against vectors
// made with the published encodings, the hand-written pre-tokenisers against PCRE2 running the published split
// patterns, shared encoders, and text that is not UTF-8.
#include "tokens/tokenizer.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"
#include "tokens/bpe_encoder.h"
#include "tokens/bpe_pretokenize.h"

namespace dravelin::tokens {
namespace {

const std::vector<BpeEncoding> kAllEncodings = {
    BpeEncoding::O200kHarmony, BpeEncoding::O200kBase, BpeEncoding::Cl100kBase, BpeEncoding::P50kBase,
    BpeEncoding::P50kEdit,     BpeEncoding::R50kBase,  BpeEncoding::Gpt2,
};

TEST(Chars4, CountsScalarValuesDividedByFourRoundedUp) {
  struct Case {
    std::string text;
    uint64_t tokens;
  };
  const std::vector<Case> cases = {
      {"", 0},
      {"abcd", 1},
      {"abcde", 2},
      {"h\xC3\xA9llo", 2},        // 5 scalars in 6 bytes
      {"\xF0\x9F\x98\x80", 1},    // one 4-byte emoji
      {"e\xCC\x81" "e\xCC\x81", 1},  // two letters with combining accents: 4 scalars, no grapheme rule
      {std::string(4001, 'x'), 1001},
  };
  const auto counter = TokenizerKind::chars4().tokenizer();
  for (const Case& c : cases) {
    EXPECT_EQ(count_chars4(c.text), c.tokens) << c.text;
    EXPECT_EQ(counter->count(c.text), c.tokens) << c.text;
  }
}

TEST(TokenizerKindNames, EveryCodeWritesAndReadsBackItsName) {
  const std::vector<std::string> names = {
      "tiktoken:o200k_harmony", "tiktoken:o200k_base", "tiktoken:cl100k_base", "tiktoken:p50k_base",
      "tiktoken:p50k_edit",     "tiktoken:r50k_base",  "tiktoken:gpt2",        "chars4",
  };
  for (uint8_t code = 0; code < names.size(); ++code) {
    const auto kind = TokenizerKind::from_code(code);
    ASSERT_TRUE(kind.has_value());
    EXPECT_EQ(kind->name(), names[code]);
    EXPECT_EQ(kind->is_chars4(), code == TokenizerKind::chars4_code);

    std::string out;
    json::Writer w(out);
    w.begin_object();
    write_json_field_tokenizer(w, *kind);
    w.end_object();
    EXPECT_EQ(out, "{\"tokenizer\":\"" + names[code] + "\"}");

    auto object = json::parse_json_object(out);
    ASSERT_TRUE(object.ok());
    auto read = TokenizerKind::from_json(*object->find("tokenizer"));
    ASSERT_TRUE(read.ok()) << names[code];
    EXPECT_EQ(*read, *kind);

    const std::string quoted = "\"" + names[code] + "\"";
    json::Reader reader(quoted);
    auto pulled = TokenizerKind::from_json(reader);
    ASSERT_TRUE(pulled.ok()) << names[code];
    EXPECT_EQ(*pulled, *kind);
  }
  EXPECT_FALSE(TokenizerKind::from_code(8).has_value());
  EXPECT_EQ(BpeEncoding::from_name("tiktoken:gpt2"), BpeEncoding(BpeEncoding::Gpt2));
  EXPECT_FALSE(BpeEncoding::from_name("chars4").has_value());
}

TEST(TokenizerKindNames, RefusesEveryOtherSpellingNamingTheTextUnchanged) {
  for (const std::string text : {"Chars4", " chars4", "chars4 ", "tiktoken:", "tiktoken:CL100K_BASE",
                                 "TIKTOKEN:cl100k_base", "cl100k_base", "tiktoken: cl100k_base", ""}) {
    EXPECT_FALSE(TokenizerKind::from_name(text).has_value()) << text;
    const std::string expected =
        "unsupported tokenizer `" + text + "`; expected `chars4` or a supported `tiktoken:<encoding>`";
    EXPECT_EQ(unsupported_tokenizer_error(text), expected);

    auto from_value = TokenizerKind::from_json(json::Value(text));
    ASSERT_FALSE(from_value.ok());
    EXPECT_EQ(from_value.error().text(), expected);

    // From the pull reader the message is placed after the string that was read.
    const std::string quoted = "\"" + text + "\"";
    json::Reader reader(quoted);
    auto pulled = TokenizerKind::from_json(reader);
    ASSERT_FALSE(pulled.ok());
    EXPECT_EQ(pulled.error().message, expected);
    EXPECT_EQ(pulled.error().column, text.size() + 2);
  }
}

TEST(TokenizerKindNames, ANonStringIsTheReadersTypeError) {
  auto from_value = TokenizerKind::from_json(json::Value(uint64_t{5}));
  ASSERT_FALSE(from_value.ok());
  EXPECT_EQ(from_value.error().text(), "invalid type: integer `5`, expected a string");

  json::Reader reader("5");
  auto pulled = TokenizerKind::from_json(reader);
  ASSERT_FALSE(pulled.ok());
  EXPECT_EQ(pulled.error().text(), "invalid type: integer `5`, expected a string at line 1 column 1");
}

TEST(TokenizerKindNames, NamingParsingAndChars4BuildNoEncoder) {
  const size_t before = bpe::encoders_built();
  for (uint8_t code = 0; code <= TokenizerKind::chars4_code; ++code) {
    const auto kind = TokenizerKind::from_code(code);
    ASSERT_TRUE(TokenizerKind::from_name(kind->name()).has_value());
  }
  EXPECT_EQ(TokenizerKind::chars4().tokenizer()->count("abcdefgh"), 2u);
  EXPECT_EQ(bpe::encoders_built(), before);
}

struct Vector {
  std::string text;
  std::vector<std::pair<BpeEncoding, uint64_t>> counts;
};

std::vector<Vector> load_vectors() {
  std::ifstream in(std::string(DRAVELIN_TESTDATA) + "/tokens/vectors.jsonl", std::ios::binary);
  std::vector<Vector> vectors;
  std::string line;
  while (std::getline(in, line)) {
    auto object = json::parse_json_object(line);
    if (!object.ok()) {
      ADD_FAILURE() << object.error().text();
      continue;
    }
    Vector v;
    v.text = object->find("text")->as_string();
    for (const auto& member : object->find("counts")->as_object()) {
      const auto encoding = BpeEncoding::from_name("tiktoken:" + member.key);
      if (!encoding) {
        ADD_FAILURE() << "unknown encoding " << member.key;
        continue;
      }
      v.counts.emplace_back(*encoding, member.value.as_uint());
    }
    vectors.push_back(std::move(v));
  }
  return vectors;
}

TEST(BpeCount, EqualsThePublishedEncodingsOnEveryVector) {
  const std::vector<Vector> vectors = load_vectors();
  ASSERT_GT(vectors.size(), 100u);
  for (const Vector& v : vectors) {
    ASSERT_EQ(v.counts.size(), kAllEncodings.size());
    for (const auto& [encoding, expected] : v.counts) {
      EXPECT_EQ(count_bpe_tokens(encoding, v.text), expected)
          << encoding.name() << " on " << json::escape_string(v.text.substr(0, 200));
    }
  }
}

TEST(BpeCount, SpecialTokenTextsCountAsText) {
  // "<|endoftext|>" is a single special token only when special tokens are allowed; ordinary encoding splits it.
  for (BpeEncoding encoding : kAllEncodings) {
    EXPECT_GT(count_bpe_tokens(encoding, "<|endoftext|>"), 1u) << encoding.name();
  }
}

TEST(BpeCount, EncodingsThatShareRanksShareOneEncoder) {
  using bpe::encoder_for;
  EXPECT_EQ(&encoder_for(BpeEncoding::Gpt2), &encoder_for(BpeEncoding::R50kBase));
  EXPECT_EQ(&encoder_for(BpeEncoding::P50kEdit), &encoder_for(BpeEncoding::P50kBase));
  EXPECT_EQ(&encoder_for(BpeEncoding::O200kHarmony), &encoder_for(BpeEncoding::O200kBase));
  EXPECT_NE(&encoder_for(BpeEncoding::P50kBase), &encoder_for(BpeEncoding::R50kBase));
  for (BpeEncoding encoding : kAllEncodings) encoder_for(encoding);
  EXPECT_EQ(bpe::encoders_built(), 4u);  // seven names, four rank tables

  // A counter handle is a view of the shared encoder: dropping it leaves the encoder in place.
  const std::string text = "Counting the same text twice gives the same answer.";
  const uint64_t first = TokenizerKind::bpe(BpeEncoding::Gpt2).tokenizer()->count(text);
  EXPECT_EQ(TokenizerKind::bpe(BpeEncoding::R50kBase).tokenizer()->count(text), first);
  EXPECT_EQ(bpe::encoders_built(), 4u);
}

TEST(BpeCount, ConcurrentCountsAgreeWithSerialOnes) {
  std::vector<std::string> texts;
  for (const Vector& v : load_vectors()) texts.push_back(v.text);
  std::vector<uint64_t> serial;
  for (BpeEncoding encoding : kAllEncodings) {
    for (const std::string& t : texts) serial.push_back(count_bpe_tokens(encoding, t));
  }
  std::vector<std::vector<uint64_t>> results(4);
  std::vector<std::thread> threads;
  for (auto& result : results) {
    threads.emplace_back([&texts, &result] {
      for (BpeEncoding encoding : kAllEncodings) {
        for (const std::string& t : texts) result.push_back(count_bpe_tokens(encoding, t));
      }
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& result : results) EXPECT_EQ(result, serial);
}

TEST(BpeCount, BytesThatAreNotUtf8AreCountedAsCharactersOfTheirOwn) {
  // A malformed byte is one character that is neither letter, number nor space.
  using bpe::SplitPattern;
  using Pieces = std::vector<std::string_view>;
  EXPECT_EQ(bpe::split_pieces(SplitPattern::R50k, "a\xFF\xFE" "b c"), (Pieces{"a", "\xFF\xFE", "b", " c"}));
  EXPECT_EQ(bpe::split_pieces(SplitPattern::Cl100k, "\xC3(x"), (Pieces{"\xC3(", "x"}));  // truncated sequence
  EXPECT_EQ(bpe::split_pieces(SplitPattern::O200k, "\xED\xA0\x80 y"), (Pieces{"\xED\xA0\x80", " y"}));  // surrogate

  // Random bytes never fault, and the pieces cover the text exactly.
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::string text(rng() % 64, '\0');
    for (char& c : text) c = static_cast<char>(rng());
    for (SplitPattern pattern : {SplitPattern::R50k, SplitPattern::Cl100k, SplitPattern::O200k}) {
      std::string joined;
      for (std::string_view piece : bpe::split_pieces(pattern, text)) {
        EXPECT_FALSE(piece.empty());
        joined += piece;
      }
      EXPECT_EQ(joined, text);
    }
    for (BpeEncoding encoding : kAllEncodings) EXPECT_LE(count_bpe_tokens(encoding, text), text.size());
  }
}

// The published split patterns, run by PCRE2 (UTF, Unicode properties): the oracle for the hand-written
// pre-tokenisers.
class PatternOracle {
 public:
  explicit PatternOracle(const std::string& pattern) {
    int code = 0;
    PCRE2_SIZE offset = 0;
    re_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), PCRE2_UTF | PCRE2_UCP, &code,
                        &offset, nullptr);
    EXPECT_NE(re_, nullptr) << "pattern does not compile at " << offset;
    match_ = pcre2_match_data_create_from_pattern(re_, nullptr);
  }
  ~PatternOracle() {
    pcre2_match_data_free(match_);
    pcre2_code_free(re_);
  }

  std::vector<std::string_view> pieces(std::string_view text) const {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at < text.size()) {
      const int rc = pcre2_match(re_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), at, 0, match_, nullptr);
      if (rc < 0) break;
      const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match_);
      if (ovector[1] == ovector[0]) break;  // no pattern here matches the empty text
      out.push_back(text.substr(ovector[0], ovector[1] - ovector[0]));
      at = ovector[1];
    }
    return out;
  }

 private:
  pcre2_code* re_ = nullptr;
  pcre2_match_data* match_ = nullptr;
};

TEST(PreTokeniser, GivesThePiecesOfThePublishedPatterns) {
  struct Case {
    bpe::SplitPattern pattern;
    std::string regex;
  };
  const std::vector<Case> cases = {
      {bpe::SplitPattern::R50k, R"('s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+)"},
      {bpe::SplitPattern::Cl100k,
       R"((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|)"
       R"(\s+(?!\S)|\s+)"},
      {bpe::SplitPattern::O200k,
       R"([^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+(?i:'s|'t|'re|'ve|'m|'ll|'d)?|)"
       R"([^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+[\p{Ll}\p{Lm}\p{Lo}\p{M}]*(?i:'s|'t|'re|'ve|'m|'ll|'d)?|)"
       R"(\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n/]*|\s*[\r\n]+|\s+(?!\S)|\s+)"},
  };
  // Characters of every class the patterns tell apart, with classes that have not changed between Unicode
  // versions (PCRE2's tables may be older than the published encoder's): letters of each kind, marks, numbers,
  // white space of several kinds (not U+0085, which PCRE2 leaves out of \s), apostrophes and contraction letters.
  const std::vector<std::string> alphabet = {
      "a", "s", "t", "r", "e", "v", "m", "l", "d", "S", "T", "R", "E", "L", "D", "M", "V", "x", "Q",
      "\xC5\xBF" /* long s */, "\xC3\xA9", "\xC7\x85" /* Lt */, "\xCA\xB0" /* Lm */, "\xE6\xBC\xA2" /* Lo */,
      "\xCC\x81" /* Mn */, "\xE0\xA4\xBF" /* Mc */, "\xE2\x83\x9D" /* Me */, "0", "7", "\xD9\xA3" /* Nd */,
      "\xC2\xB2" /* No */, "\xE2\x85\xAB" /* Nl */, " ", " ", " ", "\t", "\n", "\r", "\xC2\xA0", "\xE3\x80\x80",
      "\xE2\x80\xA8", "'", "'", "/", "!", ".", "-", "\xE2\x82\xAC" /* Sc */, "\xF0\x9F\x98\x80" /* So */,
      "\xE2\x80\x8D" /* Cf */, "\x01", "\xEF\xBF\xBD",
  };
  std::mt19937 rng(20240531);
  for (const Case& c : cases) {
    PatternOracle oracle(c.regex);
    for (int round = 0; round < 4000; ++round) {
      std::string text;
      const size_t length = 1 + rng() % 24;
      for (size_t k = 0; k < length; ++k) text += alphabet[rng() % alphabet.size()];
      const auto expected = oracle.pieces(text);
      const auto actual = bpe::split_pieces(c.pattern, text);
      ASSERT_EQ(actual, expected) << "pattern " << static_cast<int>(c.pattern) << " on "
                                  << json::escape_string(text);
    }
  }
}

}  // namespace
}  // namespace dravelin::tokens
