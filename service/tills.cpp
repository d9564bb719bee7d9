// SPDX-License-Identifier: Apache-2.0
#include "tills.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fpd {

namespace {

constexpr std::array<std::pair<std::string_view, Right>, 8> kRights{{
    {"sell", Right::Sell},
    {"cash", Right::Cash},
    {"x", Right::X},
    {"z", Right::Z},
    {"closing", Right::Closing},
    {"call", Right::Call},
    {"read", Right::Read},
    {"read-all", Right::ReadAll},
}};

constexpr std::string_view kScheme = "sha256";
constexpr size_t kSaltBytes = 16, kDigestBytes = 32;

std::string Hex(const unsigned char* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

std::optional<std::vector<unsigned char>> Unhex(std::string_view s, size_t bytes) {
  if (s.size() != bytes * 2) return std::nullopt;
  std::vector<unsigned char> out(bytes);
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else {
      return std::nullopt;
    }
    out[i / 2] = static_cast<unsigned char>(out[i / 2] * 16 + v);
  }
  return out;
}

// SHA-256 of the salt followed by the token.
std::array<unsigned char, kDigestBytes> Digest(const std::vector<unsigned char>& salt,
                                               std::string_view token) {
  std::array<unsigned char, kDigestBytes> out{};
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  unsigned int n = 0;
  const bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1 &&
                  EVP_DigestUpdate(ctx, salt.data(), salt.size()) == 1 &&
                  EVP_DigestUpdate(ctx, token.data(), token.size()) == 1 &&
                  EVP_DigestFinal_ex(ctx, out.data(), &n) == 1 && n == kDigestBytes;
  EVP_MD_CTX_free(ctx);
  if (!ok) throw std::runtime_error("the system's SHA-256 does not work");
  return out;
}

struct Parts {
  std::vector<unsigned char> Salt, Digest;
};

// The salt and digest of a HASH field, or why it is not one.
std::optional<Parts> SplitHash(std::string_view hash) {
  const size_t a = hash.find(':'), b = hash.rfind(':');
  if (a == std::string_view::npos || a == b || hash.substr(0, a) != kScheme) return std::nullopt;
  auto salt = Unhex(hash.substr(a + 1, b - a - 1), kSaltBytes);
  auto digest = Unhex(hash.substr(b + 1), kDigestBytes);
  if (!salt || !digest) return std::nullopt;
  return Parts{std::move(*salt), std::move(*digest)};
}

bool ValidName(std::string_view name) {
  return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

}  // namespace

Rights Rights::All() {
  Rights r;
  for (const auto& [name, right] : kRights) r.Add(right);
  return r;
}

std::optional<Rights> ParseRight(std::string_view word) {
  if (word == "all") return Rights::All();
  for (const auto& [name, right] : kRights) {
    if (name == word) {
      Rights r;
      r.Add(right);
      return r;
    }
  }
  return std::nullopt;
}

std::string_view RightName(Right r) {
  for (const auto& [name, right] : kRights) {
    if (right == r) return name;
  }
  return "";
}

std::string HashToken(std::string_view token) {
  if (token.size() < kMinTokenLength) {
    throw std::invalid_argument("a token needs at least " + std::to_string(kMinTokenLength) +
                                " characters (openssl rand -hex 32 makes one)");
  }
  if (!std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 127; })) {
    throw std::invalid_argument("a token holds printable ASCII characters only, without blanks");
  }
  std::vector<unsigned char> salt(kSaltBytes);
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
    throw std::runtime_error("the system's random generator does not work");
  }
  const auto digest = Digest(salt, token);
  return std::string(kScheme) + ":" + Hex(salt.data(), salt.size()) + ":" +
         Hex(digest.data(), digest.size());
}

Tills Tills::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) throw std::runtime_error("cannot read the tills file '" + path + "'");
  return Parse(text.str(), path);
}

Tills Tills::Parse(std::string_view text, const std::string& fileName) {
  Tills tills;
  size_t number = 0;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = line.substr(0, line.find('#'));
    const auto fields = Fields(line);
    if (fields.empty()) continue;
    const auto fail = [&](const std::string& what) {
      throw std::runtime_error("the tills file '" + fileName + "', line " + std::to_string(number) +
                               ": " + what);
    };
    if (fields.size() != 3) {
      fail("expected NAME HASH RIGHTS, found " + std::to_string(fields.size()) + " fields");
    }
    Till t;
    t.Name = std::string(fields[0]);
    if (!ValidName(t.Name)) {
      fail("the name '" + t.Name + "' is not 1 to 64 of letters, digits and -_.");
    }
    if (tills.Named(t.Name)) fail("the till '" + t.Name + "' is named twice");
    if (!SplitHash(fields[1])) {
      fail("the hash of '" + t.Name +
           "' is not one that fiscal-printd --hash-token prints (sha256:SALT:DIGEST)");
    }
    t.Hash = std::string(fields[1]);
    std::string_view rights = fields[2];
    while (!rights.empty()) {
      const size_t comma = std::min(rights.find(','), rights.size());
      const std::string_view word = rights.substr(0, comma);
      rights.remove_prefix(std::min(comma + 1, rights.size()));
      const auto r = ParseRight(word);
      if (!r) {
        fail("'" + std::string(word) +
             "' is not a right (sell, cash, x, z, closing, call, read, read-all, all)");
      }
      for (const auto& [name, right] : kRights) {
        if (r->Has(right)) t.Granted.Add(right);
      }
    }
    tills.tills_.push_back(std::move(t));
  }
  return tills;
}

const Till* Tills::Find(std::string_view token) const {
  // Every till's digest is computed and compared, whichever matches: the time does not tell
  // which till, if any, the token belongs to.
  const Till* found = nullptr;
  for (const Till& t : tills_) {
    const auto parts = SplitHash(t.Hash);
    const auto digest = Digest(parts->Salt, token);
    const bool same = CRYPTO_memcmp(digest.data(), parts->Digest.data(), kDigestBytes) == 0;
    found = same ? &t : found;
  }
  return found;
}

const Till* Tills::Named(std::string_view name) const {
  for (const Till& t : tills_) {
    if (t.Name == name) return &t;
  }
  return nullptr;
}

}  // namespace fpd
