// The players built from source around a message's clips (--build-native-player): a copy of
// the source tree with the clips in place of resources/message.263 and message.723, built
// for Windows (clipnote.exe, with the mingw-w64 cross compiler) and natively (clipnote).
// Minutes of work; the message writer (--build-player) gives the same clipnote.exe at once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace makemessage {

// Builds under `work` (a folder of this run's own); `built` gets (file name, path in work)
// of each player made. False, with the reason (the build's last lines), when a build fails.
bool BuildPlayers(const std::string& sourceRoot, const std::vector<uint8_t>& movie, const std::vector<uint8_t>& voice,
                  const std::string& work, std::vector<std::pair<std::string, std::string>>& built,
                  const std::function<void(const std::string&)>& log, std::string& error);

}  // namespace makemessage
