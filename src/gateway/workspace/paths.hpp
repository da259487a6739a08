#pragma once
// Where the workspace is and which paths a client may reach in it. The root comes from the
// configuration at every call (so a change takes effect at the next request); a client's relative
// path is resolved with links followed and accepted only when it stays inside the root.
#include <filesystem>
#include <string>
#include <string_view>

namespace ostrel::gateway::workspace {

// The user's home folder: $HOME, else the password database.
std::filesystem::path home_folder();

// "~" or "~/x" -> the home folder (joined with x); "~name/x" -> that user's home. Else unchanged.
std::filesystem::path expand_user(std::string_view path);

// Absolute path with "." and ".." resolved and every symbolic link followed, as far as the path
// exists; the part that does not exist is kept as written. Unlike std::filesystem::weakly_canonical,
// a dangling link is followed to where it points, so a missing target behind a link is not taken
// for a path beside the link. Throws std::filesystem::filesystem_error on a link loop.
std::filesystem::path resolve(const std::filesystem::path& path);

// True when `inner` is `outer` or lies below it, compared by whole components (so
// /home/ann/x is inside /home/ann, /home/anna/x is not). Both are taken lexically.
bool is_within(const std::filesystem::path& inner, const std::filesystem::path& outer);

// The default workspace folder: home / "ostrel-workspace".
std::filesystem::path default_root();

// The configured workspace folder (`cloud_sync.workspace_dir`, "~" expanded) or the default one.
// Creates it with its missing parents. Not made canonical.
std::filesystem::path workspace_root();

// Resolves a client's relative path against `root`: leading "/" dropped, joined, resolved.
// Throws HttpError 400 "Invalid path" when the result leaves the resolved root.
std::filesystem::path safe_path(const std::filesystem::path& root, std::string_view rel);

// Whether a file, given by its path relative to the root with "/" separators, is one of the
// user's own files for the sync manifest: not under a top-level folder named after the product,
// and not containing the name of a tool folder or secret file (".git", "node_modules", ".env" …)
// anywhere in its path.
bool is_user_file(std::string_view rel);

// Whether every file below a folder (given like is_user_file's argument) is left out of the
// manifest, so a walk need not enter it.
bool skips_whole_folder(std::string_view rel);

}  // namespace ostrel::gateway::workspace
