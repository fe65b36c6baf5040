#include "internetoptions.h"

#include "browser.h"

#include "platform/causetext.h"
#include "platform/wininet.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <algorithm>

InternetOptionsDialog::InternetOptionsDialog(Browser *browser, QWebEngineProfile *profile)
    : QDialog(browser),
      m_browser(browser),
      m_profile(profile),
      m_offline(new QCheckBox(QStringLiteral("离线浏览(&W)"), this)),
      m_javaScript(new QCheckBox(QStringLiteral("启用 JavaScript(&J)"), this)),
      m_offlineScript(new QCheckBox(QStringLiteral("在线时显示的缓存副本里也运行脚本(&S)"), this)),
      m_images(new QCheckBox(QStringLiteral("显示网页中的图片(&P)"), this)),
      m_done(new QLabel(this))
{
    setObjectName(QStringLiteral("InternetOptions"));
    setWindowTitle(QStringLiteral("Internet选项")); // as the menu names it
    m_offline->setObjectName(QStringLiteral("offline"));
    m_javaScript->setObjectName(QStringLiteral("javaScript"));
    m_offlineScript->setObjectName(QStringLiteral("offlineScript"));
    m_offlineScript->setToolTip(
        QStringLiteral("无法连接网站而显示缓存中的副本时，网页中的脚本默认不运行；离线浏览时脚本从不运行"));
    m_images->setObjectName(QStringLiteral("images"));
    m_offline->setToolTip(QStringLiteral("离线时预览只显示缓存中的网页"));

    QWebEngineSettings *settings = m_profile->settings();
    m_offline->setChecked(IsOffline());
    m_javaScript->setChecked(m_browser->onlineScript());
    m_offlineScript->setChecked(m_browser->offlineScript());
    m_images->setChecked(settings->testAttribute(QWebEngineSettings::AutoLoadImages));

    auto *browsing = new QGroupBox(QStringLiteral("浏览"), this);
    auto *browsingLayout = new QVBoxLayout(browsing);
    browsingLayout->addWidget(m_offline);
    browsingLayout->addWidget(m_javaScript);
    browsingLayout->addWidget(m_offlineScript);
    browsingLayout->addWidget(m_images);

    auto *history = new QGroupBox(QStringLiteral("预览窗口的浏览数据"), this);
    auto *historyLayout = new QHBoxLayout(history);
    auto *cookies = new QPushButton(QStringLiteral("删除 Cookie(&I)"), history);
    cookies->setObjectName(QStringLiteral("clearCookies"));
    auto *cache = new QPushButton(QStringLiteral("删除临时文件(&F)"), history);
    cache->setObjectName(QStringLiteral("clearCache"));
    cache->setToolTip(QStringLiteral("只删除预览窗口自己的缓存，不影响浏览器的缓存"));
    historyLayout->addWidget(cookies);
    historyLayout->addWidget(cache);
    historyLayout->addWidget(m_done, 1);
    connect(cookies, &QPushButton::clicked, this, &InternetOptionsDialog::clearCookies);
    connect(cache, &QPushButton::clicked, this, &InternetOptionsDialog::clearCache);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(browsing);
    layout->addWidget(history);
    layout->addWidget(buttons);

    // Wide enough that a title bar shows the whole caption beside its buttons.
    QFont caption = font();
    caption.setBold(true);
    const int captionWidth = QFontMetrics(caption).horizontalAdvance(windowTitle());
    setMinimumWidth(std::max(sizeHint().width(), captionWidth + CaptionButtonsRoom));
}

void InternetOptionsDialog::accept()
{
    const bool offlineChanged = m_offline->isChecked() != IsOffline();
    if (offlineChanged && !SetOffline(m_offline->isChecked()))
        emit m_browser->failed(
            QStringLiteral("离线状态未能更改：%1。").arg(CauseText(StoreErrorOfWinInet(GetLastError()))));
    QWebEngineSettings *settings = m_profile->settings();
    m_browser->setOnlineScript(m_javaScript->isChecked());
    m_browser->setOfflineScript(m_offlineScript->isChecked());
    settings->setAttribute(QWebEngineSettings::AutoLoadImages, m_images->isChecked());
    QDialog::accept();
    if (offlineChanged)
        m_browser->followOfflineState();
}

void InternetOptionsDialog::clearCookies()
{
    m_profile->cookieStore()->deleteAllCookies();
    m_done->setText(QStringLiteral("Cookie 已删除"));
}

void InternetOptionsDialog::clearCache()
{
    m_profile->clearHttpCache();
    m_done->setText(QStringLiteral("临时文件已删除"));
}
