// HttpDownload against the local HTTPS update server: failure texts, files, body, progress, request.
#include "net/http_download.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "common/text.h"
#include "test_server.h"
#include "test_support.h"

namespace {

using test_server::GeneratedBytes;
using test_server::Listener;
using test_server::Site;
using test_support::MessageRecorder;
using test_support::ReadFile;
using test_support::TempFolder;
using test_support::WideToUtf8;

const std::wstring kHttpsOnly = L"Fernquill Setup принимает только HTTPS.";
const std::wstring kDownloadFailed = L"Не удалось скачать файл: ";
const std::wstring kStatusPrefix = L"Сервер вернул HTTP ";
const std::wstring kNoFile = L"Не удалось создать временный файл.";
const std::wstring kReadFailed = L"Ошибка чтения загрузки: ";
const std::wstring kWriteFailed = L"Ошибка записи загруженного файла.";

struct Result {
  bool ok = false;
  std::wstring error = L"untouched";
};

Result Download(const std::wstring& url, const std::filesystem::path* target, std::string* body,
                bool progress = false) {
  Result result;
  const std::wstring targetText = target != nullptr ? target->wstring() : std::wstring();
  result.ok = HttpDownload(url, target != nullptr ? &targetText : nullptr, body, result.error, progress);
  return result;
}

// The path of a raw answer: head and body sent as they stand, then the connection closes.
std::wstring RawAnswer(const std::string& head, const std::string& body) {
  const auto escape = [](const std::string& bytes) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring out;
    for (unsigned char c : bytes) {
      if (std::isalnum(c)) {
        out.push_back(static_cast<wchar_t>(c));
      } else {
        out += {L'%', kHex[c >> 4], kHex[c & 15]};
      }
    }
    return out;
  };
  return L"/_/raw?head=" + escape(head) + L"&body=" + escape(body);
}

bool Exists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// ---------------------------------------------------------------------------------------------
// The pure rules.

TEST(DownloadRules, OnlyTwoHundredsAreSuccess) {
  const struct {
    std::uint32_t status;
    bool success;
  } cases[] = {{0, false},  {100, false}, {199, false}, {200, true},  {204, true},
               {299, true}, {300, false}, {302, false}, {404, false}, {0xFFFFFFFFu, false}};
  for (const auto& c : cases) EXPECT_EQ(IsSuccessStatus(c.status), c.success) << c.status;
}

TEST(DownloadRules, ContentLengthIsLeadingDigitsOrZero) {
  const struct {
    const wchar_t* text;
    std::uint64_t length;
  } cases[] = {
      {L"196608", 196608},
      {L"  \t42", 42},
      {L"0", 0},
      {L"", 0},
      {L"abc", 0},
      {L"12abc", 12},
      {L"007", 7},
      {L"18446744073709551615", 18446744073709551615ull},
      {L"99999999999999999999999", 18446744073709551615ull},  // out of range saturates
  };
  for (const auto& c : cases) EXPECT_EQ(ParseContentLength(c.text), c.length) << WideToUtf8(c.text);
}

TEST(DownloadRules, ProgressIsTruncatedPercentCappedAtHundred) {
  const struct {
    std::uint64_t received;
    std::uint64_t announced;
    unsigned percent;
  } cases[] = {
      {65536, 196608, 33},
      {131072, 196608, 66},
      {196608, 196608, 100},
      {1, 3, 33},
      {2, 3, 66},
      {0, 10, 0},
      {99, 100, 99},
      {250, 100, 100},
      {1, 1000000000000, 0},
      {4294967296ull * 50, 4294967296ull * 100, 50},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressPercent(c.received, c.announced), c.percent) << c.received << "/" << c.announced;
  }
}

TEST(DownloadRules, AShortBodyIsOnlyOneBelowAnAnnouncedLength) {
  EXPECT_TRUE(IsBodyShort(100000, 1000000));
  EXPECT_TRUE(IsBodyShort(0, 1));
  EXPECT_FALSE(IsBodyShort(1000000, 1000000));
  EXPECT_FALSE(IsBodyShort(1000001, 1000000));  // more than announced stays accepted
  EXPECT_FALSE(IsBodyShort(5, 0));              // nothing announced
  EXPECT_FALSE(IsBodyShort(0, 0));
}

// ---------------------------------------------------------------------------------------------
// Every failure, produced by a real address or a real server behaviour.

