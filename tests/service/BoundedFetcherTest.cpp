#include "service/BoundedFetcher.h"

#include "ScriptedPeer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using tlr::BoundedFetcher;
using tlr::test::ScriptedPeer;
using tlr::test::waitUntil;

namespace {

BoundedFetcher::Result fetch(const QString& url, qint64 limit = 1000) {
  BoundedFetcher fetcher;
  std::optional<BoundedFetcher::Result> result;
  BoundedFetcher::Request request;
  request.url = QUrl(url);
  request.limit = limit;
  request.silence = 5s;
  request.deadline = 10s;
  fetcher.fetch(request, [&](const BoundedFetcher::Result& r) { result = r; });
  EXPECT_TRUE(waitUntil([&] { return result.has_value(); }, 15s));
  return result.value_or(BoundedFetcher::Result{});
}

// A status line and headers of exactly `size` bytes, the blank line included.
QByteArray headOfSize(qsizetype size, const QByteArray& framing) {
  QByteArray head = "HTTP/1.1 200 OK\r\n" + framing;
  while (size - head.size() - 2 > 4000) head += "X-Fill: " + QByteArray(4000 - 10, 'a') + "\r\n";
  const qsizetype rest = size - head.size() - 2;
  if (rest >= 11) head += "X-Fill: " + QByteArray(rest - 10, 'a') + "\r\n";
  return head + "\r\n";
}

// Answers are counted byte by byte against their limits: a body of exactly
// the limit is whole, one byte more is too large, however it is framed; the
// status line and headers may take 64 KiB, not a byte more.
TEST(BoundedFetcherLimits, AnAnswerOfExactlyItsLimitsIsTakenAndOneByteMoreIsNot) {
  const QByteArray limitBody(1000, 'b');
  const QByteArray chunked = "Transfer-Encoding: chunked\r\n";
  struct Case {
    const char* what;
    QByteArray answer;
    BoundedFetcher::Failure failure;
  };
  const QList<Case> cases{
      {"length, at the limit", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + limitBody, BoundedFetcher::Failure::none},
      {"length, one more", "HTTP/1.1 200 OK\r\nContent-Length: 1001\r\n\r\n" + limitBody + "b",
       BoundedFetcher::Failure::tooLarge},
      {"chunks, at the limit", "HTTP/1.1 200 OK\r\n" + chunked + "\r\n1f4\r\n" + limitBody.left(500) + "\r\n1f4\r\n" +
                                   limitBody.left(500) + "\r\n0\r\n\r\n",
       BoundedFetcher::Failure::none},
      {"chunks, one more", "HTTP/1.1 200 OK\r\n" + chunked + "\r\n3e8\r\n" + limitBody + "\r\n1\r\nb\r\n0\r\n\r\n",
       BoundedFetcher::Failure::tooLarge},
      {"to the close, at the limit", "HTTP/1.1 200 OK\r\n\r\n" + limitBody, BoundedFetcher::Failure::none},
      {"to the close, one more", "HTTP/1.1 200 OK\r\n\r\n" + limitBody + "b", BoundedFetcher::Failure::tooLarge},
      {"headers of 64 KiB", headOfSize(64 * 1024, "Content-Length: 1000\r\n") + limitBody, BoundedFetcher::Failure::none},
      {"headers of 64 KiB and a byte", headOfSize(64 * 1024 + 1, "Content-Length: 1000\r\n") + limitBody,
       BoundedFetcher::Failure::network},
      // A line may take 8 KiB, its line end included.
      {"a header line of 8 KiB", "HTTP/1.1 200 OK\r\nX-Long: " + QByteArray(8 * 1024 - 10, 'a') + "\r\n" +
                                      "Content-Length: 1000\r\n\r\n" + limitBody,
       BoundedFetcher::Failure::none},
      {"a header line of 8 KiB and a byte", "HTTP/1.1 200 OK\r\nX-Long: " + QByteArray(8 * 1024 - 9, 'a') +
                                                "\r\nContent-Length: 1000\r\n\r\n" + limitBody,
       BoundedFetcher::Failure::network},
      // Trailers after the last chunk count with the headers.
      {"trailers beyond 64 KiB", "HTTP/1.1 200 OK\r\n" + chunked + "\r\n3e8\r\n" + limitBody + "\r\n0\r\n" +
                                     headOfSize(66 * 1024, {}).mid(17),
       BoundedFetcher::Failure::network},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer server(c.answer);
    const BoundedFetcher::Result result = fetch(server.address() + "/v1/check");
    EXPECT_EQ(result.failure, c.failure) << result.error.toStdString();
    if (c.failure == BoundedFetcher::Failure::none) {
      EXPECT_EQ(result.data, limitBody);
    }
  }
  // A redirect never leads from https to anything else.
  const QUrl secure("https://tollamere.example/v1/"), plain("http://tollamere.example/v1/");
  EXPECT_FALSE(BoundedFetcher::redirectAllowed(secure, plain));
  EXPECT_FALSE(BoundedFetcher::redirectAllowed(QUrl("HTTPS://tollamere.example/"), QUrl("ftp://tollamere.example/")));
  EXPECT_TRUE(BoundedFetcher::redirectAllowed(secure, QUrl("HTTPS://mirror.example/")));
  EXPECT_TRUE(BoundedFetcher::redirectAllowed(plain, secure));
  EXPECT_TRUE(BoundedFetcher::redirectAllowed(plain, plain));
}

// Sets the proxy variables for the life of the object.
class ProxyEnvironment {
 public:
  explicit ProxyEnvironment(const QString& proxy) {
    for (const char* name : {"http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY", "NO_PROXY"})
      saved_.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
    for (const char* name : {"no_proxy", "NO_PROXY", "HTTP_PROXY", "HTTPS_PROXY"}) qunsetenv(name);
    qputenv("http_proxy", proxy.toUtf8());
    qputenv("https_proxy", proxy.toUtf8());
  }
  ~ProxyEnvironment() {
    for (const Saved& s : saved_) {
      if (s.set)
        qputenv(s.name, s.value);
      else
        qunsetenv(s.name);
    }
  }

