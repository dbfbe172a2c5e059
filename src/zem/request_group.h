// Request group assembly: a batch of judgments becomes the requests the model service is asked, and the specs
// by which their answers later become values (answers.h).
//
// Every expression a question needs (subject indexes, conditions, label and level texts, details, the `pick
// among` question) is evaluated under the question host, which refuses every effect: building a plan never
// acts on the world. Subjects are read out of the scopes and their plain JSON is placed into the request's
// state along their field and index steps. An `each` becomes one question per element; a batch holding more
// questions than one request may carry is cut into chunks only when an `each` alone is over that cap.
// Every chunk must pass the profile's size limits (size.h). The first failure ends the build; nothing of a
// failed build survives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.h"
#include "ir/nodes.h"
#include "json/value.h"
#include "runtime/eval.h"
#include "runtime/runtime_error.h"
#include "runtime/value.h"
#include "zem/profile.h"
#include "zem/size.h"

namespace dravelin::zem {

using runtime::EvalContext;
using runtime::Scopes;
using runtime::Value;

// One judgment of a batch: the name its result is assigned to, and the question (borrowed from the IR).
struct NamedJudge {
  std::string name;
  const ir::Judge* judge = nullptr;
};

// A subject step with its index evaluated.
struct ResolvedStep {
  struct Field {
    std::string name;
    friend bool operator==(const Field&, const Field&) = default;
  };
  struct Index {
    uint64_t index = 0;
    friend bool operator==(const Index&, const Index&) = default;
  };
  std::variant<Field, Index> step;

  static ResolvedStep field(std::string name) { return ResolvedStep{Field{std::move(name)}}; }
  static ResolvedStep index(uint64_t index) { return ResolvedStep{Index{index}}; }

  friend bool operator==(const ResolvedStep&, const ResolvedStep&) = default;
};

// A value the request's state must hold at the place reached from `root` by `steps`.
struct StateEntry {
  std::string root;
  std::vector<ResolvedStep> steps;
  json::Value value;  // the plain JSON form

  friend bool operator==(const StateEntry&, const StateEntry&) = default;
};

// How a judgment's answers become values.
struct AnswerKind {
  struct Prob {  // `feels`
    friend bool operator==(const Prob&, const Prob&) = default;
  };
  struct Choice {  // `pick`
    std::vector<std::string> labels;
    friend bool operator==(const Choice&, const Choice&) = default;
  };
  struct Level {  // `rate`
    std::vector<std::string> names;  // empty unless every level is named
    size_t count = 0;                // the number of levels
    friend bool operator==(const Level&, const Level&) = default;
  };
  struct PickAmong {
    std::vector<std::string> labels;  // "i0", "i1", ..., then "none" when it is allowed
    std::vector<Value> items;         // the elements offered
    friend bool operator==(const PickAmong&, const PickAmong&) = default;
  };
  std::variant<Prob, Choice, Level, PickAmong> kind;

  friend bool operator==(const AnswerKind&, const AnswerKind&) = default;
};

struct AnswerSpec {
  std::string name;
  bool each = false;
  size_t question_count = 0;  // the questions this judgment produced: one per element for `each`
  AnswerKind kind;
  bool sample = false;  // the judgment's detail asks for `sample true`

  friend bool operator==(const AnswerSpec&, const AnswerSpec&) = default;
};

struct RequestPlan {
  std::vector<RequestGroup> groups;  // in the order they are to be asked; none when no question was produced
  std::vector<AnswerSpec> specs;     // one per judgment, in batch order

  friend bool operator==(const RequestPlan&, const RequestPlan&) = default;
};

// Builds the plan of one batch. `state_params` are the parameters of a named judgment, placed into every
// request's state whole (null when the scopes lack one); inline judgments pass none. The scopes are left as
// they were found.
Result<RequestPlan, RuntimeError> build_request_group(const std::vector<NamedJudge>& judges,
                                                      const std::optional<std::vector<std::string>>& state_params,
                                                      Scopes& scopes, const Profile& profile);

// A copy of the value reached from `root` (innermost scope first, then the run inputs) by `steps`. Every
// failure is a `type_error` carrying `span`.
Result<Value, RuntimeError> resolve_subject(const Scopes& scopes, std::string_view root,
                                            const std::vector<ResolvedStep>& steps, const syntax::Span& span = {});

// "root", "root.field", "root[3]" and their chains; an index may lack its closing "]" at the end of the text.
// Anything else is a spanless `type_error` "`<text>` is not a state path".
Result<std::pair<std::string, std::vector<ResolvedStep>>, RuntimeError> parse_state_path(std::string_view text);

// The text form of the expression's value; none for no expression.
Result<std::optional<std::string>, RuntimeError> eval_optional_text(EvalContext& context,
                                                                    const std::optional<ir::Expr>& expr,
                                                                    Scopes& scopes);
// No expression or a none value: no texts; a list: the text form of each element; anything else: its text form.
Result<std::vector<std::string>, RuntimeError> eval_text_list(EvalContext& context,
                                                              const std::optional<ir::Expr>& expr, Scopes& scopes);

}  // namespace dravelin::zem
