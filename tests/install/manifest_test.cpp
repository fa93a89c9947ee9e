// Which latest.txt bodies are accepted, and what the record holds afterwards.
#include "install/manifest.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

const std::string kDigest(64, 'a');
const std::string kGood = "version=1.2.3\nurl=https://h/p.zip\nsha256=" + kDigest + "\n";

struct ManifestCase {
  const char* name;
  std::string body;
  bool accepted;
  std::wstring version;
  std::wstring url;
  std::wstring sha256;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ManifestCase& c, std::ostream* out) { *out << c.name; }

class ManifestTable : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestTable, ParsesAsExpected) {
  const ManifestCase& c = GetParam();
  UpdateManifest manifest;
  EXPECT_EQ(ParseManifest(c.body, manifest), c.accepted);
  if (c.accepted) {
    EXPECT_EQ(manifest.version, c.version);
    EXPECT_EQ(manifest.url, c.url);
    EXPECT_EQ(manifest.sha256, c.sha256);
  }
}

const std::wstring kDigestW(64, L'a');
const std::string kUpper(64, 'A');

INSTANTIATE_TEST_SUITE_P(
    Bodies, ManifestTable,
    ::testing::Values(
        ManifestCase{"plain", kGood, true, L"1.2.3", L"https://h/p.zip", kDigestW},
        ManifestCase{"bom_crlf_blank_lines",
                     "\xEF\xBB\xBFversion=1.0\r\n\r\nurl=https://h/a.zip\r\n\r\nsha256=" + kDigest + "\r\n",
                     true, L"1.0", L"https://h/a.zip", kDigestW},
        ManifestCase{"last_line_without_lf_but_cr",
                     "version=1\nurl=https://h/\nsha256=" + kDigest + "\r", true, L"1", L"https://h/",
                     kDigestW},
        ManifestCase{"blanks_and_key_case",
                     "  Version \t=  Beta 2 \nURL=https://h/x\nSHA256 = " + kUpper + "\n", true,
                     L"Beta 2", L"https://h/x", kDigestW},
        ManifestCase{"equals_in_value",
                     "version=1\nurl=https://h/get?a=1&b=2\nsha256=" + kDigest, true, L"1",
                     L"https://h/get?a=1&b=2", kDigestW},
        ManifestCase{"url_of_exactly_the_scheme", "version=1\nurl=https://\nsha256=" + kDigest, true,
                     L"1", L"https://", kDigestW},
        ManifestCase{"repeated_key_last_wins", kGood + "version=2.0\n", true, L"2.0", L"https://h/p.zip",
                     kDigestW},
        ManifestCase{"empty_then_value", "version=\n" + kGood, true, L"1.2.3", L"https://h/p.zip",
                     kDigestW},
        ManifestCase{"unknown_and_hash_keys_ignored", "# note=x\nchannel=beta\n" + kGood, true, L"1.2.3",
                     L"https://h/p.zip", kDigestW},
        ManifestCase{"inner_cr_stays_in_value", "version=1\r2\nurl=https://h/\nsha256=" + kDigest, true,
                     L"1\r2", L"https://h/", kDigestW},
        ManifestCase{"cyrillic_version", "version=\xD0\xB1\xD0\xB5\xD1\x82\xD0\xB0\n" + kGood.substr(14),
                     true, L"\u0431\u0435\u0442\u0430", L"https://h/p.zip", kDigestW},
        ManifestCase{"value_then_empty_refused", kGood + "version=\n", false, {}, {}, {}},
        ManifestCase{"https_in_capitals_refused", "version=1\nurl=HTTPS://h/x\nsha256=" + kDigest, false,
                     {}, {}, {}},
        ManifestCase{"http_refused", "version=1\nurl=http://h/x\nsha256=" + kDigest, false, {}, {}, {}},
        ManifestCase{"digest_63_refused", "version=1\nurl=https://h/\nsha256=" + kDigest.substr(1), false,
                     {}, {}, {}},
        ManifestCase{"digest_65_refused", "version=1\nurl=https://h/\nsha256=" + kDigest + "a", false, {},
                     {}, {}},
        ManifestCase{"no_digest_refused", "version=1\nurl=https://h/\n", false, {}, {}, {}},
        ManifestCase{"no_version_refused", "url=https://h/\nsha256=" + kDigest, false, {}, {}, {}},
        ManifestCase{"colon_separator_skipped", "version: 1\nurl=https://h/\nsha256=" + kDigest, false, {},
                     {}, {}},
        ManifestCase{"cr_only_is_one_line", "version=1\rurl=https://h/\rsha256=" + kDigest + "\r", false,
                     {}, {}, {}},
        ManifestCase{"invalid_utf8_in_key", "versi\xFFon=1\nurl=https://h/\nsha256=" + kDigest, false, {},
                     {}, {}},
        ManifestCase{"invalid_utf8_in_value", "version=1\xFF\nurl=https://h/\nsha256=" + kDigest, false,
                     {}, {}, {}},
        ManifestCase{"empty_body", "", false, {}, {}, {}},
        ManifestCase{"bom_only", "\xEF\xBB\xBF", false, {}, {}, {}},
        ManifestCase{"binary_body", std::string("\0\x01\x02\xFE", 4), false, {}, {}, {}}),
    [](const ::testing::TestParamInfo<ManifestCase>& test) { return std::string(test.param.name); });

TEST(ParseManifest, DigestNeedNotBeHexadecimalHere) {
  UpdateManifest manifest;
  EXPECT_TRUE(ParseManifest("version=1\nurl=https://h/\nsha256=" + std::string(64, 'z'), manifest));
}

TEST(ParseManifest, KeepsTheCallersBodyUntouched) {
  const std::string body = "\xEF\xBB\xBF" + kGood;
  const std::string copy = body;
  UpdateManifest manifest;
  ASSERT_TRUE(ParseManifest(body, manifest));
  EXPECT_EQ(body, copy);
}

}  // namespace
