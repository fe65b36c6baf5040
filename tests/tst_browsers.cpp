// Real browsers as test partners: firefox-esr and chromium, each with a fresh profile inside a
// network namespace of its own (only loopback), load a local site that pulls in every kind of
// response, and quit. Their caches must then list exactly what the site sent and stored, every
// body must decode to what it sent, the full-text search must find what holds a word, and the
// browser must fetch exactly the entries we deleted again, and nothing else.
//
// TIDEWRACK_KEEP_BROWSER_CACHE=DIR keeps a copy of each browser's first cache in DIR/<browser>
// with the lengths of the documents the site sent (sent.tsv); tests/data/chromium156 was made
// that way (tests/browsers/make-chromium-fixture).

#include "stores/bodies.h"
#include "stores/storeregistry.h"
#include "tools/writers/browserwriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <map>
#include <set>

namespace {

const QString RunBrowser = TIDEWRACK_SOURCE_DIR "/tests/browsers/run-browser";
const std::string SiteA = "http://127.0.0.1:8123";
const std::string SiteB = "http://127.0.0.2:8123"; // another site: its frame's entries are partitioned
const std::string Year = "public, max-age=31536000";
// The word the search looks for, held by bodies of every coding (and GBK text).
const std::string Word = "缓存样本";

struct Resource {
    std::string site;
    std::string method;
    std::string target;
    int status;
    std::string contentType;
    std::string coding;
    std::string body; // as the document is, before the coding
    std::string cacheControl;
    std::string location = {};
    bool holdsWord = false;
    // Whether `browser` keeps the response. Firefox dooms a redirect's entry once it has
    // followed it, and asks for the redirect again next time.
    bool storedBy(const QString &browser) const
    {
        return method == "GET" && cacheControl != "no-store" && !(browser == "firefox" && status == 301);
    }
    // Whether `browser` uses its stored copy next time without asking the site: Firefox asks
    // again for a stored 404, as for every status it does not count as cacheable.
    bool reusedBy(const QString &browser) const
    {
        return storedBy(browser) && !(browser == "firefox" && status == 404);
    }
    std::string url() const { return site + target; }
};

std::string gbk(const std::string &utf8)
{
    // The few characters the GBK text needs, as GBK.
    static const std::map<std::string, std::string> table = {{"缓", "\xBB\xBA"}, {"存", "\xB4\xE6"},
                                                             {"样", "\xD1\xF9"}, {"本", "\xB1\xBE"},
                                                             {"中", "\xD6\xD0"}, {"文", "\xCE\xC4"}};
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t n = (utf8[i] & 0x80) ? 3 : 1;
        const std::string c = utf8.substr(i, n);
        out += n == 1 ? c : table.at(c);
        i += n;
    }
    return out;
}

// The long query: %-escapes and plain characters, as the page's script asks for it.
std::string longQuery()
{
    std::string q = "/search?q=";
    for (int i = 0; i < 60; ++i)
        q += "%E4%B8%AD%E6%96%87+";
    q += "&pad=" + std::string(1200, 'x') + "&end=1";
    return q;
}

