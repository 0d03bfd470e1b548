#include "tools/make-message/native_player.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace makemessage {

namespace {

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs cmake with the arguments, its output into log; false with its last lines.
bool Cmake(const std::string& args, const std::string& what, const std::string& logPath,
           const std::function<void(const std::string&)>& log, std::string& error, std::string* output = nullptr) {
  log(what + " ...");
  const int status = std::system(("cmake " + args + " > " + Quoted(logPath) + " 2>&1").c_str());
  std::ifstream in(logPath);
  std::stringstream text;
  text << in.rdbuf();
  if (output != nullptr) *output = text.str();
  if (status == 0) return true;
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  std::string tail;
  for (size_t i = lines.size() > 15 ? lines.size() - 15 : 0; i < lines.size(); ++i) tail += "\n" + lines[i];
  error = what + " failed:" + tail;
  return false;
}

bool Skipped(const fs::path& name) {
  const std::string n = name.string();
  return n == ".git" || n == "out" || n == "__pycache__" || n.rfind("build", 0) == 0;
}

bool CopyTree(const fs::path& from, const fs::path& to, std::string& error) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (Skipped(it->path().filename())) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    // Lexically: fs::relative resolves symbolic links, which would put a link's copy in place
    // of the file it points at.
    const fs::path target = to / it->path().lexically_relative(from);
    if (it->is_symlink()) {
      fs::copy_symlink(it->path(), target, ec);
    } else if (it->is_directory()) {
      fs::create_directories(target, ec);
    } else {
      fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec);
    }
    if (ec) break;
  }
  if (ec) error = "cannot copy the source tree: " + ec.message();
  return !ec;
}

bool Write(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string Generator() { return std::system("command -v ninja > /dev/null 2>&1") == 0 ? "-G Ninja " : ""; }

}  // namespace

bool BuildPlayers(const std::string& sourceRoot, const std::vector<uint8_t>& movie, const std::vector<uint8_t>& voice,
                  const std::string& work, std::vector<std::pair<std::string, std::string>>& built,
                  const std::function<void(const std::string&)>& log, std::string& error) {
  if (!fs::exists(fs::path(sourceRoot) / "CMakeLists.txt")) {
    error = "no Clipnote source tree at " + sourceRoot;
    return false;
  }
  if (std::system("command -v cmake > /dev/null 2>&1") != 0) {
    error = "'cmake' is not installed (--build-native-player builds the players from source)";
    return false;
  }
  const fs::path tree = fs::path(work) / "src";
  if (!CopyTree(sourceRoot, tree, error)) return false;
  if (!Write(tree / "resources" / "message.263", movie) || !Write(tree / "resources" / "message.723", voice)) {
    error = "cannot put the clips into the copy of the source tree";
    return false;
  }
  const std::string logPath = (fs::path(work) / "build.log").string();
  const fs::path cross = fs::path(work) / "cross";
  const fs::path native = fs::path(work) / "native";
  const std::string jobs = " -j 2";
  if (!Cmake("-S " + Quoted(tree) + " -B " + Quoted(cross) + " " + Generator() +
                 "-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=" + Quoted(tree / "cmake" / "mingw-i686.cmake"),
             "configuring the Windows build", logPath, log, error) ||
      !Cmake("--build " + Quoted(cross) + jobs + " --target clipnote", "building clipnote.exe", logPath, log, error)) {
    return false;
  }
  const fs::path exe = cross / "platform" / "win32" / "clipnote.exe";
  if (!fs::exists(exe)) {
    error = "the Windows build made no clipnote.exe";
    return false;
  }
  built.emplace_back("clipnote.exe", exe.string());
  std::string targets;
  if (!Cmake("-S " + Quoted(tree) + " -B " + Quoted(native) + " " + Generator() + "-DCMAKE_BUILD_TYPE=Release",
             "configuring the native build", logPath, log, error) ||
      !Cmake("--build " + Quoted(native) + " --target help", "listing native targets", logPath, log, error, &targets)) {
    return false;
  }
  if (targets.find("\nclipnote:") == std::string::npos && targets.find("clipnote: phony") == std::string::npos) {
    log("note: this source tree has no native player yet; only clipnote.exe was built");
    return true;
  }
  if (!Cmake("--build " + Quoted(native) + jobs + " --target clipnote", "building the native clipnote", logPath, log,
             error)) {
    return false;
  }
  const fs::path player = native / "platform" / "gtk" / "clipnote";
  if (!fs::exists(player)) {
    error = "the native build made no clipnote";
    return false;
  }
  built.emplace_back("clipnote", player.string());
  return true;
}

}  // namespace makemessage
