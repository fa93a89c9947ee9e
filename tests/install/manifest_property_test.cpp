// Random and mutated latest.txt bodies against a plain model of the manifest rules: no crash, same verdict.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "install/manifest.h"

namespace {

constexpr int kRandomBodies = 3000;
constexpr int kMutatedBodies = 3000;

std::uint64_t PropertySeed(std::uint64_t fallback) {
  const char* text = std::getenv("FERNQUILL_PROPERTY_SEED");
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

// Strict UTF-8 decoding written out from the encoding's table of well-formed sequences.
bool DecodeUtf8(const std::string& bytes, std::wstring& out) {
  out.clear();
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char b0 = static_cast<unsigned char>(bytes[i]);
    std::uint32_t code = 0;
    std::size_t extra = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b0 < 0x80) {
      code = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      code = b0 & 0x1F, extra = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      code = b0 & 0x0F, extra = 2;
      if (b0 == 0xE0) low = 0xA0;
      if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      code = b0 & 0x07, extra = 3;
      if (b0 == 0xF0) low = 0x90;
      if (b0 == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (extra != 0 && i + extra >= bytes.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const unsigned char b = static_cast<unsigned char>(bytes[i + k]);
      const unsigned char lo = k == 1 ? low : 0x80;
      const unsigned char hi = k == 1 ? high : 0xBF;
      if (b < lo || b > hi) return false;
      code = (code << 6) | (b & 0x3F);
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (code >> 10));
      out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<wchar_t>(code);
    }
    i += 1 + extra;
  }
  return true;
}

std::wstring Decoded(const std::string& bytes) {
  std::wstring text;
  return DecodeUtf8(bytes, text) ? text : std::wstring();
}

std::wstring Trimmed(const std::wstring& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && std::iswspace(text[first])) ++first;
  while (last > first && std::iswspace(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::wstring FoldedAtoZ(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

struct Verdict {
  bool accepted = false;
  UpdateManifest manifest;
};

Verdict ModelParse(const std::string& body) {
  std::string text = body;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);

  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  Verdict verdict;
  UpdateManifest& m = verdict.manifest;
  for (std::string line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (line.empty() || equals == std::string::npos) continue;
    const std::wstring key = FoldedAtoZ(Trimmed(Decoded(line.substr(0, equals))));
    const std::wstring value = Trimmed(Decoded(line.substr(equals + 1)));
    if (key == L"version") m.version = value;
    if (key == L"url") m.url = value;
    if (key == L"sha256") m.sha256 = FoldedAtoZ(value);
  }
  verdict.accepted = !m.version.empty() && m.url.compare(0, 8, L"https://") == 0 && m.url.size() >= 8 &&
                     m.sha256.size() == 64;
  return verdict;
}

std::string Escaped(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

const std::string kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// Pieces that matter to the parser: keys in several cases, separators, line ends, blanks, bad UTF-8.
const std::vector<std::string> kFragments = {
    "version",
    "url",
    "sha256",
    "Version",
    "URL",
    "SHA256",
    "vErSiOn",
    "=",
    "==",
    " ",
    "\t",
    "\x0B",
    "\x0C",
    "\r",
    "\n",
    "\r\n",
    "\n\r",
    "\xEF\xBB\xBF",
    "https://",
    "HTTPS://",
    "http://",
    "https:/",
    "h/p.zip",
    kDigest,
    kDigest.substr(1),
    kDigest + "0",
    "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789",
    "\xFF",
    "\xC3",
    "\xC0\xAF",
    "\xED\xA0\x80",
    "\xF4\x90\x80\x80",
    "\xE0\x80\xAF",
    "\xD0\x91\xD0\xB5",
    "\xF0\x9F\x8C\xBF",
    "\xC2\xA0",
    "\xE3\x80\x80",
    "\xC2\x85",
    "#",
    ":",
    std::string(1, '\0'),
    "1.0",
};

const std::vector<std::string> kTemplates = {
    "version=1.2.3\nurl=https://h/p.zip\nsha256=" + kDigest + "\n",
    "\xEF\xBB\xBF Version = 2 beta \r\n\r\nURL=https://h/get?a=1&b=2\r\nSHA256 = " + kDigest + "\r\n",
    "# comment=x\nsha256=" + kDigest + "\nurl=https://\nversion=\xD0\xB1\xD0\xB5\xD1\x82\xD0\xB0",
};

class BodyMaker {
 public:
  explicit BodyMaker(std::uint64_t seed) : rng_(seed) {}

  // Lines shaped like entries, each part drawn from the fragments, so that some bodies are accepted.
  std::string RandomBody() {
    struct Field {
      std::vector<std::string> keys;
      std::vector<std::string> values;
    };
    static const std::string kUpperDigest =
        "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789";
    static const Field kFields[] = {
        {{"version", "Version", " VERSION\t", "versio", "version "},
         {"1.0", " 2 beta ", "", "\xD0\x91", "1.0"}},
        {{"url", "URL", " Url ", "ur l"},
         {"https://h/p.zip", "https://h/p?a=b=c", " https:// ", "HTTPS://h/p.zip", "http://h/", "https:/h"}},
        {{"sha256", "SHA256", "\tsha256 ", "sha-256"},
         {kDigest, kUpperDigest, " " + kDigest + "\t", kDigest.substr(1), kDigest + "f", kDigest}},
        {{"#url", "channel", "", " "}, {"x", "", "https://h/"}},
    };
    static const std::vector<std::string> kLineEnds = {"\n", "\r\n", "\n",   "\r\n", "\n",
                                                       "\r", "",     "\n\n", "\r\n"};
    std::string body = Below(4) == 0 ? "\xEF\xBB\xBF" : "";
    const std::size_t lines = 2 + Below(10);
    for (std::size_t i = 0; i < lines; ++i) {
      const Field& field = kFields[Below(4)];
      body += Below(8) == 0 ? Noise() : Pick(field.keys);
      body += Below(10) == 0 ? Pick(kFragments) : "=";
      body += Below(8) == 0 ? Noise() : Pick(field.values);
      body += Pick(kLineEnds);
    }
    return body;
  }

  std::string MutatedBody() {
    std::string body = Pick(kTemplates);
    const std::size_t mutations = 1 + Below(4);
    for (std::size_t i = 0; i < mutations; ++i) Mutate(body);
    return body;
  }

 private:
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
  const std::string& Pick(const std::vector<std::string>& from) { return from[Below(from.size())]; }
  std::string Noise() {
    std::string noise;
    const std::size_t pieces = 1 + Below(3);
    for (std::size_t i = 0; i < pieces; ++i) {
      noise += Below(4) == 0 ? std::string(1, static_cast<char>(Below(256))) : Pick(kFragments);
    }
    return noise;
  }

  void Mutate(std::string& body) {
    const std::size_t at = Below(body.size() + 1);
    switch (Below(6)) {
      case 0:  // insert an interesting piece
        body.insert(at, Pick(kFragments));
        break;
      case 1:  // drop a byte
        if (at < body.size()) body.erase(at, 1);
        break;
      case 2:  // overwrite a byte with one of the parser's special bytes
        if (at < body.size()) body[at] = "\r\n= \t\xEF\xFF\x80"[Below(8)];
        break;
      case 3:  // flip the letter case of a byte
        if (at < body.size()) body[at] = static_cast<char>(body[at] ^ 0x20);
        break;
      case 4: {  // repeat the line around a point, so a key occurs twice
        const std::size_t begin = body.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t start = begin == std::string::npos ? 0 : begin + 1;
        const std::size_t end = body.find('\n', at);
        const std::string line =
            body.substr(start, end == std::string::npos ? std::string::npos : end - start);
        body.insert(start, line + "\n");
        break;
      }
      default:  // cut the body short
        body.resize(at);
        break;
    }
  }

  std::mt19937_64 rng_;
};

bool HasCapitalAtoZ(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c >= L'A' && c <= L'Z') return true;
  }
  return false;
}

void CheckBodies(const char* kind, std::uint64_t seed, int count, std::string (BodyMaker::*make)()) {
  std::cout << kind << ": " << count << " bodies, seed " << seed
            << " (set FERNQUILL_PROPERTY_SEED to repeat another)\n";
  BodyMaker maker(seed);
  int accepted = 0;
  for (int i = 0; i < count; ++i) {
    const std::string body = (maker.*make)();
    UpdateManifest manifest;
    const bool result = ParseManifest(body, manifest);
    const Verdict expected = ModelParse(body);
    ASSERT_EQ(result, expected.accepted) << kind << " body #" << i << ": \"" << Escaped(body) << '"';
    if (!result) continue;
    ++accepted;
    ASSERT_EQ(manifest.version, expected.manifest.version) << "body #" << i << ": \"" << Escaped(body) << '"';
    ASSERT_EQ(manifest.url, expected.manifest.url) << "body #" << i << ": \"" << Escaped(body) << '"';
    ASSERT_EQ(manifest.sha256, expected.manifest.sha256) << "body #" << i << ": \"" << Escaped(body) << '"';
    ASSERT_FALSE(manifest.version.empty());
    ASSERT_EQ(manifest.url.compare(0, 8, L"https://"), 0);
    ASSERT_EQ(manifest.sha256.size(), 64u);
    ASSERT_FALSE(HasCapitalAtoZ(manifest.sha256));
  }
  std::cout << kind << ": " << accepted << " accepted, " << count - accepted << " refused\n";
  // A generator that only ever makes one kind of body would prove nothing.
  EXPECT_GT(accepted, count / 50);
  EXPECT_GT(count - accepted, count / 50);
}

TEST(ManifestProperty, RandomBodiesMatchTheModel) {
  CheckBodies("random", PropertySeed(0x5EED0001), kRandomBodies, &BodyMaker::RandomBody);
}

TEST(ManifestProperty, MutatedBodiesMatchTheModel) {
  CheckBodies("mutated", PropertySeed(0x5EED0002), kMutatedBodies, &BodyMaker::MutatedBody);
}

// The model itself, on bodies whose verdict is known, so a wrong model cannot pass as agreement.
TEST(ManifestProperty, ModelKnowsTheRules) {
  struct Case {
    const char* name;
    std::string body;
    bool accepted;
  };
  const Case cases[] = {
      {"plain", kTemplates[0], true},
      {"bom, crlf, blanks, capitals", kTemplates[1], true},
      {"no final line feed, bare scheme", kTemplates[2], true},
      {"capital scheme", "version=1\nurl=HTTPS://h\nsha256=" + kDigest, false},
      {"cr alone ends no line", "version=1\rurl=https://h\rsha256=" + kDigest, false},
      {"invalid byte empties the value", "version=1\xFF\nurl=https://h\nsha256=" + kDigest, false},
      {"surrogate in utf-8 is invalid", "version=\xED\xA0\x80\nurl=https://h\nsha256=" + kDigest, false},
      {"overlong is invalid", "version=\xC0\xAF\nurl=https://h\nsha256=" + kDigest, false},
      {"non-BMP counts as two digest chars",
       "version=1\nurl=https://h\nsha256=" + kDigest.substr(2) + "\xF0\x9F\x8C\xBF", true},
      {"last empty version wins", kTemplates[0] + "version=\n", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ModelParse(c.body).accepted, c.accepted) << c.name;
  }
}

}  // namespace