std::vector<Resource> siteResources()
{
    static const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89"
                                 "\0\0\0\rIDATx\x9c\x63\xf8\xcf\xc0\xf0\x1f\0\x05\0\x01\xff\x89\x99\x3d\x1d"
                                 "\0\0\0\0IEND\xae\x42\x60\x82",
                                 67);
    const std::string index = "<!doctype html><html><head><meta charset=\"utf-8\"><title>中文页面</title>\n"
                              "<link rel=\"stylesheet\" href=\"/css/site.css\">\n"
                              "<script src=\"/js/app.js\"></script>\n"
                              "<script src=\"/js/missing.js\"></script>\n"
                              "</head><body><h1>中文页面</h1><p style=\"font-family:TestFont\">Font</p>\n"
                              "<img src=\"/img/logo.png\"><img src=\"/img/pic.svg\"><img src=\"/old-image\">\n"
                              "<iframe src=\"/docs/%E6%96%87%E6%A1%A3%20one.html\"></iframe>\n"
                              "<iframe src=\""
        + SiteB + "/frame.html\"></iframe>\n</body></html>\n";
    const std::string script =
        "function get(url, method, body) {\n"
        "  var x = new XMLHttpRequest(); x.open(method || 'GET', url, false); x.send(body || null);\n"
        "  return x.responseText;\n}\n"
        "get('/text/gbk.txt'); get('/text/utf8.txt'); get('/empty.txt');\n"
        "get('"
        + longQuery()
        + "');\nget('/api/nostore.json'); get('/api/submit', 'POST', 'a=1');\n"
          "fetch('/data/items.json').then(r => r.text()).then(t => { document.title = t.length; });\n";
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"40\" height=\"20\"><text y=\"15\">"
        + Word + "</text></svg>\n";
    std::string font = "wOF2" + std::string(60, '\0');
    return {
        {SiteA, "GET", "/index.html", 200, "text/html; charset=utf-8", "", index, Year},
        {SiteA, "GET", "/css/site.css", 200, "text/css", "gzip",
         "@font-face { font-family: TestFont; src: url(/fonts/test.woff2) format(\"woff2\"); }\n"
         "body { color: #234; }\n",
         Year},
        {SiteA, "GET", "/fonts/test.woff2", 200, "font/woff2", "", font, Year},
        {SiteA, "GET", "/js/app.js", 200, "application/javascript", "deflate", script, Year},
        {SiteA, "GET", "/js/missing.js", 404, "text/html; charset=utf-8", "", "<p>not here</p>\n", Year},
        {SiteA, "GET", "/img/logo.png", 200, "image/png", "", png, Year},
        {SiteA, "GET", "/img/pic.svg", 200, "image/svg+xml", "zstd", svg, Year, {}, true},
        {SiteA, "GET", "/old-image", 301, "text/html", "", "", Year, SiteA + "/img/moved.png"},
        {SiteA, "GET", "/img/moved.png", 200, "image/png", "", png + "moved", Year},
        {SiteA,
         "GET",
         "/docs/%E6%96%87%E6%A1%A3%20one.html",
         200,
         "text/html; charset=utf-8",
         "gzip",
         "<!doctype html><meta charset=\"utf-8\"><p>文档 " + Word + "</p>\n",
         Year,
         {},
         true},
        {SiteA,
         "GET",
         "/text/gbk.txt",
         200,
         "text/plain; charset=gbk",
         "",
         gbk("中文 " + Word + " gbk\n"),
         Year,
         {},
         true},
        {SiteA,
         "GET",
         "/text/utf8.txt",
         200,
         "text/plain; charset=utf-8",
         "gzip",
         "UTF-8 " + Word + " 正文\n",
         Year,
         {},
         true},
        {SiteA, "GET", "/empty.txt", 200, "text/plain", "", "", Year},
        {SiteA, "GET", longQuery(), 200, "application/json", "br", "{\"long\": true}\n", Year},
        {SiteA, "GET", "/api/nostore.json", 200, "application/json", "", "{\"stored\": false}\n", "no-store"},
        {SiteA, "POST", "/api/submit", 200, "application/json", "", "{\"posted\": true}\n", "no-store"},
        {SiteA,
         "GET",
         "/data/items.json",
         200,
         "application/json",
         "br",
         "{\"items\": [\"" + Word + "\", \"b\", \"c\"]}\n",
         Year,
         {},
         true},
        {SiteA, "GET", "/favicon.ico", 404, "text/plain", "", "none\n", Year},
        {SiteB, "GET", "/frame.html", 200, "text/html; charset=utf-8", "",
         "<!doctype html><link rel=\"stylesheet\" href=\"/frame.css\"><p>frame</p>\n", Year},
        {SiteB, "GET", "/frame.css", 200, "text/css", "gzip", "p { margin: 0; }\n", Year},
        {SiteB, "GET", "/favicon.ico", 404, "text/plain", "", "none\n", Year},
    };
}

bool writeFile(const QString &path, const std::string &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
}

// Writes the site for site.py: routes.tsv and each response's head and body.
bool writeSite(const QString &dir, QString &error)
{
    std::string routes;
    int n = 0;
    for (const Resource &r : siteResources()) {
        const QString stem = QString::number(n++);
        std::string body;
        std::string why;
        if (!EncodeBody(r.body, r.coding, body, why)) {
            error = QString::fromStdString(why);
            return false;
        }
        const char *reason = r.status == 200 ? " OK" : r.status == 301 ? " Moved Permanently" : " Not Found";
        std::string head = "HTTP/1.1 " + std::to_string(r.status) + reason;
        head += "\r\nContent-Type: " + r.contentType + "\r\nCache-Control: " + r.cacheControl;
        head += "\r\nDate: " + HttpDate(std::time(nullptr));
        if (!r.coding.empty())
            head += "\r\nContent-Encoding: " + r.coding;
        if (!r.location.empty())
            head += "\r\nLocation: " + r.location;
        if (!writeFile(dir + "/" + stem + ".head", head) || !writeFile(dir + "/" + stem + ".body", body)) {
            error = "cannot write the site into " + dir;
            return false;
        }
        routes += r.site.substr(7, 9) + "\t" + r.method + "\t" + r.target + "\t" + stem.toStdString() + "\n";
    }
    if (!writeFile(dir + "/routes.tsv", routes)) {
        error = "cannot write the site into " + dir;
        return false;
    }
    return true;
}

