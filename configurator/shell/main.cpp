// MERIDEX: the configuration program of the maker's M-Bus modules.

#include "configurator/shell/application.h"

int main(int argc, char** argv) {
    mbus::meridex::CMERIDEXApp app;
    return app.Run(argc, argv);
}
