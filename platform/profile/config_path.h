// Where the files of the user's configuration live (the port map, the
// component registry, later the configurator's settings).

#pragma once

#include <string>

namespace mbus::profile {

// The user's home directory: $HOME, else the password database's entry;
// empty when neither knows it.
std::string HomeDirectory();

// The path of a configuration file: the environment variable
// `overrideVariable` when it is set and not empty, else
// $XDG_CONFIG_HOME/mbus/<fileName> (an absolute $XDG_CONFIG_HOME only, as
// the convention for that variable asks), else ~/.config/mbus/<fileName>;
// empty when there is no home directory either.
std::string UserConfigFile(const char* overrideVariable, const char* fileName);

}  // namespace mbus::profile