// The requests of a site log, as "METHOD URL".
std::set<std::string> requests(const QString &logFile)
{
    std::set<std::string> out;
    QFile f(logFile);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> cells = line.split('\t');
        if (cells.size() == 4)
            out.insert(cells[1].toStdString() + " http://" + cells[0].toStdString() + ":8123" + cells[2].toStdString());
    }
    return out;
}

QStringList sorted(const std::set<std::string> &items)
{
    QStringList out;
    for (const std::string &s : items)
        out << QString::fromStdString(s);
    return out;
}

const Resource *resourceFor(const std::string &url)
{
    static const std::vector<Resource> all = siteResources();
    for (const Resource &r : all)
        if (r.method == "GET" && r.url() == url)
            return &r;
    return nullptr;
}

// A copy of the cache in `to`/Cache, and the document length of each URL the site sent, in
// `to`/sent.tsv.
void keepCache(const std::string &cache, const QString &browser, const QString &to, QString &error)
{
    std::error_code ec;
    std::filesystem::create_directories(to.toStdString(), ec);
    std::filesystem::copy(cache, to.toStdString() + "/Cache", std::filesystem::copy_options::recursive, ec);
    std::string sent;
    for (const Resource &r : siteResources())
        if (r.storedBy(browser))
            sent += r.url() + "\t" + std::to_string(r.body.size()) + "\n";
    if (ec || !writeFile(to + "/sent.tsv", sent))
        error = "cannot keep the cache in " + to + ": " + QString::fromStdString(ec.message());
}

struct Run {
    QString error; // why the browser could not be run
    QString skip;  // why it cannot be run here at all
    std::set<std::string> firstRequests;
    std::string cache; // the cache folder after the first run
};

} // namespace

class TestBrowsers : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void listsWhatWasStored_data() { browsers(); }
    void listsWhatWasStored();
    void bodiesAsSent_data() { browsers(); }
    void bodiesAsSent();
    void searchFindsTheWord_data() { browsers(); }
    void searchFindsTheWord();
    void deletedEntriesAreFetchedAgain_data() { browsers(); }
    void deletedEntriesAreFetchedAgain();

private:
    void browsers();
    // Runs `browser` over the site once (again): false with `why` when it could not.
    bool runBrowser(const QString &browser, const QString &log, QString &why);
    // The first run of `browser`, made once; skips or fails the test function when there is none.
    const Run *first(const QString &browser);
    StoreListing listing(const Run &run);

    QTemporaryDir m_dir;
    QString m_namespaceProblem;
    std::map<QString, Run> m_runs;
};

