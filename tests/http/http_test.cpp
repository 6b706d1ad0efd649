// The JSON POST client against the servers of http_fixture.py on 127.0.0.1.
#include "nqpublic/nqbase/http/chttpclient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "tests/common/testutil.h"

namespace {

std::string Port(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}
std::string Url(const char* scheme, const char* portVar, const char* path) {
    return std::string(scheme) + "://127.0.0.1:" + Port(portVar) + path;
}

class Http : public testing::Test {
protected:
    void SetUp() override {
        if (Port("QVR_HTTP_PORT").empty()) GTEST_SKIP() << "run through http_fixture.py";
    }
};

// The request as the server saw it: header lines and body, from /echo.
struct Echo {
    std::string head;
    std::string body;
    explicit Echo(const std::string& response) {
        const size_t split = response.find("\r\n\r\n");
        head = response.substr(0, split == std::string::npos ? response.size() : split + 2);
        body = split == std::string::npos ? "" : response.substr(split + 4);
    }
    bool Has(const std::string& line) const { return head.find("\r\n" + line + "\r\n") != std::string::npos; }
};

TEST_F(Http, HeadersAndBodyArriveExactly) {
    const std::string body = "{\"name\":\"安装\",\"n\":1,\"text\":\"a\\\"b\\\\c\",\"tail\":\"  \\n\"}";
    for (const char* scheme : {"http", "https"}) {
        SCOPED_TRACE(scheme);
        CHttpClient client(false, false, 5, 10);
        std::string response = "kept:";
        const char* port = std::string(scheme) == "http" ? "QVR_HTTP_PORT" : "QVR_HTTPS_PORT";
        ASSERT_EQ(client.PostJson(Url(scheme, port, "/echo").c_str(), body.c_str(), &response), 0)
            << "a self-signed certificate is accepted";
        ASSERT_EQ(response.rfind("kept:", 0), 0u) << "the response is appended";
        const Echo echo(response.substr(5));
        EXPECT_EQ(echo.head.rfind("POST /echo HTTP/1.1\r\n", 0), 0u) << echo.head;
        EXPECT_TRUE(echo.Has("Accept: application/json")) << echo.head;
        EXPECT_TRUE(echo.Has("Content-Type: application/json")) << echo.head;
        EXPECT_TRUE(echo.Has("charsets: utf-8")) << echo.head;
        EXPECT_TRUE(echo.Has("Content-Length: " + std::to_string(body.size()))) << echo.head;
        EXPECT_TRUE(echo.Has("Host: 127.0.0.1:" + Port(port))) << echo.head;
        // The three lines come in this order.
        const size_t a = echo.head.find("Accept: application/json"), c = echo.head.find("Content-Type: application/json"),
                     s = echo.head.find("charsets: utf-8");
        EXPECT_LT(a, c);
        EXPECT_LT(c, s);
        EXPECT_EQ(echo.body, body);
        EXPECT_FALSE(client.AlternateDns());
    }
}

TEST_F(Http, StatusCodesAreNoErrorsAndBodiesAreCollected) {
    struct Case {
        const char* path;
        std::string body;
    };
    const Case cases[] = {
        {"/status/404", "status 404 body"},
        {"/status/500", "status 500 body"},
        {"/status/201", "status 201 body"},
        {"/empty", ""},
    };
    CHttpClient client(false, false, 5, 10);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string response;
        EXPECT_EQ(client.PostJson(Url("http", "QVR_HTTP_PORT", c.path).c_str(), "{}", &response), 0);
        EXPECT_EQ(response, c.body);
    }
    std::string kept = "unchanged";
    EXPECT_EQ(client.PostJson(Url("https", "QVR_HTTPS_PORT", "/empty").c_str(), "", &kept), 0);
    EXPECT_EQ(kept, "unchanged") << "an empty body leaves the string as it was";
}

TEST_F(Http, WithoutResponseStringTheTransferIsAborted) {
    CHttpClient client(false, false, 5, 10);
    EXPECT_EQ(client.PostJson(Url("http", "QVR_HTTP_PORT", "/status/200").c_str(), "{}", nullptr), 23)
        << "CURLE_WRITE_ERROR";
    EXPECT_EQ(client.PostJson(Url("http", "QVR_HTTP_PORT", "/empty").c_str(), "{}", nullptr), 0)
        << "nothing to write, nothing refused";
}

