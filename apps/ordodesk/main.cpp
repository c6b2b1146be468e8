// ordodesk: the command line of OrdoDesk.
#include "Commands.h"
#include "Version.h"

int main(int argc, char** argv) {
    CLI::App app{"OrdoDesk: turns placed images into processing orders for a QOR server and "
                 "inspects what the plug-in reads (server configuration, paths); draws a "
                 "document's pages as PNG or PDF."};
    app.set_version_flag("--version", VersionText("ordodesk"));
    app.require_subcommand(1);
    int exitCode = 0;
    AddServerCommands(app, exitCode);
    AddInspectCommand(app, exitCode);
    AddOrderCommand(app, exitCode);
    AddShellCommands(app, exitCode);
    AddRenderCommand(app, exitCode);
    CLI11_PARSE(app, argc, argv);
    return exitCode;
}
