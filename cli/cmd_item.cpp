// The item verbs: add, rename, renumber and delete, as the item list editor does them.
#include "cli/admincommon.h"

namespace vardex::cli {

namespace {

// A new number must be free.
void requireFreeItem(StoreSession& s, int qxId) {
    if (itemExists(s.cn(), qxId))
        throw Refused(Cli::tr("item %1 exists").arg(qxId));
}

// add and rename: an item number and a name; the number free for add, an item's for rename.
StoreBody named(bool add) {
    return [add](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
        const int item = checkedItem(a[0]);
        const QString name = checkedName(a[1], QStringLiteral("item name"), schema::kItemNameLength);
        s.transaction([&] {
            if (add) {
                requireFreeItem(s, item);
                adminops::addItem(s.data(), item, name);
            } else {
                requireItem(s, item);
                adminops::renameItem(s.data(), item, name);
            }
        });
    };
}

void renumber(StoreSession& s, const QCommandLineParser&, const QStringList& a) {
    const int item = checkedItem(a[0]);
    const int to = checkedItem(a[1]);
    s.transaction([&] {
        requireItem(s, item);
        if (item != to)
            requireFreeItem(s, to);
        adminops::renumberItem(s.data(), item, to);
    });
}

void remove(StoreSession& s, const QCommandLineParser&, const QStringList& a) {
    const int item = checkedItem(a[0]);
    s.transaction([&] {
        requireItem(s, item);
        adminops::deleteItem(s.data(), item);
    });
}

} // namespace

CommandGroup itemCommands() {
    const QList<ArgDecl> itemAndName{int32Arg(QStringLiteral("ITEM")),
                                     QStringLiteral("NAME: The item's name (up to 30 characters).")};
    return {QStringLiteral("item add|rename ITEM NAME | renumber ITEM NEW | delete ITEM"),
            false,
            {
                {QStringLiteral("item add"), itemAndName, QStringLiteral("Add a permission item."),
                 Takes::Store, nullptr, onStore(named(true)), Writes},
                {QStringLiteral("item rename"), itemAndName, QStringLiteral("Give an item a new name."),
                 Takes::Store, nullptr, onStore(named(false)), Writes},
                {QStringLiteral("item renumber"),
                 {int32Arg(QStringLiteral("ITEM")), int32Arg(QStringLiteral("NEW"))},
                 QStringLiteral("Give an item a new number; its grants follow it."),
                 Takes::Store,
                 nullptr,
                 onStore(renumber),
                 Writes},
                {QStringLiteral("item delete"),
                 {int32Arg(QStringLiteral("ITEM"))},
                 QStringLiteral("Delete an item; its grants go with it."),
                 Takes::Store,
                 nullptr,
                 onStore(remove),
                 Destructive},
            }};
}

} // namespace vardex::cli
