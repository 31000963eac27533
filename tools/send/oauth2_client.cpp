// SPDX-License-Identifier: Apache-2.0
#include "tools/send/oauth2_client.h"

#include "tools/send/token_store.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cctype>
#include <cerrno>
#include <stdexcept>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A stored access token is used while it stays valid for this long; a
// shorter rest could run out between the check and the server's reading it.
constexpr std::time_t kExpiryMargin = 300;
// How long --authorize waits for the person to sign in with the code flow.
constexpr int kSignInSeconds = 600;

using Fields = std::vector<std::pair<std::string, std::string>>;

std::string form_encode(const Fields& fields) {
  std::string form;
  for (const auto& [name, value] : fields) {
    if (!form.empty()) form += '&';
    char* escaped = curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size()));
    form += name + "=" + (escaped != nullptr ? escaped : "");
    curl_free(escaped);
  }
  return form;
}

std::string base64url(const unsigned char* data, std::size_t length) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string text;
  std::size_t i = 0;
  for (; i + 2 < length; i += 3) {
    const unsigned v = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
    text += {kAlphabet[v >> 18], kAlphabet[v >> 12 & 63], kAlphabet[v >> 6 & 63], kAlphabet[v & 63]};
  }
  if (i + 1 == length) {
    const unsigned v = data[i] << 16;
    text += {kAlphabet[v >> 18], kAlphabet[v >> 12 & 63]};
  } else if (i + 2 == length) {
    const unsigned v = data[i] << 16 | data[i + 1] << 8;
    text += {kAlphabet[v >> 18], kAlphabet[v >> 12 & 63], kAlphabet[v >> 6 & 63]};
  }
  return text;
}

std::string random_text(std::size_t bytes) {
  std::vector<unsigned char> data(bytes);
  if (RAND_bytes(data.data(), static_cast<int>(bytes)) != 1) throw std::runtime_error("no random bytes");
  return base64url(data.data(), bytes);
}

// The PKCE challenge of a verifier: the base64url text of its SHA-256.
std::string s256(const std::string& verifier) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr);
  return base64url(digest, length);
}

std::string percent_decode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The value of one parameter of the query of an address or request target.
std::string query_value(const std::string& address, const std::string& name) {
  const std::size_t question = address.find('?');
  if (question == std::string::npos) return "";
  std::size_t start = question + 1;
  const std::size_t end = address.find_first_of("# \r\n", start);
  const std::string query = address.substr(start, end == std::string::npos ? std::string::npos : end - start);
  for (start = 0; start <= query.size();) {
    std::size_t amp = query.find('&', start);
    if (amp == std::string::npos) amp = query.size();
    const std::string pair = query.substr(start, amp - start);
    const std::size_t equals = pair.find('=');
    if (pair.substr(0, equals) == name) return equals == std::string::npos ? "" : percent_decode(pair.substr(equals + 1));
    start = amp + 1;
  }
  return "";
}

struct HttpAnswer {
  long status = 0;
  std::string body;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* answer) {
  static_cast<std::string*>(answer)->append(data, size * count);
  return size * count;
}

// Posts a form to the provider over HTTPS, verified against the system's
// store or the configured CA file.
OAuth2Outcome post_form(const OAuth2Settings& settings, const std::string& url, const std::string& form,
                        HttpAnswer& answer, std::string& message) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    message = "cannot start an HTTPS request";
    return OAuth2Outcome::kUnreachable;
  }
  char reason[CURL_ERROR_SIZE] = {};
  curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, reason);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  if (!settings.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, settings.caFile.c_str());
  const CURLcode rc = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (rc == CURLE_OK) return OAuth2Outcome::kOk;
  message = "cannot reach the token endpoint " + url + ": " + (reason[0] != '\0' ? reason : curl_easy_strerror(rc));
  switch (rc) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return OAuth2Outcome::kConfiguration;
    default:
      return OAuth2Outcome::kUnreachable;
  }
}

