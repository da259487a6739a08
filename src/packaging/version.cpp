#include "packaging/version.hpp"

#include <array>

#include "packaging/text.hpp"

namespace ostrel::packaging {
namespace {

using text::is_digit;

bool is_sep(std::string_view s, std::size_t p) noexcept {
  return p < s.size() && (s[p] == '-' || s[p] == '_' || s[p] == '.');
}

bool is_alnum(char c) noexcept {
  const char l = text::lower(c);
  return is_digit(c) || (l >= 'a' && l <= 'z');
}

std::size_t digits_at(std::string_view s, std::size_t p) noexcept {
  std::size_t n = 0;
  while (p + n < s.size() && is_digit(s[p + n])) ++n;
  return n;
}

// A fixed-capacity list of parse alternatives, in the order a backtracking
// matcher would try them (greedy choices first).
template <class T, std::size_t N>
struct Alternatives {
  std::array<T, N> items{};
  std::size_t size = 0;
  void push(const T& t) {
    if (size < N) items[size++] = t;
  }
  const T* begin() const { return items.data(); }
  const T* end() const { return items.data() + size; }
};

struct Suffix {
  std::size_t end = 0;
  bool present = false;
  std::string_view label;   // as written
  std::string_view number;  // may be empty
};

constexpr std::array<std::string_view, 8> kPreLabels = {"a", "b", "c", "rc", "alpha", "beta", "pre", "preview"};
constexpr std::array<std::string_view, 3> kPostLabels = {"post", "rev", "r"};
constexpr std::array<std::string_view, 1> kDevLabels = {"dev"};

// [-_.]? label [-_.]? [0-9]*   followed by the "absent" alternative.
template <std::size_t L>
Alternatives<Suffix, 4 * L + 2> lettered(std::string_view s, std::size_t p, const std::array<std::string_view, L>& labels) {
  Alternatives<Suffix, 4 * L + 2> out;
  for (int sep1 = 1; sep1 >= 0; --sep1) {
    if (sep1 && !is_sep(s, p)) continue;
    const std::size_t q = p + static_cast<std::size_t>(sep1);
    for (std::string_view label : labels) {
      if (!text::starts_with_nocase(s, q, label)) continue;
      const std::size_t r = q + label.size();
      for (int sep2 = 1; sep2 >= 0; --sep2) {
        if (sep2 && !is_sep(s, r)) continue;
        const std::size_t t = r + static_cast<std::size_t>(sep2);
        const std::size_t d = digits_at(s, t);
        out.push(Suffix{t + d, true, s.substr(q, label.size()), s.substr(t, d)});
      }
    }
  }
  return out;
}

struct Captures {
  std::string_view epoch;
  std::vector<std::string_view> release;
  Suffix pre, post, dev;
  bool post_implicit = false;  // "1.0-1"
  std::string_view local;
  bool wildcard = false;
};

bool at_end(std::string_view s, std::size_t p) noexcept {
  while (std::size_t n = text::space_at(s, p)) p += n;
  return p == s.size();
}

// local: [a-z0-9]+ ([-_.][a-z0-9]+)*
std::size_t local_end(std::string_view s, std::size_t p) noexcept {
  std::size_t q = p;
  while (q < s.size() && is_alnum(s[q])) ++q;
  if (q == p) return p;
  while (is_sep(s, q) && q + 1 < s.size() && is_alnum(s[q + 1])) {
    q += 1;
    while (q < s.size() && is_alnum(s[q])) ++q;
  }
  return q;
}

bool match(std::string_view s, const VersionGrammar& g, Captures& c) {
  std::size_t p = 0;
  while (std::size_t n = text::space_at(s, p)) p += n;
  if (p < s.size() && (s[p] == 'v' || s[p] == 'V')) ++p;

  if (const std::size_t d = digits_at(s, p); d > 0 && p + d < s.size() && s[p + d] == '!') {
    c.epoch = s.substr(p, d);
    p += d + 1;
  }
  std::size_t d = digits_at(s, p);
  if (d == 0) return false;
  c.release.push_back(s.substr(p, d));
  p += d;
  while (p + 1 < s.size() && s[p] == '.' && (d = digits_at(s, p + 1)) > 0) {
    c.release.push_back(s.substr(p + 1, d));
    p += 1 + d;
  }
  if (c.release.size() < g.min_release_parts) return false;

  if (g.allow_wildcard && s.substr(p, 2) == ".*" && at_end(s, p + 2)) {
    c.wildcard = true;
    return true;
  }

  auto pres = lettered(s, p, kPreLabels);
  pres.push(Suffix{p, false, {}, {}});
  for (const Suffix& pre : pres) {
    const std::size_t p1 = pre.end;
    Alternatives<Suffix, 16> posts;
    bool implicit_first = false;
    if (p1 < s.size() && s[p1] == '-') {
      if (const std::size_t n = digits_at(s, p1 + 1); n > 0) {
        posts.push(Suffix{p1 + 1 + n, true, {}, s.substr(p1 + 1, n)});
        implicit_first = true;
      }
    }
    for (const Suffix& x : lettered(s, p1, kPostLabels)) posts.push(x);
    posts.push(Suffix{p1, false, {}, {}});
    for (std::size_t i = 0; i < posts.size; ++i) {
      const Suffix& post = posts.items[i];
      const std::size_t p2 = post.end;
      auto devs = lettered(s, p2, kDevLabels);
      devs.push(Suffix{p2, false, {}, {}});
      for (const Suffix& dev : devs) {
        const std::size_t p3 = dev.end;
        if (g.allow_local && p3 < s.size() && s[p3] == '+') {
          if (const std::size_t e = local_end(s, p3 + 1); e > p3 + 1 && at_end(s, e)) {
            c.pre = pre, c.post = post, c.dev = dev;
            c.post_implicit = implicit_first && i == 0;
            c.local = s.substr(p3 + 1, e - p3 - 1);
            return true;
          }
        }
        if (at_end(s, p3)) {
          c.pre = pre, c.post = post, c.dev = dev;
          c.post_implicit = implicit_first && i == 0;
          return true;
        }
      }
    }
  }
  return false;
}

std::string number_or_zero(std::string_view digits) {
  return digits.empty() ? std::string("0") : text::trim_zeros(digits);
}

std::string join(const std::vector<std::string>& parts, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    if (i) out += '.';
    out += parts[i];
  }
  return out;
}

int pre_rank(const std::string& label) { return label == "a" ? 0 : label == "b" ? 1 : 2; }

}  // namespace

