// Local stand-ins for the network a model-service client talks to, for tests and benchmarks of any layer:
// the model service itself (zem_server.py: HTTPS with a certificate made at start, or plain HTTP; answers
// every question deterministically unless scripted; logs every request) and a CONNECT proxy
// (connect_proxy.py). Each runs as a python3 child process, is waited for until it reports the port it
// listens on, and is killed when its handle goes. Nothing here sleeps to wait.
//
//   auto server = ZemServer::start().value();
//   ScopedEnv env;
//   env.set("SSL_CERT_FILE", server->cert_file()).unset("SSL_CERT_DIR");
//   ... point a profile's endpoint at server->url() and ask ...
//   std::vector<json::Value> seen = server->requests();
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "json/value.h"

namespace dravelin::testing {

// A fresh directory under the system's temporary directory, removed with its contents at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `text` as the file `name` in the directory; returns its path.
  std::string write(const std::string& name, std::string_view text) const;

 private:
  std::filesystem::path path_;
};

// A helper script of tests/support running under python3.
class ScriptProcess {
 public:
  // Starts `script` (a file name in tests/support) with `args` and waits until it prints "port <n>";
  // its stderr goes to `stderr_file`, which the error quotes when the script ends before that.
  static Result<std::unique_ptr<ScriptProcess>, std::string> start(const std::string& script,
                                                                   const std::vector<std::string>& args,
                                                                   const std::string& stderr_file);
  ~ScriptProcess();  // kills and reaps the process
  ScriptProcess(const ScriptProcess&) = delete;
  ScriptProcess& operator=(const ScriptProcess&) = delete;

  int port() const { return port_; }

 private:
  ScriptProcess(pid_t pid, int out_fd, int port) : pid_(pid), out_fd_(out_fd), port_(port) {}
  pid_t pid_;
  int out_fd_;
  int port_;
};

struct ZemServerOptions {
  bool tls = true;
  // A JSON array of scripted steps (see zem_server.py); empty for none.
  std::string script;
  // Serve the certificate kept in this directory (made there when missing), so that several servers can
  // share one trust anchor; empty: a certificate of the server's own.
  std::string tls_dir;
};

class ZemServer {
 public:
  static Result<std::unique_ptr<ZemServer>, std::string> start(const ZemServerOptions& options = {});

  int port() const { return process_->port(); }
  // "https://<host>:<port><path>" ("http://" without TLS). The certificate names localhost, zem.test,
  // 127.0.0.1 and ::1; the server listens on 127.0.0.1.
  std::string url(std::string_view path = "/v1/quorent", std::string_view host = "localhost") const;
  // The PEM file of the served certificate, its own trust anchor; empty without TLS.
  const std::string& cert_file() const { return cert_file_; }
  // The requests received so far, in arrival order: objects with seq, connection, method, path, headers
  // (a list of [name, value] pairs in the order sent) and body.
  std::vector<json::Value> requests() const;
  // A scratch directory that lives as long as the server (for profiles files and the like).
  const ScratchDir& dir() const { return *dir_; }

 private:
  ZemServer() = default;
  std::unique_ptr<ScratchDir> dir_;
  std::string cert_file_;
  std::string log_file_;
  std::unique_ptr<ScriptProcess> process_;
};

class ConnectProxy {
 public:
  // `mapping` sends CONNECTs for a host name to another address (e.g. {"zem.test", "127.0.0.1"}).
  static Result<std::unique_ptr<ConnectProxy>, std::string> start(
      const std::vector<std::pair<std::string, std::string>>& mapping = {});

  int port() const { return process_->port(); }
  std::string url() const;  // "http://127.0.0.1:<port>"
  // The request lines received: objects with seq, method, target and headers.
  std::vector<json::Value> requests() const;

 private:
  ConnectProxy() = default;
  std::unique_ptr<ScratchDir> dir_;
  std::string log_file_;
  std::unique_ptr<ScriptProcess> process_;
};

// Makes a self-signed certificate like the server's in `dir`; returns the path of its cert.pem.
Result<std::string, std::string> make_certificate(const std::string& dir);

// Sets and unsets environment variables, restoring every one it touched when it goes.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  ScopedEnv& set(const std::string& name, const std::string& value);
  ScopedEnv& unset(const std::string& name);

 private:
  void remember(const std::string& name);
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The model service's log lines (or any JSON Lines file) as values; a line that does not parse is skipped.
std::vector<json::Value> read_json_lines(const std::string& path);

}  // namespace dravelin::testing
