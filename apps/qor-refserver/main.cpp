// qor-refserver: a reference QOR server.
//   qor-refserver init ROOT [--volume DIR]...     make the tree and its files
//   qor-refserver serve ROOT [--once] [--poll-ms N] [--id NAME] [--workers N]
#include "JobFile.h"
#include "RefServer.h"
#include "ServerTree.h"
#include "Version.h"

#include <CLI/CLI.hpp>
#include <vips/vips8>

#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <vector>

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

// One worker: a server of its own id on the tree, until stopped (or once).
int Serve(const std::string& root, const std::string& id, bool once, int pollMs, bool first) {
    if (VIPS_INIT("qor-refserver") != 0) {
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
            if (first) {
                std::cout << "qor-refserver: serving " << root << " as " << id << std::endl;
            }
            server.Run(stopRequested, pollMs);
        }
    }
    vips_shutdown();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Reference QOR server: answers the jobs of a hot folder"};
    app.set_version_flag("--version", VersionText("qor-refserver"));
    app.require_subcommand(1);

    std::string root;
    CLI::App* init = app.add_subcommand("init", "create a server tree with its configuration");
    init->add_option("ROOT", root, "server root folder")->required();
    std::vector<std::string> volumes;
    init->add_option("--volume", volumes,
                     "a folder whose images the server may read and write results into "
                     "(repeatable; default: the folder that holds ROOT)")
        ->check(CLI::ExistingDirectory);

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

    const unsigned cores = std::thread::hardware_concurrency();
    int workers = cores > 0 ? static_cast<int>(std::min(cores, 64u)) : 1;
    serve
        ->add_option("--workers", workers,
                     "jobs handled at once, each by a worker process of its own id (NAME, then "
                     "NAME-w2 and on; default: one per core)")
        ->check(CLI::Range(1, 64));

    CLI11_PARSE(app, argc, argv);

    if (init->parsed()) {
        std::string error;
        if (!InitServerTree(root, error, volumes)) {
            std::cerr << "qor-refserver: " << error << "\n";
            return 1;
        }
        std::cout << "server tree ready; server path: " << ServerFolders(root).app << "\n";
        return 0;
    }

    // Workers are processes, started before libvips starts its threads: each
    // is a server of the tree with an id of its own, so that they share the
    // hot folder as servers on several machines do. A stop reaches them
    // through the first, which waits for them.
    InstallSignalHandlers();
    std::vector<pid_t> children;
    for (int k = 2; k <= workers; ++k) {
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            // A worker dies with the first server when that one is killed
            // outright, as a crash would take them all; its claims are
            // finished by the next server, as a crashed server's are. (A
            // stop reaches the workers through the first, which waits.)
#ifdef __linux__
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
            if (::getppid() != parent) {
                ::_exit(0);
            }
            ::_exit(Serve(root, id + "-w" + std::to_string(k), once, pollMs, false));
        }
        if (pid > 0) {
            children.push_back(pid);
        }
    }
    const int status = Serve(root, id, once, pollMs, true);
    for (const pid_t pid : children) {
        if (!once) {
            ::kill(pid, SIGTERM);
        }
        int childStatus = 0;
        ::waitpid(pid, &childStatus, 0);
    }
    if (!once && status == 0) {
        std::cout << "qor-refserver: stopped\n";
    }
    return status;
}