void TestBrowsers::initTestCase()
{
    QVERIFY(m_dir.isValid());
    SetBodiesFolder(m_dir.filePath("bodies").toStdString());
    QVERIFY(QDir().mkpath(m_dir.filePath("site")));
    QString error;
    QVERIFY2(writeSite(m_dir.filePath("site"), error), qPrintable(error));
    // A namespace of its own with only loopback, or no browser runs at all.
    QProcess probe;
    probe.start("unshare", {"--net", "--", "ip", "link", "set", "lo", "up"});
    if (!probe.waitForFinished(20000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        m_namespaceProblem = "no network namespace of its own can be made here (unshare --net needs root, and ip): "
            + (probe.error() == QProcess::UnknownError ? QString::fromLocal8Bit(probe.readAllStandardError()).trimmed()
                                                       : probe.errorString());
}

void TestBrowsers::browsers()
{
    QTest::addColumn<QString>("browser");
    QTest::newRow("chromium") << "chromium";
    QTest::newRow("firefox-esr") << "firefox";
}

bool TestBrowsers::runBrowser(const QString &browser, const QString &log, QString &why)
{
    const QString profile = m_dir.filePath("profile-" + browser);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("unshare",
            {"--net", "--", RunBrowser, browser, m_dir.filePath("site"), profile, log,
             QString::fromStdString(SiteA + "/index.html")});
    const bool finished = p.waitForFinished(180000);
    if (finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    if (!finished)
        p.kill();
    why = browser + " did not run through: " + QString::fromLocal8Bit(p.readAll());
    if (p.error() != QProcess::UnknownError)
        why += p.errorString();
    if (QFile browserLog(profile + "/browser.log"); browserLog.open(QIODevice::ReadOnly))
        why += "\n" + QString::fromLocal8Bit(browserLog.readAll().right(3000));
    return false;
}

const Run *TestBrowsers::first(const QString &browser)
{
    auto found = m_runs.find(browser);
    if (found == m_runs.end()) {
        Run run;
        const QString executable = browser == "firefox" ? "firefox-esr" : "chromium";
        if (QStandardPaths::findExecutable(executable).isEmpty())
            run.skip = executable + " is not installed (scripts/setup installs it)";
        else if (!m_namespaceProblem.isEmpty())
            run.skip = m_namespaceProblem + "; no browser is started outside one";
        else if (runBrowser(browser, m_dir.filePath("first-" + browser + ".log"), run.error)) {
            run.firstRequests = requests(m_dir.filePath("first-" + browser + ".log"));
            const QString profile = m_dir.filePath("profile-" + browser);
            const StoreProbe probe =
                ProbeStore((browser == "firefox" ? profile + "/firefox" : profile + "/chromium/Default").toStdString());
            run.cache = probe.folder;
            if (probe.kind == StoreKind::None)
                run.error = "no cache found in the profile: " + QString::fromStdString(probe.why);
            else if (const QString keep = qEnvironmentVariable("TIDEWRACK_KEEP_BROWSER_CACHE"); !keep.isEmpty())
                keepCache(run.cache, browser, keep + "/" + browser, run.error);
            // A browser newer than the reader: said plainly, rather than failing every check below.
            const StoreListing list = OpenStore(run.cache)->list();
            if (list.entries.empty() && list.skipped > 0 && list.skipWhy.size() == 1
                && list.skipWhy.begin()->first == "unknown metadata version")
                run.skip = "the reader does not know the cache format this " + executable
                    + " writes yet: " + QString::fromStdString(list.skipSummary());
        }
        found = m_runs.emplace(browser, std::move(run)).first;
    }
    return &found->second;
}

StoreListing TestBrowsers::listing(const Run &run)
{
    return OpenStore(run.cache)->list();
}

// The browser fetched every resource of the site, and its cache lists exactly those it may
// store: one entry each, with the status and coding sent; the other site's frame partitioned.
void TestBrowsers::listsWhatWasStored()
{
    QFETCH(QString, browser);
    const Run *run = first(browser);
    if (!run->skip.isEmpty())
        QSKIP(qPrintable(run->skip));
    QVERIFY2(run->error.isEmpty(), qPrintable(run->error));

    std::set<std::string> sent;
    std::set<std::string> stored;
    for (const Resource &r : siteResources()) {
        if (r.target == "/favicon.ico")
            continue; // asked for or not, as the browser likes
        sent.insert(r.method + " " + r.url());
        if (r.storedBy(browser))
            stored.insert(r.url());
    }
    std::set<std::string> asked = run->firstRequests;
    asked.erase("GET " + SiteA + "/favicon.ico");
    asked.erase("GET " + SiteB + "/favicon.ico");
    QCOMPARE(sorted(asked), sorted(sent));

    const StoreListing list = listing(*run);
    QVERIFY2(list.ok(), list.error.c_str());
    QVERIFY2(list.skipped == 0, list.skipSummary().c_str());
    std::set<std::string> listed;
    for (const StoreEntry &e : list.entries) {
        const std::string url(list.text(e.url));
        if (!run->firstRequests.count("GET " + url))
            QFAIL(("an entry the site never sent: " + url).c_str());
        QVERIFY2(listed.insert(url).second, url.c_str());
        const Resource *r = resourceFor(url);
        if (!r)
            continue; // a favicon
        QCOMPARE(int(e.httpStatus), r->status);
        QCOMPARE(std::string(list.text(e.contentEncoding)), r->coding);
        QCOMPARE(std::string(list.text(e.contentType)), r->contentType.substr(0, r->contentType.find(';')));
        if (r->site == SiteB)
            QVERIFY2(list.text(e.partition).find("127.0.0.1") != std::string_view::npos, url.c_str());
    }
    listed.erase(SiteA + "/favicon.ico");
    listed.erase(SiteB + "/favicon.ico");
    QCOMPARE(sorted(listed), sorted(stored));
}

// Every stored body, decoded, is the document the site sent, whatever its coding.
void TestBrowsers::bodiesAsSent()
{
    QFETCH(QString, browser);
    const Run *run = first(browser);
    if (!run->skip.isEmpty())
        QSKIP(qPrintable(run->skip));
    QVERIFY2(run->error.isEmpty(), qPrintable(run->error));
    const StoreListing list = listing(*run);
    QVERIFY2(list.ok(), list.error.c_str());
    std::size_t compared = 0;
    for (const StoreEntry &e : list.entries) {
        const std::string url(list.text(e.url));
        const Resource *r = resourceFor(url);
        if (!r)
            continue;
        std::string body;
        bool decoded = false;
        const StoreResult read = ReadDecodedBody(
            BodyRefOf(list, e),
            [&](std::string_view piece) {
                body.append(piece);
                return true;
            },
            &decoded);
        QVERIFY2(read.ok(), url.c_str());
        QVERIFY2(body == r->body, url.c_str());
        ++compared;
    }
    QVERIFY(compared >= 15);
}

// The program's full-text search finds the word in the bodies of every coding, and in GBK text.
void TestBrowsers::searchFindsTheWord()
{
    QFETCH(QString, browser);
    const Run *run = first(browser);
    if (!run->skip.isEmpty())
        QSKIP(qPrintable(run->skip));
    QVERIFY2(run->error.isEmpty(), qPrintable(run->error));
    QProcess cli;
    cli.start(TIDEWRACK_CLI,
              {"list", QString::fromStdString(run->cache), "--text", QString::fromStdString(Word), "--format", "tsv"});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    const QList<QByteArray> lines = cli.readAllStandardOutput().split('\n');
    QVERIFY(!lines.isEmpty());
    const qsizetype urlColumn = lines[0].split('\t').indexOf("url");
    QVERIFY(urlColumn >= 0);
    std::set<std::string> found;
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (const QList<QByteArray> cells = lines[i].split('\t'); cells.size() > urlColumn)
            found.insert(cells[urlColumn].toStdString());
    std::set<std::string> holding;
    for (const Resource &r : siteResources())
        if (r.holdsWord)
            holding.insert(r.url());
    QCOMPARE(sorted(found), sorted(holding));
}

// Entries deleted here are gone for the browser too: run again, it fetches exactly those
// (and what may never be stored) from the site, and uses every other entry as it is.
void TestBrowsers::deletedEntriesAreFetchedAgain()
{
    QFETCH(QString, browser);
    const Run *run = first(browser);
    if (!run->skip.isEmpty())
        QSKIP(qPrintable(run->skip));
    QVERIFY2(run->error.isEmpty(), qPrintable(run->error));
    const auto store = OpenStore(run->cache);
    QCOMPARE(store->removalRefusal(), std::string());
    std::set<std::string> doomed = {SiteA + "/img/logo.png", SiteA + "/data/items.json", SiteA + "/text/gbk.txt",
                                    SiteB + "/frame.css"};
    if (browser == "chromium")
        doomed.insert(SiteA + "/old-image");
    const StoreListing before = store->list();
    std::set<std::string> expected;
    for (const StoreEntry &e : before.entries) {
        const std::string url(before.text(e.url));
        if (!doomed.count(url))
            continue;
        const StoreResult removed = store->remove(before.text(e.key));
        QVERIFY2(removed.ok(), url.c_str());
        expected.insert("GET " + url);
    }
    QCOMPARE(expected.size(), doomed.size());
    // What the browser does not keep is asked for again; a redirect's target stays in the cache.
    for (const Resource &r : siteResources())
        if (!r.reusedBy(browser) && run->firstRequests.count(r.method + " " + r.url()))
            expected.insert(r.method + " " + r.url());

    QString why;
    const QString log = m_dir.filePath("second-" + browser + ".log");
    QVERIFY2(runBrowser(browser, log, why), qPrintable(why));
    // Favicons are asked for or not, as the browser likes, whatever the cache holds.
    const auto noFavicon = [](QStringList lines) {
        lines.removeIf([](const QString &line) { return line.endsWith(QLatin1String("/favicon.ico")); });
        return lines;
    };
    const QStringList fetched = noFavicon(sorted(requests(log)));
    QVERIFY2(fetched == noFavicon(sorted(expected)),
             qPrintable("fetched: " + fetched.join(" | ") + "\nexpected: " + noFavicon(sorted(expected)).join(" | ")));
    const StoreListing after = store->list();
    QCOMPARE(after.entries.size(), before.entries.size());
}

QTEST_GUILESS_MAIN(TestBrowsers)
#include "tst_browsers.moc"
