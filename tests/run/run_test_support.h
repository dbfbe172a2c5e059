// Programs compiled from text, and capability hosts that answer from a script, for the run tests.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ir/program.h"
#include "record/capability.h"
#include "support/compiled_program.h"

namespace dravelin::run::testing {

using dravelin::testing::compile_or_fail;

// A host of the given kind whose manifest (when it has one) lists `verbs`; its calls and observations fail.
class ManifestHost final : public record::CapabilityHost {
 public:
  ManifestHost(record::NeedKind kind, std::optional<std::vector<std::string>> verbs)
      : kind_(kind), verbs_(std::move(verbs)) {}

  record::NeedKind kind() const override { return kind_; }
  Result<runtime::Value, runtime::RuntimeError> call(std::string_view verb, runtime::CallArguments) override {
    return err(runtime::make_runtime_error(runtime::RuntimeErrorCode::AdapterError,
                                           "`" + std::string(verb) + "` is not scripted"));
  }
  std::optional<std::map<std::string, record::ManifestVerb>> manifest() override {
    if (!verbs_) return std::nullopt;
    std::map<std::string, record::ManifestVerb> out;
    for (const std::string& verb : *verbs_) out.emplace(verb, record::ManifestVerb{});
    return out;
  }
  Result<record::Observation, runtime::RuntimeError> observe(const runtime::Handle&) override {
    return err(runtime::make_runtime_error(runtime::RuntimeErrorCode::AdapterError, "observe is not scripted"));
  }

 private:
  record::NeedKind kind_;
  std::optional<std::vector<std::string>> verbs_;
};

}  // namespace dravelin::run::testing