// What a provider's error answer means for the person and the exit status.
OAuth2Outcome provider_error(const HttpAnswer& answer, const nlohmann::json& json, std::string& message) {
  const std::string error = json.is_object() && json.contains("error") && json["error"].is_string()
                                ? json["error"].get<std::string>()
                                : "";
  std::string description = json.is_object() && json.contains("error_description") &&
                                    json["error_description"].is_string()
                                ? json["error_description"].get<std::string>()
                                : "";
  if (error.empty()) {
    message = "the token endpoint answered HTTP " + std::to_string(answer.status) + " without a token";
    return answer.status >= 500 || answer.status == 429 ? OAuth2Outcome::kUnreachable : OAuth2Outcome::kRefused;
  }
  message = "the provider said " + error + (description.empty() ? "" : ": " + description);
  if (error == "invalid_grant") {
    message += "; the refresh token is no longer valid (unused for too long, revoked, or the password changed): "
               "run tarvenkel-send --authorize again";
    return OAuth2Outcome::kRefused;
  }
  if (error == "invalid_client" || error == "unauthorized_client" || error == "invalid_scope" ||
      error == "invalid_request" || error == "unsupported_grant_type") {
    message += "; check oauth2-client-id, oauth2-client-secret-file, oauth2-scope and the endpoints";
    return OAuth2Outcome::kConfiguration;
  }
  if (error == "temporarily_unavailable" || error == "server_error") return OAuth2Outcome::kUnreachable;
  return OAuth2Outcome::kRefused;
}

std::string text_of(const nlohmann::json& json, const char* name) {
  return json.is_object() && json.contains(name) && json[name].is_string() ? json[name].get<std::string>() : "";
}

long number_of(const nlohmann::json& json, const char* name, long fallback) {
  if (!json.is_object() || !json.contains(name)) return fallback;
  if (json[name].is_number_integer()) return json[name].get<long>();
  // Some providers send numbers as text.
  if (json[name].is_string()) {
    try {
      return std::stol(json[name].get<std::string>());
    } catch (const std::exception&) {
    }
  }
  return fallback;
}

