// record_bench --events N PATH: writes N events of a typical run through the file recorder to a new recording at
// PATH, then reads every line back with the line reader, and prints
// `events=<n> bytes=<file size> write_seconds=<s> read_seconds=<s>`.
//
// The events repeat a mix of what a run records most: clock readings, random draws, log lines with fields,
// capability calls with a record result, and model-service requests with their answers.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "record/recorded_event.h"
#include "record/sink.h"
#include "record/timestamp.h"

namespace {

using dravelin::record::Event;
using dravelin::record::Recorded;
using dravelin::runtime::Value;

std::vector<Event> event_mix() {
  std::vector<Event> out;
  out.push_back(Event{Event::Draw{dravelin::record::DrawKind::Now, dravelin::json::Value("2024-01-02T03:04:05.006Z")}});
  out.push_back(Event{Event::Draw{dravelin::record::DrawKind::Random, dravelin::json::Value(0.123456789)}});
  dravelin::runtime::Record fields;
  fields.emplace("attempt", Value::number(3));
  fields.emplace("title", Value::text("Checkout fails with a timeout on the payment page"));
  Event::Log log{dravelin::syntax::LogLevel::Info, Recorded<std::string>::full("retrying the payment step"), {}, "main", {}};
  for (const auto& [name, value] : fields) log.fields.emplace(name, Recorded<Value>::full(value));
  out.push_back(Event{std::move(log)});
  dravelin::runtime::Record result;
  result.emplace("exit_code", Value::number(0));
  result.emplace("stdout", Value::text(std::string(120, 'o')));
  out.push_back(Event{Event::Call{"shell", "test", Value::record({}), Recorded<Value>::full(Value::record(result)), 12}});
  dravelin::json::Object state;
  state.set("ticket", dravelin::json::Value(dravelin::json::Object{{"title", "Checkout fails"}, {"body", std::string(200, 'b')}}));
  out.push_back(Event{Event::Request{"r1", Recorded<dravelin::json::Object>::full(std::move(state)),
                                     {dravelin::zem::Question(dravelin::zem::Question::Noul{"q1", "ticket", "is urgent", {}})}}});
  out.push_back(Event{Event::Answers{"r1", {dravelin::zem::ZemAnswer(dravelin::zem::ZemAnswer::Noul{"q1", 0.82})},
                                     {310, 0.00031}, 420, false}});
  return out;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::string(argv[1]) != "--events") {
    std::fprintf(stderr, "usage: record_bench --events N PATH\n");
    return 2;
  }
  const long count = std::strtol(argv[2], nullptr, 10);
  const std::string path = argv[3];
  const std::vector<Event> mix = event_mix();

  auto created = dravelin::record::FileRecorder::create(path, "run_1_1", false);
  if (!created.ok()) {
    std::fprintf(stderr, "%s\n", created.error().text().c_str());
    return 1;
  }
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    auto at = (*created)->record(mix[static_cast<size_t>(i) % mix.size()]);
    if (!at.ok()) {
      std::fprintf(stderr, "%s\n", at.error().text().c_str());
      return 1;
    }
  }
  const uint64_t bytes = (*created)->offset();
  (*created)->close();
  const double write_seconds = seconds_since(start);

  start = std::chrono::steady_clock::now();
  std::ifstream in(path, std::ios::binary);
  std::string line;
  long read = 0;
  while (std::getline(in, line)) {
    auto event = dravelin::record::RecordedEvent::read_line(line);
    if (!event.ok()) {
      std::fprintf(stderr, "line %ld: %s\n", read + 1, event.error().c_str());
      return 1;
    }
    ++read;
  }
  const double read_seconds = seconds_since(start);
  std::printf("events=%ld bytes=%llu write_seconds=%.3f read_seconds=%.3f\n", read,
              static_cast<unsigned long long>(bytes), write_seconds, read_seconds);
  return read == count ? 0 : 1;
}