TEST(HttpDownloadAddress, IsCheckedBeforeAnythingIsOpened) {
  Site site;
  TempFolder folder(L"net");
  const struct {
    std::wstring url;
    std::wstring error;
  } cases[] = {
      {site.Url(L"/_/bytes/10", Listener::kPlainHttp), kHttpsOnly},
      {L"http://localhost/x", kHttpsOnly},
      {L"ftp://localhost/x", L"Некорректный URL: " + WindowsErrorTextFor(ERROR_WINHTTP_UNRECOGNIZED_SCHEME)},
      {L"", L"Некорректный URL: " + WindowsErrorTextFor(ERROR_WINHTTP_UNRECOGNIZED_SCHEME)},
  };
  for (const auto& c : cases) {
    const auto target = folder / L"never.bin";
    std::string body = "kept";
    const Result result = Download(c.url, &target, &body);
    EXPECT_FALSE(result.ok) << WideToUtf8(c.url);
    EXPECT_EQ(result.error, c.error) << WideToUtf8(c.url);
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(body, "kept");
  }
  EXPECT_TRUE(site.Requests().empty());
}

struct NetworkFailureCase {
  const char* name;
  std::function<std::wstring(const Site&)> url;
  std::wstring error;
  bool duringTransfer;  // the file was opened, so the partial file must be gone
};

void PrintTo(const NetworkFailureCase& c, std::ostream* out) { *out << c.name; }

NetworkFailureCase BeforeAnswer(const char* name, std::function<std::wstring(const Site&)> url, DWORD code) {
  return {name, std::move(url), kDownloadFailed + WindowsErrorTextFor(code), false};
}

NetworkFailureCase InBody(const char* name, const wchar_t* query, DWORD code) {
  return {name, [query](const Site& site) { return site.Url(std::wstring(L"/_/bytes/1000000") + query); },
          kReadFailed + WindowsErrorTextFor(code), true};
}

// Wine refuses every bad certificate with one code; Windows names the reason (12045, 12038, 12037).
constexpr DWORD kCertificateRefused = ERROR_WINHTTP_SECURE_CHANNEL_ERROR;

class HttpDownloadNetworkFailure : public ::testing::TestWithParam<NetworkFailureCase> {};

TEST_P(HttpDownloadNetworkFailure, GivesItsTextAndLeavesNoPartialFile) {
  const NetworkFailureCase& c = GetParam();
  Site site;
  TempFolder folder(L"net");
  const auto target = folder / L"pkg.zip";
  test_support::WriteFile(target, "older file");
  std::string body;
  const Result result = Download(c.url(site), &target, &body, true);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, c.error);
  if (c.duringTransfer) {
    EXPECT_FALSE(Exists(target));
  } else {
    EXPECT_EQ(ReadFile(target), "older file");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Network, HttpDownloadNetworkFailure,
    ::testing::Values(
        BeforeAnswer(
            "refused_port", [](const Site&) { return std::wstring(L"https://localhost:1/x"); },
            ERROR_WINHTTP_CANNOT_CONNECT),
        BeforeAnswer(
            "empty_host", [](const Site&) { return std::wstring(L"https:///updates/latest.txt"); },
            ERROR_WINHTTP_CANNOT_CONNECT),
        BeforeAnswer(
            "port_zero", [](const Site&) { return std::wstring(L"https://localhost:0/x"); },
            ERROR_WINHTTP_CANNOT_CONNECT),
        BeforeAnswer(
            "unknown_host",
            [](const Site&) { return std::wstring(L"https://host.invalid/updates/latest.txt"); },
            ERROR_WINHTTP_NAME_NOT_RESOLVED),
        BeforeAnswer(
            "not_http_at_all", [](const Site& site) { return site.Url(RawAnswer("garbage\r\n\r\n", "hi")); },
            ERROR_WINHTTP_INVALID_SERVER_RESPONSE),
        BeforeAnswer(
            "closed_without_answer", [](const Site& site) { return site.Url(RawAnswer("", "")); },
            ERROR_WINHTTP_INVALID_SERVER_RESPONSE),
        BeforeAnswer(
            "redirect_to_http",
            [](const Site& site) {
              return site.Url(L"/_/redirect/302?to=" +
                              test_server::Url(site.Path(L"/_/bytes/10"), Listener::kPlainHttp));
            },
            ERROR_WINHTTP_REDIRECT_FAILED),
        BeforeAnswer(
            "untrusted_ca", [](const Site& site) { return site.Url(L"/x", Listener::kUntrustedCa); },
            kCertificateRefused),
        BeforeAnswer(
            "certificate_for_another_host",
            [](const Site& site) { return site.Url(L"/x", Listener::kWrongHost); }, kCertificateRefused),
        BeforeAnswer(
            "expired_certificate", [](const Site& site) { return site.Url(L"/x", Listener::kExpired); },
            kCertificateRefused),
        BeforeAnswer(
            "tls_to_a_plain_http_port",
            [](const Site& site) {
              return L"https://localhost:" + std::to_wstring(test_server::Port(Listener::kPlainHttp)) +
                     site.Path(L"/x");
            },
            kCertificateRefused),
        // A clean close before the announced length used to pass for a complete body.
        InBody("closed_before_announced_length", L"?cut=100000&end=close", ERROR_WINHTTP_CONNECTION_ERROR),
        InBody("announced_more_than_sent", L"?announce=2000000&end=close", ERROR_WINHTTP_CONNECTION_ERROR),
        InBody("reset_mid_body", L"?cut=100000&end=reset", WSAECONNRESET)),
    [](const ::testing::TestParamInfo<NetworkFailureCase>& test) { return std::string(test.param.name); });