TEST_F(Http, RefusedConnectionGives7) {
    CHttpClient client(false, false, 5, 10);
    std::string response;
    EXPECT_EQ(client.PostJson(Url("http", "QVR_CLOSED_PORT", "/echo").c_str(), "{}", &response), 7);
    EXPECT_TRUE(response.empty());
}

TEST_F(Http, ServerThatNeverAnswersTimesOutWith28) {
    CHttpClient client(false, false, 2, 3);
    std::string response;
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(client.PostJson(Url("http", "QVR_HANG_PORT", "/echo").c_str(), "{}", &response), 28);
    const DWORD took = ::GetTickCount() - start;
    EXPECT_GE(took, 2500u);
    EXPECT_LT(took, 20000u) << "ends near the total time-out";
}

std::string Today() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "Http_%d-%02d-%02d.log", t.wYear, t.wMonth, t.wDay);
    return buf;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// The trace goes to the base log; the resolution attempts show there.
class HttpTraced : public Http {
protected:
    void SetUp() override {
        Http::SetUp();
        if (IsSkipped()) return;
        dir_ = testutil::MakeTempDir(L"httplog");
        CNQBaseLog::Instance().InitLogger((testutil::WideToUtf8(dir_) + "\\Http.log").c_str());
        ASSERT_TRUE(CNQBaseLog::Instance().GetLogger());
        log_ = dir_ + L"\\" + testutil::Utf8ToWide(Today());
    }
    std::string Log() const { return testutil::ReadFileOr(log_); }
    std::wstring dir_;
    std::wstring log_;
};

TEST_F(HttpTraced, TraceLogsTheExchange) {
    CHttpClient client(true, false, 5, 10);
    std::string response;
    ASSERT_EQ(client.PostJson(Url("http", "QVR_HTTP_PORT", "/echo").c_str(), "{\"traced\":1}", &response), 0);
    const std::string log = Log();
    EXPECT_NE(log.find("] [chttpclient OnDebug: "), std::string::npos) << log;
    EXPECT_NE(log.find("[HEADER_OUT] POST /echo HTTP/1.1"), std::string::npos) << log;
    EXPECT_NE(log.find("[DATA_OUT] {\"traced\":1}"), std::string::npos) << log;
    EXPECT_NE(log.find("[HEADER_IN] HTTP/1.1 200"), std::string::npos) << log;
    EXPECT_NE(log.find("[DATA_IN] POST /echo HTTP/1.1"), std::string::npos) << log;
    EXPECT_NE(log.find("[TEXT] "), std::string::npos) << log;

    // Without trace nothing of the exchange is logged.
    const size_t before = Count(Log(), "OnDebug");
    CHttpClient quiet(false, false, 5, 10);
    ASSERT_EQ(quiet.PostJson(Url("http", "QVR_HTTP_PORT", "/echo").c_str(), "{}", &response), 0);
    EXPECT_EQ(Count(Log(), "OnDebug"), before);
}

TEST_F(HttpTraced, UnresolvableNameIsRetriedOnceWithTheDnsList) {
    CHttpClient client(true, false, 5, 10);
    std::string response;
    const size_t before = Count(Log(), "Could not resolve host: qvr-test.invalid");
    EXPECT_EQ(client.PostJson("http://qvr-test.invalid/echo", "{}", &response), 6);
    EXPECT_TRUE(client.AlternateDns()) << "the DNS list stays on for later requests";
    EXPECT_EQ(Count(Log(), "Could not resolve host: qvr-test.invalid") - before, 2u) << "the first try and one retry";

    // The next request of the same client starts with the list: one attempt.
    EXPECT_EQ(client.PostJson("http://qvr-test.invalid/echo", "{}", &response), 6);
    EXPECT_EQ(Count(Log(), "Could not resolve host: qvr-test.invalid") - before, 3u);
    // And reaches servers by address as before.
    EXPECT_EQ(client.PostJson(Url("http", "QVR_HTTP_PORT", "/empty").c_str(), "{}", &response), 0);
}

}  // namespace
