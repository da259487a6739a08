#include "packaging/specifier.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "packaging/text.hpp"

namespace ostrel::packaging {
namespace {

struct OpEntry {
  std::string_view text;
  Specifier::Op op;
};

// Tried in this order; "===" only when "==" followed by a version does not fit.
constexpr std::array<OpEntry, 8> kOps = {{
    {"~=", Specifier::Op::Compatible},
    {"==", Specifier::Op::Equal},
    {"!=", Specifier::Op::NotEqual},
    {"<=", Specifier::Op::LessEqual},
    {">=", Specifier::Op::GreaterEqual},
    {"<", Specifier::Op::Less},
    {">", Specifier::Op::Greater},
    {"===", Specifier::Op::Arbitrary},
}};

VersionGrammar grammar_for(Specifier::Op op) {
  switch (op) {
    case Specifier::Op::Equal:
    case Specifier::Op::NotEqual:
      return {.allow_local = true, .allow_wildcard = true, .min_release_parts = 1};
    case Specifier::Op::Compatible:
      return {.allow_local = false, .allow_wildcard = false, .min_release_parts = 2};
    default:
      return {.allow_local = false, .allow_wildcard = false, .min_release_parts = 1};
  }
}

// Free-form text of "===": anything but white space, ";" and ")".
bool is_arbitrary_text(std::string_view s) {
  std::size_t p = 0;
  while (std::size_t n = text::space_at(s, p)) p += n;
  while (p < s.size() && !text::space_at(s, p) && s[p] != ';' && s[p] != ')') ++p;
  while (std::size_t n = text::space_at(s, p)) p += n;
  return p == s.size();
}

bool is_ascii_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), text::is_digit);
}

// Splits a version text on "." and further splits "1rc2"-like pieces into "1", "rc2".
std::vector<std::string> version_split(std::string_view v) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= v.size(); ++i) {
    if (i < v.size() && v[i] != '.') continue;
    const std::string_view item = v.substr(start, i - start);
    start = i + 1;
    std::size_t d = 0;
    while (d < item.size() && text::is_digit(item[d])) ++d;
    bool split = false;
    if (d > 0 && d < item.size()) {
      std::string_view rest = item.substr(d);
      std::size_t label = 0;
      if (rest.starts_with("rc")) label = 2;
      else if (rest[0] == 'a' || rest[0] == 'b' || rest[0] == 'c') label = 1;
      split = label > 0 && is_ascii_digits(rest.substr(label));
    }
    if (split) {
      out.emplace_back(item.substr(0, d));
      out.emplace_back(item.substr(d));
    } else {
      out.emplace_back(item);
    }
  }
  return out;
}

bool is_not_suffix(std::string_view segment) {
  for (std::string_view prefix : {"dev", "a", "b", "rc", "post"})
    if (segment.starts_with(prefix)) return false;
  return true;
}

// Pads the leading numeric part of `left` with "0" up to the length of the numeric part of `right`.
std::vector<std::string> pad_release(const std::vector<std::string>& left, const std::vector<std::string>& right) {
  auto numeric_prefix = [](const std::vector<std::string>& v) {
    std::size_t n = 0;
    while (n < v.size() && is_ascii_digits(v[n])) ++n;
    return n;
  };
  const std::size_t nl = numeric_prefix(left), nr = numeric_prefix(right);
  std::vector<std::string> out(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(nl));
  for (std::size_t i = nl; i < nr; ++i) out.emplace_back("0");
  out.insert(out.end(), left.begin() + static_cast<std::ptrdiff_t>(nl), left.end());
  return out;
}

// Canonical text of a version text, or the text itself when it is no version.
std::string canonical_text(std::string_view v, bool strip_trailing_zero) {
  auto parsed = parse_version(v);
  return parsed ? parsed->canonical(strip_trailing_zero) : std::string(v);
}

// "== prefix.*": the release of `v` (zero-padded) starts with the given prefix.
bool equal_prefix(const Version& v, std::string_view prefix) {
  const std::vector<std::string> prefix_parts = version_split(canonical_text(prefix, false));
  const std::vector<std::string> candidate = version_split(v.without_local().canonical(true));
  std::vector<std::string> padded = pad_release(candidate, prefix_parts);
  if (padded.size() > prefix_parts.size()) padded.resize(prefix_parts.size());
  return padded == prefix_parts;
}

