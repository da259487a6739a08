#include "packaging/interpreter.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <boost/json/parse.hpp>

extern char** environ;

namespace ostrel::packaging {
namespace {

// Prints the interpreter's facts as one JSON object. The ABI flags, C library
// versions and ELF checks are worked out the way pip's tag rules read them.
constexpr const char* kProbeScript = R"PY(
import json, os, platform, re, struct, subprocess, sys, sysconfig
from importlib.machinery import EXTENSION_SUFFIXES

def cv(name):
    return sysconfig.get_config_var(name)

v = sys.version_info
flags = ""
debug = cv("Py_DEBUG")
if debug or (debug is None and (hasattr(sys, "gettotalrefcount") or "_d.pyd" in EXTENSION_SUFFIXES)):
    flags += "d"
if v[:2] < (3, 8):
    pymalloc = cv("WITH_PYMALLOC")
    if pymalloc or pymalloc is None:
        flags += "m"
    if v[:2] < (3, 3):
        size = cv("Py_UNICODE_SIZE")
        if size == 4 or (size is None and sys.maxunicode == 0x10FFFF):
            flags += "u"

def elf(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except (OSError, TypeError, ValueError):
        return None
    if data[:4] != b"\x7fELF" or len(data) < 52:
        return None
    cls, enc = data[4], data[5]
    e = "<" if enc == 1 else ">"
    try:
        machine = struct.unpack_from(e + "H", data, 18)[0]
        if cls == 1:
            phoff, = struct.unpack_from(e + "I", data, 28)
            flags_, = struct.unpack_from(e + "I", data, 36)
            phentsize, phnum = struct.unpack_from(e + "HH", data, 42)
        elif cls == 2:
            phoff, = struct.unpack_from(e + "Q", data, 32)
            flags_, = struct.unpack_from(e + "I", data, 48)
            phentsize, phnum = struct.unpack_from(e + "HH", data, 54)
        else:
            return None
        interp = None
        for i in range(phnum):
            off = phoff + i * phentsize
            if struct.unpack_from(e + "I", data, off)[0] != 3:
                continue
            if cls == 1:
                p_off, = struct.unpack_from(e + "I", data, off + 4)
                p_size, = struct.unpack_from(e + "I", data, off + 16)
            else:
                p_off, = struct.unpack_from(e + "Q", data, off + 8)
                p_size, = struct.unpack_from(e + "Q", data, off + 32)
            interp = data[p_off:p_off + p_size].strip(b"\0").decode()
    except (struct.error, UnicodeDecodeError):
        return None
    return {"cls": cls, "enc": enc, "machine": machine, "flags": flags_, "interp": interp}

def glibc():
    try:
        ver = os.confstr("CS_GNU_LIBC_VERSION").rsplit()[1]
    except (AttributeError, OSError, ValueError, IndexError):
        try:
            import ctypes
            f = ctypes.CDLL(None).gnu_get_libc_version
            f.restype = ctypes.c_char_p
            ver = f().decode("ascii")
        except Exception:
            return None
    m = re.match(r"([0-9]+)\.([0-9]+)", ver)
    return [int(m.group(1)), int(m.group(2))] if m else None

def musl(info):
    if not info or not info["interp"] or "musl" not in info["interp"]:
        return None
    try:
        err = subprocess.run([info["interp"]], stderr=subprocess.PIPE, universal_newlines=True).stderr
    except OSError:
        return None
    lines = [n for n in (n.strip() for n in err.splitlines()) if n]
    if len(lines) < 2 or lines[0][:4] != "musl":
        return None
    m = re.match(r"Version (\d+)\.(\d+)", lines[1])
    return [int(m.group(1)), int(m.group(2))] if m else None

system = platform.system()
plat = sysconfig.get_platform()
is_32bit = sys.maxsize <= 2**32
facts = {
    "implementation": sys.implementation.name,
    "version": [v[0], v[1], v[2]],
    "abiflags": flags,
    "py_version_nodot": cv("py_version_nodot"),
    "ext_suffix": cv("EXT_SUFFIX"),
    "system": system,
    "platform": plat,
    "is_32bit": is_32bit,
    "python_version": "%d.%d.%d" % v[:3],
}
if system == "Linux":
    info = elf(sys.executable)
    linux = plat.replace(".", "_").replace("-", "_")
    if is_32bit:
        linux = {"linux_x86_64": "linux_i686", "linux_aarch64": "linux_armv7l"}.get(linux, linux)
    arch = linux.split("_", 1)[-1]
    ok = True
    if arch == "armv7l":
        ok = bool(info) and info["cls"] == 1 and info["enc"] == 1 and info["machine"] == 40 \
            and info["flags"] & 0xFF000000 == 0x05000000 and info["flags"] & 0x400 == 0x400
    elif arch == "i686":
        ok = bool(info) and info["cls"] == 1 and info["enc"] == 1 and info["machine"] == 3
    facts.update(glibc=glibc(), musl=musl(info), elf_compatible=ok)
elif system == "Darwin":
    ver, _, arch = platform.mac_ver()
    if tuple(map(int, ver.split(".")[:2])) == (10, 16):
        ver = subprocess.run([sys.executable, "-sS", "-c", "import platform; print(platform.mac_ver()[0])"],
                             check=True, env={"SYSTEM_VERSION_COMPAT": "0"}, stdout=subprocess.PIPE,
                             universal_newlines=True).stdout
    facts.update(mac_version=list(map(int, ver.split(".")[:2])), mac_arch=arch)
print(json.dumps(facts))
)PY";

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

Result<std::string> run_capture(const std::string& program, std::chrono::milliseconds timeout) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return Error{std::string("pipe: ") + std::strerror(errno)};
  Fd read_end{fds[0]}, write_end{fds[1]};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, write_end.fd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

