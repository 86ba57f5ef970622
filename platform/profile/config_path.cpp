#include "platform/profile/config_path.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace mbus::profile {

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    // No HOME (a service, a stripped environment): the password database knows it.
    std::vector<char> buffer(16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return {};
}

std::string UserConfigFile(const char* overrideVariable, const char* fileName) {
    const char* explicitPath = std::getenv(overrideVariable);
    if (explicitPath != nullptr && explicitPath[0] != '\0') return explicitPath;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return std::string(config) + "/mbus/" + fileName;
    const std::string home = HomeDirectory();
    if (home.empty()) return {};
    return home + "/.config/mbus/" + fileName;
}

}  // namespace mbus::profile
