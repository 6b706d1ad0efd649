// qmnet.dll: the network half of the statistics DLL of Contoso 翻译.
//
// qmstat.dll loads this DLL from its own folder and sends its reports through
// it; the uninstaller copies both DLLs so that the report still goes out once
// the install folder is gone.
//
//   int __stdcall qmnet_post_json(url, body, length, user_agent, timeout_ms, http_status)
//     POSTs `length` bytes of `body` as application/json to `url` (UTF-8 texts)
//     and waits for the answer. Returns 0 when the request completed with a
//     2xx status, otherwise the libcurl code (or -1 for a non-2xx status).
//     *http_status receives the status code (0 when no answer arrived).
#include <windows.h>

#include <curl/curl.h>

#include <mutex>

namespace {
size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

bool GlobalInit() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

// Owning wrappers for the two libcurl handles.
struct Easy {
    CURL* h = curl_easy_init();
    ~Easy() {
        if (h) curl_easy_cleanup(h);
    }
};
struct Headers {
    curl_slist* list = nullptr;
    ~Headers() {
        if (list) curl_slist_free_all(list);
    }
};
}  // namespace

extern "C" __declspec(dllexport) int __stdcall qmnet_post_json(const char* url, const char* body, int length,
                                                               const char* userAgent, int timeoutMs,
                                                               long* httpStatus) {
    if (httpStatus) *httpStatus = 0;
    if (!url || !*url || length < 0 || (length > 0 && !body)) return CURLE_BAD_FUNCTION_ARGUMENT;
    if (!GlobalInit()) return CURLE_FAILED_INIT;
    Easy easy;
    if (!easy.h) return CURLE_FAILED_INIT;
    Headers headers;
    headers.list = curl_slist_append(headers.list, "Content-Type: application/json; charset=utf-8");
    headers.list = curl_slist_append(headers.list, "Accept: application/json");
    curl_easy_setopt(easy.h, CURLOPT_URL, url);
    curl_easy_setopt(easy.h, CURLOPT_POST, 1L);
    curl_easy_setopt(easy.h, CURLOPT_POSTFIELDS, length > 0 ? body : "");
    curl_easy_setopt(easy.h, CURLOPT_POSTFIELDSIZE, static_cast<long>(length));
    curl_easy_setopt(easy.h, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(easy.h, CURLOPT_USERAGENT, userAgent && *userAgent ? userAgent : "qmstat/1.0");
    curl_easy_setopt(easy.h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy.h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs > 0 ? timeoutMs : 10000));
    curl_easy_setopt(easy.h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs > 0 ? timeoutMs : 10000));
    curl_easy_setopt(easy.h, CURLOPT_WRITEFUNCTION, &Discard);
    const CURLcode code = curl_easy_perform(easy.h);
    long status = 0;
    curl_easy_getinfo(easy.h, CURLINFO_RESPONSE_CODE, &status);
    if (httpStatus) *httpStatus = status;
    if (code != CURLE_OK) return code;
    return (status >= 200 && status < 300) ? 0 : -1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
