// ordodesk-workbench [DOCUMENT] [--system-folder DIR] [--session FILE]
//                    [--locale en|fr|es]
// The host session of `ordodesk shell` in a window: the page, the orders
// panel, the plug-in's menus, dialogs and idle work in real time.
#include "MainWindow.h"

#include "HostShell.h"

#include "Version.h"

#include <CLI/CLI.hpp>

#include <QApplication>
#include <QTimer>

#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    // --version needs no window system, so it is answered before Qt starts.
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--version") {
            std::cout << VersionText("ordodesk-workbench") << "\n";
            return 0;
        }
    }
    // Qt takes its own options (-platform, ...) out of argv first.
    QApplication qt(argc, argv);
    QApplication::setApplicationName("OrdoDesk Workbench");

    CLI::App app{"OrdoDesk workbench: the host session with the OrdoDesk plug-in in a window"};
    app.name("ordodesk-workbench");
    std::string document;
    ShellOptions options;
    std::string screenshot;
    app.add_option("DOCUMENT", document, "Document file to open first");
    app.add_option("--system-folder", options.systemFolder,
                   "The host's system folder; the plug-in keeps its preference files under it "
                   "(default ~/.ordodesk/system)");
    app.add_option("--session", options.sessionFile,
                   "The session file that keeps the preferences between runs "
                   "(default ~/.ordodesk/session.odsession)");
    app.add_option("--locale", options.locale, "Language of the plug-in's texts")
        ->check(CLI::IsMember({"en", "fr", "es"}));
    // For the documentation's pictures: the window is written to a PNG file
    // once shown, and the program ends.
    app.add_option("--screenshot", screenshot)->group("");
    app.set_version_flag("--version", VersionText("ordodesk-workbench"));
    CLI11_PARSE(app, argc, argv);

    std::ostringstream out;
    std::ostringstream err;
    HostShell shell(options, out, err);
    std::string why;
    if (!shell.Start(why)) {
        std::cerr << "ordodesk-workbench: the session did not start: " << why << "\n";
        return 1;
    }
    std::cerr << err.str();
    err.str("");
    if (!document.empty() && !shell.OpenDocument(document)) {
        // The shell said why, as "ordodesk: error: ...".
        const std::string said = err.str();
        const std::size_t at = said.find("error: ");
        std::cerr << "ordodesk-workbench: "
                  << (at == std::string::npos ? said : said.substr(at + 7));
        return 1;
    }
    int code = 0;
    {
        MainWindow window(shell, out, err);
        window.show();
        if (!screenshot.empty()) {
            QTimer::singleShot(1500, &window, [&] {
                if (!window.grab().save(QString::fromStdString(screenshot), "PNG")) {
                    std::cerr << "ordodesk-workbench: cannot write " << screenshot << "\n";
                    code = 1;
                }
                QApplication::quit();
            });
        }
        const int result = QApplication::exec();
        code = code != 0 ? code : result;
    }
    shell.Stop();
    return code;
}
