#include "actionlist.h"

#include "windows/pictures.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QWidget>

#include <iterator>

namespace {

struct ActionRow {
    const char *name;
    const char *category;
    const char *caption;
    const char *hint;
    QKeySequence shortcut;
    int image;
    bool enabled;
};

} // namespace

ActionList::ActionList(QWidget *window)
{
    const ActionRow table[] = {
        {"ARefresh", "File", "刷新(&R)", "刷新缓存", QKeySequence(Qt::Key_F5), 6, true},
        {"AOpenDoc", "File", "打开(&O)", "打开文档", QKeySequence(Qt::Key_F9), 8, false},
        {"ADocinfo", "File", "属性(&P)...", "文档属性", {}, 5, false},
        {"ASaveDocas", "File", "另存文档(&S)...", "另存文档", QKeySequence(Qt::CTRL | Qt::Key_S), 7, false},
        {"ASaveWebas", "File", "另存网页(&W)...", "另存网页", {}, -1, false},
        {"ADeleteDoc", "File", "删除(&D)", "删除文档", QKeySequence(Qt::Key_Delete), 2, false},
        {"ASendtoBox", "File", "发送到采集盒(&L)", "发送到采集盒", QKeySequence(Qt::CTRL | Qt::Key_L), 3, false},
        {"ASelectAll", "Edit", "全选(&A)", "选定全部文档", QKeySequence(Qt::CTRL | Qt::Key_A), -1, true},
        {"ACopyUrl", "Edit", "复制网址(&C)", "复制网址", QKeySequence(Qt::CTRL | Qt::Key_C), 1, true},
        {"AFind", "Edit", "搜索(&F)...", "搜索", QKeySequence(Qt::CTRL | Qt::Key_F), 4, true},
        {"AFindInWeb", "Edit", "在网页中查找(&E)...", "在网页中查找(&E)...", {}, -1, true},
        {"ASaveAllCollectDoc", "Collect", "保存全部采集文档(&S)", "保存全部采集文档", {}, -1, true},
        {"ARemoveCollectDoc", "Collect", "移除采集文档(&R)", "移除采集文档", {}, -1, true},
        {"AClearCollectDoc", "Collect", "清空采集盒(&E)", "清空采集文档", {}, -1, true},
        {"Aoffline", "", "离线浏览(&O)", "离线浏览", QKeySequence(Qt::Key_F12), 9, true},
        {"AInternetOption", "", "Internet选项(&I)..", "", {}, -1, true},
        {"AHelp", "Help", "关于(&A)...", "关于", QKeySequence(Qt::Key_F1), 0, true},
        {"AEntryInfo", "File", "缓存信息(&I)...", "缓存信息", QKeySequence(Qt::ALT | Qt::Key_Return), -1, false},
        {"AExportList", "File", "导出列表(&T)...", "导出列表", {}, -1, false},
        {"AExportDocs", "File", "导出文档(&E)...", "导出文档", {}, -1, false},
        {"AExportWarc", "File", "导出为网页存档 (WARC)(&V)...", "导出为网页存档", {}, -1, false},
    };
    QAction **targets[] = {
        &ARefresh,          &AOpenDoc,         &ADocinfo,   &ASaveDocas,      &ASaveWebas, &ADeleteDoc,
        &ASendtoBox,        &ASelectAll,       &ACopyUrl,   &AFind,           &AFindInWeb, &ASaveAllCollectDoc,
        &ARemoveCollectDoc, &AClearCollectDoc, &Aoffline,   &AInternetOption, &AHelp,      &AEntryInfo,
        &AExportList,       &AExportDocs,      &AExportWarc};
    static_assert(std::size(table) == std::size(targets));
    for (std::size_t i = 0; i < std::size(table); ++i) {
        const ActionRow &s = table[i];
        auto *action = new QAction(QString::fromUtf8(s.caption), window);
        action->setObjectName(QString::fromLatin1(s.name));
        action->setProperty("category", QString::fromLatin1(s.category));
        // The hint shows as a tool tip; the status bar's panels keep their own texts.
        action->setToolTip(QString::fromUtf8(s.hint));
        action->setShortcut(s.shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        if (s.image >= 0)
            action->setIcon(ToolbarImage(s.image));
        action->setEnabled(s.enabled);
        window->addAction(action); // shortcuts work whatever has the focus
        *targets[i] = action;
        ActionList1.append(action);
    }
    Aoffline->setCheckable(true);
    // Alt with either Enter key.
    AEntryInfo->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)});

    m_viewdoc = new QAction(QStringLiteral("预览文档(&P)"), window);
    m_viewdoc->setObjectName(QStringLiteral("m_viewdoc"));
    m_viewdoc->setCheckable(true);
    m_viewdoc->setChecked(true);
    m_viewdoc->setShortcut(QKeySequence(Qt::Key_F8));
    window->addAction(m_viewdoc);

    auto *styles = new QActionGroup(window);
    m_VsReport = styles->addAction(QStringLiteral("小图标"));
    m_VsReport->setObjectName(QStringLiteral("m_VsReport"));
    m_VsIcon = styles->addAction(QStringLiteral("大图标"));
    m_VsIcon->setObjectName(QStringLiteral("m_VsIcon"));
    for (QAction *a : {m_VsReport, m_VsIcon})
        a->setCheckable(true);
    m_VsReport->setChecked(true);

    N9 = new QAction(QStringLiteral("退出(&X)"), window);
    N9->setObjectName(QStringLiteral("N9"));
    N13 = new QAction(QStringLiteral("发邮件给作者(&M)"), window);
    N13->setObjectName(QStringLiteral("N13"));
}

void ActionList::Update(const Situation &now)
{
    // A closed cache's rows stay in the box and the station, but no command reaches a cache
    // through them; taking them out of the box still does.
    const bool live = now.selection && !now.unavailable;
    for (QAction *a : {ADocinfo, AOpenDoc, ADeleteDoc, ASaveDocas, AEntryInfo, AExportDocs})
        a->setEnabled(live);
    // A cache only ever read offers no delete; its removalRefusal() says why.
    ADeleteDoc->setEnabled(live && !now.readOnly);
    ACopyUrl->setEnabled(now.selection);
    AExportList->setEnabled(now.rows);
    AExportWarc->setEnabled(now.rows);
    ASaveWebas->setEnabled(live && now.browserShown);
    ASendtoBox->setEnabled(live && !now.collectBoxShown);
    ASelectAll->setEnabled(now.rows);
    AInternetOption->setEnabled(now.document);
    ARemoveCollectDoc->setEnabled(now.collectBoxShown && now.selection);
    AClearCollectDoc->setEnabled(now.collectBoxFilled);
    ASaveAllCollectDoc->setEnabled(now.collectBoxFilled);
    AFindInWeb->setEnabled(now.document && now.selection && now.browserShown);
    Aoffline->setChecked(now.offline);
}
