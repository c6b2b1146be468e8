// qor-refserver: a reference QOR server.
//   qor-refserver init ROOT                      make the tree and its files
//   qor-refserver serve ROOT [--once] [--poll-ms N] [--id NAME]
#include "JobFile.h"
#include "RefServer.h"
#include "ServerTree.h"

#include <CLI/CLI.hpp>
#include <vips/vips8>

#include <atomic>
#include <csignal>
#include <iostream>

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void OnSignal(int) {
    stopRequested.store(true);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Reference QOR server: answers the jobs of a hot folder"};
    app.require_subcommand(1);

    std::string root;
    CLI::App* init = app.add_subcommand("init", "create a server tree with its configuration");
    init->add_option("ROOT", root, "server root folder")->required();

    bool once = false;
    int pollMs = 500;
    std::string id = DefaultServerId();
    CLI::App* serve = app.add_subcommand("serve", "watch ROOT/Data/tmp and answer jobs");
    serve->add_option("ROOT", root, "server root folder")->required();
    serve->add_flag("--once", once, "handle the jobs that are there and exit");
    serve->add_option("--poll-ms", pollMs, "milliseconds between two looks at the folder")
        ->check(CLI::Range(1, 60000));
    serve
        ->add_option("--id", id,
                     "this server's name among the servers of the tree (default: the host name)")
        ->check([](const std::string& name) {
            return IsPlainFolderName(name) ? std::string()
                                           : "not a plain folder name: \"" + name + "\"";
        });

    CLI11_PARSE(app, argc, argv);

    if (init->parsed()) {
        std::string error;
        if (!InitServerTree(root, error)) {
            std::cerr << "qor-refserver: " << error << "\n";
            return 1;
        }
        std::cout << "server tree ready; server path: " << ServerFolders(root).app << "\n";
        return 0;
    }

    if (VIPS_INIT(argv[0]) != 0) {
        std::cerr << "qor-refserver: libvips cannot start\n";
        return 1;
    }
    vips_cache_set_max(0); // every job reads files that may have changed since the last
    int status = 0;
    {
        RefServer server(root, std::cout, id);
        std::string error;
        if (!server.Check(error) || !server.Start(error)) {
            std::cerr << "qor-refserver: " << error << "\n";
            status = 1;
        } else if (once) {
            server.RunOnce();
        } else {
            InstallSignalHandlers();
            std::cout << "qor-refserver: serving " << root << " as " << id << std::endl;
            server.Run(stopRequested, pollMs);
            std::cout << "qor-refserver: stopped\n";
        }
    }
    vips_shutdown();
    return status;
}