TEST(HttpDownloadErrorText, IsTheNumberWhereWinHttpHasNoMessageTable) {
  // Wine's winhttp.dll carries no message texts: the exact fallback must reach the user.
  if (WindowsErrorTextFor(ERROR_WINHTTP_CANNOT_CONNECT).rfind(L"Windows error", 0) != 0) {
    GTEST_SKIP() << "this winhttp.dll has its own texts";
  }
  const Result result = Download(L"https://localhost:1/x", nullptr, nullptr);
  EXPECT_EQ(result.error, L"Не удалось скачать файл: Windows error 12029");
}

TEST(HttpDownloadRedirect, ToAnotherHttpsPathIsFollowed) {
  Site site;
  std::string body;
  const Result result =
      Download(site.Url(L"/_/redirect/302?to=" + site.Path(L"/_/bytes/1000")), nullptr, &body);
  ASSERT_TRUE(result.ok) << WideToUtf8(result.error);
  EXPECT_EQ(body, GeneratedBytes(1000));
  const auto requests = site.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].target, WideToUtf8(site.Path(L"/_/bytes/1000")));
}

TEST(HttpDownloadRedirect, ToHttpNeverReachesThePlainServer) {
  Site site;
  const std::wstring plain = test_server::Url(site.Path(L"/_/bytes/10"), Listener::kPlainHttp);
  const Result result = Download(site.Url(L"/_/redirect/301?to=" + plain), nullptr, nullptr);
  EXPECT_FALSE(result.ok);
  const auto requests = site.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].listener, "trusted");
}

class HttpDownloadStatus : public ::testing::TestWithParam<unsigned> {};

TEST_P(HttpDownloadStatus, OutsideTwoHundredsFailsAndLeavesNoFile) {
  const unsigned status = GetParam();
  Site site;
  TempFolder folder(L"net");
  const auto target = folder / L"pkg.zip";
  const Result result = Download(site.Url(L"/_/status/" + std::to_wstring(status)), &target, nullptr);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, kStatusPrefix + std::to_wstring(status));
  EXPECT_FALSE(Exists(target));
}

// 300 and 399 are not followed; 304 has no body at all. (A 301 without Location fails in Wine's
// WinHttpReceiveResponse with 12150 instead of arriving as its status.)
INSTANTIATE_TEST_SUITE_P(Codes, HttpDownloadStatus, ::testing::Values(300, 304, 399, 403, 404, 500, 599));

TEST(HttpDownloadStatus, AStatusThatIsNoNumberReadsAsZero) {
  Site site;
  const Result result =
      Download(site.Url(RawAnswer("HTTP/1.1 abc OK\r\nContent-Length: 2\r\n\r\n", "hi")), nullptr, nullptr);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, L"Сервер вернул HTTP 0");
}

TEST(HttpDownloadStatus, NotFoundLeavesAnExistingFileAsItWas) {
  Site site;
  TempFolder folder(L"net");
  const auto target = folder / L"pkg.zip";
  test_support::WriteFile(target, "previous package");
  std::string body = "previous body";
  const Result result = Download(site.Url(L"/missing.zip"), &target, &body);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, L"Сервер вернул HTTP 404");
  EXPECT_EQ(ReadFile(target), "previous package");
  EXPECT_EQ(body, "previous body");
}

TEST(HttpDownloadTarget, InAMissingFolderFailsAfterTheServerAnswered) {
  Site site;
  TempFolder folder(L"net");
  const auto target = folder / L"no such folder" / L"pkg.zip";
  std::string body = "kept";
  const Result result = Download(site.Url(L"/_/bytes/100"), &target, &body);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, kNoFile);
  EXPECT_FALSE(Exists(target.parent_path()));
  EXPECT_EQ(body, "kept");  // emptied only once the file is open
  EXPECT_EQ(site.Requests().size(), 1u);
}

