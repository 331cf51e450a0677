// Threads, HTTP (libcurl) and the registry for the Linux backend.
#include <curl/curl.h>

#include <system_error>
#include <thread>
#include <utility>

#include "platform/posix/posix_system.h"

namespace quillon::platform {

namespace {

// libcurl's global state, set up once for the whole process. The first call
// may come from any thread; a function-local static makes that safe.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// Keeps a block of the body, unless the body would then pass the limit: a
// short count makes libcurl end the transfer with an error.
size_t AppendBody(char* data, size_t size, size_t count, void* target) {
  auto* body = static_cast<ByteArray*>(target);
  const size_t bytes = size * count;
  if (bytes > kHttpBodyLimit - body->size()) return 0;
  body->append(data, bytes);
  return bytes;
}

// Owns one easy handle and its header list.
class Request {
 public:
  Request() : curl_(curl_easy_init()) {}
  ~Request() {
    curl_slist_free_all(headers_);
    if (curl_ != nullptr) curl_easy_cleanup(curl_);
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  bool Valid() const { return curl_ != nullptr; }

  bool AddHeader(const char* header) {
    curl_slist* grown = curl_slist_append(headers_, header);
    if (grown == nullptr) return false;
    headers_ = grown;
    return true;
  }

  // The whole body, or nothing when any step fails.
  ByteArray Get(const std::string& url) {
    ByteArray body;
    bool set = true;
    auto option = [&](CURLoption which, auto value) { set = set && curl_easy_setopt(curl_, which, value) == CURLE_OK; };
    option(CURLOPT_URL, url.c_str());
    // Only web addresses: a URL is never a way to read local files.
    option(CURLOPT_PROTOCOLS_STR, "http,https");
    // A redirect is an answer like any other: its body is the body.
    option(CURLOPT_FOLLOWLOCATION, 0L);
    option(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    option(CURLOPT_USERAGENT, kHttpAgent);
    option(CURLOPT_HTTPHEADER, headers_);
    // Error pages are bodies too: the status code is left alone.
    option(CURLOPT_FAILONERROR, 0L);
    // Called from worker threads as well: no SIGALRM-based timeouts.
    option(CURLOPT_NOSIGNAL, 1L);
    // The whole exchange, however slowly the server sends.
    option(CURLOPT_TIMEOUT_MS, static_cast<long>(kHttpTimeoutMs));
    // An announced length above the limit fails before the body is read;
    // AppendBody stops a body that announces none.
    option(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kHttpBodyLimit));
    option(CURLOPT_WRITEFUNCTION, &AppendBody);
    option(CURLOPT_WRITEDATA, static_cast<void*>(&body));
    if (!set) return {};
    if (curl_easy_perform(curl_) != CURLE_OK) return {};
    return body;
  }

 private:
  CURL* curl_;
  curl_slist* headers_ = nullptr;
};

}  // namespace

// There is no registry on this system: every read gives the fallback.
std::string PosixSystem::RegistryReadText(int, const std::string&, const std::string& fallback) {
  return fallback;
}

bool PosixSystem::StartWorker(std::function<void()> routine) {
  return StartDetachedThread(std::move(routine));
}

ByteArray PosixSystem::FetchHttp(const std::string& target) {
  if (!CurlReady()) return {};
  Request request;
  if (!request.Valid()) return {};
  // A custom "Accept" replaces libcurl's own, so it is sent exactly once; the
  // two no-cache headers make any cache on the way fetch from the origin.
  if (!request.AddHeader("Accept: */*") || !request.AddHeader("Cache-Control: no-cache") ||
      !request.AddHeader("Pragma: no-cache")) {
    return {};
  }
  return request.Get(target);
}

}  // namespace quillon::platform
