#include "chttpclient.h"

#include <curl/curl.h>

#include <iterator>
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

// Tags of the traced info types, by curl_infotype; TLS records are not traced.
const char* const kTraceTags[] = {"[TEXT]", "[HEADER_IN]", "[HEADER_OUT]", "[DATA_IN]", "[DATA_OUT]"};
static_assert(CURLINFO_TEXT == 0 && CURLINFO_DATA_OUT == 4, "tags follow curl_infotype");

// "[chttpclient OnDebug: <line>] <tag> <received block>"
int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void*) {
    const auto index = static_cast<size_t>(type);
    if (index >= std::size(kTraceTags)) return 0;
    auto logger = CNQBaseLog::Instance().GetLogger();
    if (!logger || !logger->ShouldLog(nqlog::Level::info)) return 0;
    logger->Info("[chttpclient OnDebug: " NQ_STR(__LINE__) "] {} {}", kTraceTags[index], std::string_view(data, size));
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