// A listening socket on a free port of 127.0.0.1 for the code flow's
// redirect; -1 when none could be made.
int loopback_listener(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

// Reads the request line of one browser request to the redirect address and
// answers it; the request target, or empty.
std::string take_redirect(int listener) {
  const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return "";
  timeval limit{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string request;
  char buffer[2048];
  while (request.find("\r\n") == std::string::npos && request.size() < 16384) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  std::string target;
  if (request.rfind("GET ", 0) == 0) target = request.substr(4, request.find(' ', 4) - 4);
  const char* page =
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\n\r\n"
      "tarvenkel-send received the sign-in; this window may be closed.\n";
  send(fd, page, std::strlen(page), MSG_NOSIGNAL);
  close(fd);
  return target;
}

}  // namespace

bool CompleteOAuth2Settings(OAuth2Settings& s, std::string& error) {
  const auto fill = [](std::string& field, const std::string& value) {
    if (field.empty()) field = value;
  };
  if (s.provider == "microsoft") {
    const std::string base =
        "https://login.microsoftonline.com/" + (s.tenant.empty() ? std::string("common") : s.tenant) + "/oauth2/v2.0/";
    fill(s.tokenEndpoint, base + "token");
    fill(s.deviceEndpoint, base + "devicecode");
    fill(s.authorizationEndpoint, base + "authorize");
    fill(s.scope, "https://outlook.office.com/SMTP.Send offline_access");
  } else if (s.provider == "google") {
    // Google's device flow does not grant the mail scope: --authorize uses
    // the code flow with a loopback redirect.
    fill(s.tokenEndpoint, "https://oauth2.googleapis.com/token");
    fill(s.authorizationEndpoint, "https://accounts.google.com/o/oauth2/v2/auth");
    fill(s.scope, "https://mail.google.com/");
  } else if (s.provider != "custom") {
    error = "oauth2-provider '" + s.provider + "' is not microsoft, google or custom";
    return false;
  }
  if (!s.tenant.empty() && s.provider != "microsoft") {
    error = "oauth2-tenant applies only to oauth2-provider = microsoft";
    return false;
  }
  if (s.clientId.empty()) {
    error = "oauth2-client-id is missing";
    return false;
  }
  if (s.tokenEndpoint.empty()) {
    error = "oauth2-token-endpoint is missing";
    return false;
  }
  if (s.tokenStore.empty()) {
    error = "oauth2-token-store is missing";
    return false;
  }
  return true;
}

OAuth2Client::OAuth2Client(OAuth2Settings settings) : m_settings(std::move(settings)) {}

OAuth2Outcome OAuth2Client::AccessToken(std::string& token, std::string& message) {
  TokenStore store;
  if (!ReadTokenStore(m_settings.tokenStore, store, message)) return OAuth2Outcome::kConfiguration;
  if (!store.accessToken.empty() && store.expiresAt > std::time(nullptr) + kExpiryMargin) {
    token = store.accessToken;
    m_bRefreshed = false;
    return OAuth2Outcome::kOk;
  }
  return Refresh(token, message);
}

OAuth2Outcome OAuth2Client::Refresh(std::string& token, std::string& message) {
  TokenStore store;
  if (!ReadTokenStore(m_settings.tokenStore, store, message)) return OAuth2Outcome::kConfiguration;
  Fields fields = {{"grant_type", "refresh_token"},
                   {"refresh_token", store.refreshToken},
                   {"client_id", m_settings.clientId},
                   {"scope", m_settings.scope}};
  if (!m_settings.clientSecret.empty()) fields.emplace_back("client_secret", m_settings.clientSecret);
  return token_request(form_encode(fields), token, message);
}

OAuth2Outcome OAuth2Client::token_request(const std::string& form, std::string& token, std::string& message) {
  HttpAnswer answer;
  const OAuth2Outcome posted = post_form(m_settings, m_settings.tokenEndpoint, form, answer, message);
  if (posted != OAuth2Outcome::kOk) return posted;
  return take_tokens(answer.status, answer.body, token, message);
}

OAuth2Outcome OAuth2Client::take_tokens(long status, const std::string& body, std::string& token,
                                        std::string& message) {
  const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  const std::string accessToken = text_of(json, "access_token");
  if (status != 200 || accessToken.empty()) return provider_error(HttpAnswer{status, body}, json, message);

  // Whatever the provider sent is kept before it is used: a rotated refresh
  // token that is not saved is lost with this process.
  TokenStore store;
  std::string ignored;
  ReadTokenStore(m_settings.tokenStore, store, ignored);
  if (const std::string rotated = text_of(json, "refresh_token"); !rotated.empty()) store.refreshToken = rotated;
  if (store.refreshToken.empty()) {
    message = "the provider issued no refresh token; check that oauth2-scope asks for offline access";
    return OAuth2Outcome::kConfiguration;
  }
  store.accessToken = accessToken;
  store.expiresAt = std::time(nullptr) + number_of(json, "expires_in", 3600);
  if (!WriteTokenStore(m_settings.tokenStore, store, message)) return OAuth2Outcome::kConfiguration;
  token = accessToken;
  m_bRefreshed = true;
  return OAuth2Outcome::kOk;
}

OAuth2Outcome OAuth2Client::Authorize(std::FILE* out, std::FILE* in, std::string& message) {
  if (!m_settings.deviceEndpoint.empty()) return device_flow(out, message);
  if (m_settings.authorizationEndpoint.empty()) {
    message = "neither oauth2-device-endpoint nor oauth2-authorization-endpoint is set";
    return OAuth2Outcome::kConfiguration;
  }
  return code_flow(out, in, message);
}

OAuth2Outcome OAuth2Client::device_flow(std::FILE* out, std::string& message) {
  Fields fields = {{"client_id", m_settings.clientId}, {"scope", m_settings.scope}};
  HttpAnswer answer;
  OAuth2Outcome outcome = post_form(m_settings, m_settings.deviceEndpoint, form_encode(fields), answer, message);
  if (outcome != OAuth2Outcome::kOk) return outcome;
  const nlohmann::json device = nlohmann::json::parse(answer.body, nullptr, false);
  const std::string deviceCode = text_of(device, "device_code");
  std::string address = text_of(device, "verification_uri");
  if (address.empty()) address = text_of(device, "verification_url");
  if (answer.status != 200 || deviceCode.empty() || address.empty()) return provider_error(answer, device, message);
  std::fprintf(out, "To sign in, open %s in a browser on any machine and enter the code %s\n", address.c_str(),
               text_of(device, "user_code").c_str());
  std::fflush(out);

  long interval = number_of(device, "interval", 5);
  const std::time_t deadline = std::time(nullptr) + number_of(device, "expires_in", 900);
  Fields poll = {{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
                 {"device_code", deviceCode},
                 {"client_id", m_settings.clientId}};
  if (!m_settings.clientSecret.empty()) poll.emplace_back("client_secret", m_settings.clientSecret);
  const std::string form = form_encode(poll);
  while (std::time(nullptr) < deadline) {
    sleep(static_cast<unsigned>(interval > 0 ? interval : 5));
    HttpAnswer reply;
    outcome = post_form(m_settings, m_settings.tokenEndpoint, form, reply, message);
    if (outcome == OAuth2Outcome::kUnreachable) continue;  // the person is still signing in; the code stays valid
    if (outcome != OAuth2Outcome::kOk) return outcome;
    const nlohmann::json json = nlohmann::json::parse(reply.body, nullptr, false);
    const std::string error = text_of(json, "error");
    if (error == "authorization_pending") continue;
    if (error == "slow_down") {
      interval += 5;
      continue;
    }
    if (error == "expired_token") {
      message = "the code expired before the sign-in was finished; run tarvenkel-send --authorize again";
      return OAuth2Outcome::kRefused;
    }
    if (error == "access_denied") {
      message = "the sign-in was declined";
      return OAuth2Outcome::kRefused;
    }
    std::string token;
    outcome = take_tokens(reply.status, reply.body, token, message);
    if (outcome == OAuth2Outcome::kOk)
      std::fprintf(out, "Signed in; the tokens are kept in %s\n", m_settings.tokenStore.c_str());
    return outcome;
  }
  message = "the code expired before the sign-in was finished; run tarvenkel-send --authorize again";
  return OAuth2Outcome::kRefused;
}

OAuth2Outcome OAuth2Client::code_flow(std::FILE* out, std::FILE* in, std::string& message) {
  int port = 0;
  const int listener = loopback_listener(port);
  if (listener < 0) {
    message = std::string("cannot listen on 127.0.0.1 for the sign-in: ") + std::strerror(errno);
    return OAuth2Outcome::kUnreachable;
  }
  const std::string verifier = random_text(48);
  const std::string state = random_text(16);
  const std::string redirect = "http://127.0.0.1:" + std::to_string(port) + "/";
  Fields query = {{"response_type", "code"},         {"client_id", m_settings.clientId},
                  {"redirect_uri", redirect},        {"scope", m_settings.scope},
                  {"code_challenge", s256(verifier)}, {"code_challenge_method", "S256"},
                  {"state", state}};
  // Google issues a refresh token only when offline access is asked for.
  if (m_settings.provider == "google") {
    query.emplace_back("access_type", "offline");
    query.emplace_back("prompt", "consent");
  }
  const char separator = m_settings.authorizationEndpoint.find('?') == std::string::npos ? '?' : '&';
  std::fprintf(out,
               "To sign in, open this address in a browser:\n\n%s%c%s\n\n"
               "When the browser runs on another machine it ends on an address starting with %s that does not "
               "load: paste that whole address here and press Enter.\n",
               m_settings.authorizationEndpoint.c_str(), separator, form_encode(query).c_str(), redirect.c_str());
  std::fflush(out);

  // The browser's redirect to the listener, or the address pasted by the
  // person, whichever comes first.
  std::string address;
  const std::time_t deadline = std::time(nullptr) + kSignInSeconds;
  while (address.empty() && std::time(nullptr) < deadline) {
    pollfd fds[2] = {{listener, POLLIN, 0}, {in != nullptr ? fileno(in) : -1, POLLIN, 0}};
    if (poll(fds, 2, 1000) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      address = take_redirect(listener);
    } else if (fds[1].revents & (POLLIN | POLLHUP)) {
      char line[16384];
      if (std::fgets(line, sizeof line, in) == nullptr) break;
      address = line;
    }
  }
  close(listener);
  if (address.empty()) {
    message = "no sign-in arrived; run tarvenkel-send --authorize again";
    return OAuth2Outcome::kRefused;
  }
  if (const std::string error = query_value(address, "error"); !error.empty()) {
    const std::string description = query_value(address, "error_description");
    message = "the sign-in was refused: " + error + (description.empty() ? "" : ": " + description);
    return OAuth2Outcome::kRefused;
  }
  const std::string code = query_value(address, "code");
  // The state ties the answer to this sign-in: a code from anyone else's
  // sign-in must not end up in this machine's store.
  if (code.empty() || query_value(address, "state") != state) {
    message = "the address holds no code of this sign-in; run tarvenkel-send --authorize again";
    return OAuth2Outcome::kRefused;
  }
  Fields fields = {{"grant_type", "authorization_code"},
                   {"code", code},
                   {"redirect_uri", redirect},
                   {"client_id", m_settings.clientId},
                   {"code_verifier", verifier}};
  if (!m_settings.clientSecret.empty()) fields.emplace_back("client_secret", m_settings.clientSecret);
  std::string token;
  const OAuth2Outcome outcome = token_request(form_encode(fields), token, message);
  if (outcome == OAuth2Outcome::kOk)
    std::fprintf(out, "Signed in; the tokens are kept in %s\n", m_settings.tokenStore.c_str());
  return outcome;
}
