// The payload with which a host answers a pause.
//
// Five alternatives told apart by the keys of their JSON object, in this order: an answer to a confirm
// (`{"answer": text, "text"?: text}`), going on after an escalation (`{"resume": bool}`), new budget limits
// (`{"extend": {key: number}}`), a retry of a failed effect (`{"retry": bool}`), and nothing (any other
// object; it continues a waiting pause). Which payload fits which pause is run control's business.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/result.h"
#include "json/value.h"
#include "json/writer.h"
#include "record/usage.h"

namespace dravelin::record {

struct Resume {
  enum class Kind : uint8_t { Answer, Continue, Extend, Retry, Nothing };

  struct Answer {
    std::string answer;
    std::optional<std::string> text;
    friend bool operator==(const Answer&, const Answer&) = default;
  };
  struct Continue {
    bool resume = false;
    friend bool operator==(const Continue&, const Continue&) = default;
  };
  // New limits: each number replaces the limit of its key (it is not an increment).
  struct Extend {
    std::map<BudgetKey, double> extend;
    friend bool operator==(const Extend&, const Extend&) = default;
  };
  struct Retry {
    bool retry = false;
    friend bool operator==(const Retry&, const Retry&) = default;
  };
  struct Nothing {
    friend bool operator==(const Nothing&, const Nothing&) = default;
  };

  using Data = std::variant<Answer, Continue, Extend, Retry, Nothing>;
  Data data = Nothing{};

  // Any alternative makes a payload (`Resume{Resume::Retry{true}}`). The copies and moves are defined in
  // resume.cpp: inlined into callers, GCC 12 took the inactive alternatives' members for uninitialized.
  Resume();
  template <class Alternative>
    requires(!std::is_same_v<std::remove_cvref_t<Alternative>, Resume> &&
             std::is_constructible_v<Data, Alternative &&>)
  Resume(Alternative&& alternative) : data(std::forward<Alternative>(alternative)) {}
  Resume(const Resume&);
  Resume(Resume&&) noexcept;
  Resume& operator=(const Resume&);
  Resume& operator=(Resume&&) noexcept;
  ~Resume();

  Kind kind() const { return static_cast<Kind>(data.index()); }

  // Compact: `{"answer":"yes"}`, `{"extend":{"calls":60.0,"usd":2.5}}`, `{}`; numbers that are not finite as
  // null. The value form has the same members.
  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  // Tries the alternatives in order on the whole object; the first that reads wins, and every object reads
  // (as `Nothing` at the latest). The only refusal, of anything but an object, is "data did not match any
  // variant of untagged enum Resume".
  static Result<Resume, std::string> read_json(const json::Value& value);

  // The same alternative with equal fields; extension numbers compare numerically.
  friend bool operator==(const Resume&, const Resume&) = default;
};

}  // namespace dravelin::record
