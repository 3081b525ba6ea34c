// corvane-dev-browsers: lists the web browsers of this machine as the product sees them, one a line: the
// identifier a rule's target names the browser by, a tab, its name, a tab, where it is.
//
//   corvane-dev-browsers
//
// Exit status 0 when at least one browser was found, 1 when there is none.
#include "CorvaneCore/Routing/BrowserCatalog.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const std::vector<BrowserEntry> browsers = BrowserCatalog::installed(QStringList());
    QTextStream out(stdout);
    for (const BrowserEntry& browser : browsers)
        out << browser.bundleID << '\t' << browser.name << '\t' << browser.path << '\n';
    return browsers.empty() ? 1 : 0;
}
