#pragma once
// Which published release of the product this installation can install, and
// whether one version string is newer than another. Pure functions over the
// package index's JSON document for the project.
//
// Parameters that the index or a caller may give in any JSON type are taken as
// boost::json values; null means absent. A value of the wrong type throws
// TypeError before anything else is done, and nothing here catches it.

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <boost/json/value.hpp>

#include "packaging/wheel.hpp"

namespace ostrel::packaging {

struct TypeError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// What the rules fall back on when the caller gives no interpreter version or
// tag set. Either function may answer nullopt: the fact is not available.
struct RunningInterpreter {
  std::function<std::optional<std::string>()> python_version;  // "3.12.1"
  std::function<std::optional<TagSet>()> supported_tags;
};

// The installation's interpreter (see interpreter.hpp), probed once.
const RunningInterpreter& installation_runtime();

// True when `latest` is strictly newer than `current`, comparing the
// dot-separated integers one by one (a longer list wins a tie). Any segment
// that is no integer ("3rc1", "", "0+local") makes the answer false.
bool version_newer(std::string_view latest, std::string_view current);
// The same for JSON values; anything but two strings is a TypeError.
bool version_newer_value(const boost::json::value& latest, const boost::json::value& current);

// True when the interpreter version satisfies the requires-python specifier
// set, and also when that cannot be decided (no specifier, unparsable input,
// interpreter version unknown). python_version null or "": the running one.
bool python_satisfies_requires(const boost::json::value& requires_python,
                               const boost::json::value& python_version = nullptr,
                               const RunningInterpreter& running = installation_runtime());

// True when some file of a release is a wheel this interpreter can install:
// not yanked, a "bdist_wheel", requires-python satisfied, a valid ".whl" name
// sharing a tag with the supported set (the running interpreter's when
// supported_tags is null or empty).
bool release_has_compatible_wheel(const boost::json::value& release_files,
                                  const TagSet* supported_tags = nullptr,
                                  const boost::json::value& python_version = nullptr,
                                  const RunningInterpreter& running = installation_runtime());

// The key of the newest release (PEP 440 order; of equal versions the later
// key in the document) that has a compatible wheel, or nullopt.
std::optional<std::string> latest_compatible_release_version(const boost::json::value& pypi_data,
                                                             const TagSet* supported_tags = nullptr,
                                                             const boost::json::value& python_version = nullptr,
                                                             const RunningInterpreter& running = installation_runtime());

}  // namespace ostrel::packaging
