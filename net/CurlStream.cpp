#include "net/CurlStream.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>

namespace net {

namespace {

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

using Clock = std::chrono::steady_clock;

bool onUiThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

struct Session::Impl {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    bool running = false;
    bool done = false;
    bool headersIn = false;
    bool tooLarge = false;
    bool stopped = false; // ended by a cancel
    CURLcode result = CURLE_OK;
    std::string pending; // bytes libcurl delivered that the caller has not read
    std::size_t offset = 0;
    std::int64_t received = 0;
    std::string post;
    Request request;
    std::atomic<bool> cancelled{false};
    Clock::time_point lastTurn = Clock::now();
    Clock::time_point lastPump = Clock::now();

    // The low-speed rule, kept by us: libcurl averages its speed over the
    // last seconds, so after a burst it notices a stall only much later.
    Clock::time_point windowStart = Clock::now();
    std::int64_t windowBytes = 0;
    bool tooSlow = false;

    void moved(std::size_t bytes) {
        windowBytes += static_cast<std::int64_t>(bytes);
        if (windowBytes >= request.lowSpeedBytes * request.lowSpeedSeconds) {
            windowStart = Clock::now();
            windowBytes = 0;
        }
    }
    bool stalled() const {
        return request.lowSpeedBytes > 0 && request.lowSpeedSeconds > 0 &&
               Clock::now() - windowStart >= std::chrono::seconds(request.lowSpeedSeconds);
    }

    // A fast server would keep one step of libcurl busy for many megabytes:
    // past this much unread, libcurl holds the rest back until it is read.
    static constexpr std::size_t kHighWater = 256 * 1024;
    bool paused = false;

    static size_t onData(char* data, size_t size, size_t n, void* self) {
        auto* d = static_cast<Impl*>(self);
        d->headersIn = true;
        const auto bytes = size * n;
        if (d->available() >= kHighWater) {
            d->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        d->moved(bytes);
        d->received += static_cast<std::int64_t>(bytes);
        // Stop before holding more than the caller allows: a server that
        // sends forever must not fill the memory.
        if (d->request.maxBytes > 0 && d->received > d->request.maxBytes) {
            d->tooLarge = true;
            return 0;
        }
        if (d->offset > 0 && d->offset == d->pending.size()) {
            d->pending.clear();
            d->offset = 0;
        }
        d->pending.append(data, bytes);
        return bytes;
    }
    static size_t onHeader(char*, size_t size, size_t n, void* self) {
        static_cast<Impl*>(self)->moved(size * n);
        return size * n;
    }

    std::size_t available() const { return pending.size() - offset; }

    bool cancelRequested() const {
        return cancelled.load() || (request.cancel && request.cancel->load()) ||
               (request.keepGoing && !request.keepGoing());
    }

    // The caller's turn: the UI thread handles its events.
    void turn() {
        lastTurn = Clock::now();
        if (onUiThread()) QCoreApplication::processEvents();
    }
    void turnIfDue() {
        if (Clock::now() - lastTurn >= std::chrono::milliseconds(kTurnMilliseconds)) turn();
    }

    // One step of libcurl's work, waiting at most one turn; true while the
    // transfer goes on.
    bool pump() {
        if (done) return false;
        if (cancelRequested()) {
            stopped = true;
            done = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            return false;
        }
        // The time the caller spent away from the transfer (between two
        // reads) is not the server's stall either.
        const auto now = Clock::now();
        if (now - lastPump > std::chrono::milliseconds(4 * kTurnMilliseconds)) windowStart += now - lastPump;
        lastPump = now;
        if (!paused && stalled()) {
            tooSlow = true;
            done = true;
            result = CURLE_OPERATION_TIMEDOUT;
            return false;
        }
        if (paused) {
            // The time the caller took to read is not the server's stall.
            paused = false;
            windowStart = Clock::now();
            windowBytes = 0;
            curl_easy_pause(easy, CURLPAUSE_CONT); // may deliver the held bytes at once
            if (available() > 0) return true;
        }
        int still = 0;
        curl_multi_perform(multi, &still);
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued))
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                done = true;
            }
        if (!done && still == 0) done = true;
        if (!done && available() == 0) {
            curl_multi_poll(multi, nullptr, 0, kTurnMilliseconds, nullptr);
            turnIfDue();
        }
        return !done;
    }
};

namespace {

std::mutex registryMutex;
std::set<Session*>& registry() {
    static std::set<Session*> sessions;
    return sessions;
}

} // namespace

Session::Session() : d_(std::make_unique<Impl>()) {
    globalInit();
    d_->easy = curl_easy_init();
    d_->multi = curl_multi_init();
    const std::lock_guard lock(registryMutex);
    registry().insert(this);
}

Session::~Session() {
    {
        const std::lock_guard lock(registryMutex);
        registry().erase(this);
    }
    Close();
    curl_multi_cleanup(d_->multi);
    curl_easy_cleanup(d_->easy);
}