TEST(HttpDownloadTarget, AWriteFailureFailsWithTheWriteText) {
  Site site;
  // Opens like any file, but every write fails (the disk is full).
  const std::filesystem::path full = test_support::BuildDir() + L"\\tests\\net\\full-device";
  std::string body;
  const Result result = Download(site.Url(L"/_/bytes/300000"), &full, &body);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, kWriteFailed);
}

// ---------------------------------------------------------------------------------------------
// Successful downloads: body, file and what the server was sent.

TEST(HttpDownloadBody, FileAndStringReceiveTheSameBytes) {
  Site site;
  TempFolder folder(L"net");
  const std::string content = GeneratedBytes(3 * 65536 + 17);
  site.Publish(L"pkg.bin", content);
  const auto target = folder / L"pkg.bin";
  std::string body = "stale";
  const Result result = Download(site.Url(L"/pkg.bin"), &target, &body);
  ASSERT_TRUE(result.ok) << WideToUtf8(result.error);
  EXPECT_EQ(result.error, L"untouched");
  EXPECT_EQ(body, content);
  EXPECT_EQ(ReadFile(target), content);
}

TEST(HttpDownloadBody, EveryTrustedListenerServesTheSameSite) {
  // The fixed port is what builds with a fixed update host talk to.
  Site site;
  site.Publish(L"updates/latest.txt", "version=1\n");
  for (Listener listener : {Listener::kTrusted, Listener::kFixedPort}) {
    std::string body;
    const Result result = Download(site.Url(L"/updates/latest.txt", listener), nullptr, &body);
    ASSERT_TRUE(result.ok) << WideToUtf8(result.error);
    EXPECT_EQ(body, "version=1\n");
  }
  const auto requests = site.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].listener, "trusted");
  EXPECT_EQ(requests[1].listener, "fixed");
  EXPECT_EQ(requests[1].HeaderValues("Host"),
            std::vector<std::string>{"localhost:" + std::to_string(FERNQUILL_TEST_SERVER_FIXED_PORT)});
}

TEST(HttpDownloadBody, AnExistingFileIsTruncatedNotAppendedTo) {
  Site site;
  TempFolder folder(L"net");
  const auto target = folder / L"pkg.zip";
  test_support::WriteFile(target, std::string(500000, 'x'));
  const Result result = Download(site.Url(L"/_/bytes/1000"), &target, nullptr);
  ASSERT_TRUE(result.ok) << WideToUtf8(result.error);
  EXPECT_EQ(ReadFile(target), GeneratedBytes(1000));
}

TEST(HttpDownloadBody, EveryFramingIsReadToItsEnd) {
  const struct {
    const char* name;
    const wchar_t* query;
  } cases[] = {
      {"content_length", L""},
      {"close_delimited", L"?framing=close"},
      {"chunked", L"?framing=chunked&chunk=10000"},
      {"small_pieces", L"?chunk=999&pause=1"},
  };
  for (const auto& c : cases) {
    Site site;
    std::string body;
    const Result result = Download(site.Url(std::wstring(L"/_/bytes/250000") + c.query), nullptr, &body);
    ASSERT_TRUE(result.ok) << c.name << ": " << WideToUtf8(result.error);
    EXPECT_EQ(body, GeneratedBytes(250000)) << c.name;
  }
}

TEST(HttpDownloadBody, AnyTwoHundredIsAcceptedEvenWithoutABody) {
  const struct {
    const wchar_t* path;
    std::size_t size;
  } cases[] = {
      {L"/_/status/204", 0},         {L"/_/bytes/0", 0},
      {L"/_/bytes/5?status=201", 5}, {L"/_/bytes/7?status=299", 7},
      {L"/_/bytes/3?status=206", 3},
  };
  for (const auto& c : cases) {
    Site site;
    TempFolder folder(L"net");
    const auto target = folder / L"out.bin";
    test_support::WriteFile(target, "previous");
    std::string body = "previous";
    const Result result = Download(site.Url(c.path), &target, &body);
    ASSERT_TRUE(result.ok) << WideToUtf8(c.path) << ": " << WideToUtf8(result.error);
    EXPECT_EQ(body, GeneratedBytes(c.size)) << WideToUtf8(c.path);
    EXPECT_EQ(ReadFile(target), GeneratedBytes(c.size)) << WideToUtf8(c.path);
  }
}

