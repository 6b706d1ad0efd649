#include "chttpclient.h"

#include <curl/curl.h>

#include <memory>
#include <string_view>

#include "nqpublic/nqbase/log/nqbaselog.h"

const char kHttpAlternateDnsServers[] = "223.5.5.5,119.29.29.29,114.114.114.114,8.8.8.8,4.4.4.4";

namespace {

size_t OnWrite(char* data, size_t size, size_t count, void* userdata) {
    auto* response = static_cast<std::string*>(userdata);
    if (!response) return 0;  // nowhere to put it: libcurl aborts the transfer
    const size_t n = size * count;
    response->append(data, n);
    return n;
}

#define NQ_STR2(x) #x
#define NQ_STR(x) NQ_STR2(x)
// "[chttpclient OnDebug: <line>] <tag> {}"
#define NQ_HTTP_TRACE(logger, tag, text) \
    logger->info("[chttpclient OnDebug: " NQ_STR(__LINE__) "] " tag " {}", text)

int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void*) {
    auto logger = CNQBaseLog::Instance().GetLogger();
    if (!logger || !logger->should_log(spdlog::level::info)) return 0;
    const std::string_view text(data, size);
    switch (type) {
        case CURLINFO_TEXT:
            NQ_HTTP_TRACE(logger, "[TEXT]", text);
            break;
        case CURLINFO_HEADER_IN:
            NQ_HTTP_TRACE(logger, "[HEADER_IN]", text);
            break;
        case CURLINFO_HEADER_OUT:
            NQ_HTTP_TRACE(logger, "[HEADER_OUT]", text);
            break;
        case CURLINFO_DATA_IN:
            NQ_HTTP_TRACE(logger, "[DATA_IN]", text);
            break;
        case CURLINFO_DATA_OUT:
            NQ_HTTP_TRACE(logger, "[DATA_OUT]", text);
            break;
        default:  // TLS records
            break;
    }
    return 0;
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

CHttpClient::CHttpClient(bool trace, bool alternateDns, int32_t connectTimeout, int32_t totalTimeout)
    : trace_(trace), alternateDns_(alternateDns), connectTimeout_(connectTimeout), totalTimeout_(totalTimeout) {}

int CHttpClient::PostJson(const char* url, const char* body, std::string* response) {
    // Declared first, so the handle is cleaned up before the list it uses.
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) return CURLE_FAILED_INIT;
    CURL* h = easy.get();

    for (const char* line : {"Accept: application/json", "Content-Type: application/json", "charsets: utf-8"}) {
        curl_slist* next = curl_slist_append(headers.get(), line);
        if (next) {
            (void)headers.release();
            headers.reset(next);
        }
    }

    // Option results are not checked: an option the build lacks (a custom DNS
    // server list needs c-ares) is simply not applied.
    if (trace_) curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &OnDebug);
    curl_easy_setopt(h, CURLOPT_URL, url);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    if (alternateDns_) curl_easy_setopt(h, CURLOPT_DNS_SERVERS, kHttpAlternateDnsServers);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPIDLE, 30L);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPINTVL, 7L);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body ? body : "");
    curl_easy_setopt(h, CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, response);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeout_));
    curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(totalTimeout_));
    curl_easy_setopt(h, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));

    CURLcode code = curl_easy_perform(h);
    // A name that could not be resolved is tried once more through the
    // public DNS servers; the client keeps using them afterwards.
    while (code == CURLE_COULDNT_RESOLVE_HOST && !alternateDns_) {
        alternateDns_ = true;
        curl_easy_setopt(h, CURLOPT_DNS_SERVERS, kHttpAlternateDnsServers);
        code = curl_easy_perform(h);
    }
    return static_cast<int>(code);
}
