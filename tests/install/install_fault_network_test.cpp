// Whole runs against a misbehaving or untrustworthy server: each ends with its text and loses nothing,
// and the next run, once the server behaves, installs.
#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "install_fault_fixture.h"
#include "test_server.h"

namespace {

using install_fault::Ending;
using install_fault::InstallFault;
using install_fault::Stop;
using install_run::PackageDigest;
using install_run::ReadPackage;
using test_server::Listener;

const std::wstring kManifestFailed = L"Не удалось получить информацию об обновлении.\r\n";
const std::wstring kPackageFailed = L"Не удалось скачать Fernquill.\r\n";
const std::wstring kRequestFailed = L"Не удалось скачать файл: ";
const std::wstring kReadFailed = L"Ошибка чтения загрузки: ";
const std::wstring kDigestMismatch = L"SHA-256 не совпадает. Установка отменена.";

// Requests a listener received for the fixed manifest address, from every test of the run.
std::size_t ManifestRequestsOn(const std::string& listener) {
  std::size_t count = 0;
  for (const test_server::RecordedRequest& request : test_server::RequestsFor(L"all")) {
    if (request.listener == listener && request.target == "/updates/latest.txt") ++count;
  }
  return count;
}

std::size_t SiteRequestsOn(const test_server::Site& site, const std::string& listener) {
  std::size_t count = 0;
  for (const test_server::RecordedRequest& request : site.Requests()) count += request.listener == listener;
  return count;
}

class NetworkFault : public InstallFault {
 protected:
  void SetUp() override { SeedInstallFolder(); }

  // The cause removed: the trusted server offers the good package again.
  void ExpectRepeatSucceeds() {
    updateHost_ = Host();
    PublishPackage(package_);
    ExpectCleanInstall(Run());
  }
};

struct ServerCase {
  const char* name;
  // The package's address on the test's site; the manifest names it.
  std::function<std::wstring(const test_server::Site&)> address;
  std::wstring published;     // a sample package put on the site besides good.zip; empty: none
  std::wstring digestOf;      // the sample package whose SHA-256 the manifest gives
  Listener manifestListener;  // where the manifest is fetched from
  Ending ending;
  bool tempKept;        // the package and staging folder stay (expansion failed)
  const char* refused;  // a listener that must never have been sent a request, or nullptr
};

void PrintTo(const ServerCase& c, std::ostream* out) { *out << c.name; }

std::function<std::wstring(const test_server::Site&)> OnSite(const std::wstring& rest,
                                                             Listener listener = Listener::kTrusted) {
  return [rest, listener](const test_server::Site& site) { return site.Url(rest, listener); };
}

std::function<std::wstring(const test_server::Site&)> RedirectTo(const std::wstring& rest,
                                                                 Listener listener) {
  return [rest, listener](const test_server::Site& site) {
    return site.Url(L"/_/redirect/302?to=" + site.Url(rest, listener));
  };
}

class ServerFault : public NetworkFault, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(ServerFault, EndsWithItsTextLosesNothingAndARepeatInstalls) {
  const ServerCase& c = GetParam();
  site_.Publish(L"good.zip", ReadPackage(L"good.zip"));
  if (!c.published.empty()) site_.Publish(c.published, ReadPackage(c.published));
  PublishManifest(install_run::ManifestFor(c.address(site_), PackageDigest(c.digestOf)));
  updateHost_ = Host(c.manifestListener);
  const std::size_t manifestRequestsBefore = c.refused ? ManifestRequestsOn(c.refused) : 0;
  Remember();

  const auto messages = Run();
  ExpectFailure(messages, c.ending, Stop::kBeforeDeployment,
                c.tempKept ? std::set<std::wstring>{PackageName(), StagingName()} : std::set<std::wstring>{});
  if (c.refused != nullptr) {
    // Not one request, so not one byte of a package, went over a connection that did not check out.
    EXPECT_EQ(SiteRequestsOn(site_, c.refused), 0u);
    EXPECT_EQ(ManifestRequestsOn(c.refused), manifestRequestsBefore);
  }