TEST(HttpDownloadBody, WithoutDestinationsTheBodyIsStillReadToTheEnd) {
  Site site;
  const Result result = Download(site.Url(L"/_/bytes/200000?cut=100000&end=close"), nullptr, nullptr);
  EXPECT_FALSE(result.ok);  // only reading to the end can notice the short body
  EXPECT_EQ(result.error, kReadFailed + WindowsErrorTextFor(ERROR_WINHTTP_CONNECTION_ERROR));
  EXPECT_TRUE(Download(site.Url(L"/_/bytes/200000"), nullptr, nullptr).ok);
}

TEST(HttpDownloadRequest, IsOneGetWithTheAgentAndNoCacheHeaders) {
  Site site;
  site.Publish(L"a b.txt", "spaced");
  std::string body;
  const Result result = Download(site.Url(L"/a%20b.txt?x=%2F&y=1"), nullptr, &body);
  ASSERT_TRUE(result.ok) << WideToUtf8(result.error);
  EXPECT_EQ(body, "spaced");

  const auto requests = site.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, WideToUtf8(site.Path(L"/a%20b.txt?x=%2F&y=1")));
  EXPECT_EQ(request.version, "HTTP/1.1");
  EXPECT_EQ(request.HeaderValues("User-Agent"), std::vector<std::string>{"FernquillSetup/1.0"});
  EXPECT_EQ(request.HeaderValues("Cache-Control"), std::vector<std::string>{"no-cache"});
  EXPECT_EQ(request.HeaderValues("Pragma"), std::vector<std::string>{"no-cache"});
  EXPECT_EQ(request.HeaderValues("Host"),
            std::vector<std::string>{"localhost:" + std::to_string(test_server::Port())});
}

// ---------------------------------------------------------------------------------------------
// Progress, as the setup window receives it.

struct ProgressCase {
  const char* name;
  const wchar_t* path;
  bool report;
  std::vector<unsigned> expected;
};

void PrintTo(const ProgressCase& c, std::ostream* out) { *out << c.name; }

class HttpDownloadProgress : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(HttpDownloadProgress, PostsOneValuePerChunkOfAnAnnouncedBody) {
  const ProgressCase& c = GetParam();
  Site site;
  MessageRecorder recorder;
  std::string body;
  const Result result = Download(site.Url(c.path), nullptr, &body, c.report);
  ASSERT_TRUE(result.ok) << WideToUtf8(result.error);
  const auto messages = recorder.Drain();
  EXPECT_EQ(test_support::ProgressValues(messages), c.expected);
  EXPECT_EQ(messages.size(), c.expected.size());  // nothing but progress
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, HttpDownloadProgress,
    ::testing::Values(
        ProgressCase{"three_full_reads", L"/_/bytes/196608?chunk=65536&pause=150", true, {33, 66, 100}},
        ProgressCase{"not_requested", L"/_/bytes/196608?chunk=65536&pause=50", false, {}},
        ProgressCase{"no_content_length", L"/_/bytes/196608?framing=close&chunk=65536&pause=50", true, {}},
        ProgressCase{"chunked", L"/_/bytes/196608?framing=chunked&chunk=65536&pause=50", true, {}},
        ProgressCase{"empty_body", L"/_/status/204", true, {}}),
    [](const ::testing::TestParamInfo<ProgressCase>& test) { return std::string(test.param.name); });

TEST(HttpDownloadProgress, RepeatsAValueThatDidNotChange) {
  // 200 reads of 65,536 bytes: every second read moves the percent.
  Site site;
  MessageRecorder recorder;
  const Result result = Download(site.Url(L"/_/bytes/13107200?chunk=65536&pause=5"), nullptr, nullptr, true);
  ASSERT_TRUE(result.ok) << WideToUtf8(result.error);
  std::vector<unsigned> expected;
  for (unsigned read = 1; read <= 200; ++read) expected.push_back(read / 2);
  EXPECT_EQ(test_support::ProgressValues(recorder.Drain()), expected);
}

TEST(HttpDownloadProgress, ClimbsToHundredOnALargeBody) {
  Site site;
  MessageRecorder recorder;
  const Result result = Download(site.Url(L"/_/bytes/5000000"), nullptr, nullptr, true);
  ASSERT_TRUE(result.ok) << WideToUtf8(result.error);
  const auto values = test_support::ProgressValues(recorder.Drain());
  ASSERT_GE(values.size(), 5000000u / 65536u);  // never more than one buffer per read
  for (std::size_t i = 1; i < values.size(); ++i) EXPECT_LE(values[i - 1], values[i]);
  EXPECT_EQ(values.back(), 100u);
}

}  // namespace