  std::string arg0 = program, isolated = "-I", dash_c = "-c", script = kProbeScript;
  char* argv[] = {arg0.data(), isolated.data(), dash_c.data(), script.data(), nullptr};
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Error{"cannot run " + program + ": " + std::strerror(rc)};
  ::close(write_end.fd);
  write_end.fd = -1;

  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool timed_out = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd p{read_end.fd, POLLIN, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      timed_out = n == 0;
      break;
    }
    char buf[4096];
    const ssize_t got = ::read(read_end.fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    out.append(buf, static_cast<std::size_t>(got));
  }
  if (timed_out) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out) return Error{program + " did not answer in time"};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return Error{program + " failed to report its facts"};
  return out;
}

std::mutex g_choice_mutex;
std::string g_chosen_python;

}  // namespace

Result<InterpreterInfo> probe_interpreter(const std::string& python, std::chrono::milliseconds timeout) {
  auto out = run_capture(python, timeout);
  if (!out) return Error{out.error()};
  boost::system::error_code ec;
  const boost::json::value doc = boost::json::parse(*out, ec);
  if (ec) return Error{python + " printed no valid facts"};
  auto facts = facts_from_json(doc);
  if (!facts) return Error{facts.error()};
  const boost::json::value* version = doc.as_object().if_contains("python_version");
  if (!version || !version->is_string()) return Error{python + " reported no version"};
  auto tags = supported_tags(*facts);
  if (!tags) return Error{tags.error()};
  return InterpreterInfo{std::move(facts).value(), std::string(version->get_string()), std::move(tags).value()};
}

void set_installation_python(std::string python) {
  std::lock_guard lock(g_choice_mutex);
  g_chosen_python = std::move(python);
}

const Result<InterpreterInfo>& installation_interpreter() {
  static const Result<InterpreterInfo> info = [] {
    std::string python;
    {
      std::lock_guard lock(g_choice_mutex);
      python = g_chosen_python;
    }
    if (python.empty()) {
      const char* env = std::getenv("OSTREL_PYTHON");
      python = (env && *env) ? env : "python3";
    }
    return probe_interpreter(python);
  }();
  return info;
}

}  // namespace ostrel::packaging