bool matches_version_grammar(std::string_view s, const VersionGrammar& grammar) {
  Captures c;
  return match(s, grammar, c);
}

Result<Version> parse_version(std::string_view s) {
  Captures c;
  if (!match(s, VersionGrammar{}, c)) return Error{"Invalid version: '" + std::string(s) + "'"};
  Version v;
  if (!c.epoch.empty()) v.epoch = text::trim_zeros(c.epoch);
  v.release.reserve(c.release.size());
  for (std::string_view r : c.release) v.release.push_back(text::trim_zeros(r));
  if (c.pre.present) {
    const std::string l = text::lower(c.pre.label);
    std::string label = l == "alpha" ? "a" : l == "beta" ? "b" : (l == "c" || l == "pre" || l == "preview") ? "rc" : l;
    v.pre = Version::Pre{std::move(label), number_or_zero(c.pre.number)};
  }
  if (c.post.present) v.post = number_or_zero(c.post.number);
  if (c.dev.present) v.dev = number_or_zero(c.dev.number);
  if (!c.local.empty()) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= c.local.size(); ++i) {
      if (i < c.local.size() && !is_sep(c.local, i)) continue;
      const std::string_view part = c.local.substr(start, i - start);
      bool numeric = true;
      for (char ch : part) numeric = numeric && is_digit(ch);
      v.local.push_back({numeric, numeric ? text::trim_zeros(part) : text::lower(part)});
      start = i + 1;
    }
  }
  return v;
}

std::string Version::base_version() const {
  std::string out;
  if (epoch != "0") out.append(epoch).append("!");
  out += join(release, release.size());
  return out;
}

std::string Version::canonical(bool strip_trailing_zero) const {
  std::string out;
  if (epoch != "0") out.append(epoch).append("!");
  std::size_t count = release.size();
  if (strip_trailing_zero)
    while (count > 1 && release[count - 1] == "0") --count;
  out += join(release, count);
  if (pre) out.append(pre->label).append(pre->number);
  if (post) out.append(".post").append(*post);
  if (dev) out.append(".dev").append(*dev);
  if (has_local()) out.append("+").append(local_str());
  return out;
}

std::string Version::str() const { return canonical(false); }

std::string Version::public_str() const {
  Version v = without_local();
  return v.str();
}

std::string Version::local_str() const {
  std::string out;
  for (std::size_t i = 0; i < local.size(); ++i) {
    if (i) out += '.';
    out += local[i].text;
  }
  return out;
}

Version Version::base() const {
  Version v;
  v.epoch = epoch;
  v.release = release;
  return v;
}

Version Version::without_local() const {
  Version v = *this;
  v.local.clear();
  return v;
}

std::strong_ordering operator<=>(const Version& a, const Version& b) {
  if (auto c = text::compare_numbers(a.epoch, b.epoch); c != 0) return c;

  // Release: trailing zeros do not count (1.0 == 1.0.0).
  auto significant = [](const std::vector<std::string>& r) {
    std::size_t n = r.size();
    while (n > 0 && r[n - 1] == "0") --n;
    return n;
  };
  const std::size_t na = significant(a.release), nb = significant(b.release);
  for (std::size_t i = 0; i < na && i < nb; ++i)
    if (auto c = text::compare_numbers(a.release[i], b.release[i]); c != 0) return c;
  if (na != nb) return na <=> nb;

  // Pre-release: a bare dev release sorts before every pre-release of the same
  // release; a version without pre-release sorts after all of them.
  auto pre_class = [](const Version& v) {
    if (!v.pre && !v.post && v.dev) return 0;
    if (!v.pre) return 2;
    return 1;
  };
  if (auto c = pre_class(a) <=> pre_class(b); c != 0) return c;
  if (a.pre && b.pre) {
    if (auto c = pre_rank(a.pre->label) <=> pre_rank(b.pre->label); c != 0) return c;
    if (auto c = text::compare_numbers(a.pre->number, b.pre->number); c != 0) return c;
  }

  // Post-release: absent sorts first.
  if (auto c = a.post.has_value() <=> b.post.has_value(); c != 0) return c;
  if (a.post && b.post)
    if (auto c = text::compare_numbers(*a.post, *b.post); c != 0) return c;

  // Development release: absent sorts last.
  if (auto c = b.dev.has_value() <=> a.dev.has_value(); c != 0) return c;
  if (a.dev && b.dev)
    if (auto c = text::compare_numbers(*a.dev, *b.dev); c != 0) return c;

  // Local label: absent sorts first; numeric parts sort after alphanumeric ones.
  for (std::size_t i = 0; i < a.local.size() && i < b.local.size(); ++i) {
    const auto& x = a.local[i];
    const auto& y = b.local[i];
    if (x.numeric != y.numeric) return x.numeric <=> y.numeric;
    if (auto c = x.numeric ? text::compare_numbers(x.text, y.text) : (x.text.compare(y.text) <=> 0); c != 0) return c;
  }
  return a.local.size() <=> b.local.size();
}

}  // namespace ostrel::packaging
