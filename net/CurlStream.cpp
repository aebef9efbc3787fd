#include "net/CurlStream.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

namespace net {

namespace {

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

struct Session::Impl {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    bool running = false;
    bool done = false;
    bool headersIn = false;
    CURLcode result = CURLE_OK;
    std::string pending; // bytes libcurl delivered that the caller has not read
    std::string post;

    static size_t onData(char* data, size_t size, size_t n, void* self) {
        auto* d = static_cast<Impl*>(self);
        d->headersIn = true;
        d->pending.append(data, size * n);
        return size * n;
    }
    static size_t onHeader(char*, size_t size, size_t n, void*) { return size * n; }

    // One step of libcurl's work; true while the transfer goes on.
    bool pump() {
        if (done) return false;
        int still = 0;
        curl_multi_perform(multi, &still);
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued))
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                done = true;
            }
        if (!done && still > 0) curl_multi_poll(multi, nullptr, 0, 50, nullptr);
        if (!done && still == 0) done = true;
        return !done;
    }
};

Session::Session() : d_(std::make_unique<Impl>()) {
    globalInit();
    d_->easy = curl_easy_init();
    d_->multi = curl_multi_init();
}

Session::~Session() {
    Close();
    curl_multi_cleanup(d_->multi);
    curl_easy_cleanup(d_->easy);
}

bool Session::Open(const Request& r) {
    Close();
    error_.clear();
    code_ = 0;
    auto* e = d_->easy;
    curl_easy_reset(e);
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, r.agent.c_str());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::onData);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, d_.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, r.connectTimeoutSeconds);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L); // a redirect is an answer of its own
    // Never a cached copy: the update must see the server's file.
    static curl_slist* noCache = curl_slist_append(curl_slist_append(nullptr, "Pragma: no-cache"), "Cache-Control: no-cache");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, noCache);
    if (!r.proxy.empty()) curl_easy_setopt(e, CURLOPT_PROXY, r.proxy.c_str());
    if (!r.userPwd.empty()) curl_easy_setopt(e, CURLOPT_USERPWD, r.userPwd.c_str());
    if (!r.ftpPassive) curl_easy_setopt(e, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, r.keepAlive ? 1L : 0L);
    if (r.noBody) curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    if (!r.postBody.empty()) {
        d_->post = r.postBody;
        static curl_slist* form = curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, form);
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, d_->post.c_str());
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(d_->post.size()));
    }
    d_->done = false;
    d_->headersIn = false;
    d_->result = CURLE_OK;
    d_->pending.clear();
    curl_multi_add_handle(d_->multi, e);
    d_->running = true;
    while (!d_->headersIn && d_->pump()) {
        long status = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
        if (status > 0 && r.noBody) break;
    }
    if (d_->done && d_->result != CURLE_OK && d_->pending.empty()) {
        code_ = static_cast<int>(d_->result);
        error_ = curl_easy_strerror(d_->result);
        // An HTTP error status is an answer, not a failed request.
        long status = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
        if (status == 0) {
            Close();
            return false;
        }
    }
    return true;
}

long Session::Status() const {
    long status = 0;
    curl_easy_getinfo(d_->easy, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

std::int64_t Session::ContentLength() const {
    curl_off_t length = -1;
    curl_easy_getinfo(d_->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return length;
}

std::string Session::ContentType() const {
    char* type = nullptr;
    curl_easy_getinfo(d_->easy, CURLINFO_CONTENT_TYPE, &type);
    return type ? std::string(type) : std::string();
}

std::int64_t Session::Read(char* buffer, std::int64_t max) {
    if (!d_->running) return -1;
    while (d_->pending.empty() && d_->pump()) {
    }
    if (d_->pending.empty()) {
        if (d_->result != CURLE_OK) {
            code_ = static_cast<int>(d_->result);
            error_ = curl_easy_strerror(d_->result);
            return -1;
        }
        return 0;
    }
    const auto n = static_cast<std::int64_t>(std::min<std::size_t>(d_->pending.size(), static_cast<std::size_t>(max)));
    std::copy_n(d_->pending.data(), n, buffer);
    d_->pending.erase(0, static_cast<std::size_t>(n));
    return n;
}

void Session::Close() {
    if (!d_->running) return;
    curl_multi_remove_handle(d_->multi, d_->easy);
    d_->running = false;
    d_->pending.clear();
}

Fetched FetchAll(const Request& r, std::int64_t maxBytes, const std::function<bool()>& keepGoing) {
    Fetched f;
    Session s;
    if (!s.Open(r)) {
        f.error = s.Error();
        return f;
    }
    f.status = s.Status();
    char buffer[4096];
    for (;;) {
        if (keepGoing && !keepGoing()) {
            f.error = "cancelled";
            return f;
        }
        const auto n = s.Read(buffer, sizeof buffer);
        if (n < 0) {
            f.error = s.Error();
            return f;
        }
        if (n == 0) break;
        if (static_cast<std::int64_t>(f.body.size()) + n > maxBytes) {
            f.error = "too large";
            return f;
        }
        f.body.append(buffer, static_cast<std::size_t>(n));
    }
    f.ok = true;
    return f;
}

} // namespace net
