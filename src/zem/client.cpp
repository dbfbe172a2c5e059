#include "zem/client.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <dlfcn.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "json/reader.h"
#include "syntax/utf8.h"
#include "zem/wire.h"

namespace dravelin::zem {

// libcurl, loaded on the first exchange rather than when the program starts: most commands never speak to the
// model service, and linking it made every start load it with about twenty libraries of its own (TLS, Kerberos,
// LDAP, SSH), some 4 MB of memory and a few milliseconds before `main`.
struct CurlLibrary {
  decltype(&::curl_global_init) global_init = nullptr;
  decltype(&::curl_easy_init) easy_init = nullptr;
  decltype(&::curl_easy_setopt) easy_setopt = nullptr;
  decltype(&::curl_easy_perform) easy_perform = nullptr;
  decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&::curl_easy_strerror) easy_strerror = nullptr;
  decltype(&::curl_slist_append) slist_append = nullptr;
  decltype(&::curl_slist_free_all) slist_free_all = nullptr;
  decltype(&::curl_url) url = nullptr;
  decltype(&::curl_url_set) url_set = nullptr;
  decltype(&::curl_url_get) url_get = nullptr;
  decltype(&::curl_url_cleanup) url_cleanup = nullptr;
  decltype(&::curl_free) free = nullptr;
  // Why the library is not there; empty once loaded and initialized.
  std::string error;
};

namespace {

RuntimeError unavailable(std::string message) {
  return make_runtime_error(RuntimeErrorCode::ZemUnavailable, std::move(message), true);
}

RuntimeError service_rejected(std::string message) {
  return make_runtime_error(RuntimeErrorCode::ZemRejected, std::move(message), false);
}

template <class F>
bool bind(void* library, const char* name, F& slot) {
  slot = reinterpret_cast<F>(dlsym(library, name));
  return slot != nullptr;
}

CurlLibrary load_curl() {
  CurlLibrary c;
  // The soname of the libcurl 7 and 8 series, whose interface this file is compiled against.
  void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    c.error = std::string("the HTTPS client library could not be loaded: ") + (why != nullptr ? why : "libcurl.so.4");
    return c;
  }
  const bool bound = bind(library, "curl_global_init", c.global_init) && bind(library, "curl_easy_init", c.easy_init) &&
                     bind(library, "curl_easy_setopt", c.easy_setopt) &&
                     bind(library, "curl_easy_perform", c.easy_perform) &&
                     bind(library, "curl_easy_getinfo", c.easy_getinfo) &&
                     bind(library, "curl_easy_cleanup", c.easy_cleanup) &&
                     bind(library, "curl_easy_strerror", c.easy_strerror) &&
                     bind(library, "curl_slist_append", c.slist_append) &&
                     bind(library, "curl_slist_free_all", c.slist_free_all) && bind(library, "curl_url", c.url) &&
                     bind(library, "curl_url_set", c.url_set) && bind(library, "curl_url_get", c.url_get) &&
                     bind(library, "curl_url_cleanup", c.url_cleanup) && bind(library, "curl_free", c.free);
  if (!bound) {
    c.error = "the HTTPS client library libcurl.so.4 lacks a function this program needs (libcurl 7.62 or later)";
    return c;
  }
  // curl_global_init is not safe to race with other curl calls: once per process, never undone.
  if (const CURLcode init = c.global_init(CURL_GLOBAL_DEFAULT); init != CURLE_OK) c.error = c.easy_strerror(init);
  return c;
}

// The loaded library, or nullptr with `error` saying why.
const CurlLibrary* curl(std::string* error = nullptr) {
  static const CurlLibrary loaded = load_curl();
  if (!loaded.error.empty()) {
    if (error != nullptr) *error = loaded.error;
    return nullptr;
  }
  return &loaded;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool is_loopback_host(std::string_view host) {
  if (equals_ignoring_case(host, "localhost")) return true;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    const std::string address(host.substr(1, host.size() - 2));
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
  }
  const std::string address(host);
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) != 1) return false;
  return (ntohl(v4.s_addr) >> 24) == 127;
}

// The scheme and host the transfer will use for a URL, parsed as the transfer parses it (a URL without a
// scheme is guessed, mostly as http).
struct UrlParts {
  std::string scheme;
  std::string host;
};

