// tidewrack-screenshot STORE OUT.png [--host HOST] [--columns NAME,...] [--at POSITION] [--size WxH]
//                      [--no-preview] [--select ROW] [--also STORE]... [--search TEXT [--more]]
// Opens the main window over STORE (and each STORE given with --also, side by side) offscreen
// (with settings of its own in a temporary folder),
// selects HOST's node (the first host by default), shows the further list columns named by
// their stable names (at the list's POSITION-th place, as a user drags them there; after the
// five by default), selects a row, and saves the window as drawn; with --search, the search
// dialog after a search for TEXT instead (with --more, with 更多条件 unfolded and filled in).

#include "app/findform.h"
#include "app/listcolumns.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "app/treenodes.h"
#include "catalogue/entryfields.h"
#include "platform/urlcachestore.h"
#include "stores/storeregistry.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QIcon>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: tidewrack-screenshot STORE OUT.png [--host HOST] [--columns NAME,...] [--at POSITION]\n"
               "                            [--size WxH] [--no-preview] [--select ROW] [--also STORE]...\n"
               "                            [--search TEXT [--more]]\n",
               stderr);
    return 2;
}

// Lets the window work for `ms` milliseconds. The loop waits for events as the program's
// own loop does, so that the window's idle pass (the commands' enabled states) runs too.
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    PrepareProcess();
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    if (args.size() < 2)
        return usage();
    const QString store = args.takeFirst();
    const QString out = args.takeFirst();
    QString host;
    QStringList columns;
    QSize size(1000, 560);
    bool preview = true;
    int select = 0;
    int at = -1;
    QStringList also;
    QString search;
    bool more = false;
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--more")) {
            more = true;
            continue;
        }
        if (option == QLatin1String("--no-preview")) {
            preview = false;
            continue;
        }
        if (args.isEmpty())
            return usage();
        const QString value = args.takeFirst();
        if (option == QLatin1String("--host")) {
            host = value;
        } else if (option == QLatin1String("--columns")) {
            columns = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        } else if (option == QLatin1String("--size")) {
            const QStringList parts = value.split(QLatin1Char('x'));
            if (parts.size() != 2)
                return usage();
            size = QSize(parts[0].toInt(), parts[1].toInt());
        } else if (option == QLatin1String("--at")) {
            at = value.toInt();
        } else if (option == QLatin1String("--select")) {
            select = value.toInt();
        } else if (option == QLatin1String("--search")) {
            search = value;
        } else if (option == QLatin1String("--also")) {
            also << value;
        } else {
            return usage();
        }
    }

    // The icon theme the program takes outside a desktop session.
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    auto opened = OpenStore(store.toStdString());
    if (opened->kind() == StoreKind::None) {
        std::fprintf(stderr, "tidewrack-screenshot: %s\n", opened->describe().c_str());
        return 1;
    }
    SetUrlCacheStore(opened);

    QTemporaryDir appDir;
    Tfrm_cache window(appDir.path());
    if (!also.isEmpty()) {
        window.useStore(opened);
        for (const QString &other : also) {
            auto added = OpenStore(other.toStdString());
            if (added->kind() == StoreKind::None) {
                std::fprintf(stderr, "tidewrack-screenshot: %s\n", added->describe().c_str());
                return 1;
            }
            window.addStore(added);
        }
    }
    window.resize(size);
    window.show();
    QElapsedTimer loading;
    loading.start();
    while (!window.state().tree_ready && loading.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!preview)
        if (QAction *viewdoc = window.actionNamed(QStringLiteral("m_viewdoc")); viewdoc && viewdoc->isChecked())
            viewdoc->trigger();

    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("Tree"));
    QTreeWidgetItem *cache = TreeNode(tree, CacheRoot);
    QTreeWidgetItem *node = nullptr;
    for (int i = 0; cache && i < cache->childCount() && !node; ++i)
        if (host.isEmpty() || cache->child(i)->text(0) == QLatin1Char('[') + host + QLatin1Char(']'))
            node = cache->child(i);
    if (!node) {
        std::fprintf(stderr, "tidewrack-screenshot: no host %s in the store\n", qPrintable(host));
        return 1;
    }
    tree->setCurrentItem(node);
    ListColumns &list = window.columns();
    ColumnLayout layout = list.layout();
    for (const QString &name : columns) {
        const auto field = EntryFieldFromName(name.trimmed().toStdString());
        if (!field || std::size_t(*field) >= layout.order.size()) {
            std::fprintf(stderr, "tidewrack-screenshot: no column %s\n", qPrintable(name));
            return 2;
        }
        const int column = int(*field);
        layout.shown[std::size_t(column)] = true;
        if (at > 0) {
            std::erase(layout.order, column);
            layout.order.insert(layout.order.begin() + std::min<std::ptrdiff_t>(at++, std::ssize(layout.order)),
                                column);
        }
    }
    list.applyLayout(layout);
    auto *report = window.findChild<QTreeView *>(QStringLiteral("listerReport"));
    if (report && select >= 0 && select < report->model()->rowCount())
        report->selectionModel()->setCurrentIndex(report->model()->index(select, 0),
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    settle(800);
    QWidget *shot = &window;
    if (!search.isEmpty()) {
        // The search dialog after a search by URL for SEARCH, instead of the window.
        Tfrm_find &find = window.findForm();
        find.show();
        settle(300);
        find.cmb_find->setCurrentText(search);
        if (more) {
            find.btn_more->setChecked(true);
            find.cmb_timerange->setCurrentIndex(1); // 最近N天
            find.spn_days->setValue(30);
            find.cmb_sizecmp->setCurrentIndex(2); // 小于
            find.spn_size->setValue(64);
            find.cmb_contentkind->setCurrentIndex(1); // 网页
            settle(100);
        }
        find.btn_startClick();
        QElapsedTimer searching;
        searching.start();
        while (!find.btn_go->isEnabled() && searching.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        settle(300);
        shot = &find;
    }
    if (!shot->grab().save(out)) {
        std::fprintf(stderr, "tidewrack-screenshot: cannot write %s\n", qPrintable(out));
        return 1;
    }
    // The picture was the point: the window's settings stay in the temporary folder.
    window.close();
    SetUrlCacheStore(nullptr);
    return 0;
}
