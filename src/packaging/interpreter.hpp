#pragma once
// The Python interpreter the gateway is installed with: its facts are read by
// running it once, and its version and supported tags are derived from them.

#include <chrono>
#include <string>
#include <vector>

#include "packaging/result.hpp"
#include "packaging/tags.hpp"

namespace ostrel::packaging {

struct InterpreterInfo {
  InterpreterFacts facts;
  std::string python_version;   // major.minor.micro, e.g. "3.12.1"
  std::vector<TagText> tags;    // supported tags, most preferred first
};

// Runs `python` (a path, or a name looked up on PATH) once, without a shell,
// and reads its facts. Fails when it cannot be run, exits non-zero, takes
// longer than `timeout`, or prints no valid facts.
Result<InterpreterInfo> probe_interpreter(const std::string& python,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Chooses the installation's interpreter (the --python option of the gateway).
// Takes effect only before the first call of installation_interpreter().
void set_installation_python(std::string python);

// The interpreter named by set_installation_python(), else $OSTREL_PYTHON, else
// "python3" on PATH; probed on first use and cached for the life of the process.
const Result<InterpreterInfo>& installation_interpreter();

}  // namespace ostrel::packaging