std::optional<UrlParts> url_parts(std::string_view url) {
  const CurlLibrary* c = curl();
  if (c == nullptr) return std::nullopt;
  CURLU* handle = c->url();
  if (handle == nullptr) return std::nullopt;
  std::optional<UrlParts> out;
  const std::string text(url);
  if (c->url_set(handle, CURLUPART_URL, text.c_str(), CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
    char* scheme = nullptr;
    char* host = nullptr;
    if (c->url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        c->url_get(handle, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
      out = UrlParts{scheme, host};
    }
    c->free(scheme);
    c->free(host);
  }
  c->url_cleanup(handle);
  return out;
}

bool is_plain_http(const std::optional<UrlParts>& parts) {
  return parts && equals_ignoring_case(parts->scheme, "http");
}

std::string size_text(size_t bytes) {
  if (bytes % (size_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

const char* env_value(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

// The curl handle with what it points at: curl keeps pointers to the header list and the error buffer, so
// they live exactly as long as the handle.
struct ZemClient::Transfer {
  CURL* curl = nullptr;
  curl_slist* headers = nullptr;
  std::string reply;
  size_t max_reply_bytes = 0;
  bool over_limit = false;
  char error[CURL_ERROR_SIZE] = {};

  // Made only once the library is loaded.
  explicit Transfer(const CurlLibrary& library) : lib(library) {}
  ~Transfer() {
    if (curl != nullptr) lib.easy_cleanup(curl);
    lib.slist_free_all(headers);
  }
  const CurlLibrary& lib;

  static size_t on_body(char* data, size_t size, size_t count, void* self_ptr) {
    auto* self = static_cast<Transfer*>(self_ptr);
    const size_t bytes = size * count;
    if (bytes > self->max_reply_bytes - self->reply.size()) {
      self->over_limit = true;
      return 0;  // anything short of `bytes` ends the transfer
    }
    self->reply.append(data, bytes);
    return bytes;
  }
};

Result<std::string, RuntimeError> read_api_key() {
  const char* value = std::getenv(std::string(kApiKeyVariable).c_str());
  if (value == nullptr || !syntax::is_valid_utf8(value)) {
    return err(service_rejected(std::string(kApiKeyVariable) + " is not set"));
  }
  const std::string_view key(value);
  for (const char c : key) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      return err(service_rejected(std::string(kApiKeyVariable) +
                          " holds a control character (such as a line break); a key must be one line of printable "
                          "text"));
    }
  }
  return std::string(key);
}

std::optional<std::string> endpoint_refusal(std::string_view endpoint) {
  const std::optional<UrlParts> parts = url_parts(endpoint);
  if (!is_plain_http(parts) || is_loopback_host(parts->host)) return std::nullopt;
  std::string out = "the endpoint `";
  out.append(endpoint);
  out += "` is plain http:// to a host that is not loopback; the API key is sent only over https:// (or "
         "http:// to localhost, 127.0.0.0/8 or ::1)";
  return out;
}

Result<std::unique_ptr<ZemClient>, RuntimeError> ZemClient::create(const Profile& profile, ClientSettings settings) {
  std::string key = TRY(read_api_key());
  std::string endpoint = profile.endpoint;

  std::string load_error;
  const CurlLibrary* lib = curl(&load_error);
  if (lib == nullptr) return err(unavailable(std::move(load_error)));
  auto transfer = std::make_unique<Transfer>(*lib);
  transfer->curl = lib->easy_init();
  if (transfer->curl == nullptr) return err(unavailable("the HTTPS client could not be created"));
  transfer->max_reply_bytes = settings.max_reply_bytes;

  // Exactly the two headers of the exchange: an empty value removes a header curl would add of its own.
  const std::string authorization = "Authorization: Bearer " + key;
  for (const char* header : {authorization.c_str(), "Content-Type: application/json", "Accept:", "Expect:"}) {
    curl_slist* grown = lib->slist_append(transfer->headers, header);
    if (grown == nullptr) return err(unavailable("the HTTPS client could not be created: out of memory"));
    transfer->headers = grown;
  }

  CURL* curl = transfer->curl;
  CURLcode rc = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (rc == CURLE_OK) rc = lib->easy_setopt(curl, option, value);
  };
  set(CURLOPT_URL, endpoint.c_str());
  set(CURLOPT_POST, 1L);
  set(CURLOPT_HTTPHEADER, transfer->headers);
  set(CURLOPT_FOLLOWLOCATION, 0L);
  // Only the web's two schemes: an endpoint such as file:// or ftp:// fails as an unsupported protocol.
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_TIMEOUT_MS, static_cast<long>(settings.deadline.count()));
  // A reply that announces its size is refused before its body is read; one that does not is cut off by
  // the body callback.
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(settings.max_reply_bytes));
  set(CURLOPT_WRITEFUNCTION, &Transfer::on_body);
  set(CURLOPT_WRITEDATA, static_cast<void*>(transfer.get()));
  set(CURLOPT_ERRORBUFFER, static_cast<char*>(transfer->error));
  // Debian's libcurl reads neither variable itself.
  if (const char* file = env_value("SSL_CERT_FILE")) {
    set(CURLOPT_CAINFO, file);
    set(CURLOPT_PROXY_CAINFO, file);
  }
  if (const char* dir = env_value("SSL_CERT_DIR")) {
    set(CURLOPT_CAPATH, dir);
    set(CURLOPT_PROXY_CAPATH, dir);
  }
  std::optional<std::string> refusal = endpoint_refusal(endpoint);
  // A plain-http endpoint is loopback by now; through a proxy the key would leave the machine in clear.
  if (!refusal && is_plain_http(url_parts(endpoint))) set(CURLOPT_NOPROXY, "*");
  if (rc != CURLE_OK) return err(unavailable(lib->easy_strerror(rc)));

  auto client = std::unique_ptr<ZemClient>(new ZemClient(std::move(endpoint), std::move(key),
                                                         profile.price_per_million_input_usd,
                                                         profile.tokenizer.tokenizer(), settings, std::move(transfer)));
  client->refusal_ = std::move(refusal);
  return client;
}

ZemClient::ZemClient(std::string endpoint, std::string key, double price_per_million_input_usd,
                     std::unique_ptr<tokens::Tokenizer> tokenizer, ClientSettings settings,
                     std::unique_ptr<Transfer> transfer)
    : endpoint_(std::move(endpoint)),
      key_(std::move(key)),
      price_per_million_input_usd_(price_per_million_input_usd),
      tokenizer_(std::move(tokenizer)),
      settings_(settings),
      transfer_(std::move(transfer)) {}

ZemClient::~ZemClient() = default;

ZemClient::Exchange ZemClient::send(std::string_view body) {
  Transfer& t = *transfer_;
  t.reply.clear();
  t.over_limit = false;
  t.error[0] = '\0';
  CURLcode rc = t.lib.easy_setopt(t.curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  if (rc == CURLE_OK) rc = t.lib.easy_setopt(t.curl, CURLOPT_POSTFIELDS, body.data());
  if (rc == CURLE_OK) rc = t.lib.easy_perform(t.curl);
  Exchange out;
  if (rc != CURLE_OK) {
    out.failed = true;
    if (t.over_limit || rc == CURLE_FILESIZE_EXCEEDED) {
      out.text = "the reply body is larger than " + size_text(t.max_reply_bytes);
    } else {
      out.text = t.error[0] != '\0' ? std::string(t.error) : std::string(t.lib.easy_strerror(rc));
    }
    t.reply.clear();
    return out;
  }
  long status = 0;
  t.lib.easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &status);
  out.status = static_cast<uint16_t>(status);
  out.text = decode_utf8_lossy(t.reply);
  t.reply.clear();
  return out;
}

Result<ZemResponse, ZemError> ZemClient::ask(const RequestGroup& group) {
  const std::string body = write_request_body(group);
  if (refusal_) return err(ZemError{ZemError::Kind::Rejected, *refusal_});

  const auto start = std::chrono::steady_clock::now();
  Exchange exchange = send(body);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const auto latency_ms = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());

  if (exchange.failed) return err(ZemError{ZemError::Kind::Unavailable, std::move(exchange.text)});
  const uint16_t status = exchange.status;
  if (status == 429 || status >= 500) {
    return err(ZemError{ZemError::Kind::Unavailable, http_error_message(status, exchange.text)});
  }
  if (status >= 400) return err(ZemError{ZemError::Kind::Rejected, http_error_message(status, exchange.text)});

  const std::string prefix = "HTTP " + std::to_string(status) + ": ";
  auto reply = json::parse_json_value(exchange.text);
  if (!reply.ok()) {
    return err(ZemError{ZemError::Kind::Unavailable, prefix + "the response is not JSON: " + reply.error().text()});
  }
  auto parsed = parse_response(*reply, group);
  if (!parsed.ok()) return err(ZemError{ZemError::Kind::Unavailable, prefix + parsed.error()});

  ZemResponse out;
  out.tokens = parsed->tokens ? *parsed->tokens : tokenizer_->count(body);
  out.usd = static_cast<double>(out.tokens) / 1'000'000.0 * price_per_million_input_usd_;
  out.answers = std::move(parsed->answers);
  out.latency_ms = latency_ms;
  return out;
}

}  // namespace dravelin::zem
