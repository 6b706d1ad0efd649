// A blocking JSON POST over libcurl's easy interface.
//
// One client serves one request at a time on the calling thread. libcurl's
// process-wide initialisation belongs to the caller (the interactive run); the
// easy interface initialises it on demand otherwise.
#pragma once

#include <cstdint>
#include <string>

class CHttpClient {
public:
    // trace: log libcurl's traffic through the base log (information level).
    // alternateDns: resolve through the fixed public DNS server list from the
    // first request on (it is switched on by itself after a name that could
    // not be resolved). Time-outs in seconds.
    CHttpClient(bool trace, bool alternateDns, int32_t connectTimeout, int32_t totalTimeout);

    // POSTs `body` (zero-terminated) to `url` with the JSON headers and
    // appends the response body to `response`. Returns the libcurl result
    // code: 0 when the exchange completed (whatever the HTTP status), 2 when
    // no handle could be made, 6 when the host name could not be resolved
    // (after one retry with the DNS server list), 7 refused, 28 time-out...
    int PostJson(const char* url, const char* body, std::string* response);

    bool AlternateDns() const { return alternateDns_; }

private:
    bool trace_;
    bool alternateDns_;
    int32_t connectTimeout_;
    int32_t totalTimeout_;
};

// The DNS servers used after a resolution failure.
extern const char kHttpAlternateDnsServers[];
