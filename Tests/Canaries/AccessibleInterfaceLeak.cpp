// Loses an accessible interface that our own code made while Qt asked it for one, as the lists' row
// interfaces are made: the leak check must report it under the project's suppressions, where a suppression of
// Qt Gui would hide it behind Qt's frames.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QListView>

namespace {

QAccessibleInterface* volatile kept = nullptr;

QAccessibleInterface* makeInterface(const QString& className, QObject* object) {
    auto* list = qobject_cast<QListView*>(object);
    if (className != QLatin1String("QListView") || !list)
        return nullptr;
    // Made for a row and never registered, so nothing owns it.
    kept = new QAccessibleWidget(list, QAccessible::ListItem);
    kept = nullptr;
    return new QAccessibleWidget(list, QAccessible::List);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QAccessible::installFactory(makeInterface);
    QListView list;
    return QAccessible::queryAccessibleInterface(&list) ? 0 : 1;
}