  ExpectRepeatSucceeds();
}

INSTANTIATE_TEST_SUITE_P(
    Network, ServerFault,
    ::testing::Values(
        ServerCase{"reset_mid_body",
                   OnSite(L"/good.zip?cut=20000&end=reset"),
                   L"",
                   L"good.zip",
                   Listener::kTrusted,
                   {kPackageFailed + kReadFailed, {WSAECONNRESET, ERROR_WINHTTP_CONNECTION_ERROR}},
                   false,
                   nullptr},
        // corrupt.zip is the first half of good.zip. The server's length is right for what it sends, so
        // only the digest can tell...
        ServerCase{"truncated_zip",
                   OnSite(L"/corrupt.zip"),
                   L"corrupt.zip",
                   L"good.zip",
                   Listener::kTrusted,
                   {kDigestMismatch, {}},
                   false,
                   nullptr},
        // ...unless it was published truncated, with the digest of what was published: then the expansion.
        ServerCase{"truncated_zip_published_so",
                   OnSite(L"/corrupt.zip"),
                   L"corrupt.zip",
                   L"corrupt.zip",
                   Listener::kTrusted,
                   {L"Не удалось распаковать Fernquill.\r\nExpand-Archive завершился с кодом 1", {}},
                   true,
                   nullptr},
        ServerCase{"status_503",
                   OnSite(L"/_/status/503"),
                   L"",
                   L"good.zip",
                   Listener::kTrusted,
                   {kPackageFailed + L"Сервер вернул HTTP 503", {}},
                   false,
                   nullptr},
        ServerCase{"redirect_to_http",
                   RedirectTo(L"/good.zip", Listener::kPlainHttp),
                   L"",
                   L"good.zip",
                   Listener::kTrusted,
                   {kPackageFailed + kRequestFailed, {ERROR_WINHTTP_REDIRECT_FAILED}},
                   false,
                   "http"}),
    [](const ::testing::TestParamInfo<ServerCase>& test) { return std::string(test.param.name); });

// Wine reports every certificate that does not check out as a failed secure channel (12157); Windows
// as a secure failure, or by its reason.
const std::vector<unsigned long> kCertificateRefused = {
    ERROR_WINHTTP_SECURE_CHANNEL_ERROR, ERROR_WINHTTP_SECURE_FAILURE, ERROR_WINHTTP_SECURE_INVALID_CA,
    ERROR_WINHTTP_SECURE_CERT_CN_INVALID, ERROR_WINHTTP_SECURE_CERT_DATE_INVALID};

ServerCase PackageOver(const char* name, Listener listener, const char* listenerName) {
  return {name,
          OnSite(L"/good.zip", listener),
          L"",
          L"good.zip",
          Listener::kTrusted,
          {kPackageFailed + kRequestFailed, kCertificateRefused},
          false,
          listenerName};
}

// A certificate that does not check out, for the package or for the manifest itself.
INSTANTIATE_TEST_SUITE_P(
    Tls, ServerFault,
    ::testing::Values(PackageOver("package_untrusted_ca", Listener::kUntrustedCa, "untrusted-ca"),
                      PackageOver("package_wrong_host", Listener::kWrongHost, "wrong-host"),
                      PackageOver("package_expired", Listener::kExpired, "expired"),
                      // A trusted server cannot hand the download on to one that does not check out.
                      ServerCase{"redirect_to_untrusted_ca",
                                 RedirectTo(L"/good.zip", Listener::kUntrustedCa),
                                 L"",
                                 L"good.zip",
                                 Listener::kTrusted,
                                 {kPackageFailed + kRequestFailed, kCertificateRefused},
                                 false,
                                 "untrusted-ca"},
                      ServerCase{"manifest_untrusted_ca",
                                 OnSite(L"/good.zip"),
                                 L"",
                                 L"good.zip",
                                 Listener::kUntrustedCa,
                                 {kManifestFailed + kRequestFailed, kCertificateRefused},
                                 false,
                                 "untrusted-ca"}),
    [](const ::testing::TestParamInfo<ServerCase>& test) { return std::string(test.param.name); });

TEST_F(NetworkFault, AServerThatStallsIsGivenUpAfterTheReceiveLimit) {
  PublishManifest(install_run::ManifestFor(site_.Url(L"/_/hang"), PackageDigest(L"good.zip")));
  Remember();
  const auto started = std::chrono::steady_clock::now();
  const auto messages = Run();
  const auto waited = std::chrono::steady_clock::now() - started;
  ExpectFailure(messages, {kPackageFailed + kRequestFailed, {WSAETIMEDOUT, ERROR_WINHTTP_TIMEOUT}},
                Stop::kBeforeDeployment, {});
  // The 15-second limit on the response is what ended it, not the server going away.
  EXPECT_GE(waited, std::chrono::seconds(14));
  EXPECT_LT(waited, std::chrono::seconds(45));
  ExpectRepeatSucceeds();
}

TEST_F(NetworkFault, ARedirectToAnotherHttpsPathIsFollowedAndInstalls) {
  site_.Publish(L"moved/good.zip", ReadPackage(L"good.zip"));
  PublishManifest(install_run::ManifestFor(site_.Url(L"/_/redirect/302?to=" + site_.Url(L"/moved/good.zip")),
                                           PackageDigest(L"good.zip")));
  Remember();
  ExpectCleanInstall(Run());
  const auto requests = site_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target.rfind(test_support::WideToUtf8(site_.Path(L"/_/redirect/302?to=")), 0), 0u);
  EXPECT_EQ(requests[1].target, test_support::WideToUtf8(site_.Path(L"/moved/good.zip")));
  for (const auto& request : requests) EXPECT_EQ(request.listener, "trusted");
}

}  // namespace