 private:
  struct Saved {
    const char* name;
    QByteArray value;
    bool set;
  };
  QList<Saved> saved_;
};

// The toolkit read an HTTP proxy's answer to CONNECT whole: a proxy that
// streamed header lines grew the application by a gigabyte. Its answer is
// counted and limited as the server's, and a refusing proxy's answer is the
// failure.
TEST(BoundedFetcherLimits, AProxysAnswerIsCountedAsTheServers) {
  {
    ScriptedPeer proxy("HTTP/1.1 200 Connection established\r\n", "X-Flood: " + QByteArray(1000, 'f') + "\r\n",
                       256 * 1024 * 1024);
    ProxyEnvironment environment(proxy.address());
    const BoundedFetcher::Result result = fetch("http://tollamere.example/v1/check");
    EXPECT_EQ(result.failure, BoundedFetcher::Failure::network);
    EXPECT_EQ(result.error, "headers too large");
    ASSERT_TRUE(waitUntil([&] { return proxy.ended(); }, 60s));
    EXPECT_LT(proxy.sent(), 32 * 1024 * 1024);
    EXPECT_TRUE(proxy.head().startsWith("CONNECT tollamere.example:80 HTTP/1.1\r\n")) << proxy.head().constData();
  }
  {
    ScriptedPeer proxy("HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n");
    ProxyEnvironment environment(proxy.address());
    const BoundedFetcher::Result result = fetch("https://tollamere.example/v1/check");
    EXPECT_EQ(result.error, "the proxy answered 407 Proxy Authentication Required");
    ASSERT_TRUE(waitUntil([&] { return proxy.ended(); }));
    EXPECT_TRUE(proxy.head().startsWith("CONNECT tollamere.example:443 HTTP/1.1\r\n")) << proxy.head().constData();
  }
  {
    // Through the tunnel, the server's answer.
    ScriptedPeer proxy("HTTP/1.1 200 Connection established\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
                       {}, 0, ScriptedPeer::Close::afterTheClient);
    ProxyEnvironment environment(proxy.address());
    const BoundedFetcher::Result result = fetch("http://tollamere.example/v1/check");
    EXPECT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.data, "hello");
  }
}

}  // namespace