void Session::Cancel() {
    d_->cancelled = true;
    curl_multi_wakeup(d_->multi); // a wait in progress ends now
}

bool Session::Cancelled() const { return d_->stopped; }

void CancelAll() {
    const std::lock_guard lock(registryMutex);
    for (Session* s : registry()) s->Cancel();
}

bool Session::Open(const Request& r) {
    Close();
    error_.clear();
    code_ = 0;
    d_->cancelled = false;
    d_->request = r;
    auto* e = d_->easy;
    curl_easy_reset(e);
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, r.agent.c_str());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::onData);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, d_.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, d_.get());
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, r.connectTimeoutSeconds);
    // A server that stops sending (or never starts) ends the transfer by our
    // own low-speed rule in pump(); libcurl's would also count the time the
    // caller takes between two reads.
    curl_easy_setopt(e, CURLOPT_TIMEOUT, r.TotalSeconds());
    // An FTP server that accepts and never replies is bounded the same way.
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, std::max(r.lowSpeedSeconds, r.connectTimeoutSeconds));
    if (r.maxBytes > 0) curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(r.maxBytes));
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 64L * 1024);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L); // a redirect is an answer of its own
    if (!r.protocols.empty()) {
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, r.protocols.c_str());
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, r.protocols.c_str());
    }
    // Never a cached copy: the update must see the server's file.
    static curl_slist* noCache = curl_slist_append(curl_slist_append(nullptr, "Pragma: no-cache"), "Cache-Control: no-cache");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, noCache);
    if (!r.proxy.empty()) curl_easy_setopt(e, CURLOPT_PROXY, r.proxy.c_str());
    if (!r.userPwd.empty()) curl_easy_setopt(e, CURLOPT_USERPWD, r.userPwd.c_str());
    if (!r.ftpPassive) curl_easy_setopt(e, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, r.keepAlive ? 1L : 0L);
    if (r.noBody) curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    if (r.post) {
        d_->post = r.postBody;
        static curl_slist* form = curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, form);
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, d_->post.c_str());
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(d_->post.size()));
    }
    d_->done = false;
    d_->headersIn = false;
    d_->tooLarge = false;
    d_->paused = false;
    d_->stopped = false;
    d_->tooSlow = false;
    d_->windowStart = Clock::now();
    d_->windowBytes = 0;
    d_->result = CURLE_OK;
    d_->pending.clear();
    d_->offset = 0;
    d_->received = 0;
    curl_multi_add_handle(d_->multi, e);
    d_->running = true;
    while (!d_->headersIn && d_->pump()) {
        long status = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
        if (status > 0 && r.noBody) break;
    }
    if (d_->done && d_->result != CURLE_OK && d_->available() == 0) {
        code_ = static_cast<int>(d_->result);
        error_ = d_->stopped ? "cancelled" : curl_easy_strerror(d_->result);
        // An HTTP error status is an answer, not a failed request.
        long status = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
        if (status == 0 || d_->stopped) {
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
    while (d_->available() == 0 && d_->pump()) {
    }
    if (d_->available() == 0) {
        if (d_->result != CURLE_OK || d_->tooLarge) {
            code_ = static_cast<int>(d_->tooLarge ? CURLE_FILESIZE_EXCEEDED : d_->result);
            error_ = d_->stopped    ? "cancelled"
                     : d_->tooLarge ? "too large"
                                    : curl_easy_strerror(d_->result);
            return -1;
        }
        return 0;
    }
    // A fast server never starves the event loop either.
    d_->turnIfDue();
    const auto n = static_cast<std::int64_t>(std::min<std::size_t>(d_->available(), static_cast<std::size_t>(max)));
    std::copy_n(d_->pending.data() + d_->offset, n, buffer);
    d_->offset += static_cast<std::size_t>(n);
    return n;
}

void Session::Close() {
    if (!d_->running) return;
    curl_multi_remove_handle(d_->multi, d_->easy);
    d_->running = false;
    d_->pending.clear();
    d_->offset = 0;
}

Fetched FetchAll(const Request& request, std::int64_t maxBytes, const std::function<bool()>& keepGoing) {
    Fetched f;
    Request r = request;
    r.maxBytes = maxBytes;
    if (keepGoing) r.keepGoing = keepGoing;
    Session s;
    const auto failed = [&] {
        f.error = s.Error();
        f.cancelled = s.Cancelled();
        return f;
    };
    if (!s.Open(r)) return failed();
    f.status = s.Status();
    char buffer[16384];
    for (;;) {
        const auto n = s.Read(buffer, sizeof buffer);
        if (n < 0) return failed();
        if (n == 0) break;
        f.body.append(buffer, static_cast<std::size_t>(n));
    }
    f.ok = true;
    return f;
}

} // namespace net
