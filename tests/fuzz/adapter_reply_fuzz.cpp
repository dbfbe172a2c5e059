// One line an adapter wrote back: an answer for every kind of capability and verb, an observation, or an error.
#include "cli/adapter_hosts.h"
#include "fuzz_target.h"
#include "json/reader.h"
#include "record/capability.h"

using namespace dravelin;

DRAVELIN_FUZZ_TARGET(adapter_reply) {
  auto reply = json::parse_json_value(bytes);
  if (!reply.ok()) return fuzz::holds();
  for (std::string_view key : {"result", "observation"}) {
    auto answer = cli::read_adapter_reply(*reply, "helper", key);
    // A reported error carries the adapter's own message, which may be empty.
    if (!answer.ok()) continue;
    if (key == "observation") {
      (void)record::Observation::read_json(*answer);
      continue;
    }
    for (record::NeedKind kind : {record::NeedKind::Agent, record::NeedKind::Person, record::NeedKind::Llm,
                                  record::NeedKind::Tool}) {
      for (std::string_view verb : {"spawn", "ask", "run"}) {
        auto value = cli::read_call_answer(kind, verb, *answer);
        if (!value.ok() && value.error().message.empty()) return fuzz::broken("a refused answer has an empty message");
      }
    }
  }
  return fuzz::holds();
}