bool equal(const Version& v, std::string_view operand) {
  if (operand.ends_with(".*")) return equal_prefix(v, operand.substr(0, operand.size() - 2));
  const Version s = *parse_version(operand);
  return (s.has_local() ? v : v.without_local()) == s;
}

}  // namespace

Result<Specifier> Specifier::parse(std::string_view input) {
  std::size_t p = 0;
  while (std::size_t n = text::space_at(input, p)) p += n;
  for (const OpEntry& e : kOps) {
    if (input.substr(p).substr(0, e.text.size()) != e.text) continue;
    const std::string_view rest = input.substr(p + e.text.size());
    const bool ok = e.op == Op::Arbitrary ? is_arbitrary_text(rest) : matches_version_grammar(rest, grammar_for(e.op));
    if (!ok) continue;
    Specifier s;
    s.op_ = e.op;
    s.op_text_ = std::string(e.text);
    s.version_ = std::string(text::strip(rest));
    std::string_view v = s.version_;
    if (e.op == Op::Equal && v.ends_with(".*")) v.remove_suffix(2);
    if (auto parsed = parse_version(v)) s.parsed_ = std::move(parsed).value();
    return s;
  }
  return Error{"Invalid specifier: '" + std::string(input) + "'"};
}

bool Specifier::admits_prereleases() const {
  switch (op_) {
    case Op::Equal:
    case Op::GreaterEqual:
    case Op::LessEqual:
    case Op::Compatible:
    case Op::Arbitrary:
      // "===" with text that is no version names no pre-release.
      return parsed_ && parsed_->is_prerelease();
    default:
      return false;
  }
}

bool Specifier::contains(const Version& v, std::optional<bool> prereleases) const {
  const bool allow_pre = prereleases.value_or(admits_prereleases());
  if (v.is_prerelease() && !allow_pre) return false;
  return matches(v);
}

bool Specifier::matches(const Version& v) const {
  switch (op_) {
    case Op::Compatible: {
      std::vector<std::string> parts = version_split(version_);
      std::size_t keep = 0;
      while (keep < parts.size() && is_not_suffix(parts[keep])) ++keep;
      std::string prefix;
      for (std::size_t i = 0; i + 1 < keep; ++i) {
        if (i) prefix += '.';
        prefix += parts[i];
      }
      return v.without_local() >= *parsed_ && equal_prefix(v, prefix);
    }
    case Op::Equal:
      return equal(v, version_);
    case Op::NotEqual:
      return !equal(v, version_);
    case Op::LessEqual:
      return v.without_local() <= *parsed_;
    case Op::GreaterEqual:
      return v.without_local() >= *parsed_;
    case Op::Less: {
      const Version& s = *parsed_;
      if (!(v < s)) return false;
      // "<1.0" does not admit 1.0's own pre-releases unless it names one.
      if (!s.is_prerelease() && v.is_prerelease() && v.base() == s.base()) return false;
      return true;
    }
    case Op::Greater: {
      const Version& s = *parsed_;
      if (!(v > s)) return false;
      // ">1.0" does not admit 1.0's post-releases or local builds.
      if (!s.is_postrelease() && v.is_postrelease() && v.base() == s.base()) return false;
      if (v.has_local() && v.base() == s.base()) return false;
      return true;
    }
    case Op::Arbitrary:
      return text::lower(v.str()) == text::lower(version_);
  }
  return false;
}

Result<SpecifierSet> SpecifierSet::parse(std::string_view input) {
  SpecifierSet set;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= input.size(); ++i) {
    if (i < input.size() && input[i] != ',') continue;
    const std::string_view clause = text::strip(input.substr(start, i - start));
    start = i + 1;
    if (clause.empty()) continue;
    auto s = Specifier::parse(clause);
    if (!s) return Error{s.error()};
    set.clauses_.push_back(std::move(s).value());
  }
  return set;
}

std::optional<bool> SpecifierSet::admits_prereleases() const {
  if (clauses_.empty()) return std::nullopt;
  return std::any_of(clauses_.begin(), clauses_.end(), [](const Specifier& s) { return s.admits_prereleases(); });
}

bool SpecifierSet::contains(const Version& v, std::optional<bool> prereleases) const {
  const std::optional<bool> resolved = prereleases ? prereleases : admits_prereleases();
  const bool allow_pre = resolved.value_or(false);
  if (!allow_pre && v.is_prerelease()) return false;
  return std::all_of(clauses_.begin(), clauses_.end(), [&](const Specifier& s) { return s.contains(v, allow_pre); });
}

}  // namespace ostrel::packaging
