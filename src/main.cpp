#include "common/Prompts.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    morvane::configureApplication();

    morvane::SettingsStore settings;
    morvane::QtPrompts prompts;
    morvane::InstanceLock instanceLock;
    morvane::Shell shell(settings, prompts, instanceLock);
    if (!shell.startUp()) {
        return 0;
    }
    const int status = QApplication::exec();
    // Windows closed on the way out (the browser's among them) are deleted while the
    // application still stands: the web engine must see its pages go before itself.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}
