#include "support/zem_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "json/reader.h"

namespace dravelin::testing {

namespace {

// Long enough for a loaded machine to start an interpreter and make a key; only a broken script waits it out.
constexpr auto kStartLimit = std::chrono::seconds(60);

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string support_path(const std::string& script) { return std::string(DRAVELIN_TEST_SUPPORT_DIR) + "/" + script; }

}  // namespace

// ---- ScratchDir ----

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dravelin-net-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::write(const std::string& name, std::string_view text) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << text;
  return file.string();
}

// ---- ScriptProcess ----

Result<std::unique_ptr<ScriptProcess>, std::string> ScriptProcess::start(const std::string& script,
                                                                         const std::vector<std::string>& args,
                                                                         const std::string& stderr_file) {
  // Everything the child needs is made before fork: between fork and exec only async-signal-safe calls.
  std::vector<std::string> words = {DRAVELIN_PYTHON3, support_path(script)};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int err_fd = open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (err_fd < 0) return err("cannot open " + stderr_file + ": " + std::strerror(errno));
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(err_fd);
    return err(std::string("pipe: ") + std::strerror(errno));
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(err_fd);
    close(out[0]);
    close(out[1]);
    return err(std::string("fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    // The server must not outlive a test program that crashes.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, 0);
    dup2(out[1], 1);
    dup2(err_fd, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(err_fd);
  close(out[1]);

  auto fail = [&](const std::string& why) -> Result<std::unique_ptr<ScriptProcess>, std::string> {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(out[0]);
    return err(script + " " + why + "; its stderr:\n" + read_file(stderr_file));
  };

  // Read stdout until the port line; each wait ends as soon as the script writes or exits.
  std::string seen;
  const auto limit = std::chrono::steady_clock::now() + kStartLimit;
  while (seen.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
    if (left.count() <= 0) return fail("did not report its port in time");
    pollfd fd{out[0], POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return fail(std::string("could not be watched: ") + std::strerror(errno));
    if (ready == 0) continue;
    char buf[256];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("ended before it reported its port");
    seen.append(buf, static_cast<size_t>(n));
  }
  int port = 0;
  if (std::sscanf(seen.c_str(), "port %d", &port) != 1 || port <= 0) return fail("printed no port: " + seen);
  return std::unique_ptr<ScriptProcess>(new ScriptProcess(pid, out[0], port));
}

ScriptProcess::~ScriptProcess() {
  kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  close(out_fd_);
}

// ---- ZemServer ----

Result<std::unique_ptr<ZemServer>, std::string> ZemServer::start(const ZemServerOptions& options) {
  std::unique_ptr<ZemServer> server(new ZemServer());
  server->dir_ = std::make_unique<ScratchDir>();
  const std::filesystem::path& dir = server->dir_->path();
  server->log_file_ = (dir / "requests.jsonl").string();
  std::vector<std::string> args = {"--log", server->log_file_};
  if (options.tls) {
    const std::string tls_dir = options.tls_dir.empty() ? (dir / "tls").string() : options.tls_dir;
    args.insert(args.end(), {"--tls-dir", tls_dir});
    server->cert_file_ = tls_dir + "/cert.pem";
  }
  if (!options.script.empty()) args.insert(args.end(), {"--script", server->dir_->write("script.json", options.script)});
  server->process_ = TRY(ScriptProcess::start("zem_server.py", args, (dir / "server.stderr").string()));
  return server;
}

std::string ZemServer::url(std::string_view path, std::string_view host) const {
  std::string out = cert_file_.empty() ? "http://" : "https://";
  out.append(host).append(":").append(std::to_string(port())).append(path);
  return out;
}

std::vector<json::Value> ZemServer::requests() const { return read_json_lines(log_file_); }

// ---- ConnectProxy ----

Result<std::unique_ptr<ConnectProxy>, std::string> ConnectProxy::start(
    const std::vector<std::pair<std::string, std::string>>& mapping) {
  std::unique_ptr<ConnectProxy> proxy(new ConnectProxy());
  proxy->dir_ = std::make_unique<ScratchDir>();
  const std::filesystem::path& dir = proxy->dir_->path();
  proxy->log_file_ = (dir / "proxy.jsonl").string();
  std::vector<std::string> args = {"--log", proxy->log_file_};
  for (const auto& [host, address] : mapping) args.insert(args.end(), {"--map", host + "=" + address});
  proxy->process_ = TRY(ScriptProcess::start("connect_proxy.py", args, (dir / "proxy.stderr").string()));
  return proxy;
}

std::string ConnectProxy::url() const { return "http://127.0.0.1:" + std::to_string(port()); }

std::vector<json::Value> ConnectProxy::requests() const { return read_json_lines(log_file_); }

// ---- helpers ----

Result<std::string, std::string> make_certificate(const std::string& dir) {
  const std::string stderr_file = dir + ".stderr";
  std::string command = std::string(DRAVELIN_PYTHON3) + " '" + support_path("zem_server.py") + "' --make-cert '" +
                        dir + "' 2>'" + stderr_file + "'";
  if (std::system(command.c_str()) != 0) return err("could not make a certificate: " + read_file(stderr_file));
  return dir + "/cert.pem";
}

ScopedEnv::~ScopedEnv() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->second) {
      setenv(it->first.c_str(), it->second->c_str(), 1);
    } else {
      unsetenv(it->first.c_str());
    }
  }
}

void ScopedEnv::remember(const std::string& name) {
  for (const auto& entry : saved_) {
    if (entry.first == name) return;
  }
  const char* value = std::getenv(name.c_str());
  saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
}

ScopedEnv& ScopedEnv::set(const std::string& name, const std::string& value) {
  remember(name);
  setenv(name.c_str(), value.c_str(), 1);
  return *this;
}

ScopedEnv& ScopedEnv::unset(const std::string& name) {
  remember(name);
  unsetenv(name.c_str());
  return *this;
}

std::vector<json::Value> read_json_lines(const std::string& path) {
  std::vector<json::Value> out;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    auto value = json::parse(line);
    if (value.ok()) out.push_back(std::move(value).value());
  }
  return out;
}

}  // namespace dravelin::testing
